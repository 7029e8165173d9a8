// korvane-wav ir: a recording of the synchronized sweep made into impulse responses,
// frequency responses and distortion per channel, written as WAV, CSV and SVG files, and
// judged against limits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "measure/analysis/ir_analysis.h"
#include "measure/exit_codes.h"
#include "unit_log.h"

struct IrRequest {
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
    bool json = false;
    bool plots = true;
    bool room = false; // the room's acoustic parameters too
    LogRequest log;
};

// Measures every channel, writes its files and prints the report. kToolLimitsFailed when
// limits are given and a channel fails them.
ToolExit runIrMeasurement(const IrRequest& request, FILE* out, FILE* err);
