// A device under test on the loopback's path, so that a measurement through the whole chain
// can be checked against analytic values: `dut=poly:A2:A3` gives y = x + A2 x^2 + A3 x^3 on
// each sample's value (integers as fractions of full scale), `dut=peak:F:Q:GAIN` the
// audio-EQ-cookbook peaking biquad (GAIN in dB). Results are rounded and clipped back to
// the sample type. Nothing here allocates or locks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/asio.h"

enum class LoopbackDutKind { None, Poly, Peak };

struct LoopbackDut {
    LoopbackDutKind kind = LoopbackDutKind::None;
    double a2 = 0, a3 = 0;                   // poly
    double frequency = 0, q = 0, gainDb = 0; // peak
};

// Normalised coefficients: y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2.
struct LoopbackDutFilter {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

// One channel's filter memory (transposed direct form II); zero at the start.
struct LoopbackDutState {
    double s1 = 0, s2 = 0;
};

// The value of `dut=`: "none", "poly:A2:A3" or "peak:F:Q:GAIN", plain decimals.
bool parseLoopbackDut(const char* text, size_t length, LoopbackDut* dut);

// The peaking filter's coefficients at `rate`; false when F is not below half the rate.
bool prepareLoopbackDut(const LoopbackDut& dut, double rate, LoopbackDutFilter* filter);

// Passes `frames` samples of `type` through the device in place.
void applyLoopbackDut(const LoopbackDut& dut, const LoopbackDutFilter& filter,
                      LoopbackDutState* state, uint8_t* samples, ASIOSampleType type,
                      size_t frames);
