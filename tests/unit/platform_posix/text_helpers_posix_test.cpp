// The stand-ins of CharLowerBuffA and MultiByteToWideChar (C locale: bytes as they are).
#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32.h"

namespace {

TEST(CharLowerBuff, LowersAsciiLettersWithinTheLengthOnly) {
    char text[] = "{ABC-xyZ}\xC9@[`Q";
    EXPECT_EQ(CharLowerBuffA(text, 13), 13u); // not the last letter
    EXPECT_STREQ(text, "{abc-xyz}\xC9@[`Q");
    EXPECT_EQ(CharLowerBuffA(nullptr, 4), 0u);
}

TEST(MultiByteToWide, WidensBytesAnswersSizesAndRefusesSmallBuffers) {
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    wchar_t wide[8];
    std::memset(wide, 0x55, sizeof wide);
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xE9z", -1, wide, 8), 4);
    EXPECT_EQ(wide[0], L'a');
    EXPECT_EQ(wide[1], static_cast<wchar_t>(0xE9));
    EXPECT_EQ(wide[3], L'\0');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcdef", 2, wide, 8), 2);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcdef", -1, wide, 6), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, -1, wide, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 8), 0);
}

} // namespace
