#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/buffer_setup.h"
#include "engine/buffer_switch.h"
#include "support/fake_driver.h"
#include "support/run_state_reset.h"

namespace {

constexpr uint32_t kFrames = 4;

// Remembers, for every outputReady, whether the stop flag was already up.
class OrderDriver : public FakeDriver {
public:
    ASIOError outputReady() override {
        stoppedAtOutputReady.push_back(duplexState.stopped.load());
        return FakeDriver::outputReady();
    }
    std::vector<bool> stoppedAtOutputReady;
};

uint8_t playByte(uint32_t channel, size_t offset) {
    return static_cast<uint8_t>(channel * 64 + offset + 1);
}

class BufferSwitch : public ::testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override { resetRunState(); }

    // Buffers on inputs 1.. and outputs 1.., a playback store of `buffers` blocks with a
    // pattern per channel and offset, and a recording store of the same length.
    void startStream(int32_t inputs, int32_t outputs, uint32_t buffers) {
        bufferFrames = kFrames;
        ASSERT_EQ(createDuplexBuffers(&duplexState, kFrames, inputs, 1, outputs, 1), ASE_OK);
        bytesPerSample = nativeSampleBytes();
        ASSERT_EQ(bytesPerSample, 4);
        playChannels = static_cast<uint32_t>(outputs);
        playFramesLeft = kFrames * buffers;
        playBuffers = new uint8_t*[playChannels];
        playCursors = new uint8_t*[playChannels];
        for (uint32_t c = 0; c < playChannels; ++c) {
            playBuffers[c] = new uint8_t[playBytes()];
            for (size_t j = 0; j < playBytes(); ++j) {
                playBuffers[c][j] = playByte(c, j);
            }
            playCursors[c] = playBuffers[c];
        }
        recordChannels = static_cast<uint32_t>(inputs);
        recordFrames = playFramesLeft;
        ASSERT_TRUE(allocateRecordStore());
        for (uint32_t c = 0; c < recordChannels; ++c) {
            std::memset(recordBuffers[c], 0xEE, playBytes());
        }
    }

    size_t block() const { return static_cast<size_t>(bytesPerSample) * bufferFrames; }
    size_t playBytes() const { return static_cast<size_t>(bytesPerSample) * playFramesLeft; }

    // Fills every input half `index` with a value naming the input and the switch.
    void fillInputs(int index, int switchNumber) {
        for (int32_t i = 0; i < duplexState.inputBufferCount; ++i) {
            std::memset(driver.half(i, index), inputByte(i, switchNumber), block());
        }
    }
    static uint8_t inputByte(int input, int switchNumber) {
        return static_cast<uint8_t>(0x80 + input * 16 + switchNumber);
    }

    bool halfIs(int buffer, int index, const uint8_t* expected) {
        return std::memcmp(driver.half(buffer, index), expected, block()) == 0;
    }
    bool halfIsZero(int buffer, int index) {
        const std::vector<uint8_t> zero(block(), 0);
        return halfIs(buffer, index, zero.data());
    }
    bool recordedBlockIs(int channel, int blockNumber, uint8_t value) {
        const uint8_t* p = recordBuffers[channel] + blockNumber * block();
        for (size_t j = 0; j < block(); ++j) {
            if (p[j] != value) {
                return false;
            }
        }
        return true;
    }

    static ASIOTime timeRecord(uint32_t flags, uint32_t hi, uint32_t lo) {
        ASIOTime t;
        std::memset(&t, 0, sizeof t);
        t.timeInfo.flags = flags;
        t.timeInfo.samplePosition.hi = hi;
        t.timeInfo.samplePosition.lo = lo;
        return t;
    }
    void switchAt(uint32_t flags, uint64_t position, int index = 0) {
        ASIOTime t = timeRecord(flags, static_cast<uint32_t>(position >> 32),
                                static_cast<uint32_t>(position));
        bufferSwitchTimeInfo(&t, index, ASIOTrue);
    }

    OrderDriver driver;
    FakeDriverScope scope{driver};
};

TEST_F(BufferSwitch, TouchesOnlyTheHalfItIsGiven) {
    startStream(1, 1, 4);
    std::memset(driver.half(0, 0), 0x11, block());
    std::memset(driver.half(1, 0), 0x22, block());
    std::vector<uint8_t> before0(driver.half(1, 0), driver.half(1, 0) + block());
    fillInputs(1, 1);

    switchAt(0, 0, 1);

    EXPECT_TRUE(halfIs(1, 1, playBuffers[0]));
    EXPECT_TRUE(halfIs(1, 0, before0.data()));
    EXPECT_TRUE(recordedBlockIs(0, 0, inputByte(0, 1)));

    fillInputs(0, 2);
    switchAt(0, 0, 0);

    EXPECT_TRUE(halfIs(1, 0, playBuffers[0] + block()));
    EXPECT_TRUE(halfIs(1, 1, playBuffers[0])); // still the first block
    EXPECT_TRUE(recordedBlockIs(0, 1, inputByte(0, 2)));
}

