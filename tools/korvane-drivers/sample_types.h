// Names and widths of the driver sample types, and which of them korvane can stream.
#pragma once

#include <cstdint>

#include "host/asio.h"

// The interface's own name ("ASIOSTInt24LSB"), or nullptr for a value it does not define.
const char* sampleTypeName(ASIOSampleType type);
// Bytes one sample takes in a driver buffer; 0 for DSD types and unknown values.
int32_t sampleTypeWidth(ASIOSampleType type);
// korvane moves little-endian 16-, 24- and 32-bit integers only.
bool korvaneStreams(ASIOSampleType type);
