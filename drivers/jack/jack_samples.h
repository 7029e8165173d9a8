// Between JACK's float samples and the little-endian integers (16, 24 or 32 bits) that
// Korvane JACK's channels report. Both run on the streaming path: no allocation, no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/asio.h"

// Full scale is 1.0: each sample is scaled by 2^(bits - 1), rounded to the nearest
// integer, and clipped to the type's range; not-a-number gives 0. A float that is an
// integer of the type divided by full scale comes back as that integer.
void jackFromFloat(const float* from, uint8_t* to, ASIOSampleType type, size_t frames);

// The integer divided by full scale: exact for every 16- and 24-bit value, and for 32-bit
// values of at most 24 significant bits (those korvane makes of 32-bit floats).
void jackToFloat(const uint8_t* from, float* to, ASIOSampleType type, size_t frames);
