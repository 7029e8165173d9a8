#include <gtest/gtest.h>

#include "host/driver_list.h"
#include "platform/posix/com_state_posix.h"
#include "support/registry_fixture.h"
#include "unit/host/host_test_util.h"

namespace {

TEST(DriverListCom, InitializedOnlyWhenADriverIsListed) {
    RegistryFixture registry;
    const char classId[] = "{0C0FFEE0-7777-4A4A-9B9B-000000000010}";
    const std::string server = classKey(classId, "/korvane/no such server.so");
    resetCoInitializeCalls();

    ASSERT_TRUE(registry.install(regHeader()));
    DriverList missing;
    EXPECT_EQ(coInitializeCalls(), 0);

    // Keys that yield no entry do not count.
    ASSERT_TRUE(registry.install(regHeader() + driverKey("Alpha", "") +
                                 driverKey("Bravo", clsidLine(lowerCase(classId) + "0")) + server));
    DriverList unlisted;
    EXPECT_EQ(unlisted.driverCount(), 0);
    EXPECT_EQ(coInitializeCalls(), 0);

    ASSERT_TRUE(registry.install(regHeader() + driverKey("Alpha", clsidLine(classId)) +
                                 driverKey("Bravo", clsidLine(classId)) + server));
    DriverList listed;
    EXPECT_EQ(listed.driverCount(), 2);
    EXPECT_EQ(coInitializeCalls(), 1);
    discardEntries(listed);
}

} // namespace
