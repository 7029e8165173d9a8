#include <gtest/gtest.h>

#include "frontend/command_line.h"

TEST(ConvertDecimal, TakesBlanksSignAndDigitsUpToTheFirstOtherCharacter) {
    EXPECT_EQ(convertDecimal("1024"), 1024);
    EXPECT_EQ(convertDecimal("  \t-17"), -17);
    EXPECT_EQ(convertDecimal("+5"), 5);
    EXPECT_EQ(convertDecimal("12abc"), 12);
    EXPECT_EQ(convertDecimal("abc"), 0);
    EXPECT_EQ(convertDecimal(""), 0);
    EXPECT_EQ(convertDecimal("-"), 0);
    EXPECT_EQ(convertDecimal("- 5"), 0);
    EXPECT_EQ(convertDecimal("007"), 7);
}

TEST(ConvertDecimal, SaturatesAtThe32BitLimits) {
    EXPECT_EQ(convertDecimal("2147483647"), 2147483647);
    EXPECT_EQ(convertDecimal("2147483648"), 2147483647);
    EXPECT_EQ(convertDecimal("-2147483648"), INT32_MIN);
    EXPECT_EQ(convertDecimal("-2147483649"), INT32_MIN);
    EXPECT_EQ(convertDecimal("99999999999999999999999999"), 2147483647);
    EXPECT_EQ(convertDecimal("-99999999999999999999999999x"), INT32_MIN);
}
