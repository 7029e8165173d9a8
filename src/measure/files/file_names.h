// Names of the files the measurements read and write beside each other.
#pragma once

#include <string>

// The path less a final ".wav" in any letter case; the path itself without one.
std::string withoutWavSuffix(const std::string& path);
// The last part of a path, after its last slash or backslash.
std::string baseName(const std::string& path);
