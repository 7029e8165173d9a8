// What korvane-wav check prints: a table with notes, or one JSON document.
#pragma once

#include <cstdio>
#include <vector>

#include "measure/analysis/loopback_check.h"
#include "measure/files/riff_reader.h"
#include "measure/text/json_text.h"

struct CheckReport {
    const char* playedPath = "";
    const char* recordedPath = "";
    const WavData* played = nullptr;
    const WavData* recorded = nullptr;
    CheckOptions options;
    std::vector<ChannelCheck> checks;
    bool allExact = false; // every channel exact and the sample rates agree; with a width
    bool trusted = false;  // recordingTrusted(checks)
};

// "not trusted: the delay or level of channels 1, 2 cannot be trusted"; nothing for none.
void printUntrustedSummary(FILE* out, const std::vector<uint32_t>& channels);
void printCheckTable(FILE* out, const CheckReport& report);
void printCheckJson(FILE* out, const CheckReport& report);
// A played or recorded file as JSON: its path, channels, sample rate and frames.
Json recordingFileJson(const char* path, const WavData& data);
