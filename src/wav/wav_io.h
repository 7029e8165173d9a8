// The WAV byte layer: little-endian fields, tags and float bits, the canonical header read
// and written. Used by the probe, the loader, the recording writer and korvane-wav; tests and
// benchmarks include it for the work block size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "wav/wav_format.h"

// Samples move between file and store through work blocks of about this size.
constexpr size_t kWavWorkBytes = size_t(1) << 20;

// Every target korvane builds for stores words lowest byte first, so the fields move as
// whole words there; the test folds to a constant, and the byte forms serve any other host.
inline bool hostIsLittleEndian() {
    const uint16_t one = 1;
    uint8_t low;
    std::memcpy(&low, &one, 1);
    return low == 1;
}

inline uint32_t loadLe16(const uint8_t* p) {
    if (hostIsLittleEndian()) {
        uint16_t value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
}

inline uint32_t loadLe24(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
}

inline uint32_t loadLe32(const uint8_t* p) {
    if (hostIsLittleEndian()) {
        uint32_t value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t loadLe64(const uint8_t* p) {
    if (hostIsLittleEndian()) {
        uint64_t value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }
    return uint64_t(loadLe32(p)) | uint64_t(loadLe32(p + 4)) << 32;
}

inline void storeLe16(uint8_t* p, uint32_t value) {
    if (hostIsLittleEndian()) {
        const uint16_t word = uint16_t(value);
        std::memcpy(p, &word, sizeof word);
        return;
    }
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

inline void storeLe32(uint8_t* p, uint32_t value) {
    if (hostIsLittleEndian()) {
        std::memcpy(p, &value, sizeof value);
        return;
    }
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

inline void storeLe64(uint8_t* p, uint64_t value) {
    if (hostIsLittleEndian()) {
        std::memcpy(p, &value, sizeof value);
        return;
    }
    storeLe32(p, uint32_t(value));
    storeLe32(p + 4, uint32_t(value >> 32));
}

// Four tag bytes against four characters, case included.
inline bool wavTagIs(const uint8_t* bytes, const char* tag) {
    return std::memcmp(bytes, tag, 4) == 0;
}

inline uint32_t floatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float bitsFloat(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

struct WavHeader {
    uint32_t formatTag;
    uint32_t channels;
    uint32_t sampleRate;
    uint32_t bitsPerSample;
    uint32_t dataBytes;
    uint32_t frames;
};

// The canonical header of a 32-bit float file of `frames` frames, sizes in 32-bit
// arithmetic, 16-bit fields from the low bits.
void writeWavHeader(uint8_t* header, uint32_t channels, uint32_t sampleRate, uint32_t frames);

// Reads the 44 header bytes from the start of an open file and checks the canonical layout;
// on kWavOk the file stands at the first sample.
WavResult readWavHeader(FILE* file, WavHeader* header);
