#include <gtest/gtest.h>

#include "support/sanitizer_build.h"

#include <cstring>

#include "frontend/run_state.h"
#include "support/nothrow_new_fault.h"
#include "support/run_state_reset.h"

namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { resetRunState(); }
    void TearDown() override {
        clearNothrowArrayNewFault();
        resetRunState();
    }
};

TEST_F(StoreTest, RecordStoreHasOneBlockPerChannelWithCursorsAtTheStarts) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    bytesPerSample = 3;
    recordChannels = 4;
    recordFrames = 256;
    clearNothrowArrayNewFault();
    ASSERT_TRUE(allocateRecordStore());
    EXPECT_EQ(largestNothrowArrayNewRequest(), 3u * 256);
    for (uint32_t c = 0; c < recordChannels; ++c) {
        ASSERT_NE(recordBuffers[c], nullptr);
        EXPECT_EQ(recordCursors[c], recordBuffers[c]);
        std::memset(recordBuffers[c], int(c), 3 * 256); // the whole block is ours
    }
    for (uint32_t c = 1; c < recordChannels; ++c) {
        EXPECT_NE(recordBuffers[c], recordBuffers[c - 1]);
    }
    releaseRecordStore();
    EXPECT_EQ(recordBuffers, nullptr);
    EXPECT_EQ(recordCursors, nullptr);
}

TEST_F(StoreTest, NoChannelsGiveTwoEmptyArrays) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    recordChannels = 0;
    recordFrames = 1024;
    clearNothrowArrayNewFault();
    ASSERT_TRUE(allocateRecordStore());
    EXPECT_NE(recordBuffers, nullptr);
    EXPECT_NE(recordCursors, nullptr);
    EXPECT_EQ(nothrowArrayNewCalls(), 2);
    releaseRecordStore();
    EXPECT_EQ(recordBuffers, nullptr);
    EXPECT_EQ(recordCursors, nullptr);
}

TEST_F(StoreTest, FailedAllocationLeavesNoRecordStore) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    bytesPerSample = 2;
    recordChannels = 3;
    recordFrames = 64;
    for (long failing = 0; failing < 2 + 3; ++failing) {
        failNthNothrowArrayNew(failing);
        EXPECT_FALSE(allocateRecordStore()) << failing;
        EXPECT_EQ(recordBuffers, nullptr) << failing;
        EXPECT_EQ(recordCursors, nullptr) << failing;
    }
    failNthNothrowArrayNew(5);
    EXPECT_TRUE(allocateRecordStore());
    releaseRecordStore();

    // 2^30 frames of 4 bytes: the block is asked for in full, not as a wrapped 32-bit size.
    bytesPerSample = 4;
    recordChannels = 1;
    recordFrames = 1u << 30;
    failNothrowArrayNewAbove(size_t(1) << 20);
    EXPECT_FALSE(allocateRecordStore());
    EXPECT_EQ(largestNothrowArrayNewRequest(), uint64_t(1) << 32);
    EXPECT_EQ(recordBuffers, nullptr);
    EXPECT_EQ(recordCursors, nullptr);
}

TEST_F(StoreTest, ReleasingThePlayStoreFreesEveryBlockAndIsSafeWhenAbsent) {
    releasePlayStore(); // nothing loaded yet
    releaseRecordStore();
    playChannels = 2;
    playBuffers = new uint8_t*[2];
    playCursors = new uint8_t*[2];
    for (int c = 0; c < 2; ++c) {
        playBuffers[c] = new uint8_t[16];
        playCursors[c] = playBuffers[c] + 8;
    }
    releasePlayStore();
    EXPECT_EQ(playBuffers, nullptr);
    EXPECT_EQ(playCursors, nullptr);
}

} // namespace
