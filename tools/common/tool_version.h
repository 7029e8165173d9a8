// What every companion prints for --version: its name and the project's one version.
#pragma once

#include <string>

#include "korvane_version.h"

inline std::string versionLine(const char* program) {
    return std::string(program) + " " KORVANE_VERSION "\n";
}
