// Korvane JACK without a server: its configuration, its sample conversions, and its stream
// driven cycle by cycle as JACK would, with a host that records what reaches it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "jack_config.h"
#include "jack_driver.h"
#include "jack_samples.h"
#include "jack_stream.h"

namespace {

std::string parseError(const char* text) {
    JackConfig config;
    char message[kJackTextCapacity];
    return parseJackConfig(text, &config, message, sizeof message) ? "" : message;
}

TEST(JackConfig, KeysTakeTheirValuesAndFaultsNameTheKey) {
    JackConfig c;
    char message[kJackTextCapacity];
    ASSERT_TRUE(parseJackConfig("server=s1, client=k, capture=a:.*,playback=b:p_[12],connect=0,"
                                "inputs=3,outputs=0,type=16,trace=/tmp/t",
                                &c, message, sizeof message))
        << message;
    EXPECT_STREQ(c.server, "s1");
    EXPECT_STREQ(c.client, "k");
    EXPECT_STREQ(c.capture, "a:.*");
    EXPECT_STREQ(c.playback, "b:p_[12]");
    EXPECT_FALSE(c.connect);
    EXPECT_EQ(c.inputs, 3);
    EXPECT_EQ(c.outputs, 0);
    EXPECT_EQ(c.type, ASIOSTInt16LSB);
    EXPECT_STREQ(c.trace, "/tmp/t");
    const JackConfig d;
    EXPECT_STREQ(d.client, "korvane");
    EXPECT_EQ(d.inputs, -1);
    EXPECT_EQ(d.type, ASIOSTInt32LSB);
    EXPECT_TRUE(d.connect);

    EXPECT_EQ(parseError("delay=3"), "KORVANE_JACK: unknown key 'delay'");
    EXPECT_EQ(parseError("type=19"), "KORVANE_JACK: bad value for type: '19'");
    EXPECT_EQ(parseError("server=a,x"), "KORVANE_JACK: 'x' is not key=value");
    for (const char* bad :
         {"type=15", "inputs=-1", "outputs=4097", "connect=2", "client=", "capture=", "server="}) {
        EXPECT_NE(parseError(bad).find("bad value for"), std::string::npos) << bad;
    }
    EXPECT_NE(parseError(("client=" + std::string(64, 'c')).c_str()), "");
}

TEST(JackSamples, DigitalLoopGivesEveryIntegerBackAndClips) {
    for (ASIOSampleType type : {ASIOSTInt16LSB, ASIOSTInt24LSB}) {
        const int bytes = type == ASIOSTInt16LSB ? 2 : 3;
        const int32_t top = 1 << (8 * bytes - 1);
        for (int32_t v = -top; v < top; v += bytes == 2 ? 1 : 37) {
            uint8_t in[4], back[4];
            std::memcpy(in, &v, 4);
            float x = 0;
            jackSamples(type).toFloat(in, &x, 1);
            jackSamples(type).fromFloat(&x, back, 1);
            ASSERT_EQ(std::memcmp(in, back, bytes), 0) << v;
        }
    }
    // 32 bits: what korvane makes of floats, full scale clipped to the largest integer.
    const int32_t values[] = {0, 1, -1, 0x7FFFFF80, INT32_MAX, INT32_MIN, 0x12345600};
    for (int32_t v : values) {
        float x = 0;
        int32_t back = 0;
        jackSamples(ASIOSTInt32LSB).toFloat(reinterpret_cast<const uint8_t*>(&v), &x, 1);
        jackSamples(ASIOSTInt32LSB).fromFloat(&x, reinterpret_cast<uint8_t*>(&back), 1);
        EXPECT_EQ(back, v);
    }
    const float wild[] = {2.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(), 0.5f / 32768};
    int16_t out[5];
    jackSamples(ASIOSTInt16LSB).fromFloat(wild, reinterpret_cast<uint8_t*>(out), 5);
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(out[1], -32768);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 32767);
    EXPECT_EQ(out[4], 0); // half a step rounds to even
}

TEST(JackChannelName, ALongPortNameKeepsItsEnd) {
    char name[32];
    jackChannelName("system:capture_1", name, sizeof name);
    EXPECT_STREQ(name, "system:capture_1");
    jackChannelName("alsa_input.pci-0000_00_1f.3.analog-stereo:capture_FL", name, sizeof name);
    EXPECT_STREQ(name, "...f.3.analog-stereo:capture_FL"); // 31 characters
}

