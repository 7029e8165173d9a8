// Small text files read or written whole: sidecars, limits, CSV and SVG.
#pragma once

#include <cstddef>
#include <string>

// No text file of the tools' own is near this: a larger one (or /dev/zero) is refused, not
// read until memory runs out.
constexpr size_t kMostTextFileBytes = size_t(16) << 20;

// *error names the path and what went wrong.
bool readTextFile(const std::string& path, std::string* text, std::string* error);
// On failure nothing is left behind.
bool writeTextFile(const std::string& path, const std::string& text, std::string* error);
