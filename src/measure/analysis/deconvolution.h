// A deconvolution held circularly, as the transforms leave it, and where it holds noise.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

// h[0 .. n) is time base .. base + n; any other time wraps round.
struct Deconvolution {
    const double* h;
    int64_t n;
    int64_t base;

    double at(int64_t t) const {
        const int64_t i = t - base;
        // Most reads fall inside: no division for them.
        return h[size_t(i >= 0 && i < n ? i : ((i % n) + n) % n)];
    }
};

// Which lags of the deconvolution hold the recording's noise at a frequency: frame r of the
// recording reaches lag r - tau(f), tau(f) the frame of the played channel at which its
// sweep passes f. Past the recording's end less tau(f) a lag holds neither noise nor
// response at f; before -tau(f), nothing either.
struct NoiseLags {
    int64_t recordedFrames = 0;
    double sweepStart = 0;  // where the played channel's sweep starts
    double framesPerLn = 0; // L x rate
    double from = 0;
    double passes(double f) const {
        return sweepStart + framesPerLn * std::log(std::max(f, from) / from);
    }
    double first(double f) const { return -passes(f); }
    double end(double f) const { return double(recordedFrames) - passes(f); }
};
