// An ir measurement from its files to its results: the played file, the recording and the
// sweep read and checked, every channel analysed and judged, the rooms where asked, and
// each channel's files written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/analysis/ir_measurement.h"
#include "measure/files/riff_reader.h"
#include "measure/limits/ir_limits.h"

struct IrJob {
    std::string played;
    std::string recorded;
    uint32_t playStart = 1; // korvane's PlayStartChannel
    uint32_t recStart = 1;  // korvane's RecStartChannel
    IrOptions analysis;
    // The sweep from options instead of the played file's sidecar, when seconds > 0.
    double from = 0;
    double to = 0;
    double seconds = 0;
    std::string outPrefix; // empty: the recording's path without ".wav"
    std::string limitsPath;
    bool plots = true;
    bool files = true; // false: no impulse response, CSV or plot written
    bool room = false; // the room's acoustic parameters too
};

// What a job measured. Not to be copied: the measurement points into it.
struct IrResults {
    WavData played;
    WavData recorded;
    Limits limits;
    IrMeasurement m;
    std::string sweepSource; // the sidecar's path, or "options"
    std::vector<IrChannelReport> reports;
    double reference = 0; // the frequency the summary and the record's level are taken at
    bool judging = false;
    bool trusted = true;
    bool allPass = true; // every channel trusted and passing its limits
    bool pngMissing = false;
    // A side file that could not be written; the results stand all the same.
    std::string filesError;
};

// Runs the job into *results. False with *error when an input cannot be read or is refused
// (the files, the sweep, limits that judge nothing); nothing measured then.
bool runIrJob(const IrJob& job, IrResults* results, std::string* error);
