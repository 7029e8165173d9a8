// Scratch files of the benchmarks: one folder for the whole process, removed at the end.
#pragma once

#include <cstdint>
#include <string>

// The path of NAME inside the scratch folder, which is made on first use.
std::string scratchPath(const char* name);
// Removes the scratch folder and everything in it.
void removeScratch();

// An 8-channel float WAV file of kBenchFrames frames of noise within about ±1.0, with a
// sprinkling of samples beyond full scale so that the clipping paths run too. Made once.
constexpr uint32_t kBenchChannels = 8;
constexpr uint32_t kBenchFrames = uint32_t(1) << 20;
const std::string& benchPlayFile();
