// A device under test on the loopback's path, so that a measurement through the whole chain
// can be checked against analytic values: `dut=poly:A2:A3` gives y = x + A2 x^2 + A3 x^3 on
// each sample's value (integers as fractions of full scale), `dut=peak:F:Q:GAIN` the
// audio-EQ-cookbook peaking biquad (GAIN in dB). `dut=speaker:F0:Q:GAIN` is a loudspeaker as a
// production line meets it: a mild polynomial, a second-order high-pass at its resonance F0
// with its Q, a level in dB; and after these, any of its defects, each a colon-separated
// word and its numbers:
//   rub:X:LEVEL    a decaying burst of noise, peak LEVEL dBFS, 1 ms long, each time the
//                  cone's excursion rises past X (the excursion: the input through the
//                  second-order low-pass at F0 with Q, 1 for a full-scale input at DC)
//   buzz:X         the excursion held at +-X: the sound of what goes past X (its second
//                  derivative, as the high-pass's output is the excursion's) taken off
//   inverted       wired the wrong way round
//   leak:F         an air leak: a first-order high-pass at F on top
//   noise:DB:SEED  white noise of DB dBFS RMS, each output its own stream from SEED
// Results are rounded and clipped back to the sample type. Nothing here allocates or locks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/asio.h"

enum class LoopbackDutKind { None, Poly, Peak, Speaker };

struct LoopbackDut {
    LoopbackDutKind kind = LoopbackDutKind::None;
    double a2 = 0, a3 = 0;                   // poly
    double frequency = 0, q = 0, gainDb = 0; // peak; speaker: the resonance, its Q, the level
    // speaker's defects; 0 where it has none
    double rubExcursion = 0, rubLevelDb = 0;
    double buzzExcursion = 0;
    bool inverted = false;
    double leakHz = 0;
    double noiseDb = 0;
    bool noise = false;
    uint32_t noiseSeed = 0;
};

// Normalised coefficients: y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2.
struct LoopbackBiquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

// What start() prepares at the rate: the peaking filter, or the speaker's high-pass, the
// low-pass that gives its excursion and its leak's pole.
struct LoopbackDutFilter : LoopbackBiquad {
    LoopbackBiquad excursion;
    double leak = 0; // the leak's one-pole coefficient
    double gain = 1;
    double rubPeak = 0;
    double noiseRms = 0;
    uint32_t burstFrames = 0;
    double buzzScale = 0; // (rate / (2 pi F0))^2: from the excursion's second difference to sound
};

// One channel's memory (filters in transposed direct form II); zero at the start but the
// random streams, which startLoopbackDut seeds.
struct LoopbackDutState {
    double s1 = 0, s2 = 0; // the main filter
    double e1 = 0, e2 = 0; // the excursion's
    double leakIn = 0, leakOut = 0;
    double excess1 = 0, excess2 = 0; // the buzz's held excursion, one and two frames back
    bool pastRub = false;            // the excursion was past the rub's threshold
    uint32_t burstLeft = 0;          // frames of the rub's burst still to come
    double burstEnvelope = 0;
    uint32_t burstRandom = 1;
    uint32_t noiseRandom = 1;
};

// The value of `dut=`: "none", "poly:A2:A3", "peak:F:Q:GAIN" or "speaker:F0:Q:GAIN" with its
// defects, plain decimals.
bool parseLoopbackDut(const char* text, size_t length, LoopbackDut* dut);

// The filters' coefficients at `rate`; false when a frequency (the one *fault names) is not
// below half the rate.
bool prepareLoopbackDut(const LoopbackDut& dut, double rate, LoopbackDutFilter* filter,
                        double* fault = nullptr);

// A channel's state at the start: silence, its random streams seeded for output `channel`.
LoopbackDutState startLoopbackDut(const LoopbackDut& dut, int32_t channel);

// Passes `frames` samples of `type` through the device in place.
void applyLoopbackDut(const LoopbackDut& dut, const LoopbackDutFilter& filter,
                      LoopbackDutState* state, uint8_t* samples, ASIOSampleType type,
                      size_t frames);
