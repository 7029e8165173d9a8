// A whole ir measurement over the channels of a recording: each channel's analysis (on the
// machine's cores), check's verdict on its delay and level, and its limits.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "measure/analysis/ir_analysis.h"
#include "measure/analysis/loopback_check.h"
#include "measure/analysis/room_acoustics.h"
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
    std::vector<RoomBand> room;     // with --room: the whole band, then each octave
    std::vector<std::string> files; // the impulse response first
};

struct IrMeasurement {
    const WavData* played = nullptr;
    const WavData* recorded = nullptr;
    SyncSweep sweep;
    IrOptions options; // probes and orders include what the limits need
    CheckOptions map;  // korvane's first channels
    const Limits* limits = nullptr;
};

// The options a measurement analyses with: the reference frequency, or the limits'
// frequencies and orders.
IrOptions irOptionsFor(const IrOptions& requested, const Limits* limits, double reference);

// Whether every played channel that reaches a recorded one and holds sound is the sweep:
// placed as it says when `placed` (a sidecar), else wherever its sound starts (options).
// False with *error naming the channel and where it differs.
bool playedChannelsHoldSweep(const IrMeasurement& m, bool placed, std::string* error);

// Analyses every channel that a played channel reaches and that holds sound. False with
// *error (naming the channel) when one cannot be analysed.
bool analyseIrChannels(const IrMeasurement& m, std::vector<IrChannelReport>* reports,
                       std::string* error);

// check's verdict on each channel, searched as far as the delays found, a level near full
// scale, and the limits where given. True when every channel can be trusted.
bool judgeIrChannels(const IrMeasurement& m, std::vector<IrChannelReport>* reports);

// Whether every judged channel passes its limits.
bool irChannelsPass(const std::vector<IrChannelReport>& reports);
