// Whether two paths lead to one file, against the system's own file identities.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_identity.h"

namespace fs = std::filesystem;

namespace {

class FileIdentity : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("korvane-identity-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(dir / "sub");
        std::ofstream(file("a.wav")) << "same bytes";
        std::ofstream(file("b.wav")) << "same bytes";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    std::string file(const std::string& name) const { return (dir / name).string(); }

    fs::path dir;
};

TEST_F(FileIdentity, OneFileUnderEverySpellingAndNoOtherFile) {
    const std::string a = file("a.wav");
    EXPECT_TRUE(sameFile(a.c_str(), a.c_str()));
    EXPECT_TRUE(sameFile(a.c_str(), (file("sub") + "/../a.wav").c_str()));
    EXPECT_TRUE(sameFile(a.c_str(), (file(".") + "/a.wav").c_str()));
    EXPECT_FALSE(sameFile(a.c_str(), file("b.wav").c_str())) << "equal bytes, other file";
    EXPECT_FALSE(sameFile(a.c_str(), file("sub").c_str()));
    EXPECT_FALSE(sameFile(a.c_str(), file("missing.wav").c_str()));
    EXPECT_FALSE(sameFile(file("missing.wav").c_str(), file("missing.wav").c_str()));

    std::error_code failed;
    fs::create_hard_link(a, file("hard.wav"), failed);
    if (!failed) {
        EXPECT_TRUE(sameFile(file("hard.wav").c_str(), a.c_str()));
    }
    fs::create_symlink(a, file("soft.wav"), failed);
    if (!failed) {
        EXPECT_TRUE(sameFile(file("soft.wav").c_str(), a.c_str()));
        EXPECT_TRUE(sameFile(a.c_str(), file("soft.wav").c_str()));
    }
}

} // namespace
