// Mapping hints on a store already holding samples: the bytes, and the memory around the
// block, must come through untouched wherever the range starts and ends.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/memory.h"

namespace {

uint8_t pattern(size_t i) {
    return uint8_t(i * 131 + (i >> 9));
}

TEST(MemoryHints, LeaveEveryByteOfTheBlockAsItWas) {
    const size_t bytes = (size_t(5) << 20) + 12345; // large pages apply, ends mid-page
    std::vector<uint8_t> block(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        block[i] = pattern(i);
    }
    adviseLargeBlock(block.data(), bytes);
    // Ranges starting and ending inside pages, at both ends of the block, and empty.
    const size_t ranges[][2] = {{0, 1},         {1, 4095},      {4097, 3 << 20},
                                {bytes - 7, 7}, {bytes / 2, 0}, {0, bytes}};
    for (const auto& range : ranges) {
        mapRangeNow(block.data() + range[0], range[1]);
    }
    prepareLargeBlock(block.data() + 3, bytes - 3);
    size_t changed = 0;
    for (size_t i = 0; i < bytes; ++i) {
        changed += block[i] != pattern(i) ? 1 : 0;
    }
    EXPECT_EQ(changed, 0u);
}

TEST(MemoryHints, SmallAndMissingBlocksAreLeftAlone) {
    uint8_t small[64] = {1, 2, 3};
    adviseLargeBlock(small, sizeof small);
    prepareLargeBlock(small, sizeof small);
    mapRangeNow(small + 1, 2);
    adviseLargeBlock(nullptr, size_t(8) << 20);
    prepareLargeBlock(nullptr, size_t(8) << 20);
    mapRangeNow(nullptr, 100);
    EXPECT_EQ(small[0], 1);
    EXPECT_EQ(small[2], 3);
    EXPECT_EQ(small[63], 0);
}

} // namespace
