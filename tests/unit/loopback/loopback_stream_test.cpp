// The driver streaming to a fake host whose callbacks play a known pattern on every output
// and record every input, so that each input can be checked against the delayed outputs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "driver_server.h"
#include "loopback_driver.h"
#include "support/text_lines.h"

namespace {

struct SwitchRecord {
    int32_t index;
    bool timeInfo;
    ASIOTime time;
    ASIOError positionResult;
    uint64_t position;
    std::thread::id thread;
    std::vector<std::vector<int64_t>> inputs; // per input entry, in entry order
};

struct FakeHost {
    IASIO* driver = nullptr;
    std::vector<ASIOBufferInfo> infos;
    int32_t frames = 0;
    int inBytes = 4;
    int outBytes = 4;
    int32_t timeInfoAnswer = 1;
    int sleepMs = 0;
    bool stopInside = false;
    ASIOError stopInsideResult = ASE_OK;
    std::vector<SwitchRecord> records;
    std::vector<int32_t> selectors;
    std::atomic<int> switches{0};
    std::atomic<bool> inside{false};
};

FakeHost* host = nullptr;

int64_t readLsb(const uint8_t* p, int bytes) {
    uint64_t raw = 0;
    for (int i = 0; i < bytes; ++i) {
        raw |= static_cast<uint64_t>(p[i]) << (8 * i);
    }
    const int unused = 64 - 8 * bytes;
    return static_cast<int64_t>(raw << unused) >> unused;
}

void writeLsb(uint8_t* p, int64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        p[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
    }
}

// What the host plays: distinct for neighbouring frames, switches and channels, of both
// signs, and within the width of the output type.
int64_t played(int32_t channel, int64_t switchNumber, int64_t frame, int bytes) {
    const int64_t limit = bytes == 2 ? 30000 : bytes == 3 ? 8000000 : 2000000000;
    const int64_t value = ((channel + 1) * 1000003 + switchNumber * 4099 + frame * 3) % limit + 1;
    return frame % 2 == 0 ? value : -value;
}

void process(int32_t index, ASIOTime* time) {
    FakeHost& h = *host;
    h.inside.store(true);
    SwitchRecord record{};
    record.index = index;
    record.timeInfo = time != nullptr;
    if (time != nullptr) {
        record.time = *time;
    }
    record.thread = std::this_thread::get_id();
    ASIOSamples position{};
    ASIOTimeStamp stamp{};
    record.positionResult = h.driver->getSamplePosition(&position, &stamp);
    record.position = (static_cast<uint64_t>(position.hi) << 32) | position.lo;
    const int64_t switchNumber = static_cast<int64_t>(h.records.size());
    for (const ASIOBufferInfo& info : h.infos) {
        const uint8_t* half = static_cast<const uint8_t*>(info.buffers[index]);
        if (info.isInput) {
            std::vector<int64_t> samples;
            for (int32_t f = 0; f < h.frames; ++f) {
                samples.push_back(readLsb(half + f * h.inBytes, h.inBytes));
            }
            record.inputs.push_back(samples);
        } else {
            uint8_t* out = static_cast<uint8_t*>(info.buffers[index]);
            for (int32_t f = 0; f < h.frames; ++f) {
                writeLsb(out + f * h.outBytes, played(info.channelNum, switchNumber, f, h.outBytes),
                         h.outBytes);
            }
        }
    }
    h.driver->outputReady();
    if (h.stopInside) {
        h.stopInsideResult = h.driver->stop();
    }
    h.records.push_back(record);
    if (h.sleepMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(h.sleepMs));
    }
    h.inside.store(false);
    h.switches.fetch_add(1);
}

void onSwitch(int32_t index, ASIOBool) {
    process(index, nullptr);
}
ASIOTime* onSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool) {
    process(index, time);
    return nullptr;
}
void onRateChange(ASIOSampleRate) {}
int32_t onMessage(int32_t selector, int32_t value, void*, double*) {
    host->selectors.push_back(selector);
    if (selector == kAsioSelectorSupported) {
        return value == kAsioSupportsTimeInfo ? host->timeInfoAnswer : 0;
    }
    return selector == kAsioSupportsTimeInfo ? host->timeInfoAnswer : 0;
}
ASIOCallbacks callbacks = {onSwitch, onRateChange, onMessage, onSwitchTimeInfo};

struct Channel {
    bool isInput;
    int32_t number;
};

