// The spellings only Windows has: letter case and short (8.3) names.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_identity.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

TEST(FileIdentityWin32, LetterCaseAndShortNamesLeadToTheSameFile) {
    const fs::path dir =
        fs::temp_directory_path() /
        ("korvane-identity-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    const std::string longName = (dir / "a long playback file name.wav").string();
    std::ofstream(longName) << "played";

    EXPECT_TRUE(sameFile(longName.c_str(), upper(longName).c_str()));
    char shortName[MAX_PATH];
    const DWORD length = GetShortPathNameA(longName.c_str(), shortName, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_NE(std::string(shortName), longName);
    EXPECT_TRUE(sameFile(shortName, longName.c_str())) << shortName;

    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

} // namespace
