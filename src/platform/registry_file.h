// Where the driver list is read from. Windows has its own registry; elsewhere the stand-in
// reads a .reg file, the first of: the file KORVANE_REGISTRY names, korvane.reg beside the
// executable (a build folder's own), the system's file (an installed korvane's).
#pragma once

#include <string>

enum class RegistrySource {
    SystemRegistry, // Windows: no file
    Variable,       // named by KORVANE_REGISTRY, whether it exists or not
    BesideProgram,
    SystemFile, // also when nothing beside the program exists and neither does this file
};

struct RegistryFile {
    RegistrySource source = RegistrySource::SystemRegistry;
    std::string path;
    bool exists = false;
};

// The file the next registry call reads, looked up afresh.
RegistryFile registryFileInUse();
