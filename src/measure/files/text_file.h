// Small text files read or written whole: sidecars, limits, CSV and SVG.
#pragma once

#include <string>

// *error names the path and what went wrong.
bool readTextFile(const std::string& path, std::string* text, std::string* error);
// On failure nothing is left behind.
bool writeTextFile(const std::string& path, const std::string& text, std::string* error);
