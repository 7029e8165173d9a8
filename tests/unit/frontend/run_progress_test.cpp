#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frontend/run.h"

TEST(ProgressSampleCount, TruncatesWithinRangeAndWrapsBeyondIt) {
    EXPECT_EQ(progressSampleCount(0.0), 0);
    EXPECT_EQ(progressSampleCount(1024.9), 1024);
    EXPECT_EQ(progressSampleCount(2147483647.0), 2147483647);
    EXPECT_EQ(progressSampleCount(2147483648.0), INT32_MIN);
    EXPECT_EQ(progressSampleCount(4294967295.0), -1);
    EXPECT_EQ(progressSampleCount(4294967296.0 + 5.0), 5);
    EXPECT_EQ(progressSampleCount(std::ldexp(1.0, 64)), 0);
    EXPECT_EQ(progressSampleCount(std::ldexp(1.0, 63) + std::ldexp(1.0, 40) + 7.0 * 2048), 14336);
    EXPECT_EQ(progressSampleCount(-3.5), -3);
    EXPECT_EQ(progressSampleCount(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(progressSampleCount(std::numeric_limits<double>::infinity()), 0);
}
