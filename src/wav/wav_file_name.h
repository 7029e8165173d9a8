// A WAV file's name less its suffix: what the companions name their files after, and what
// korvane's own advice names a converted copy after.
#pragma once

#include <string>

// The path less a final ".wav" in any letter case; the path itself without one.
std::string withoutWavSuffix(const std::string& path);
