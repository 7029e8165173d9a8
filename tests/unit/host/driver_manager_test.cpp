#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "engine/run_state.h"
#include "host/driver_manager.h"
#include "host/host_calls.h"
#include "host_test_util.h"
#include "support/registry_fixture.h"
#include "support/test_server.h"

namespace {

const char kLongName[] = "Test Driver With A Long Name 0123"; // 33 characters
const char kMissingClass[] = "{0C0FFEE0-5555-4A4A-9B9B-00000000000E}";

// Alpha and Charlie are served; Bravo is refused by the factory; Delta's library is
// missing; both Twin keys carry the same listed name, the first of them refused.
std::string servedDrivers() {
    return driverKey("Alpha", clsidLine(TEST_SERVER_CLSID_A)) +
           driverKey("Bravo", clsidLine(TEST_SERVER_CLSID_REFUSED)) +
           driverKey("Charlie", clsidLine(TEST_SERVER_CLSID_B), descriptionLine(kLongName)) +
           driverKey("Delta", clsidLine(kMissingClass)) +
           driverKey("Twin One", clsidLine(TEST_SERVER_CLSID_REFUSED), descriptionLine("Twin")) +
           driverKey("Twin Two", clsidLine(TEST_SERVER_CLSID_A), descriptionLine("Twin")) +
           classKey(TEST_SERVER_CLSID_REFUSED) + classKey(TEST_SERVER_CLSID_B) +
           classKey(kMissingClass, "C:\\korvane\\no such server.dll");
}

std::string servedRegistry() {
    return regHeader() + servedDrivers() + classKey(TEST_SERVER_CLSID_A);
}

class DriverManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        currentDriver = nullptr;
        ASSERT_TRUE(registry.install(servedRegistry()));
        manager = new DriverManager();
        ASSERT_EQ(manager->driverCount(), 6);
    }
    void TearDown() override {
        if (manager != nullptr) {
            manager->releaseCurrentDriver();
            discardEntries(*manager);
            delete manager;
        }
        currentDriver = nullptr;
    }

    // Entry index of the loaded driver, checked against the invariants.
    int32_t held() {
        if (manager->currentIndex == -1) {
            EXPECT_EQ(currentDriver, nullptr);
            return -1;
        }
        const DriverEntry* entry = manager->findEntry(manager->currentIndex);
        EXPECT_NE(entry, nullptr);
        if (entry != nullptr) {
            EXPECT_NE(entry->openInterface, nullptr);
            EXPECT_EQ(currentDriver, entry->openInterface);
        }
        return manager->currentIndex;
    }

    std::string loadedName() {
        char name[64];
        std::memset(name, 0x7f, sizeof name);
        const bool loaded = manager->loadedDriverName(name);
        EXPECT_EQ(loaded, name[0] != '\0');
        return name;
    }

    RegistryFixture registry;
    DriverManager* manager = nullptr;
};

TEST_F(DriverManagerTest, NamesMatchExactlyAsListed) {
    EXPECT_EQ(manager->currentIndex, -1);
    EXPECT_EQ(loadedName(), "");

    EXPECT_FALSE(manager->switchToDriver("alpha"));
    EXPECT_FALSE(manager->switchToDriver("Alph"));
    EXPECT_EQ(held(), -1);

    ASSERT_TRUE(manager->switchToDriver("Alpha"));
    EXPECT_EQ(held(), 0);
    EXPECT_EQ(loadedName(), "Alpha");
    EXPECT_EQ(testServerLiveObjects(), 1);

    // An unlisted name changes nothing.
    EXPECT_FALSE(manager->switchToDriver("ALPHA"));
    EXPECT_FALSE(manager->switchToDriver("Nothing Like It"));
    EXPECT_EQ(held(), 0);
    EXPECT_EQ(testServerLiveObjects(), 1);

    // A name of 32 characters or more is found only in its cut form.
    EXPECT_FALSE(manager->switchToDriver(kLongName));
    EXPECT_FALSE(manager->switchToDriver(std::string(kLongName).substr(0, 32).c_str()));
    EXPECT_EQ(held(), 0);
    const std::string cut = std::string(kLongName).substr(0, 28) + "...";
    ASSERT_TRUE(manager->switchToDriver(cut.c_str()));
    ASSERT_EQ(held(), 2);
    EXPECT_EQ(loadedName(), cut);
    EXPECT_EQ(manager->findEntry(0)->openInterface, nullptr);
    EXPECT_EQ(testServerLiveObjects(), 1);
    char name[32] = "";
    currentDriver->getDriverName(name);
    EXPECT_STREQ(name, "Test Driver B");

    EXPECT_FALSE(manager->switchToDriver(nullptr));
    EXPECT_EQ(held(), 2);
}

