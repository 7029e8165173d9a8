// Rub and buzz from the synchronized sweep. A rubbing voice coil, a loose joint or a particle
// makes short, harsh, high-order distortion at some excitation frequencies that barely moves
// the THD. The recording is high-passed at a multiple of the sweep's instantaneous frequency
// (an 8th-order Butterworth that follows the sweep), so that the fundamental and the low
// orders are gone and what is left is the distortion of the orders from that multiple up, the
// impulses, and the noise. At each excitation frequency, over the 1/12 octave of the sweep
// around it: the residual's peak relative to the fundamental's, its RMS relative to the
// fundamental's (the high orders' energy), and its crest factor, all in dB.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "measure/signals/sweep.h"

constexpr double kRubBuzzMultiple = 10; // the high-pass at 10 f: orders 10 and up
constexpr double kRubBuzzBandOctaves = 1.0 / 12;

struct RubBuzzPoint {
    double peakDb = NAN;
    double rmsDb = NAN;
    double crestDb = NAN;
};

// The highest excitation frequency measured: where the high-pass reaches 0.4 of the rate, or
// the sweep's fade-out begins. Points are measured from 1/6 octave above the fade-in.
double rubBuzzHighestHz(const SyncSweep& sweep, double multiple);

// `onset`: the recording's frame where the sweep's first frame arrives (its start in the
// played file plus the delay). NaN at frequencies the sweep does not measure so.
std::vector<RubBuzzPoint> rubBuzz(const std::vector<float>& recorded, int64_t onset,
                                  const SyncSweep& sweep, double multiple,
                                  const std::vector<double>& frequencies);
