// A deconvolution held circularly, as the transforms leave it.
#pragma once

#include <cstddef>
#include <cstdint>

// h[0 .. n) is time base .. base + n; any other time wraps round.
struct Deconvolution {
    const double* h;
    int64_t n;
    int64_t base;

    double at(int64_t t) const { return h[size_t((((t - base) % n) + n) % n)]; }
};