TEST_F(BufferSwitch, MapsInputsToRecordingChannelsAndOutputsToPlaybackChannels) {
    startStream(2, 3, 4);
    fillInputs(0, 1);

    switchAt(0, 0);

    EXPECT_TRUE(halfIs(2, 0, playBuffers[0]));
    EXPECT_TRUE(halfIs(3, 0, playBuffers[1]));
    EXPECT_TRUE(halfIs(4, 0, playBuffers[2]));
    EXPECT_TRUE(recordedBlockIs(0, 0, inputByte(0, 1)));
    EXPECT_TRUE(recordedBlockIs(1, 0, inputByte(1, 1)));
    EXPECT_TRUE(recordedBlockIs(1, 1, 0xEE)); // only one block per switch
    for (uint32_t c = 0; c < 3; ++c) {
        EXPECT_EQ(playCursors[c], playBuffers[c] + block());
    }
    for (uint32_t c = 0; c < 2; ++c) {
        EXPECT_EQ(recordCursors[c], recordBuffers[c] + block());
    }
}

TEST_F(BufferSwitch, WithoutInputsOutputEntryIIsFedFromPlaybackChannelI) {
    startStream(0, 3, 2);

    switchAt(0, 0);
    switchAt(0, 0, 1);

    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(halfIs(i, 0, playBuffers[i]));
        EXPECT_TRUE(halfIs(i, 1, playBuffers[i] + block()));
    }
    EXPECT_TRUE(duplexState.stopped.load());
}

TEST_F(BufferSwitch, StopsAfterTheLastBlockAndThenDrainsWithSilence) {
    startStream(1, 2, 3);

    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        EXPECT_FALSE(duplexState.stopped.load());
        fillInputs(n % 2, n);
        switchAt(0, 0, n % 2);
        // The switch copies its blocks even when it is the one that stops.
        EXPECT_TRUE(halfIs(1, n % 2, playBuffers[0] + (n - 1) * block()));
        EXPECT_TRUE(halfIs(2, n % 2, playBuffers[1] + (n - 1) * block()));
        EXPECT_TRUE(recordedBlockIs(0, n - 1, inputByte(0, n)));
    }
    EXPECT_TRUE(duplexState.stopped.load());
    EXPECT_EQ(playFramesLeft, 0u);
    // outputReady of the third switch came before the flag went up.
    EXPECT_EQ(driver.stoppedAtOutputReady, (std::vector<bool>{false, false, false}));

    uint8_t* playAt[2] = {playCursors[0], playCursors[1]};
    uint8_t* recordAt = recordCursors[0];
    std::vector<uint8_t> recorded(recordBuffers[0], recordBuffers[0] + playBytes());
    for (int n = 4; n <= 5; ++n) {
        SCOPED_TRACE(n);
        fillInputs(n % 2, n);
        switchAt(0, 0, n % 2);
        EXPECT_TRUE(halfIsZero(1, n % 2));
        EXPECT_TRUE(halfIsZero(2, n % 2));
        EXPECT_TRUE(duplexState.stopped.load());
    }
    EXPECT_EQ(playCursors[0], playAt[0]);
    EXPECT_EQ(playCursors[1], playAt[1]);
    EXPECT_EQ(recordCursors[0], recordAt);
    EXPECT_EQ(std::vector<uint8_t>(recordBuffers[0], recordBuffers[0] + recorded.size()), recorded);
    EXPECT_EQ(driver.outputReadyCalls.load(), 5);
    EXPECT_EQ(playFramesLeft, 0u - 2 * kFrames); // wraps on, read by nobody
}

TEST_F(BufferSwitch, OnlyExactlyZeroRaisesTheFlag) {
    startStream(0, 1, 2);
    playFramesLeft = kFrames + 1; // not a whole number of buffers
    switchAt(0, 0);
    switchAt(0, 0);
    EXPECT_FALSE(duplexState.stopped.load());
}

TEST_F(BufferSwitch, StoresThePositionOnlyWhenMarkedValid) {
    startStream(0, 1, 16);

    switchAt(kSamplePositionValid, 12345);
    EXPECT_EQ(duplexState.samplePosition.load(), 12345.0);
    switchAt(kSystemTimeValid, 999);
    EXPECT_EQ(duplexState.samplePosition.load(), 0.0);
    switchAt(kSamplePositionValid | kSystemTimeValid, 777);
    EXPECT_EQ(duplexState.samplePosition.load(), 777.0);
    switchAt(0, 555);
    EXPECT_EQ(duplexState.samplePosition.load(), 0.0);

    const uint32_t before = timeGetTime();
    ASIOTime t = timeRecord(0, 0, 0);
    EXPECT_EQ(bufferSwitchTimeInfo(&t, 0, ASIOFalse), nullptr);
    const uint32_t after = timeGetTime();
    EXPECT_LE(duplexState.lastSwitchTimeMs.load() - before, after - before);
}

