// Numbers as text with a fixed number of decimals, written digit by digit: the same bytes
// whatever the locale or the C library, for files that must not change between runs.
#pragma once

#include <string>

// "-12.35" for (-12.345678, 2); "" for a value that is not finite.
std::string fixedText(double value, int decimals);
