#include "host/driver_manager.h"

#include <cstring>
#include <new>

IASIO* currentDriver;
DriverManager* driverManager;

namespace {
constexpr uint32_t kNameCapacity = 32;
constexpr size_t kNameBufferBytes = 64;
} // namespace

DriverManager::DriverManager() : currentIndex(-1) {}

bool DriverManager::switchToDriver(const char* name) {
    if (name == nullptr) {
        return false;
    }
    char candidate[kNameBufferBytes];
    char saved[kNameBufferBytes];
    for (int32_t i = 0; i < driverCount(); ++i) {
        if (copyDriverName(i, candidate, kNameCapacity) != 0) {
            continue;
        }
        if (std::strcmp(name, candidate) != 0) {
            continue;
        }
        // Only the first entry of that name is ever tried.
        if (!loadedDriverName(saved)) {
            saved[0] = '\0';
        }
        releaseCurrentDriver();
        if (openDriver(i, &currentDriver) == 0) {
            currentIndex = i;
            return true;
        }
        currentDriver = nullptr;
        // Runs with nothing loaded, so it saves an empty name and goes no deeper.
        if (saved[0] != '\0' && std::strcmp(saved, candidate) != 0) {
            switchToDriver(saved);
        }
        return false;
    }
    return false;
}

bool DriverManager::loadedDriverName(char* name) const {
    if (name == nullptr) {
        return false;
    }
    name[0] = '\0';
    if (currentIndex < 0) {
        return false;
    }
    return copyDriverName(currentIndex, name, kNameCapacity) == 0;
}

void DriverManager::releaseCurrentDriver() {
    if (currentIndex != -1) {
        closeDriver(currentIndex);
    }
    currentIndex = -1;
}

bool loadDriverByName(const char* name) {
    if (driverManager == nullptr) {
        // Lives to the end of the process; its list is read now and never again.
        driverManager = new (std::nothrow) DriverManager();
        if (driverManager == nullptr) {
            return false;
        }
    }
    return driverManager->switchToDriver(name);
}
