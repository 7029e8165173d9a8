// Numbers as text: fixed decimals written digit by digit (the same bytes whatever the
// locale or the C library, for files that must not change between runs), levels and counts.
#pragma once

#include <cstdint>
#include <string>

// "-12.35" for (-12.345678, 2); "" for a value that is not finite.
std::string fixedText(double value, int decimals);
// A linear level in dBFS with two decimals, or "-inf".
std::string dbfs(double linear);
// "1 channel", "2 channels": the count and the noun, plural unless the count is 1.
std::string countText(uint64_t count, const char* noun);