TEST_F(DriverManagerTest, FailedSwitchRestoresPreviousDriver) {
    ASSERT_TRUE(manager->switchToDriver("Alpha"));
    EXPECT_FALSE(manager->switchToDriver("Bravo"));
    ASSERT_EQ(held(), 0);
    EXPECT_EQ(manager->findEntry(1)->openInterface, nullptr);
    EXPECT_EQ(testServerLiveObjects(), 1);
    char name[32] = "";
    currentDriver->getDriverName(name);
    EXPECT_STREQ(name, "Test Driver A");

    // A library that cannot be loaded fails the same way.
    EXPECT_FALSE(manager->switchToDriver("Delta"));
    EXPECT_EQ(held(), 0);
    EXPECT_EQ(testServerLiveObjects(), 1);

    // Only the first of two equal names is tried: it is refused, the second is not reached.
    EXPECT_FALSE(manager->switchToDriver("Twin"));
    EXPECT_EQ(held(), 0);
    EXPECT_EQ(manager->findEntry(5)->openInterface, nullptr);
    EXPECT_EQ(testServerLiveObjects(), 1);

    manager->releaseCurrentDriver();
    currentDriver = nullptr;
    EXPECT_FALSE(manager->switchToDriver("Bravo"));
    EXPECT_EQ(held(), -1);
    EXPECT_EQ(testServerLiveObjects(), 0);
}

TEST_F(DriverManagerTest, ReloadingHeldDriver) {
    ASSERT_TRUE(manager->switchToDriver("Alpha"));
    ASSERT_TRUE(manager->switchToDriver("Alpha"));
    EXPECT_EQ(held(), 0);
    EXPECT_EQ(testServerLiveObjects(), 1);

    // Alpha cannot be created any more: reloading it leaves nothing loaded.
    ASSERT_TRUE(registry.install(regHeader() + servedDrivers()));
    EXPECT_FALSE(manager->switchToDriver("Alpha"));
    EXPECT_EQ(held(), -1);
    EXPECT_EQ(loadedName(), "");
    EXPECT_EQ(testServerLiveObjects(), 0);
}

TEST_F(DriverManagerTest, ReleaseCurrentDriver) {
    manager->releaseCurrentDriver();
    EXPECT_EQ(held(), -1);

    ASSERT_TRUE(manager->switchToDriver("Alpha"));
    IASIO* loaded = currentDriver;
    manager->releaseCurrentDriver();
    EXPECT_EQ(manager->currentIndex, -1);
    EXPECT_EQ(manager->findEntry(0)->openInterface, nullptr);
    EXPECT_EQ(testServerLiveObjects(), 0);
    // Only ASIOExit forgets the pointer.
    EXPECT_EQ(currentDriver, loaded);
    currentDriver = nullptr;
    EXPECT_EQ(loadedName(), "");

    manager->releaseCurrentDriver();
    EXPECT_EQ(held(), -1);
    EXPECT_EQ(testServerLiveObjects(), 0);
}

// The one place that goes through the process-wide manager.
TEST(LoadDriverByName, CreatesManagerOnceAndLoads) {
    RegistryFixture registry;
    currentDriver = nullptr;
    DriverManager* before = driverManager;
    driverManager = nullptr; // as in a fresh process

    ASSERT_TRUE(registry.install(regHeader()));
    EXPECT_FALSE(loadDriverByName("Alpha"));
    ASSERT_NE(driverManager, nullptr);
    EXPECT_EQ(driverManager->driverCount(), 0);
    EXPECT_EQ(currentDriver, nullptr);

    delete driverManager;
    driverManager = nullptr;
    ASSERT_TRUE(registry.install(servedRegistry()));
    ASSERT_TRUE(loadDriverByName("Alpha"));
    DriverManager* created = driverManager;
    ASSERT_NE(created, nullptr);
    EXPECT_NE(currentDriver, nullptr);
    EXPECT_EQ(created->currentIndex, 0);
    EXPECT_EQ(testServerLiveObjects(), 1);

    // The list was read once: a driver added since is not found.
    ASSERT_TRUE(
        registry.install(servedRegistry() + driverKey("Echo", clsidLine(TEST_SERVER_CLSID_B))));
    EXPECT_FALSE(loadDriverByName("Echo"));
    EXPECT_EQ(driverManager, created);
    EXPECT_EQ(created->currentIndex, 0);

    EXPECT_EQ(ASIOExit(), ASE_OK);
    EXPECT_EQ(currentDriver, nullptr);
    EXPECT_EQ(created->currentIndex, -1);
    EXPECT_EQ(testServerLiveObjects(), 0);
    EXPECT_EQ(ASIOExit(), ASE_OK);

    discardEntries(*created);
    delete created;
    driverManager = before;
}

} // namespace
