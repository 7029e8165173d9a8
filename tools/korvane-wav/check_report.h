// What korvane-wav check prints: a table, or one JSON document.
#pragma once

#include <cstdio>
#include <vector>

#include "loopback_check.h"
#include "riff_reader.h"

void printCheckTable(FILE* out, const char* playedPath, const WavData& played,
                     const char* recordedPath, const WavData& recorded, int width,
                     const std::vector<ChannelCheck>& checks);
void printCheckJson(FILE* out, const char* playedPath, const WavData& played,
                    const char* recordedPath, const WavData& recorded, int width, bool allExact,
                    const std::vector<ChannelCheck>& checks);