// The host: what the callbacks saw.
constexpr uint32_t kFrames = 4;
std::atomic<int> switches{0};
std::vector<uint64_t> positions;
std::vector<int32_t> firstInputs; // the first sample of the input half at each switch
std::vector<int32_t> messages;
std::atomic<int> messageCount{0};
std::atomic<double> rateSeen{0};
int32_t* inputHalves[2];
int32_t* outputHalves[2];
JackStream* current = nullptr;
bool insideSwitchSeen = false;
// A switch can be held inside the host's callback until released; how many threads were in
// it at once.
std::atomic<bool> holdNextSwitch{false};
std::atomic<bool> holding{false};
std::atomic<bool> releaseSwitch{false};
std::atomic<int> inside{0};
std::atomic<int> mostInside{0};
// The host stops the stream from the reset request the clock thread delivers.
std::atomic<bool> stopOnReset{false};

ASIOTime* onSwitch(ASIOTime* time, int32_t index, ASIOBool) {
    const int now = inside.fetch_add(1) + 1;
    mostInside.store(std::max(mostInside.load(), now));
    if (holdNextSwitch.exchange(false)) {
        holding = true;
        while (!releaseSwitch.load()) {
            std::this_thread::yield();
        }
    }
    positions.push_back(uint64_t(time->timeInfo.samplePosition.hi) << 32 |
                        time->timeInfo.samplePosition.lo);
    firstInputs.push_back(inputHalves[index][0]);
    for (uint32_t i = 0; i < kFrames; ++i) {
        outputHalves[index][i] = int32_t(0x100000 * (switches.load() + 1));
    }
    insideSwitchSeen = current->hostSwitch().callingFromSwitch();
    inside.fetch_sub(1);
    switches.fetch_add(1);
    return nullptr;
}
int32_t onMessage(int32_t selector, int32_t value, void*, double*) {
    if (selector == kAsioSelectorSupported) {
        return value == kAsioSupportsTimeInfo;
    }
    messages.push_back(selector);
    if (selector == kAsioResetRequest && stopOnReset) {
        current->stop();
    }
    messageCount.fetch_add(1);
    return selector == kAsioSupportsTimeInfo;
}
void onRate(double rate) {
    rateSeen = rate;
}
ASIOCallbacks host = {nullptr, onRate, onMessage, onSwitch};

class Stream : public ::testing::Test {
protected:
    void SetUp() override {
        switches = 0;
        positions.clear();
        firstInputs.clear();
        messages.clear();
        messageCount = 0;
        rateSeen = 0;
        holdNextSwitch = false;
        holding = false;
        releaseSwitch = false;
        inside = 0;
        mostInside = 0;
        stopOnReset = false;
        inputHalves[0] = halves[0];
        inputHalves[1] = halves[1];
        outputHalves[0] = halves[2];
        outputHalves[1] = halves[3];
        const StreamChannel channels[] = {
            {true, {reinterpret_cast<uint8_t*>(halves[0]), reinterpret_cast<uint8_t*>(halves[1])}},
            {false,
             {reinterpret_cast<uint8_t*>(halves[2]), reinterpret_cast<uint8_t*>(halves[3])}}};
        stream.setUp(channels, 2, kFrames, 48000, ASIOSTInt32LSB, &host, true);
        current = &stream;
        ASSERT_TRUE(stream.start());
        stream.arm();
    }
    // One JACK cycle whose capture is `value` and whose clock stands at `frameTime`.
    void cycle(float value, uint32_t frameTime, uint32_t frames = kFrames) {
        for (float& x : capture) {
            x = value;
        }
        stream.cycle(buffers, frames, frameTime);
    }
    // Waits for the clock thread's work to show.
    static bool waitFor(const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > limit) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    int32_t halves[4][kFrames] = {};
    float capture[2 * kFrames] = {};
    float playback[2 * kFrames] = {};
    float* buffers[2] = {capture, playback};
    JackStream stream;
};

