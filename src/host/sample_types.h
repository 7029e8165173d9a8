// Every sample type of the driver interface: its name, the bytes one sample takes in a
// driver half, its layout, and whether korvane streams it. Header-only, so that the
// drivers, which link nothing of the core, read the same table.
#pragma once

#include <cstdint>

#include "host/asio.h"

enum class SampleKind : uint8_t { Integer, Float, Dsd };

struct SampleTypeInfo {
    ASIOSampleType type;
    const char* name;
    int32_t bytes; // one sample in a driver half; a DSD byte holds one sample's bit
    int32_t bits;  // significant bits of an integer type, at the low end of its bytes
    bool msbFirst; // most significant byte first
    SampleKind kind;
    bool streamed; // korvane moves it: little-endian 16-, 24- and 32-bit integers
};

inline constexpr SampleTypeInfo kSampleTypes[] = {
    {ASIOSTInt16MSB, "ASIOSTInt16MSB", 2, 16, true, SampleKind::Integer, false},
    {ASIOSTInt24MSB, "ASIOSTInt24MSB", 3, 24, true, SampleKind::Integer, false},
    {ASIOSTInt32MSB, "ASIOSTInt32MSB", 4, 32, true, SampleKind::Integer, false},
    {ASIOSTFloat32MSB, "ASIOSTFloat32MSB", 4, 0, true, SampleKind::Float, false},
    {ASIOSTFloat64MSB, "ASIOSTFloat64MSB", 8, 0, true, SampleKind::Float, false},
    {ASIOSTInt32MSB16, "ASIOSTInt32MSB16", 4, 16, true, SampleKind::Integer, false},
    {ASIOSTInt32MSB18, "ASIOSTInt32MSB18", 4, 18, true, SampleKind::Integer, false},
    {ASIOSTInt32MSB20, "ASIOSTInt32MSB20", 4, 20, true, SampleKind::Integer, false},
    {ASIOSTInt32MSB24, "ASIOSTInt32MSB24", 4, 24, true, SampleKind::Integer, false},
    {ASIOSTInt16LSB, "ASIOSTInt16LSB", 2, 16, false, SampleKind::Integer, true},
    {ASIOSTInt24LSB, "ASIOSTInt24LSB", 3, 24, false, SampleKind::Integer, true},
    {ASIOSTInt32LSB, "ASIOSTInt32LSB", 4, 32, false, SampleKind::Integer, true},
    {ASIOSTFloat32LSB, "ASIOSTFloat32LSB", 4, 0, false, SampleKind::Float, false},
    {ASIOSTFloat64LSB, "ASIOSTFloat64LSB", 8, 0, false, SampleKind::Float, false},
    {ASIOSTInt32LSB16, "ASIOSTInt32LSB16", 4, 16, false, SampleKind::Integer, false},
    {ASIOSTInt32LSB18, "ASIOSTInt32LSB18", 4, 18, false, SampleKind::Integer, false},
    {ASIOSTInt32LSB20, "ASIOSTInt32LSB20", 4, 20, false, SampleKind::Integer, false},
    {ASIOSTInt32LSB24, "ASIOSTInt32LSB24", 4, 24, false, SampleKind::Integer, false},
    {ASIOSTDSDInt8LSB1, "ASIOSTDSDInt8LSB1", 1, 0, false, SampleKind::Dsd, false},
    {ASIOSTDSDInt8MSB1, "ASIOSTDSDInt8MSB1", 1, 0, true, SampleKind::Dsd, false},
    {ASIOSTDSDInt8NER8, "ASIOSTDSDInt8NER8", 1, 0, false, SampleKind::Dsd, false},
};

// The row of `type`, or nullptr for a value the interface does not define.
inline constexpr const SampleTypeInfo* findSampleType(ASIOSampleType type) {
    for (const SampleTypeInfo& row : kSampleTypes) {
        if (row.type == type) {
            return &row;
        }
    }
    return nullptr;
}

// The interface's own name ("ASIOSTInt24LSB"), or nullptr.
inline constexpr const char* sampleTypeName(ASIOSampleType type) {
    const SampleTypeInfo* row = findSampleType(type);
    return row != nullptr ? row->name : nullptr;
}

// Bytes one sample takes in a driver half; 0 for an undefined value.
inline constexpr int32_t sampleTypeBytes(ASIOSampleType type) {
    const SampleTypeInfo* row = findSampleType(type);
    return row != nullptr ? row->bytes : 0;
}

inline constexpr bool isIntegerSampleType(ASIOSampleType type) {
    const SampleTypeInfo* row = findSampleType(type);
    return row != nullptr && row->kind == SampleKind::Integer;
}

inline constexpr bool korvaneStreams(ASIOSampleType type) {
    const SampleTypeInfo* row = findSampleType(type);
    return row != nullptr && row->streamed;
}
