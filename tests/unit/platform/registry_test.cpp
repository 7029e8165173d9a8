// The registry as korvane reads it: the stand-in on Linux, the real one (Wine's) on Windows.
// Keys live under names of these tests' own, since under Wine other test binaries write the
// same registry at the same time.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/registry_fixture.h"

namespace {

struct ValueRead {
    LONG result;
    DWORD type;
    DWORD size;
    std::vector<BYTE> data;
};

ValueRead readValue(HKEY key, const char* name, DWORD capacity = 256) {
    ValueRead read{ERROR_SUCCESS, REG_NONE, capacity, std::vector<BYTE>(capacity + 1u, 0xCC)};
    read.result = RegQueryValueExA(key, name, nullptr, &read.type, read.data.data(), &read.size);
    return read;
}

std::string asText(const ValueRead& read) {
    return std::string(reinterpret_cast<const char*>(read.data.data()));
}

std::vector<std::string> subkeyNames(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    while (RegEnumKeyA(key, static_cast<DWORD>(names.size()), name, sizeof name) == ERROR_SUCCESS) {
        names.push_back(name);
    }
    return names;
}

// Installs `text` and opens the key `path` of `root`.
testing::AssertionResult installAndOpen(RegistryFixture& fixture, const std::string& text,
                                        HKEY root, const char* path, HKEY* key) {
    if (!fixture.install(text)) {
        return testing::AssertionFailure() << "not installed";
    }
    const LONG result = RegOpenKeyA(root, path, key);
    if (result != ERROR_SUCCESS) {
        return testing::AssertionFailure() << "RegOpenKeyA(" << path << ") answered " << result;
    }
    return testing::AssertionSuccess();
}

TEST(RegistryLookup, OpensKeysAndReadsValuesOfEveryKindWhateverTheCase) {
    RegistryFixture fixture;
    HKEY key = nullptr;
    ASSERT_TRUE(installAndOpen(fixture,
                               "Windows Registry Editor Version 5.00\r\n"
                               "\r\n"
                               "[HKEY_CURRENT_USER\\Software\\KorvanePlatformTests\\Lookup]\r\n"
                               "@=\"the default\"\r\n"
                               "\"Text\"=\"hello\"\r\n"
                               "\"Number\"=dword:12345678\r\n"
                               "\"Bytes\"=hex:01,02,fe\r\n"
                               "\"Escaped\"=\"C:\\\\Drivers\\\\\\\"x\\\".dll\"\r\n",
                               HKEY_CURRENT_USER, "SOFTWARE\\korvaneplatformtests\\LOOKUP", &key));

    ValueRead text = readValue(key, "tExT");
    EXPECT_EQ(text.result, ERROR_SUCCESS);
    EXPECT_EQ(text.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(text.size, 6u); // the terminating zero counts
    EXPECT_EQ(asText(text), "hello");

    ValueRead byNull = readValue(key, nullptr);
    EXPECT_EQ(byNull.result, ERROR_SUCCESS);
    EXPECT_EQ(asText(byNull), "the default");
    EXPECT_EQ(asText(readValue(key, "")), "the default");

    ValueRead number = readValue(key, "number");
    EXPECT_EQ(number.type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(number.size, 4u);
    uint32_t value = 0;
    std::memcpy(&value, number.data.data(), 4);
    EXPECT_EQ(value, 0x12345678u);

    ValueRead bytes = readValue(key, "BYTES");
    EXPECT_EQ(bytes.type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(bytes.size, 3u);
    EXPECT_EQ(bytes.data[0], 0x01);
    EXPECT_EQ(bytes.data[2], 0xFE);

    EXPECT_EQ(asText(readValue(key, "Escaped")), "C:\\Drivers\\\"x\".dll");

    DWORD type = REG_NONE;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    EXPECT_EQ(readValue(key, "Missing").result, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    HKEY other = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\KorvanePlatformTests\\Nowhere", &other),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_CURRENT_USER, "software\\KORVANEPLATFORMTESTS", 0, KEY_READ, &other),
        ERROR_SUCCESS);
    HKEY child = nullptr;
    ASSERT_EQ(RegOpenKeyExA(other, "lookup", 0, KEY_READ, &child), ERROR_SUCCESS);
    EXPECT_EQ(asText(readValue(child, "text")), "hello");
    RegCloseKey(child);
    RegCloseKey(other);
}

TEST(RegistryLookup, BuffersThatDoNotFitGiveMoreDataAndTheSizeNeeded) {
    RegistryFixture fixture;
    HKEY key = nullptr;
    ASSERT_TRUE(installAndOpen(fixture,
                               "Windows Registry Editor Version 5.00\n"
                               "[HKEY_CURRENT_USER\\Software\\KorvanePlatformTests\\Sizes]\n"
                               "\"Text\"=\"hello\"\n"
                               "\"Number\"=dword:00000001\n"
                               "[HKEY_CURRENT_USER\\Software\\KorvanePlatformTests\\Sizes\\"
                               "Alpha]\n",
                               HKEY_CURRENT_USER, "Software\\KorvanePlatformTests\\Sizes", &key));

    ValueRead small = readValue(key, "Text", 5);
    EXPECT_EQ(small.result, ERROR_MORE_DATA);
    EXPECT_EQ(small.size, 6u);
    ValueRead exact = readValue(key, "Text", 6);
    EXPECT_EQ(exact.result, ERROR_SUCCESS);
    EXPECT_EQ(asText(exact), "hello");
    EXPECT_EQ(readValue(key, "Number", 3).result, ERROR_MORE_DATA);

    char name[8];
    EXPECT_EQ(RegEnumKeyA(key, 0, name, 5), ERROR_MORE_DATA); // "Alpha" without its zero
    ASSERT_EQ(RegEnumKeyA(key, 0, name, 6), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Alpha");
    RegCloseKey(key);
}

TEST(RegistryEnumeration, ListsSubkeysInCaseInsensitiveOrderThenNoMoreItems) {
    RegistryFixture fixture;
    std::string text = "Windows Registry Editor Version 5.00\r\n";
    for (const char* name :
         {"beta", "Zulu", "gamma 9", "Alpha", "10", "Gamma 10", "alpha two", "7", "b"}) {
        text += std::string("[HKEY_CURRENT_USER\\Software\\KorvanePlatformTests\\Order\\") + name +
                "]\r\n";
    }
    text += "[HKEY_CURRENT_USER\\Software\\KorvanePlatformTests\\Empty]\r\n";
    HKEY key = nullptr;
    ASSERT_TRUE(installAndOpen(fixture, text, HKEY_CURRENT_USER,
                               "Software\\KorvanePlatformTests\\Order", &key));
    const std::vector<std::string> expected = {"10",   "7",        "Alpha",   "alpha two", "b",
                                               "beta", "Gamma 10", "gamma 9", "Zulu"};
    EXPECT_EQ(subkeyNames(key), expected);
    char name[64];
    EXPECT_EQ(RegEnumKeyA(key, 9, name, sizeof name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumKeyA(key, 1000, name, sizeof name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\KorvanePlatformTests\\Empty", &key),
              ERROR_SUCCESS);
    EXPECT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);
}

TEST(RegistryClassesRoot, ShowsTheClassesOfTheLocalMachine) {
    RegistryFixture fixture;
    HKEY key = nullptr;
    ASSERT_TRUE(
        installAndOpen(fixture,
                       "Windows Registry Editor Version 5.00\n"
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\KorvanePlatformTests\\Machine]\n"
                       "@=\"from the machine\"\n"
                       "[HKEY_CLASSES_ROOT\\KorvanePlatformTests\\Root]\n"
                       "@=\"from the root\"\n",
                       HKEY_CLASSES_ROOT, "korvaneplatformtests\\machine", &key));
    EXPECT_EQ(asText(readValue(key, nullptr)), "from the machine");
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "KorvanePlatformTests", &key), ERROR_SUCCESS);
    const std::vector<std::string> expected = {"Machine", "Root"};
    EXPECT_EQ(subkeyNames(key), expected);
    RegCloseKey(key);
}

TEST(RegistryFixture, ReplacesAndRemovesOnlyWhatItInstalled) {
    RegistryFixture fixture;
    ASSERT_TRUE(fixture.install("REGEDIT4\n"
                                "[HKEY_CURRENT_USER\\Software\\KorvanePlatformTests\\First]\n"
                                "\"Value\"=\"one\"\n"));
    ASSERT_TRUE(fixture.install("REGEDIT4\n"
                                "[HKEY_CURRENT_USER\\Software\\KorvanePlatformTests\\Second]\n"
                                "\"Value\"=\"two\"\n"
                                "[HKEY_CURRENT_USER\\Software]\n"
                                "\"KorvanePlatformTestsValue\"=\"in a key that was there\"\n"));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\KorvanePlatformTests\\First", &key),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\KorvanePlatformTests\\Second", &key),
              ERROR_SUCCESS);
    EXPECT_EQ(asText(readValue(key, "Value")), "two");
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software", &key), ERROR_SUCCESS);
    EXPECT_EQ(asText(readValue(key, "KorvanePlatformTestsValue")), "in a key that was there");
    RegCloseKey(key);

    fixture.remove();
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\KorvanePlatformTests", &key),
              ERROR_FILE_NOT_FOUND);
    // On Linux nothing at all is left, on Windows the key that was there before.
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Software", &key) == ERROR_SUCCESS) {
        EXPECT_EQ(readValue(key, "KorvanePlatformTestsValue").result, ERROR_FILE_NOT_FOUND);
        RegCloseKey(key);
    }
    // What was there before stays.
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "", &key), ERROR_SUCCESS);
    RegCloseKey(key);

    {
        RegistryFixture scoped;
        ASSERT_TRUE(scoped.install("REGEDIT4\n"
                                   "[HKEY_CURRENT_USER\\Software\\KorvanePlatformTests]\n"));
    }
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\KorvanePlatformTests", &key),
              ERROR_FILE_NOT_FOUND);
}

TEST(RegistryFixture, FillsInTheTestServerPathEscaped) {
    RegistryFixture fixture;
    HKEY key = nullptr;
    ASSERT_TRUE(installAndOpen(fixture,
                               "REGEDIT4\n"
                               "[HKEY_CURRENT_USER\\Software\\KorvanePlatformTests\\Server]\n"
                               "@=\"@TEST_SERVER@\"\n",
                               HKEY_CURRENT_USER, "Software\\KorvanePlatformTests\\Server", &key));
    EXPECT_EQ(asText(readValue(key, nullptr, 1024)), testServerPath());
    RegCloseKey(key);
    EXPECT_NE(testServerPath().find("korvane_test_server"), std::string::npos);
    EXPECT_EQ(testServerPath().rfind(executableDirectory(), 0), 0u);
}

} // namespace
