// A room's acoustic parameters from its impulse response, per octave band and for the whole
// band: the decay times EDT, T20 and T30 from Schroeder's backward integration, cut where
// the decay meets the noise and the energy an exponential decay has beyond it added back
// (Lundeby's method), and the early-to-late ratios C50, C80 and D50. A decay time is given
// only where it is measured: with the range above the noise its fit needs, and longer than
// the band filter's own ringing; each one withheld says why.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "measure/analysis/deconvolution.h"
#include "measure/analysis/fft.h"

// Why a decay time is withheld.
enum class RoomWithheld {
    None,
    NoDecay, // no decay stands above the noise
    Range,   // the decay's range above the noise is shorter than the fit needs
    Pad,     // the recording ends before the band's decay meets its noise
    Filter,  // shorter than the band filter's own ringing
};
const char* roomWithheldName(RoomWithheld why); // "range"; "" for None
const char* roomWithheldText(RoomWithheld why);

struct DecayTime {
    double seconds = NAN;
    double correlation = NAN; // of the fitted line, -1 for a perfect decay
    RoomWithheld withheld = RoomWithheld::None;
};

struct RoomBand {
    double centreHz = 0; // 0: the whole band
    DecayTime edt;
    DecayTime t20;
    DecayTime t30;
    double curvaturePercent = NAN; // 100 (T30 / T20 - 1), where both are given
    double c50Db = NAN;
    double c80Db = NAN;
    double d50Percent = NAN;
    double rangeDb = NAN;        // the decay's range above its noise
    std::vector<double> decayDb; // the Schroeder curve from the onset, one value per ms
};

// The octaves whose edges lie within [low, high], of 63 Hz to 8 kHz.
std::vector<double> roomOctaves(double low, double high);

// Where the impulse response ir starts among the deconvolution's lags, and which of them
// hold each band's noise: a band is followed no further than the recording reaches there.
struct RoomTail {
    int64_t start = 0;
    NoiseLags lags;
};

// From the impulse response ir (the direct sound near its largest value), the whole band
// first, then each octave of roomOctaves(low, high).
std::vector<RoomBand> roomParameters(const std::vector<float>& ir, const RoomTail& tail,
                                     uint32_t rate, double low, double high, Fft* fft);
