// Small pieces of korvane-wav's printed text.
#pragma once

#include <cstdint>
#include <string>

// A linear level in dBFS with two decimals, or "-inf".
std::string dbfs(double linear);
// "1 channel", "2 channels": the count and the noun, plural unless the count is 1.
std::string countText(uint64_t count, const char* noun);