// Sets the driver up for `channels`; the host is installed for the driver's callbacks.
void setUp(FakeHost& h, const std::string& config, std::initializer_list<Channel> channels,
           int32_t frames) {
    host = &h;
    h.frames = frames;
    h.records.reserve(1024);
    h.driver = createLoopbackDriver(config.c_str());
    ASSERT_EQ(h.driver->init(nullptr), ASIOTrue);
    for (const Channel& c : channels) {
        ASIOBufferInfo info{};
        info.isInput = c.isInput ? ASIOTrue : ASIOFalse;
        info.channelNum = c.number;
        h.infos.push_back(info);
    }
    ASSERT_EQ(h.driver->createBuffers(h.infos.data(), static_cast<int32_t>(h.infos.size()), frames,
                                      &callbacks),
              ASE_OK);
}

void waitForSwitches(FakeHost& h, int count) {
    // A guard against a hang, not a timing check.
    for (int i = 0; i < 20000 && h.switches.load() < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(h.switches.load(), count);
}

void tearDown(FakeHost& h) {
    EXPECT_EQ(h.driver->stop(), ASE_OK);
    EXPECT_EQ(h.driver->disposeBuffers(), ASE_OK);
    EXPECT_EQ(h.driver->Release(), 0u);
    host = nullptr;
}

// A fast run of exactly `switches` switches.
void run(FakeHost& h, const std::string& config, std::initializer_list<Channel> channels,
         int32_t frames, int switches) {
    ASSERT_NO_FATAL_FAILURE(
        setUp(h, config + ",clock=fast,switches=" + std::to_string(switches), channels, frames));
    ASSERT_EQ(h.driver->start(), ASE_OK);
    waitForSwitches(h, switches);
    tearDown(h);
    ASSERT_EQ(h.records.size(), static_cast<size_t>(switches));
}

int64_t rescaled(int64_t value, int fromBytes, int toBytes) {
    return toBytes >= fromBytes ? value * (int64_t{1} << (8 * (toBytes - fromBytes)))
                                : value >> (8 * (fromBytes - toBytes));
}

// Every input frame against what its output played `delay` frames earlier in device time
// (the positions the driver reported), silence where nothing was played.
void expectLoopback(const FakeHost& h, int64_t delay) {
    int inputNumber = 0;
    for (const ASIOBufferInfo& info : h.infos) {
        if (!info.isInput) {
            continue;
        }
        bool hasOutput = false;
        for (const ASIOBufferInfo& other : h.infos) {
            hasOutput |= !other.isInput && other.channelNum == info.channelNum;
        }
        for (size_t j = 0; j < h.records.size(); ++j) {
            const std::vector<int64_t>& heard = h.records[j].inputs[inputNumber];
            for (int32_t f = 0; f < h.frames; ++f) {
                const int64_t t = static_cast<int64_t>(h.records[j].position) + f - delay;
                int64_t want = 0;
                for (size_t m = 0; hasOutput && m < j; ++m) {
                    const int64_t start = static_cast<int64_t>(h.records[m].position);
                    if (t >= start && t < start + h.frames) {
                        want = rescaled(
                            played(info.channelNum, static_cast<int64_t>(m), t - start, h.outBytes),
                            h.outBytes, h.inBytes);
                    }
                }
                ASSERT_EQ(heard[f], want) << "input " << info.channelNum << " switch " << j
                                          << " frame " << f << " delay " << delay;
            }
        }
        ++inputNumber;
    }
}

} // namespace

TEST(LoopbackStream, InputsHearTheirOutputsAfterTheDefaultDelay) {
    FakeHost h;
    // Input 1 has no output and hears silence; output 3 has no input.
    run(h, "inputs=3,outputs=4",
        {{true, 0}, {true, 1}, {true, 2}, {false, 0}, {false, 2}, {false, 3}}, 64, 8);
    expectLoopback(h, 128); // input latency + output latency
    for (size_t j = 0; j < h.records.size(); ++j) {
        const SwitchRecord& r = h.records[j];
        EXPECT_EQ(r.index, static_cast<int32_t>(j % 2));
        EXPECT_EQ(r.position, 64u * j);
        EXPECT_TRUE(r.timeInfo);
        EXPECT_EQ(r.time.timeInfo.flags,
                  kSystemTimeValid | kSamplePositionValid | kSampleRateValid);
        EXPECT_EQ(r.time.timeInfo.samplePosition.lo, 64u * j);
        EXPECT_EQ(r.time.timeInfo.samplePosition.hi, 0u);
        EXPECT_EQ(r.time.timeInfo.sampleRate, 44100.0);
        EXPECT_NE(r.thread, std::this_thread::get_id());
    }
    EXPECT_NE(h.records[2].inputs[0][0], 0); // something came through
    EXPECT_EQ(h.records[2].inputs[1], std::vector<int64_t>(64, 0));
}

