#include <gtest/gtest.h>

#include "support/sanitizer_build.h"

#include <cstring>

#include "engine/run_state.h"
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

    // What allocateRecordStore lays out.
    static void recordShape(int32_t bytes, uint32_t channels, uint32_t frames) {
        bytesPerSample = bytes;
        recordChannels = channels;
        recordFrames = frames;
    }

    static void expectNoRecordStore() {
        EXPECT_EQ(recordBuffers, nullptr);
        EXPECT_EQ(recordCursors, nullptr);
    }
};

TEST_F(StoreTest, RecordStoreHasOneBlockPerChannelWithCursorsAtTheStarts) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    recordShape(3, 4, 256);
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
    expectNoRecordStore();
}

TEST_F(StoreTest, NoChannelsGiveTwoEmptyArrays) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    recordShape(4, 0, 1024);
    clearNothrowArrayNewFault();
    ASSERT_TRUE(allocateRecordStore());
    EXPECT_NE(recordBuffers, nullptr);
    EXPECT_NE(recordCursors, nullptr);
    EXPECT_EQ(nothrowArrayNewCalls(), 2);
    releaseRecordStore();
    expectNoRecordStore();
}

TEST_F(StoreTest, FailedAllocationLeavesNoRecordStore) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    recordShape(2, 3, 64);
    for (long failing = 0; failing < 2 + 3; ++failing) {
        SCOPED_TRACE(failing);
        failNthNothrowArrayNew(failing);
        EXPECT_FALSE(allocateRecordStore());
        expectNoRecordStore();
    }
    failNthNothrowArrayNew(5);
    EXPECT_TRUE(allocateRecordStore());
    releaseRecordStore();

    // 2^30 frames of 4 bytes: the block is asked for in full, not as a wrapped 32-bit size.
    recordShape(4, 1, 1u << 30);
    failNothrowArrayNewAbove(size_t(1) << 20);
    EXPECT_FALSE(allocateRecordStore());
    EXPECT_EQ(largestNothrowArrayNewRequest(), uint64_t(1) << 32);
    expectNoRecordStore();
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
