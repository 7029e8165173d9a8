// The synchronized exponential sweep: x(t) = sin(2 pi f1 L e^(t / L)) with f1 L a whole
// number, so that the n-th harmonic of any frequency the sweep passes is the sweep itself
// L ln n earlier, phase included. Its parameters travel beside the WAV file in a small text
// file (NAME.sweep), since korvane plays only the bare canonical header.
#pragma once

#include <cstdint>
#include <string>

struct SyncSweep {
    uint32_t rate = 0;
    double from = 0;           // f1, Hz
    double to = 0;             // f2, Hz
    double rateConstant = 0;   // L, seconds; from x L is a whole number
    uint64_t frames = 0;       // of the sweep, fades included: L ln(to / from), rounded
    uint64_t fadeInFrames = 0; // raised-cosine fades at both ends
    uint64_t fadeOutFrames = 0;
    double level = 0;           // peak, linear
    uint64_t startFrame = 0;    // where channel 1's sweep starts in the file
    uint64_t staggerFrames = 0; // each further channel starts this much later
    uint32_t repeat = 1;        // sweeps one after another, each periodFrames after the last
    uint64_t periodFrames = 0;  // the sweep and the silence after it, when repeat > 1
};

// The repeated sweeps' value at a frame of their own, unit peak: 0 between them and after.
double repeatedSweepValue(const SyncSweep& sweep, uint64_t frame);
// Frames from the first sweep's start to the last one's end.
uint64_t repeatedSweepFrames(const SyncSweep& sweep);

// L = round(from x seconds / ln(to / from)) / from: the sweep lasts about `seconds`. False
// with *error when from and to do not rise within half the rate or the sweep is too short
// for one whole turn at f1.
bool planSyncSweep(double from, double to, double seconds, uint32_t rate, SyncSweep* sweep,
                   std::string* error);

// The sweep's value at a frame of its own (0 .. frames - 1), unit peak, fades included.
double syncSweepValue(const SyncSweep& sweep, uint64_t frame);

// NAME.sweep for NAME.wav (any letter case), else the path with ".sweep" appended.
std::string sweepSidecarPath(const std::string& wavPath);
bool writeSweepSidecar(const std::string& path, const SyncSweep& sweep, std::string* error);
// Reads rate, from, to and L (the rest where present); *error names the fault and line.
bool readSweepSidecar(const std::string& path, SyncSweep* sweep, std::string* error);