TEST(LoopbackStream, DelayIsAnyLengthFromOneBuffer) {
    {
        FakeHost h;
        run(h, "delay=32,inputs=2,outputs=2", {{true, 1}, {false, 1}, {true, 0}, {false, 0}}, 32,
            5);
        expectLoopback(h, 32);
        for (size_t j = 1; j < h.records.size(); ++j) { // the previous switch, frame for frame
            for (int32_t f = 0; f < 32; ++f) {
                ASSERT_EQ(h.records[j].inputs[0][f], played(1, static_cast<int64_t>(j) - 1, f, 4));
            }
        }
    }
    for (int64_t delay : {64, 65, 100, 150, 256, 1000}) {
        FakeHost h;
        run(h, "delay=" + std::to_string(delay), {{false, 0}, {true, 0}}, 64, 20);
        expectLoopback(h, delay);
    }
    FakeHost extra; // the default follows the reported latencies
    run(extra, "inextra=10,outextra=27", {{false, 0}, {true, 0}}, 64, 10);
    expectLoopback(extra, 64 + 10 + 64 + 27);
}

TEST(LoopbackStream, DifferentTypesAreRescaled) {
    const struct {
        const char* config;
        int inBytes, outBytes;
    } cases[] = {{"intype=18,outtype=16", 4, 2},
                 {"intype=16,outtype=18", 2, 4},
                 {"intype=17,outtype=18", 3, 4},
                 {"intype=18,outtype=17", 4, 3},
                 {"type=16", 2, 2},
                 {"type=17", 3, 3}};
    for (const auto& c : cases) {
        FakeHost h;
        h.inBytes = c.inBytes;
        h.outBytes = c.outBytes;
        run(h, std::string(c.config) + ",delay=96", {{true, 0}, {false, 0}}, 64, 6);
        SCOPED_TRACE(c.config);
        expectLoopback(h, 96);
    }
}

TEST(LoopbackStream, StartSwitchRunsTheFirstSwitchInsideStart) {
    FakeHost h;
    setUp(h, "startswitch=1,switches=1,clock=fast", {{true, 0}, {false, 0}}, 64);
    ASSERT_EQ(h.driver->start(), ASE_OK);
    EXPECT_EQ(h.switches.load(), 1); // before start returned
    tearDown(h);
    ASSERT_EQ(h.records.size(), 1u);
    EXPECT_EQ(h.records[0].thread, std::this_thread::get_id());
    EXPECT_EQ(h.records[0].index, 0);

    FakeHost later;
    run(later, "startswitch=1", {{true, 0}, {false, 0}}, 64, 4);
    EXPECT_EQ(later.records[0].thread, std::this_thread::get_id());
    EXPECT_NE(later.records[1].thread, std::this_thread::get_id());
    expectLoopback(later, 128);
}

TEST(LoopbackStream, TimeInfoOnlyWhenBothSidesWantIt) {
    FakeHost refused;
    refused.timeInfoAnswer = 0;
    run(refused, "", {{false, 0}}, 64, 2);
    EXPECT_FALSE(refused.records[0].timeInfo);
    ASSERT_FALSE(refused.selectors.empty());
    EXPECT_EQ(refused.selectors[0], kAsioSelectorSupported);
    EXPECT_EQ(refused.records[1].positionResult, ASE_OK);
    EXPECT_EQ(refused.records[1].position, 64u);

    FakeHost off;
    run(off, "timeinfo=0", {{false, 0}, {true, 0}}, 64, 3);
    EXPECT_FALSE(off.records[0].timeInfo);
    EXPECT_FALSE(off.records[2].timeInfo);
    expectLoopback(off, 128);

    FakeHost on;
    run(on, "rates=48000,96000", {{false, 0}}, 64, 2);
    EXPECT_TRUE(on.records[0].timeInfo);
    EXPECT_EQ(on.records[0].time.timeInfo.sampleRate, 48000.0);
}

