// The ASIO drivers installed on the machine, read once from the registry.
#pragma once

#include <cstdint>

#include "host/asio.h"

enum : int32_t { DRV_BadArgument = -5001, DRV_AlreadyOpen = -5002, DRV_NotFound = -5003 };

constexpr int kDriverNameBytes = 128;

struct DriverEntry {
    int32_t index;
    CLSID classId;
    char displayName[kDriverNameBytes];
    IASIO* openInterface;
    DriverEntry* next;
};

class DriverList {
public:
    DriverList(); // reads the registry
    DriverList(const DriverList&) = delete;
    DriverList& operator=(const DriverList&) = delete;

    int32_t driverCount() const { return count; }
    DriverEntry* findEntry(int32_t index) const;
    int32_t copyDriverName(int32_t index, char* destination, uint32_t capacity) const;
    int32_t openDriver(int32_t index, IASIO** slot);
    int32_t closeDriver(int32_t index);

    DriverEntry* entries;
    int32_t count;
};

// 0 when the class is registered with an in-process server value, else -1.
// Lower-cases classIdText in place.
int32_t findServerPath(char* classIdText, char* path, uint32_t capacity);
DriverEntry* appendEntry(HKEY key, const char* subKeyName, int32_t index, DriverEntry* list);
