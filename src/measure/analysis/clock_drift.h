// A recording made on another clock than the playback's is stretched in time. Through a
// synchronized sweep, whose frequency rises exponentially with time, that shows as a group
// delay that grows with ln f: tau(f) = c + (1 / s - 1) L ln f, s the recording clock's
// speed over the playback's. The device's own group delay is taken out first: the part of
// the phase a minimum-phase response of the same magnitude has. What is left, the excess
// phase, is fitted; a linear-phase or minimum-phase device leaves only the drift.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include "measure/analysis/fft.h"

struct DriftEstimate {
    bool measured = false;
    double ppm = 0;         // (s - 1) 1e6: above 0 the recording's clock ran fast
    double phaseDeg = 0;    // the largest phase error it leaves across the band, delay removed
    double residualDeg = 0; // the excess phase's root mean square misfit
};

// From the linear response on the bins of a transform of `length` at `rate` (bin k at
// k rate / length), measured within [low, high], for a sweep of rate constant L seconds.
DriftEstimate estimateDrift(const std::vector<std::complex<double>>& bins, size_t length,
                            double rate, double low, double high, double rateConstant, Fft* fft);

// The recording on the playback's clock: y at n / s for every frame n, through a windowed
// sinc, s = 1 + ppm / 1e6.
std::vector<float> resampleToPlayedClock(const std::vector<float>& recorded, double ppm);
