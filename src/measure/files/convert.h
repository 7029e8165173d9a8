// Turns any readable WAV file into the canonical float file korvane plays, streaming.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/exit_codes.h"
#include "measure/files/riff_reader.h"

struct ConvertReport {
    WavFormat format;
    bool wasCanonical = false;
    uint32_t frames = 0;        // from the input
    uint32_t padFrames = 0;     // of silence appended
    uint32_t trailingBytes = 0; // of the data chunk, after its last whole frame
    std::vector<std::string> otherChunks;
};

// Frames in a number of seconds at a rate, rounded to the nearest; false when out of range.
bool secondsToFrames(double seconds, uint32_t sampleRate, uint64_t* frames);

// On failure *error starts with the name of the file at fault.
ToolExit convertToCanonical(const char* inPath, const char* outPath, double padSeconds,
                            ConvertReport* report, std::string* error);
