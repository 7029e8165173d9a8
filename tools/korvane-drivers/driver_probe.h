// Reads the driver list and loads drivers through the same host layer that korvane uses.
#pragma once

#include <string>
#include <vector>

#include "driver_report.h"

// Creates the process's driverManager (the list is read now) unless it exists already.
bool ensureDriverManager();
// Every entry of driverManager's list, in list order.
std::vector<ListedDriver> listDrivers();
// Loads the driver korvane would load for that name, asks it what is safe to ask before
// buffers exist, and releases it again. Needs ensureDriverManager().
DriverReport probeDriver(const std::vector<ListedDriver>& drivers, const std::string& name);
// The report of an entry that korvane cannot reach, since an earlier one has its name.
DriverReport shadowedReport(const ListedDriver& entry);
// Listed names that the user may have meant by a name that is not listed.
std::vector<std::string> suggestNames(const std::vector<ListedDriver>& drivers,
                                      const std::string& name);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string classIdText(const CLSID& classId);