TEST_F(Stream, EachCycleAfterTheArmingOneSwitchesOnJacksBuffers) {
    cycle(0.25f, 1000); // arming: connections settle, no switch
    EXPECT_EQ(switches, 0);
    EXPECT_EQ(playback[0], 0.0f);
    cycle(0.5f, 1004);
    cycle(-1.0f, 1008);
    ASSERT_EQ(switches, 2);
    EXPECT_EQ(positions, (std::vector<uint64_t>{0, 4}));
    EXPECT_EQ(firstInputs, (std::vector<int32_t>{0x40000000, INT32_MIN}));
    EXPECT_EQ(playback[kFrames - 1], 2 * 0x100000 / 2147483648.0f); // the second switch's
    EXPECT_TRUE(insideSwitchSeen);
    EXPECT_FALSE(stream.hostSwitch().callingFromSwitch());
    stream.stop();
    cycle(0.5f, 1012);
    EXPECT_EQ(switches, 2); // none after stop
    EXPECT_EQ(playback[0], 0.0f);
}

// The position moves by exactly the frames that passed: the clock's jump and the xrun notice
// that follows it are one event, and a server's xrun elsewhere moves nothing.
TEST_F(Stream, AnXrunSkipsThePositionOnceAndAsksForAResync) {
    cycle(0, 0);
    cycle(0, 4);
    cycle(0, 16); // JACK's clock ran two periods more
    stream.noteXrun();
    ASSERT_TRUE(waitFor([] { return messageCount == 1; }));
    cycle(0, 20);
    stream.noteXrun(); // another client's, the clock in step
    ASSERT_TRUE(waitFor([] { return messageCount == 2; }));
    cycle(0, 24);
    EXPECT_EQ(positions, (std::vector<uint64_t>{0, 12, 16, 20}));
    EXPECT_EQ(messages, (std::vector<int32_t>{kAsioResyncRequest, kAsioResyncRequest}));
    stream.noteRate(44100);
    ASSERT_TRUE(waitFor([] { return rateSeen == 44100; }));
    EXPECT_EQ(stream.stats().skips, 1);
}

// However long a JACK cycle stays in the host's switch, the clock thread taking over waits
// for it: never two threads in the switch.
TEST_F(Stream, TheClockWaitsForACycleStillInTheHostsSwitch) {
    cycle(0, 0);
    holdNextSwitch = true;
    std::thread jack([this] { cycle(0.5f, 4); });
    ASSERT_TRUE(waitFor([] { return holding.load(); }));
    stream.noteServerGone();
    ASSERT_TRUE(waitFor([this] { return stream.waitingForCycle(); }));
    EXPECT_EQ(stream.stats().clockSwitches, 0);
    releaseSwitch = true;
    jack.join();
    ASSERT_TRUE(waitFor([] { return switches >= 3; }));
    stream.stop();
    EXPECT_EQ(mostInside, 1);
}

// A host may stop from the reset request the clock thread delivers: no switch follows, and
// the thread is joined later rather than by itself.
TEST_F(Stream, AHostMayStopFromTheClockThreadsMessage) {
    cycle(0, 0);
    cycle(0, 4);
    stopOnReset = true;
    stream.noteServerGone();
    ASSERT_TRUE(waitFor([] { return messageCount == 1; }));
    cycle(0.5f, 8); // after the stop: nothing
    stream.stop();
    EXPECT_EQ(switches, 1);
    EXPECT_EQ(stream.stats().clockSwitches, 0);
    ASSERT_TRUE(stream.start()); // and it starts again
    stream.arm();
    cycle(0, 12);
    cycle(0, 16);
    EXPECT_EQ(switches, 2);
}

TEST_F(Stream, APeriodChangeOrALostServerHandsTheSwitchesToTheDriversClock) {
    for (int lost = 0; lost < 2; ++lost) {
        SCOPED_TRACE(lost == 0 ? "period change" : "server gone");
        cycle(0, 0);
        cycle(0.5f, 4);
        if (lost == 0) {
            cycle(0.5f, 8, 2 * kFrames); // a cycle of the new length switches nothing
        } else {
            stream.noteServerGone();
        }
        ASSERT_TRUE(waitFor([] { return switches >= 4; }));
        cycle(0.5f, 12); // JACK's cycles no longer count
        stream.stop();
        const int total = switches;
        EXPECT_EQ(messages, std::vector<int32_t>{kAsioResetRequest});
        EXPECT_EQ(firstInputs[0], 0x40000000);
        EXPECT_EQ(firstInputs[2], 0); // silence on the driver's clock
        for (size_t k = 1; k < positions.size(); ++k) {
            EXPECT_EQ(positions[k], positions[k - 1] + kFrames);
        }
        EXPECT_EQ(stream.stats().clockSwitches, total - 1);
        SetUp();
    }
}

} // namespace
