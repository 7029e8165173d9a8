// What korvane-wav ir prints: a few lines per channel, or one JSON document with every
// point of every channel.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ir_measure.h"
#include "measure/analysis/ir_analysis.h"
#include "measure/files/riff_reader.h"
#include "measure/limits/ir_limits.h"

struct IrChannelReport {
    uint32_t recorded = 0;
    uint32_t played = 0; // 0: none reaches it
    bool analysed = false;
    ChannelIr ir;
    // Why its delay or level cannot be trusted, as kind ("cut-short") and sentence; none
    // when it can.
    std::vector<std::pair<std::string, std::string>> problems;
    ResponsePoint reference;
    double worstThd = NAN;
    double worstThdFrequency = NAN;
    bool judged = false;
    LimitVerdict verdict;
    std::vector<std::string> files; // the impulse response first
};

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