TEST_F(BufferSwitch, ConvertsBothHalvesAsUnsigned) {
    startStream(0, 1, 16);
    const uint32_t max = 0xFFFFFFFFu;

    switchAt(kSamplePositionValid, 0x80000000u);
    EXPECT_EQ(duplexState.samplePosition.load(), 2147483648.0);
    switchAt(kSamplePositionValid, uint64_t{1} << 32);
    EXPECT_EQ(duplexState.samplePosition.load(), 4294967296.0);
    ASIOTime t = timeRecord(kSamplePositionValid, max, max);
    bufferSwitchTimeInfo(&t, 0, ASIOFalse);
    EXPECT_EQ(duplexState.samplePosition.load(), std::ldexp(1.0, 64));
    t = timeRecord(kSamplePositionValid, 0x80000000u, 5);
    bufferSwitchTimeInfo(&t, 0, ASIOFalse);
    EXPECT_EQ(duplexState.samplePosition.load(), std::ldexp(1.0, 63) + 5.0);
}

TEST_F(BufferSwitch, PlainSwitchAsksTheDriverForThePosition) {
    startStream(1, 1, 4);
    driver.samplePosition = ASIOSamples{1, 0x80000000u};

    fillInputs(0, 1);
    bufferSwitch(0, ASIOTrue);

    EXPECT_EQ(driver.samplePositionCalls.load(), 1);
    EXPECT_EQ(duplexState.samplePosition.load(), 4294967296.0 + 2147483648.0);
    EXPECT_TRUE(halfIs(1, 0, playBuffers[0]));

    driver.samplePositionResult = ASE_SPNotAdvancing;
    fillInputs(1, 2);
    bufferSwitch(1, ASIOFalse);

    EXPECT_EQ(duplexState.samplePosition.load(), 0.0);
    EXPECT_TRUE(halfIs(1, 1, playBuffers[0] + block()));
    EXPECT_TRUE(recordedBlockIs(0, 1, inputByte(0, 2)));
    EXPECT_EQ(driver.outputReadyCalls.load(), 2);
}

TEST_F(BufferSwitch, OutputReadyFailureChangesNothing) {
    startStream(0, 1, 2);
    driver.outputReadyResult = ASE_NotPresent;
    switchAt(0, 0);
    switchAt(0, 0, 1);
    EXPECT_TRUE(halfIs(0, 1, playBuffers[0] + block()));
    EXPECT_TRUE(duplexState.stopped.load());
}

TEST_F(BufferSwitch, AnIndexNamingNoHalfMovesNothingAndCountsAsLost) {
    startStream(1, 1, 2);
    switchAt(0, 0, 2);
    switchAt(0, 0, -1);
    EXPECT_EQ(playCursors[0], playBuffers[0]);
    EXPECT_EQ(recordCursors[0], recordBuffers[0]);
    EXPECT_EQ(playFramesLeft, 2 * kFrames);
    EXPECT_EQ(duplexState.lostSwitches.load(), 2u);
}

TEST_F(BufferSwitch, CountsSwitchesWhosePositionIsOutOfStep) {
    startStream(0, 1, 8);

    switchAt(kSamplePositionValid, 1000); // reference only
    switchAt(kSamplePositionValid, 1004);
    EXPECT_EQ(duplexState.lostSwitches.load(), 0u);
    switchAt(kSamplePositionValid, 1012); // a block went missing
    EXPECT_EQ(duplexState.lostSwitches.load(), 1u);
    switchAt(kSamplePositionValid, 1016);
    switchAt(0, 0); // no position: the next must be two buffers on
    switchAt(kSamplePositionValid, 1024);
    EXPECT_EQ(duplexState.lostSwitches.load(), 1u);
    switchAt(kSamplePositionValid, 1024); // repeated
    EXPECT_EQ(duplexState.lostSwitches.load(), 2u);
    switchAt(kSamplePositionValid, 1028); // the last block of the material
    EXPECT_TRUE(duplexState.stopped.load());
    switchAt(kSamplePositionValid, 5000); // draining: the recording is complete
    EXPECT_EQ(duplexState.lostSwitches.load(), 2u);
    EXPECT_EQ(duplexState.streamNotices.load(), 0u);
}

