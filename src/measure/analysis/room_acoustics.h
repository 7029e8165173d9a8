// A room's acoustic parameters from its impulse response, per octave band and for the whole
// band: the decay times EDT, T20 and T30 from Schroeder's backward integration, cut where
// the decay meets the noise and the energy an exponential decay has beyond it added back
// (Lundeby's method), and the early-to-late ratios C50, C80 and D50.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "measure/analysis/fft.h"

struct RoomBand {
    double centreHz = 0; // 0: the whole band
    double edt = NAN;    // seconds; NaN where the decay's range above the noise is too small
    double t20 = NAN;
    double t30 = NAN;
    double c50Db = NAN;
    double c80Db = NAN;
    double d50Percent = NAN;
    double rangeDb = NAN;        // the decay's range above its noise
    std::vector<double> decayDb; // the Schroeder curve from the onset, one value per ms
};

// The octaves whose edges lie within [low, high], of 63 Hz to 8 kHz.
std::vector<double> roomOctaves(double low, double high);

// From the impulse response ir (the direct sound near `direct`), the whole band first, then
// each octave of roomOctaves(low, high).
std::vector<RoomBand> roomParameters(const std::vector<float>& ir, uint32_t rate, double low,
                                     double high, Fft* fft);
