// Between JACK's float samples and the little-endian integers (16, 24 or 32 bits) that
// Korvane JACK's channels report. The conversions run on the streaming path: no allocation,
// no lock; which ones a channel takes is found once, before streaming.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/asio.h"

// fromFloat: full scale is 1.0: each sample is scaled by 2^(bits - 1), rounded to the
// nearest integer, and clipped to the type's range; not-a-number gives 0. A float that is
// an integer of the type divided by full scale comes back as that integer.
// toFloat: the integer divided by full scale: exact for every 16- and 24-bit value, and for
// 32-bit values of at most 24 significant bits (those korvane makes of 32-bit floats).
struct JackSamples {
    size_t bytes; // one sample in a half
    void (*fromFloat)(const float* from, uint8_t* to, size_t frames);
    void (*toFloat)(const uint8_t* from, float* to, size_t frames);
};

// The conversions of `type`, by its width in the sample-type table, for a little-endian
// integer that fills its bytes; for any other type they leave their output as it is.
JackSamples jackSamples(ASIOSampleType type);
