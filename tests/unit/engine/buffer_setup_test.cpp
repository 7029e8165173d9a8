#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/buffer_setup.h"
#include "engine/buffer_switch.h"
#include "host/driver_manager.h"
#include "support/fake_driver.h"
#include "support/run_state_reset.h"

namespace {

class BufferSetup : public ::testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override { resetRunState(); }

    std::vector<std::string> channelInfoCalls() const {
        std::vector<std::string> out;
        for (const std::string& c : driver.calls) {
            if (c.rfind("getChannelInfo", 0) == 0) {
                out.push_back(c);
            }
        }
        return out;
    }

    FakeDriver driver;
    FakeDriverScope scope{driver};
};

TEST_F(BufferSetup, CreatesInputsFirstWithZeroBasedChannelsAndDescribesEachEntry) {
    driver.inputType = ASIOSTInt24LSB;
    driver.outputType = ASIOSTInt16LSB;

    EXPECT_EQ(createDuplexBuffers(&duplexState, 256, 2, 3, 2, 1), ASE_OK);

    EXPECT_EQ(duplexState.inputBufferCount, 2);
    EXPECT_EQ(duplexState.outputBufferCount, 2);
    ASSERT_EQ(driver.calls.front(), "createBuffers 4 256");
    EXPECT_EQ(driver.callbacks, &hostCallbacks);
    const int32_t isInput[] = {1, 1, 0, 0};
    const int32_t channel[] = {2, 3, 0, 1};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(duplexState.bufferInfos[k].isInput, isInput[k]);
        EXPECT_EQ(duplexState.bufferInfos[k].channelNum, channel[k]);
        EXPECT_EQ(duplexState.bufferInfos[k].buffers[0], driver.half(k, 0));
        EXPECT_EQ(duplexState.bufferInfos[k].buffers[1], driver.half(k, 1));
        EXPECT_EQ(duplexState.channelInfos[k].isInput, isInput[k]);
        EXPECT_EQ(duplexState.channelInfos[k].channel, channel[k]);
        EXPECT_EQ(duplexState.channelInfos[k].type, isInput[k] ? ASIOSTInt24LSB : ASIOSTInt16LSB);
    }
    EXPECT_EQ(channelInfoCalls(),
              (std::vector<std::string>{"getChannelInfo in 2", "getChannelInfo in 3",
                                        "getChannelInfo out 0", "getChannelInfo out 1"}));
    EXPECT_EQ(duplexState.bufferInfos[4].channelNum, 0); // nothing past the created entries
}

TEST_F(BufferSetup, WithoutInputsTheFirstOutputIsEntryZeroAndDecidesTheWidth) {
    driver.inputType = ASIOSTInt16LSB;
    driver.outputType = ASIOSTInt24LSB;

    EXPECT_EQ(createDuplexBuffers(&duplexState, 64, 0, 1, 2, 5), ASE_OK);

    EXPECT_EQ(driver.calls.front(), "createBuffers 2 64");
    EXPECT_EQ(duplexState.bufferInfos[0].isInput, 0);
    EXPECT_EQ(duplexState.bufferInfos[0].channelNum, 4);
    EXPECT_EQ(duplexState.bufferInfos[1].channelNum, 5);
    EXPECT_EQ(nativeSampleBytes(), 3);
}

TEST_F(BufferSetup, FailedCreationIsReturnedWithoutAskingForChannelInfo) {
    driver.createBuffersResult = ASE_NoMemory;

    EXPECT_EQ(createDuplexBuffers(&duplexState, 256, 2, 1, 2, 1), ASE_NoMemory);

    EXPECT_EQ(driver.channelInfoCalls, 0);
    EXPECT_EQ(driver.calls, std::vector<std::string>{"createBuffers 4 256"});
}

TEST_F(BufferSetup, FailedChannelInfoStopsAtThatEntryLeavesTheRestAloneAndDisposesTheBuffers) {
    ASIOChannelInfo previous;
    std::memset(&previous, 0x5A, sizeof previous);
    for (ASIOChannelInfo& info : duplexState.channelInfos) {
        info = previous;
    }
    driver.channelInfoFailAt = 1;
    driver.channelInfoResult = ASE_HWMalfunction;

    EXPECT_EQ(createDuplexBuffers(&duplexState, 256, 2, 1, 2, 1), ASE_HWMalfunction);

    EXPECT_EQ(driver.channelInfoCalls, 2);
    EXPECT_EQ(duplexState.channelInfos[0].channel, 0);
    EXPECT_EQ(duplexState.channelInfos[0].isInput, 1);
    EXPECT_EQ(duplexState.channelInfos[0].type, ASIOSTInt32LSB);
    EXPECT_STREQ(duplexState.channelInfos[0].name, "In 1");
    EXPECT_EQ(duplexState.channelInfos[1].channel, 1); // asked for, then refused
    EXPECT_EQ(std::memcmp(&duplexState.channelInfos[2], &previous, sizeof previous), 0);
    EXPECT_EQ(std::memcmp(&duplexState.channelInfos[3], &previous, sizeof previous), 0);
    // The buffers it had created are gone before the caller releases the driver.
    EXPECT_EQ(driver.calls.back(), "disposeBuffers");
}