TEST_F(BufferSwitch, FirstValidPositionOnlySetsTheReference) {
    startStream(0, 1, 8);
    switchAt(0, 0);
    switchAt(0, 0);
    switchAt(kSamplePositionValid, 0xFFFFFFFCu);
    switchAt(kSamplePositionValid, uint64_t{1} << 32); // across the halves
    EXPECT_EQ(duplexState.lostSwitches.load(), 0u);
}

TEST(AsioMessage, AnswersByTheTable) {
    resetRunState();
    const int32_t supported[] = {2, 3, 5, 6, 7, 8, 10};
    for (int32_t v = -2; v <= 20; ++v) {
        bool expected = false;
        for (int32_t s : supported) {
            expected = expected || s == v;
        }
        EXPECT_EQ(asioMessage(kAsioSelectorSupported, v, nullptr, nullptr), expected ? 1 : 0)
            << "value " << v;
    }
    EXPECT_EQ(asioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 2);
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(asioMessage(kAsioBufferSizeChange, 512, nullptr, nullptr), 0);
    EXPECT_EQ(asioMessage(kAsioResyncRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr), 1);
    EXPECT_EQ(asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr), 1);
    EXPECT_EQ(asioMessage(kAsioSupportsTimeCode, 0, nullptr, nullptr), 0);
    const int32_t others[] = {0, -1, INT32_MIN, 9, 10, 11, 14, 15, 16, 1000, INT32_MAX};
    for (int32_t s : others) {
        EXPECT_EQ(asioMessage(s, 7, nullptr, nullptr), 0) << "selector " << s;
    }
    // The answers do not change while streaming.
    duplexState.streaming.store(true);
    EXPECT_EQ(asioMessage(kAsioResetRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(asioMessage(kAsioBufferSizeChange, 0, nullptr, nullptr), 0);
    EXPECT_EQ(asioMessage(kAsioResyncRequest, 0, nullptr, nullptr), 1);
    EXPECT_EQ(asioMessage(kAsioOverload, 0, nullptr, nullptr), 0);
    resetRunState();
}

TEST(AsioMessage, CountsDisturbingNoticesOnlyWhileStreaming) {
    resetRunState();
    asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    asioMessage(kAsioOverload, 0, nullptr, nullptr);
    sampleRateDidChange(44100.0);
    EXPECT_EQ(duplexState.streamNotices.load(), 0u);
    EXPECT_FALSE(duplexState.resetRequested.load());

    // A reset asked for while streaming also ends the run.
    duplexState.streaming.store(true);
    asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    EXPECT_TRUE(duplexState.resetRequested.load());
    asioMessage(kAsioBufferSizeChange, 128, nullptr, nullptr);
    asioMessage(kAsioResyncRequest, 0, nullptr, nullptr);
    asioMessage(kAsioOverload, 0, nullptr, nullptr);
    sampleRateDidChange(96000.0);
    EXPECT_EQ(duplexState.streamNotices.load(), 5u);

    // Questions and harmless notices are not counted.
    asioMessage(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr);
    asioMessage(kAsioEngineVersion, 0, nullptr, nullptr);
    asioMessage(kAsioLatenciesChanged, 0, nullptr, nullptr);
    asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr);
    asioMessage(kAsioSupportsTimeCode, 0, nullptr, nullptr);
    asioMessage(kAsioMMCCommand, 0, nullptr, nullptr);
    EXPECT_EQ(duplexState.streamNotices.load(), 5u);
    EXPECT_EQ(duplexState.lostSwitches.load(), 0u);

    duplexState.streaming.store(false);
    asioMessage(kAsioResyncRequest, 0, nullptr, nullptr);
    EXPECT_EQ(duplexState.streamNotices.load(), 5u);
    resetRunState();
}

// The driver's thread streams while this one polls the flag, as the run does; the
// recording must be complete once the flag is seen (checked by ThreadSanitizer too).
TEST_F(BufferSwitch, RecordingIsCompleteWhenTheFlagIsSeenFromAnotherThread) {
    startStream(2, 1, 32);
    std::atomic<bool> halt{false};
    std::thread device([this, &halt] {
        int n = 0;
        while (!halt.load()) {
            ++n;
            fillInputs(n % 2, n % 64);
            ASIOTime t = timeRecord(0, 0, 0);
            bufferSwitchTimeInfo(&t, n % 2, ASIOTrue);
            std::this_thread::yield();
        }
    });
    while (!duplexState.stopped.load(std::memory_order_acquire)) {
        std::this_thread::yield();
    }
    bool complete = true;
    for (int c = 0; c < 2; ++c) {
        for (int b = 0; b < 32; ++b) {
            complete = complete && recordedBlockIs(c, b, inputByte(c, (b + 1) % 64));
        }
    }
    halt.store(true);
    device.join();
    EXPECT_TRUE(complete);
}

} // namespace
