#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "engine/run_state.h"
#include "host/driver_manager.h"
#include "host/host_calls.h"
#include "host_test_util.h"
#include "support/fake_driver.h"

namespace {

class HostCalls : public ::testing::Test {
protected:
    void SetUp() override {
        savedManager = driverManager;
        driverManager = nullptr;
        currentDriver = nullptr;
    }
    void TearDown() override {
        currentDriver = nullptr;
        driverManager = savedManager;
    }

    static int releases(const FakeDriver& fake) {
        int n = 0;
        for (const std::string& call : fake.calls) {
            n += call == "Release" ? 1 : 0;
        }
        return n;
    }

    // What ASIOGetChannels, ASIOGetLatencies and ASIOGetBufferSize leave, each checked to
    // answer `code`: inputs, outputs, input and output latency, minimum, maximum and
    // preferred length, granularity. Each starts from -1, so that what is left shows.
    static std::vector<int32_t> sizeAnswers(ASIOError code) {
        std::vector<int32_t> v(8, -1);
        EXPECT_EQ(ASIOGetChannels(&v[0], &v[1]), code);
        EXPECT_EQ(ASIOGetLatencies(&v[2], &v[3]), code);
        EXPECT_EQ(ASIOGetBufferSize(&v[4], &v[5], &v[6], &v[7]), code);
        return v;
    }

    // What ASIOGetSamplePosition leaves, checked to answer `code`: the position's and the
    // time stamp's high and low halves, from 7, 8, 9 and 10.
    static std::vector<uint32_t> positionAnswer(ASIOError code) {
        ASIOSamples position{7, 8};
        ASIOTimeStamp stamp{9, 10};
        EXPECT_EQ(ASIOGetSamplePosition(&position, &stamp), code);
        return {position.hi, position.lo, stamp.hi, stamp.lo};
    }

