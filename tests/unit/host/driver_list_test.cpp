#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "host/driver_list.h"
#include "host_test_util.h"
#include "support/registry_fixture.h"
#include "support/test_server.h"

namespace {

const char kClassX[] = "{0C0FFEE0-1111-4A4A-9B9B-00000000000A}";
const char kClassY[] = "{0C0FFEE0-2222-4A4A-9B9B-00000000000B}";
const char kClassZ[] = "{0C0FFEE0-3333-4A4A-9B9B-00000000000C}";
const char kMissingServer[] = "C:\\korvane\\no such server.dll";

CLSID classX() {
    return CLSID{0x0C0FFEE0, 0x1111, 0x4A4A, {0x9B, 0x9B, 0, 0, 0, 0, 0, 0x0A}};
}
CLSID classY() {
    return CLSID{0x0C0FFEE0, 0x2222, 0x4A4A, {0x9B, 0x9B, 0, 0, 0, 0, 0, 0x0B}};
}

bool isZero(const CLSID& id) {
    const CLSID zero{};
    return std::memcmp(&id, &zero, sizeof id) == 0;
}
bool sameClass(const CLSID& a, const CLSID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class DriverListTest : public ::testing::Test {
protected:
    RegistryFixture registry;
};

TEST_F(DriverListTest, NoDriverKeysGiveAnEmptyList) {
    ASSERT_TRUE(registry.install(regHeader()));
    DriverList missing;
    EXPECT_EQ(missing.driverCount(), 0);
    EXPECT_EQ(missing.entries, nullptr);
    char name[32] = "x";
    EXPECT_EQ(missing.copyDriverName(0, name, sizeof name), DRV_NotFound);
    EXPECT_STREQ(name, "x");

    ASSERT_TRUE(registry.install(regHeader() + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO]\n\n"));
    DriverList empty;
    EXPECT_EQ(empty.driverCount(), 0);
    EXPECT_EQ(empty.entries, nullptr);
}

TEST_F(DriverListTest, KeysWithoutEntryConsumeNoIndex) {
    // Alpha: upper-case identifier against a lower-case class key; Charlie the other way.
    ASSERT_TRUE(registry.install(
        regHeader() + driverKey("Alpha", clsidLine(kClassX), descriptionLine("First Driver")) +
        driverKey("Bravo", "", descriptionLine("No class value")) +
        driverKey("Charlie", clsidLine(lowerCase(kClassY))) +
        driverKey("Delta", clsidLine(kClassZ), descriptionLine("Class not registered")) +
        driverKey("Echo", clsidLine("{0C0FFEE0-4444-4A4A-9B9B-00000000000D}")) +
        driverKey("Foxtrot", clsidLine("not a class"), descriptionLine("Bad identifier")) +
        classKey(lowerCase(kClassX), kMissingServer) + classKey(kClassY, kMissingServer) +
        // Echo's class has a server key but no default value.
        "[HKEY_CLASSES_ROOT\\CLSID\\{0C0FFEE0-4444-4A4A-9B9B-00000000000D}\\InprocServer32]\n"
        "\"ThreadingModel\"=\"Apartment\"\n\n" +
        classKey("not a class", kMissingServer)));
    DriverList list;
    ASSERT_EQ(list.driverCount(), 3);

    const DriverEntry* first = list.findEntry(0);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->displayName, "First Driver");
    EXPECT_TRUE(sameClass(first->classId, classX()));
    EXPECT_EQ(first->openInterface, nullptr);

    const DriverEntry* second = list.findEntry(1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->next, second);
    EXPECT_STREQ(second->displayName, "Charlie");
    EXPECT_TRUE(sameClass(second->classId, classY()));

    // A text that is no class identifier still lists the driver, with a zero class.
    const DriverEntry* third = list.findEntry(2);
    ASSERT_NE(third, nullptr);
    EXPECT_STREQ(third->displayName, "Bad identifier");
    EXPECT_TRUE(isZero(third->classId));
    EXPECT_EQ(third->next, nullptr);
    EXPECT_EQ(list.findEntry(3), nullptr);
    EXPECT_EQ(list.findEntry(-1), nullptr);
    discardEntries(list);
}

TEST_F(DriverListTest, EnumerationStopsAtKeyNameThatDoesNotFit) {
    const std::string fits = "B" + std::string(126, 'b');    // 127 characters
    const std::string tooLong = "C" + std::string(127, 'c'); // 128 characters
    ASSERT_TRUE(registry.install(
        regHeader() + driverKey("Alpha", clsidLine(kClassX)) + driverKey(fits, clsidLine(kClassX)) +
        driverKey(tooLong, clsidLine(kClassX)) + driverKey("Delta", clsidLine(kClassX)) +
        classKey(kClassX, kMissingServer)));
    DriverList list;
    ASSERT_EQ(list.driverCount(), 2);
    EXPECT_STREQ(list.findEntry(0)->displayName, "Alpha");
    EXPECT_EQ(list.findEntry(1)->displayName, fits);
    discardEntries(list);
}

TEST_F(DriverListTest, DescriptionLimits) {
    const std::string d127(127, 'a');
    const std::string d130 = std::string(127, 'b') + "xyz";
    const std::string d255 = std::string(127, 'c') + std::string(128, 'y');
    const std::string d256(256, 'd');
    const std::string binaryFull(256, 'Z'); // fills the buffer, no terminator
    ASSERT_TRUE(registry.install(
        regHeader() + driverKey("Alpha", clsidLine(kClassX), descriptionLine(d127)) +
        driverKey("Bravo", clsidLine(kClassX), descriptionLine(d130)) +
        driverKey("Charlie", clsidLine(kClassX), descriptionLine(d255)) +
        driverKey("Delta", clsidLine(kClassX), descriptionLine(d256)) +
        driverKey("Echo", binaryLine("CLSID", kClassX), binaryLine("Description", "ABC")) +
        driverKey("Foxtrot", clsidLine(kClassX), binaryLine("Description", binaryFull)) +
        classKey(kClassX, kMissingServer)));
    DriverList list;
    ASSERT_EQ(list.driverCount(), 6);
    EXPECT_EQ(list.findEntry(0)->displayName, d127);
    EXPECT_EQ(list.findEntry(1)->displayName, std::string(127, 'b'));
    EXPECT_EQ(list.findEntry(2)->displayName, std::string(127, 'c'));
    EXPECT_STREQ(list.findEntry(3)->displayName, "Delta");
    // Values stored without a terminator: the identifier still matches, the text is whole.
    EXPECT_STREQ(list.findEntry(4)->displayName, "ABC");
    EXPECT_TRUE(sameClass(list.findEntry(4)->classId, classX()));
    EXPECT_EQ(list.findEntry(5)->displayName, std::string(127, 'Z'));
    discardEntries(list);
}

TEST_F(DriverListTest, ServerPathLimits) {
    const std::string prefix = "C:\\korvane\\";
    const std::string path511 = prefix + std::string(511 - prefix.size() - 4, 'p') + ".dll";
    const std::string path512 = prefix + std::string(512 - prefix.size() - 4, 'q') + ".dll";
    ASSERT_EQ(path511.size(), 511u);
    ASSERT_TRUE(registry.install(regHeader() + driverKey("Alpha", clsidLine(kClassX)) +
                                 driverKey("Bravo", clsidLine(kClassY)) +
                                 driverKey("Charlie", clsidLine(kClassZ)) +
                                 classKey(kClassX, path511) + classKey(kClassY, path512) +
                                 classKey(kClassZ, kMissingServer)));
    DriverList list;
    ASSERT_EQ(list.driverCount(), 2);
    EXPECT_STREQ(list.findEntry(0)->displayName, "Alpha");
    EXPECT_STREQ(list.findEntry(1)->displayName, "Charlie");
    discardEntries(list);
}

TEST_F(DriverListTest, CopyDriverNameCutsToCapacity) {
    const std::string name31 = "Thirty One Characters Of Name 1";
    const std::string name32 = "Thirty Two Characters Of Name 22";
    ASSERT_EQ(name31.size(), 31u);
    ASSERT_EQ(name32.size(), 32u);
    ASSERT_TRUE(registry.install(regHeader() +
                                 driverKey("Alpha", clsidLine(kClassX), descriptionLine(name31)) +
                                 driverKey("Bravo", clsidLine(kClassX), descriptionLine(name32)) +
                                 classKey(kClassX, kMissingServer)));
    DriverList list;
    ASSERT_EQ(list.driverCount(), 2);

    char out[64];
    std::memset(out, 0x7f, sizeof out);
    EXPECT_EQ(list.copyDriverName(0, out, 32), 0);
    EXPECT_EQ(std::string(out), name31);
    EXPECT_EQ(out[32], 0x7f);

    std::memset(out, 0x7f, sizeof out);
    EXPECT_EQ(list.copyDriverName(1, out, 32), 0);
    EXPECT_EQ(std::string(out), name32.substr(0, 28) + "...");
    EXPECT_EQ(out[32], 0x7f);

    EXPECT_EQ(list.copyDriverName(1, out, sizeof out), 0);
    EXPECT_EQ(std::string(out), name32);

    EXPECT_EQ(list.copyDriverName(0, nullptr, 32), DRV_BadArgument);
    std::strcpy(out, "kept");
    EXPECT_EQ(list.copyDriverName(2, out, 32), DRV_NotFound);
    EXPECT_EQ(list.copyDriverName(-1, out, 32), DRV_NotFound);
    EXPECT_STREQ(out, "kept");
    discardEntries(list);
}

TEST_F(DriverListTest, OpenAndCloseCodes) {
    const std::string body =
        driverKey("Alpha", clsidLine(TEST_SERVER_CLSID_A)) +
        driverKey("Bravo", clsidLine(TEST_SERVER_CLSID_REFUSED)) +
        driverKey("Charlie", clsidLine(kClassX)) + driverKey("Delta", clsidLine("not a class")) +
        classKey(TEST_SERVER_CLSID_REFUSED) + classKey(kClassX, kMissingServer) +
        classKey("not a class", kMissingServer);
    ASSERT_TRUE(registry.install(regHeader() + body + classKey(TEST_SERVER_CLSID_A)));
    DriverList list;
    ASSERT_EQ(list.driverCount(), 4);

    IASIO* slot = nullptr;
    EXPECT_EQ(list.openDriver(0, nullptr), DRV_BadArgument);
    EXPECT_EQ(list.openDriver(4, &slot), DRV_NotFound);
    EXPECT_EQ(list.openDriver(-1, &slot), DRV_NotFound);

    ASSERT_EQ(list.openDriver(0, &slot), 0);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(list.findEntry(0)->openInterface, slot);
    EXPECT_EQ(testServerLiveObjects(), 1);
    char name[32] = "";
    slot->getDriverName(name);
    EXPECT_STREQ(name, "Test Driver A");

    IASIO* second = reinterpret_cast<IASIO*>(&name);
    EXPECT_EQ(list.openDriver(0, &second), DRV_AlreadyOpen);
    EXPECT_EQ(second, reinterpret_cast<IASIO*>(&name));
    EXPECT_EQ(testServerLiveObjects(), 1);

    // Refused by the factory, a library that cannot be loaded, a zero class.
    for (int32_t index = 1; index <= 3; ++index) {
        IASIO* failed = nullptr;
        const int32_t code = list.openDriver(index, &failed);
        EXPECT_LT(code, 0) << "index " << index;
        EXPECT_EQ(list.findEntry(index)->openInterface, nullptr);
    }
    EXPECT_EQ(testServerLiveObjects(), 1);

    EXPECT_EQ(list.closeDriver(0), 0);
    EXPECT_EQ(list.findEntry(0)->openInterface, nullptr);
    EXPECT_EQ(testServerLiveObjects(), 0);
    EXPECT_EQ(list.closeDriver(0), 0);
    EXPECT_EQ(list.closeDriver(1), 0);
    EXPECT_EQ(list.closeDriver(99), 0);
    EXPECT_EQ(testServerLiveObjects(), 0);

    // The list is not read again: a class unregistered since then fails to open.
    ASSERT_TRUE(registry.install(regHeader() + body));
    slot = nullptr;
    EXPECT_EQ(list.openDriver(0, &slot), static_cast<int32_t>(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(list.findEntry(0)->openInterface, nullptr);
    EXPECT_EQ(testServerLiveObjects(), 0);
    discardEntries(list);
}

} // namespace
