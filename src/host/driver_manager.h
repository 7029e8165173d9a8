// Loads one driver by its listed name and keeps it as currentDriver.
#pragma once

#include "host/driver_list.h"

class DriverManager : public DriverList {
public:
    DriverManager();

    bool switchToDriver(const char* name);
    bool loadedDriverName(char* name) const; // name: at least 32 bytes
    void releaseCurrentDriver();

    int32_t currentIndex;
};

// The one loaded driver, and the manager that loaded it; null when none is.
extern IASIO* currentDriver;
extern DriverManager* driverManager;

bool loadDriverByName(const char* name);
