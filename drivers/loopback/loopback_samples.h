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
