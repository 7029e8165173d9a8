// What korvane-wav ir prints: a few lines per channel, or one JSON document with every
// point of every channel.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "ir_measure.h"
#include "measure/analysis/ir_measurement.h"
#include "measure/files/riff_reader.h"
#include "measure/limits/ir_limits.h"

struct IrSummary {
    const IrRequest& request;
    const WavData& played;
    const WavData& recorded;
    const SyncSweep& sweep;
    const std::string& sweepSource;
    const IrOptions& options;
    double reference = 0;
    bool judging = false;
    bool allPass = true;
    bool trusted = true;
    bool pngMissing = false;
};

void printIrText(FILE* out, const IrSummary& summary, const std::vector<IrChannelReport>& reports);
void printIrJson(FILE* out, const IrSummary& summary, const std::vector<IrChannelReport>& reports);
