#include <atomic>
#include <cstddef>
#include <new>

#include <gtest/gtest.h>

#include "support/sanitizer_build.h"

#include "engine/run_state.h"
#include "host/driver_manager.h"
#include "host_test_util.h"
#include "support/registry_fixture.h"

namespace {

// The scalar nothrow new that entries and the manager are taken with: the failAt-th request
// (from 0) of exactly failSize bytes answers null.
std::atomic<size_t> failSize{0};
std::atomic<long> failAt{-1};
std::atomic<long> seen{0};

void failNthOfSize(size_t size, long index) {
    seen = 0;
    failAt = index;
    failSize = size;
}
void clearFault() {
    failSize = 0;
    failAt = -1;
    seen = 0;
}

TEST(HostMemory, EntryThatCannotBeHadIsLeftOut) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    RegistryFixture registry;
    const char classId[] = "{0C0FFEE0-6666-4A4A-9B9B-00000000000F}";
    ASSERT_TRUE(registry.install(regHeader() + driverKey("Alpha", clsidLine(classId)) +
                                 driverKey("Bravo", clsidLine(classId)) +
                                 driverKey("Charlie", clsidLine(classId)) +
                                 classKey(classId, "C:\\korvane\\no such server.dll")));
    failNthOfSize(sizeof(DriverEntry), 1);
    DriverList list;
    clearFault();
    ASSERT_EQ(list.driverCount(), 2);
    EXPECT_STREQ(list.findEntry(0)->displayName, "Alpha");
    EXPECT_STREQ(list.findEntry(1)->displayName, "Charlie");
    EXPECT_EQ(list.findEntry(1)->next, nullptr);
    discardEntries(list);
}

TEST(HostMemory, ManagerThatCannotBeHadFailsTheLoad) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    RegistryFixture registry;
    ASSERT_TRUE(registry.install(regHeader()));
    DriverManager* before = driverManager;
    driverManager = nullptr;
    failNthOfSize(sizeof(DriverManager), 0);
    EXPECT_FALSE(loadDriverByName("Alpha"));
    clearFault();
    EXPECT_EQ(driverManager, nullptr);
    EXPECT_EQ(currentDriver, nullptr);
    driverManager = before;
}

} // namespace

#ifndef KORVANE_TSAN_BUILD
// Replaces the library's operator; like it, defers to the throwing form, so that every
// object it hands out is released by the ordinary operator delete.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (failSize != 0 && size == failSize && seen++ == failAt) {
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}
#endif