TEST_F(BufferSetup, WithoutDriverTheHostCallsAnswerNotPresent) {
    currentDriver = nullptr;
    EXPECT_EQ(createDuplexBuffers(&duplexState, 256, 1, 1, 1, 1), ASE_NotPresent);
    currentDriver = &driver;
}

TEST_F(BufferSetup, CountsBeyondTheArraysAreRefusedBeforeTheDriverIsAsked) {
    EXPECT_NE(createDuplexBuffers(&duplexState, 256, 65, 1, 1, 1), ASE_OK);
    EXPECT_NE(createDuplexBuffers(&duplexState, 256, 1, 1, -1, 1), ASE_OK);
    EXPECT_TRUE(driver.calls.empty());
    EXPECT_EQ(createDuplexBuffers(&duplexState, 256, 64, 1, 64, 1), ASE_OK);
    EXPECT_EQ(driver.calls.front(), "createBuffers 128 256");
}

int32_t widthOfFirstType(ASIOSampleType type) {
    resetRunState();
    duplexState.inputBufferCount = 1;
    duplexState.channelInfos[0].type = type;
    return nativeSampleBytes();
}

TEST_F(BufferSetup, NativeWidthComesFromLittleEndianIntegerTypesOnly) {
    EXPECT_EQ(widthOfFirstType(ASIOSTInt16LSB), 2);
    EXPECT_EQ(widthOfFirstType(ASIOSTInt24LSB), 3);
    EXPECT_EQ(widthOfFirstType(ASIOSTInt32LSB), 4);
    EXPECT_EQ(widthOfFirstType(ASIOSTFloat32LSB), 0);
    EXPECT_EQ(widthOfFirstType(ASIOSTInt32LSB16), 0);
    EXPECT_EQ(widthOfFirstType(ASIOSTInt16MSB), 0);
    EXPECT_EQ(widthOfFirstType(ASIOSTInt32MSB), 0);
    EXPECT_EQ(widthOfFirstType(ASIOSTDSDInt8LSB1), 0);
    EXPECT_EQ(widthOfFirstType(-1), 0);
}

TEST_F(BufferSetup, EveryChannelMustShareTheFirstChannelsStreamedFormat) {
    driver.inputType = ASIOSTInt24LSB;
    driver.outputType = ASIOSTInt24LSB;
    ASSERT_EQ(createDuplexBuffers(&duplexState, 32, 1, 1, 2, 1), ASE_OK);
    EXPECT_EQ(nativeSampleBytes(), 3);

    // Wider or narrower, integer or not, any byte order: the switch would move the wrong
    // number of bytes, or integers into float halves.
    const ASIOSampleType others[] = {
        ASIOSTInt32LSB,   ASIOSTInt16LSB, ASIOSTFloat32LSB,  ASIOSTFloat64LSB,
        ASIOSTInt32MSB24, ASIOSTInt24MSB, ASIOSTDSDInt8LSB1, -1};
    for (ASIOSampleType other : others) {
        duplexState.channelInfos[2].type = other;
        EXPECT_EQ(nativeSampleBytes(), 0) << other;
    }

    // Entries past the created ones are not looked at.
    duplexState.channelInfos[2].type = ASIOSTInt24LSB;
    duplexState.channelInfos[3].type = ASIOSTInt16LSB;
    EXPECT_EQ(nativeSampleBytes(), 3);
}

TEST_F(BufferSetup, MixedFormatsThroughTheDriverAreRefusedWhicheverSideComesFirst) {
    const ASIOSampleType pairs[][2] = {{ASIOSTInt32LSB, ASIOSTInt24LSB},
                                       {ASIOSTInt24LSB, ASIOSTInt32LSB},
                                       {ASIOSTInt32LSB, ASIOSTFloat32LSB},
                                       {ASIOSTFloat32LSB, ASIOSTInt32LSB},
                                       {ASIOSTInt16LSB, ASIOSTInt32LSB}};
    for (const auto& pair : pairs) {
        driver.inputType = pair[0];
        driver.outputType = pair[1];
        resetRunState();
        ASSERT_EQ(createDuplexBuffers(&duplexState, 32, 1, 1, 2, 1), ASE_OK);
        EXPECT_EQ(nativeSampleBytes(), 0) << pair[0] << "/" << pair[1];
    }
    driver.inputType = ASIOSTInt32LSB;
    driver.outputType = ASIOSTInt32LSB;
    driver.typeOverrides.push_back({false, 1, ASIOSTInt24LSB});
    resetRunState();
    ASSERT_EQ(createDuplexBuffers(&duplexState, 32, 1, 1, 2, 1), ASE_OK);
    EXPECT_EQ(nativeSampleBytes(), 0);
}

} // namespace
