// Small pieces of korvane-wav's printed text.
#pragma once

#include <string>

// A linear level in dBFS with two decimals, or "-inf".
std::string dbfs(double linear);