    DriverManager* savedManager = nullptr;
};

TEST_F(HostCalls, ForwardArgumentsAndResultsUnchanged) {
    FakeDriver fake;
    FakeDriverScope scope(fake);
    fake.result = ASE_InvalidMode;
    fake.startResult = ASE_HWMalfunction;
    fake.canSampleRateResult = 1234;
    fake.setSampleRateResult = ASE_NoClock;
    fake.outputReadyResult = ASE_NotPresent;
    fake.samplePositionResult = ASE_SPNotAdvancing + 1000; // any code passes through
    fake.inputs = 6;
    fake.outputs = 10;
    fake.inputLatency = 111;
    fake.outputLatency = 222;
    fake.minSize = 32;
    fake.maxSize = 4096;
    fake.preferredSize = 512;
    fake.granularity = 2;
    fake.currentRate = 96000.0;

    EXPECT_EQ(ASIOStart(), ASE_HWMalfunction);
    EXPECT_EQ(ASIOStop(), ASE_InvalidMode);

    EXPECT_EQ(sizeAnswers(ASE_InvalidMode),
              (std::vector<int32_t>{6, 10, 111, 222, 32, 4096, 512, 2}));

    EXPECT_EQ(ASIOCanSampleRate(44100.0), 1234);
    EXPECT_EQ(ASIOSetSampleRate(88200.0), ASE_NoClock);
    ASIOSampleRate rate = 0;
    EXPECT_EQ(ASIOGetSampleRate(&rate), ASE_InvalidMode);
    EXPECT_EQ(rate, 96000.0);

    fake.samplePositionResult = ASE_OK;
    fake.samplePosition = ASIOSamples{1, 2};
    fake.timeStamp = ASIOTimeStamp{3, 4};
    EXPECT_EQ(positionAnswer(ASE_OK), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(fake.samplePositionCalls.load(), 1);

    ASIOChannelInfo channel{};
    channel.channel = 2;
    channel.isInput = ASIOTrue;
    EXPECT_EQ(ASIOGetChannelInfo(&channel), ASE_OK);
    EXPECT_STREQ(channel.name, "In 3");

    ASIOBufferInfo infos[2] = {{ASIOTrue, 0, {nullptr, nullptr}},
                               {ASIOFalse, 1, {nullptr, nullptr}}};
    ASIOCallbacks callbacks{};
    EXPECT_EQ(ASIOCreateBuffers(infos, 2, 64, &callbacks), ASE_OK);
    EXPECT_EQ(fake.callbacks, &callbacks);
    EXPECT_EQ(fake.bufferSize, 64);
    EXPECT_EQ(infos[1].buffers[0], fake.half(1, 0));

    EXPECT_EQ(ASIODisposeBuffers(), ASE_InvalidMode);
    EXPECT_EQ(ASIOOutputReady(), ASE_NotPresent);
    EXPECT_EQ(fake.outputReadyCalls.load(), 1);

    const std::vector<std::string> expected = {"start",
                                               "stop",
                                               "canSampleRate 44100",
                                               "setSampleRate 88200",
                                               "getChannelInfo in 2",
                                               "createBuffers 2 64",
                                               "disposeBuffers"};
    EXPECT_EQ(fake.calls, expected);
}

TEST_F(HostCalls, FallbacksWithoutDriver) {
    EXPECT_EQ(ASIOStart(), ASE_NotPresent);
    EXPECT_EQ(ASIOStop(), ASE_NotPresent);
    EXPECT_EQ(ASIODisposeBuffers(), ASE_NotPresent);
    EXPECT_EQ(ASIOOutputReady(), ASE_NotPresent);
    EXPECT_EQ(ASIOCanSampleRate(48000.0), ASE_NotPresent);
    EXPECT_EQ(ASIOSetSampleRate(48000.0), ASE_NotPresent);

    EXPECT_EQ(sizeAnswers(ASE_NotPresent), std::vector<int32_t>(8, 0));

    ASIOSampleRate rate = 12345.0;
    EXPECT_EQ(ASIOGetSampleRate(&rate), ASE_NotPresent);
    EXPECT_EQ(rate, 12345.0);

    EXPECT_EQ(positionAnswer(ASE_NotPresent), (std::vector<uint32_t>{7, 8, 9, 10}));

    ASIOChannelInfo channel;
    std::memset(&channel, 0x55, sizeof channel);
    channel.channel = 3;
    channel.isInput = ASIOTrue;
    channel.isActive = 42;
    EXPECT_EQ(ASIOGetChannelInfo(&channel), ASE_NotPresent);
    EXPECT_EQ(channel.channel, 3);
    EXPECT_EQ(channel.isInput, ASIOTrue);
    EXPECT_EQ(channel.isActive, 42);
    EXPECT_EQ(channel.channelGroup, -1);
    EXPECT_EQ(channel.type, 0);
    EXPECT_STREQ(channel.name, "None");

    int marker = 0;
    ASIOBufferInfo infos[4];
    for (ASIOBufferInfo& info : infos) {
        info = ASIOBufferInfo{ASIOTrue, 9, {&marker, &marker}};
    }
    ASIOCallbacks callbacks{};
    EXPECT_EQ(ASIOCreateBuffers(infos, 0, 64, &callbacks), ASE_NotPresent);
    EXPECT_EQ(ASIOCreateBuffers(infos, -2, 64, &callbacks), ASE_NotPresent);
    EXPECT_EQ(infos[0].buffers[0], &marker);
    EXPECT_EQ(ASIOCreateBuffers(infos, 3, 64, &callbacks), ASE_NotPresent);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(infos[i].buffers[0], nullptr);
        EXPECT_EQ(infos[i].buffers[1], nullptr);
        EXPECT_EQ(infos[i].isInput, ASIOTrue);
        EXPECT_EQ(infos[i].channelNum, 9);
    }
    EXPECT_EQ(infos[3].buffers[0], &marker);
    EXPECT_EQ(infos[3].buffers[1], &marker);

    ASIODriverInfo info;
    std::memset(&info, 0x55, sizeof info);
    std::strcpy(info.errorMessage, "untouched");
    EXPECT_EQ(ASIOInit(&info), ASE_NotPresent);
    EXPECT_EQ(info.driverVersion, 0);
    EXPECT_STREQ(info.name, "No ASIO Driver");
    EXPECT_STREQ(info.errorMessage, "untouched");

    EXPECT_EQ(ASIOExit(), ASE_OK);
}

TEST_F(HostCalls, InitSuccessFillsDriverTexts) {
    FakeDriver fake;
    FakeDriverScope scope(fake);
    fake.driverName = "Studio Box";
    fake.driverVersion = 0x0203;
    fake.initResult = 17; // any non-zero answer is success
    ASIODriverInfo info{};
    info.asioVersion = 99;
    std::strcpy(info.errorMessage, "stale");

    EXPECT_EQ(ASIOInit(&info), ASE_OK);
    EXPECT_STREQ(info.name, "Studio Box");
    EXPECT_STREQ(info.errorMessage, "No ASIO Driver Error");
    EXPECT_EQ(info.driverVersion, 0x0203);
    EXPECT_EQ(info.asioVersion, 99);
    ASSERT_FALSE(fake.calls.empty());
    EXPECT_EQ(fake.calls[0], "init null");
    EXPECT_EQ(currentDriver, &fake);
}

TEST_F(HostCalls, InitFailureDropsDriverButManagerKeepsIt) {
    FakeDriver fake;
    fake.initResult = ASIOFalse;
    fake.errorText = "No device attached";
    DriverManager manager;
    holdInManager(manager, fake);

    ASIODriverInfo info{};
    info.driverVersion = 5;
    EXPECT_EQ(ASIOInit(&info), ASE_NotPresent);
    EXPECT_STREQ(info.errorMessage, "No device attached");
    EXPECT_STREQ(info.name, "No ASIO Driver");
    EXPECT_EQ(info.driverVersion, 0);
    EXPECT_EQ(currentDriver, nullptr);

    // Every call now answers with its fallback and leaves the object alone.
    int32_t in = 5, out = 5;
    EXPECT_EQ(ASIOGetChannels(&in, &out), ASE_NotPresent);
    EXPECT_EQ(in, 0);
    EXPECT_EQ(ASIOStart(), ASE_NotPresent);
    EXPECT_EQ(ASIOExit(), ASE_OK);
    EXPECT_EQ(releases(fake), 0);
    EXPECT_EQ(manager.currentIndex, manager.count - 1);

    manager.releaseCurrentDriver();
    EXPECT_EQ(releases(fake), 1);
    EXPECT_EQ(manager.currentIndex, -1);
    manager.releaseCurrentDriver();
    EXPECT_EQ(releases(fake), 1);
    discardEntries(manager);
}

TEST_F(HostCalls, ExitReleasesOnceThroughManager) {
    FakeDriver fake;
    DriverManager manager;
    holdInManager(manager, fake);

    EXPECT_EQ(ASIOExit(), ASE_OK);
    EXPECT_EQ(currentDriver, nullptr);
    EXPECT_EQ(manager.currentIndex, -1);
    EXPECT_EQ(releases(fake), 1);
    EXPECT_EQ(manager.findEntry(manager.count - 1)->openInterface, nullptr);

    EXPECT_EQ(ASIOExit(), ASE_OK);
    EXPECT_EQ(releases(fake), 1);
    EXPECT_EQ(ASIOStart(), ASE_NotPresent);
    discardEntries(manager);
}

TEST_F(HostCalls, ExitWithoutManagerOnlyForgetsDriver) {
    FakeDriver fake;
    FakeDriverScope scope(fake);
    EXPECT_EQ(ASIOExit(), ASE_OK);
    EXPECT_EQ(currentDriver, nullptr);
    EXPECT_EQ(releases(fake), 0);
}

} // namespace
