// Sample formats of the loopback's buffers. Everything here runs on the streaming path:
// no allocation, no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/sample_types.h"

// Converts `frames` samples from `from` (type `fromType`) to `to` (type `toType`). Equal
// types are copied byte for byte; integer types are rescaled by shifting, as a converter
// would; any other pair gives silence.
void loopbackConvert(const uint8_t* from, ASIOSampleType fromType, uint8_t* to,
                     ASIOSampleType toType, size_t frames);

// Samples as values from -1 to 1 (integers divided by 2^(bits - 1), little-endian floats as
// they are), and back (integers rounded to the nearest step and clipped to their range).
// False, with nothing done, for any other type.
bool loopbackReadValues(const uint8_t* from, ASIOSampleType type, double* values, size_t frames);
bool loopbackWriteValues(const double* values, ASIOSampleType type, uint8_t* to, size_t frames);