TEST(LoopbackStream, PositionZeroMarksThePositionInvalid) {
    FakeHost h;
    run(h, "position=0", {{false, 0}}, 64, 3);
    for (const SwitchRecord& r : h.records) {
        EXPECT_EQ(r.time.timeInfo.flags, kSystemTimeValid | kSampleRateValid);
        EXPECT_EQ(r.positionResult, ASE_SPNotAdvancing);
    }
}

TEST(LoopbackStream, DropLosesOneBufferPeriod) {
    FakeHost h;
    run(h, "drop=3,delay=64", {{true, 0}, {false, 0}}, 64, 6);
    const uint64_t want[] = {0, 64, 192, 256, 320, 384};
    for (size_t j = 0; j < 6; ++j) {
        EXPECT_EQ(h.records[j].position, want[j]) << j;
        EXPECT_EQ(h.records[j].time.timeInfo.samplePosition.lo, want[j]) << j;
        EXPECT_EQ(h.records[j].index, static_cast<int32_t>(j % 2));
    }
    expectLoopback(h, 64);
    // Switch 3 hears the lost period, silence; what switch 2 played is never heard.
    EXPECT_EQ(h.records[2].inputs[0], std::vector<int64_t>(64, 0));
    EXPECT_EQ(h.records[3].inputs[0][0], played(0, 2, 0, 4));

    FakeHost longer;
    run(longer, "drop=2,delay=200", {{true, 0}, {false, 0}}, 64, 8);
    expectLoopback(longer, 200);
}

TEST(LoopbackStream, StopWaitsForTheLastSwitchAndNoneFollows) {
    FakeHost h;
    h.sleepMs = 2;
    setUp(h, "clock=fast", {{true, 0}, {false, 0}}, 64);
    ASSERT_EQ(h.driver->start(), ASE_OK);
    waitForSwitches(h, 3);
    EXPECT_EQ(h.driver->stop(), ASE_OK);
    EXPECT_FALSE(h.inside.load());
    const int stoppedAt = h.switches.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(h.switches.load(), stoppedAt);
    EXPECT_EQ(h.driver->start(), ASE_OK); // a restart begins at 0, in silence
    waitForSwitches(h, stoppedAt + 3);
    tearDown(h);
    const SwitchRecord& first = h.records[static_cast<size_t>(stoppedAt)];
    EXPECT_EQ(first.position, 0u);
    EXPECT_EQ(first.index, 0);
    EXPECT_EQ(first.inputs[0], std::vector<int64_t>(64, 0));
}

TEST(LoopbackStream, SwitchesLimitsTheCallbacks) {
    FakeHost none;
    setUp(none, "switches=0,clock=fast", {{false, 0}}, 64);
    ASSERT_EQ(none.driver->start(), ASE_OK);
    tearDown(none);
    EXPECT_EQ(none.switches.load(), 0);

    FakeHost some;
    run(some, "", {{false, 0}}, 64, 5); // run() checks there were exactly 5
}

TEST(LoopbackStream, StopFromInsideASwitchIsRefused) {
    FakeHost h;
    h.stopInside = true;
    run(h, "", {{false, 0}}, 64, 1);
    EXPECT_EQ(h.stopInsideResult, ASE_InvalidMode);
}

TEST(LoopbackStream, TraceCountsCallsFromInsideSwitches) {
    const std::string path = testing::TempDir() + "loopback_trace_stream.txt";
    std::remove(path.c_str());
    FakeHost h;
    run(h, "inputs=2,outputs=2,trace=" + path, {{true, 1}, {false, 1}}, 64, 4);
    h.driver = nullptr;
    const std::vector<std::string> want = {
        "init",
        "createBuffers 2 64",
        "start",
        "stop",
        "stats switches=4 getSamplePosition=4 outputReady=4 late=0",
        "disposeBuffers",
        "Release"};
    EXPECT_EQ(readLines(path), want);
    std::remove(path.c_str());
}

TEST(LoopbackStream, RealtimeClockRuns) {
    const std::string path = testing::TempDir() + "loopback_trace_realtime.txt";
    std::remove(path.c_str());
    FakeHost h;
    setUp(h, "switches=3,trace=" + path, {{true, 0}, {false, 0}}, 64);
    ASSERT_EQ(h.driver->start(), ASE_OK);
    waitForSwitches(h, 3);
    tearDown(h);
    expectLoopback(h, 128);
    const std::vector<std::string> lines = readLines(path);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4].rfind("stats switches=3 getSamplePosition=3 outputReady=3 late=", 0), 0u);
    std::remove(path.c_str());
}
