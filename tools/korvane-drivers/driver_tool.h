// korvane-drivers: the driver list as korvane sees it, and what each driver offers.
#pragma once

#include <string>
#include <vector>

enum DriverToolExit : int {
    kDriverToolOk = 0,
    kDriverToolUsage = 1,
    // A driver asked about is not listed, cannot be loaded, fails to initialise or answers
    // an error to one of the questions.
    kDriverToolDriverFailed = 2,
};

struct DriverToolOptions {
    bool help = false;
    bool version = false;
    bool json = false;
    bool all = false;
    std::vector<std::string> names;
};

// False with a one-line reason in error when the command line is wrong.
bool parseDriverToolArguments(int argc, const char* const* argv, DriverToolOptions& options,
                              std::string& error);
const char* driverToolUsage();
int runDriverTool(int argc, char** argv);
