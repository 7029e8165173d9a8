// The registry stand-in's own behaviour: where its file is, when it is read again, and what
// it answers for missing files and bad handles.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/win32.h"
#include "support/child_process.h"
#include "support/registry_fixture.h"

namespace {

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string readText(HKEY key, const char* name) {
    char data[256] = {};
    DWORD size = sizeof data - 1;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS) {
        return "(none)";
    }
    return data;
}

// Points KORVANE_REGISTRY at a file of the test's own and puts the variable back afterwards.
class RegistryFile : public ::testing::Test {
protected:
    void SetUp() override {
        const char* previous = std::getenv("KORVANE_REGISTRY");
        hadVariable = previous != nullptr;
        previousValue = previous != nullptr ? previous : "";
        char pattern[] = "/tmp/korvane-registry-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        path = directory + "/test.reg";
        setenv("KORVANE_REGISTRY", path.c_str(), 1);
    }
    void TearDown() override {
        unlink(path.c_str());
        rmdir(directory.c_str());
        if (hadVariable) {
            setenv("KORVANE_REGISTRY", previousValue.c_str(), 1);
        } else {
            unsetenv("KORVANE_REGISTRY");
        }
    }

    bool hadVariable = false;
    std::string previousValue;
    std::string directory;
    std::string path;
};

TEST_F(RegistryFile, IsReadAgainWhenItChangesWhileOpenKeysKeepWhatTheySaw) {
    writeFile(path, "REGEDIT4\n[HKEY_CURRENT_USER\\Changing\\Sub]\n\"Value\"=\"one\"\n");
    HKEY first = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Changing", &first), ERROR_SUCCESS);
    HKEY firstSub = nullptr;
    ASSERT_EQ(RegOpenKeyA(first, "Sub", &firstSub), ERROR_SUCCESS);
    EXPECT_EQ(readText(firstSub, "Value"), "one");

    // Same size, written at once: only the content tells the versions apart.
    writeFile(path, "REGEDIT4\n[HKEY_CURRENT_USER\\Changing\\Sub]\n\"Value\"=\"two\"\n");
    HKEY second = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Changing\\Sub", &second), ERROR_SUCCESS);
    EXPECT_EQ(readText(second, "Value"), "two");
    EXPECT_EQ(readText(firstSub, "Value"), "one");

    writeFile(path, "REGEDIT4\n[HKEY_CURRENT_USER\\Other]\n");
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Changing", &gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(gone, nullptr);
    char name[16];
    ASSERT_EQ(RegEnumKeyA(first, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Sub");
    ASSERT_EQ(RegEnumKeyA(HKEY_CURRENT_USER, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Other");

    EXPECT_EQ(RegCloseKey(firstSub), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegEnumKeyA(first, 0, name, sizeof name), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(RegistryFile, MissingUnreadableOrHeaderlessFilesAreAnEmptyRegistry) {
    auto expectEmpty = [](const char* why) {
        SCOPED_TRACE(why);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", &key), ERROR_FILE_NOT_FOUND);
        char name[64];
        EXPECT_EQ(RegEnumKeyA(HKEY_CLASSES_ROOT, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
        EXPECT_EQ(RegEnumKeyA(HKEY_CURRENT_USER, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
    };
    expectEmpty("missing");
    setenv("KORVANE_REGISTRY", directory.c_str(), 1);
    expectEmpty("a directory");
    setenv("KORVANE_REGISTRY", path.c_str(), 1);
    writeFile(path, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\X]\n");
    expectEmpty("no header");

    writeFile(path, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\X]\n");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    unlink(path.c_str());
    expectEmpty("removed again");
}

TEST_F(RegistryFile, RefusesBadArgumentsAndUnknownHandles) {
    writeFile(path, "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"v\"=\"x\"\n");
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "K", nullptr), ERROR_INVALID_PARAMETER);
    const HKEY bogus = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x12345));
    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1));
    EXPECT_EQ(RegOpenKeyExA(bogus, "K", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(key, nullptr);
    char name[16];
    EXPECT_EQ(RegEnumKeyA(bogus, 0, name, sizeof name), ERROR_INVALID_HANDLE);
    DWORD size = sizeof name;
    EXPECT_EQ(RegQueryValueExA(bogus, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(bogus), ERROR_INVALID_HANDLE);

    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "K", &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(name), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegEnumKeyA(HKEY_CURRENT_USER, 0, nullptr, 16), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

// Run only in a copy of this binary, in a folder of its own with a korvane.reg beside it.
TEST(RegistryBesideExecutable, DISABLED_ChildReadsKorvaneRegBesideItself) {
    ASSERT_EQ(std::getenv("KORVANE_REGISTRY"), nullptr);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\KorvaneBeside", &key), ERROR_SUCCESS);
    EXPECT_EQ(readText(key, "Where"), "beside the program");
    RegCloseKey(key);
}

TEST(RegistryBesideExecutable, UsesKorvaneRegWhenTheVariableIsUnset) {
    char pattern[] = "/tmp/korvane-beside-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string directory = pattern;
    const std::string copy = directory + "/unit_platform_posix";
    {
        std::ifstream in("/proc/self/exe", std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(chmod(copy.c_str(), 0755), 0);
    writeFile(directory + "/korvane.reg",
              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\KorvaneBeside]\n"
              "\"Where\"=\"beside the program\"\n");

    ChildOptions options;
    options.unset.push_back("KORVANE_REGISTRY");
    const ChildResult result = runChild(
        {copy, "--gtest_also_run_disabled_tests",
         "--gtest_filter=RegistryBesideExecutable.DISABLED_ChildReadsKorvaneRegBesideItself"},
        options);
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("SKIPPED"), std::string::npos) << result.out;

    unlink((directory + "/korvane.reg").c_str());
    unlink(copy.c_str());
    rmdir(directory.c_str());
}

} // namespace
