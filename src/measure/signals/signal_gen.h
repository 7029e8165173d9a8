// Test signals for loopback runs, written straight as canonical float files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/exit_codes.h"
#include "measure/signals/sweep.h"

enum SignalKind : int {
    kSignalSine,
    kSignalSweep,
    kSignalNoise,
    kSignalImpulse,
    kSignalSilence,
};

// korvane plays at most this many channels.
constexpr uint32_t kMaxSignalChannels = 64;

struct SignalSpec {
    SignalKind kind = kSignalSine;
    uint32_t channels = 1;
    uint32_t sampleRate = 48000;
    double seconds = 1.0;
    double level = -1;          // linear peak; below 0: the kind's default
    double frequency = 1000;    // sine, channel 1
    double frequencyStep = 100; // sine: added for each further channel
    double from = 20;           // sweep
    double to = -1;             // sweep; below 0: 20 kHz, or 0.45 of the rate if lower
    bool synchronized = false;  // sweep: the synchronized sweep, its length about `seconds`
    uint64_t seed = 1;          // noise; channel c draws from its own stream
    double at = 0;              // impulse position in seconds
    double stagger = 0;         // channel c starts c x stagger seconds late
    double padSeconds = 0;      // silence appended
    uint32_t repeat = 1;        // synchronized sweep: this many, one after another...
    double gapSeconds = 1;      // ...each followed by this much silence before the next
};

struct SignalPlan {
    double level = 0;
    double to = 0;
    uint64_t signalFrames = 0; // of each channel's signal
    uint64_t staggerFrames = 0;
    uint64_t atFrame = 0;
    uint64_t padFrames = 0;
    uint64_t totalFrames = 0;
    SyncSweep sweep; // a synchronized sweep's parameters
};

struct SignalGenerator {
    SignalSpec spec;
    SignalPlan plan;
    std::vector<uint64_t> noiseState;
    uint64_t nextFrame = 0;
};

bool signalKindFromName(const std::string& name, SignalKind* kind);
const char* signalKindName(SignalKind kind);
double defaultSignalLevel(SignalKind kind);

// Checks the combination and works out the lengths; false with *error on a bad one.
bool planSignal(const SignalSpec& spec, SignalPlan* plan, std::string* error);
void startSignal(SignalGenerator* generator, const SignalSpec& spec, const SignalPlan& plan);
// The next frames of the file, padding included, interleaved.
void generateFrames(SignalGenerator* generator, float* samples, uint32_t frames);
// Plans and writes the file, and a synchronized sweep's parameters beside it.
ToolExit generateWav(const SignalSpec& spec, const char* path, SignalPlan* plan,
                     std::string* error);
