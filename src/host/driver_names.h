// The names a user types for a listed driver: korvane matches a name exactly, up to 31
// characters, and knows a longer listed name only cut to its first 28 and "...".
#pragma once

#include <string>

constexpr unsigned kTypedDriverNameCapacity = 32; // the 31 characters and their end
constexpr size_t kCutDriverNameKeeps = 28;

// Letter case and surrounding blanks ignored.
std::string normalisedDriverName(const std::string& name);

// Whether `name`, which is not `typed`, was meant for the driver korvane knows as `typed`
// (listed in full as `listed`): the same but for letter case and blanks, or a longer
// name's whole text, or any text that starts like its cut form.
bool driverNameMeant(const std::string& typed, const std::string& listed, const std::string& name);
