// The per-platform halves of ChildProcess, beside the parts of child_process.cpp that are
// the same everywhere.
#pragma once

#include <string>

// How the platform names what the build puts beside the tests.
struct BuiltFileNames {
    const char* separator;
    const char* programSuffix;
    const char* librarySuffix;
};
extern const BuiltFileNames kBuiltFileNames;

// The whole file as bytes; empty when it cannot be read.
std::string readWholeFile(const std::string& path);
