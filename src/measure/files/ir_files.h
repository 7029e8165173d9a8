// The files ir writes per channel: the impulse response as WAV, the points as CSV, and the
// plots as SVG with PNG copies while rsvg-convert is found.
#pragma once

#include <cstdint>
#include <string>

#include "measure/analysis/ir_measurement.h"

struct IrFiles {
    std::string prefix; // each file is PREFIX-chN...
    std::string played; // the files' paths, to name the channel in the plots
    std::string recorded;
    bool plots = true;
    bool pngs = true;        // cleared once rsvg-convert is found missing
    bool pngMissing = false; // rsvg-convert was looked for and not found
};

// Writes the channel's files and lists them in report->files. False with *error naming
// the file that could not be written.
bool writeIrChannelFiles(IrFiles* files, uint32_t rate, const IrOptions& options,
                         const Limits* limits, IrChannelReport* report, std::string* error);
