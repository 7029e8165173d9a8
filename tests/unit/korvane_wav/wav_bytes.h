// Builds RIFF/WAVE files byte by byte for the reader's tests, and reads files back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void append16(Bytes* b, uint32_t v) {
    b->push_back(uint8_t(v));
    b->push_back(uint8_t(v >> 8));
}

inline void append32(Bytes* b, uint32_t v) {
    append16(b, v & 0xFFFF);
    append16(b, v >> 16);
}

inline void appendTag(Bytes* b, const char* tag) {
    b->insert(b->end(), tag, tag + 4);
}

// A format chunk body: 16 bytes, or 18 with an empty extension.
inline Bytes formatBody(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits,
                        bool withExtension = false) {
    Bytes b;
    append16(&b, tag);
    append16(&b, channels);
    append32(&b, rate);
    append32(&b, rate * channels * (bits / 8));
    append16(&b, channels * (bits / 8));
    append16(&b, bits);
    if (withExtension) {
        append16(&b, 0);
    }
    return b;
}

// WAVE_FORMAT_EXTENSIBLE with the subformat GUID {subtag-0000-0010-8000-00AA00389B71}.
inline Bytes extensibleBody(uint32_t subtag, uint32_t channels, uint32_t rate, uint32_t bits,
                            uint32_t validBits) {
    Bytes b = formatBody(0xFFFE, channels, rate, bits);
    append16(&b, 22);
    append16(&b, validBits);
    append32(&b, channels == 2 ? 3 : 4);
    append32(&b, subtag);
    const uint8_t tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                              0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.insert(b.end(), tail, tail + 12);
    return b;
}

struct RiffFile {
    Bytes chunks;

    // With pad = false an odd chunk gets no pad byte.
    RiffFile& chunk(const char* id, const Bytes& body, bool pad = true) {
        appendTag(&chunks, id);
        append32(&chunks, uint32_t(body.size()));
        chunks.insert(chunks.end(), body.begin(), body.end());
        if (pad && body.size() % 2 == 1) {
            chunks.push_back(0);
        }
        return *this;
    }
    RiffFile& chunkSized(const char* id, uint32_t size, const Bytes& body) {
        appendTag(&chunks, id);
        append32(&chunks, size);
        chunks.insert(chunks.end(), body.begin(), body.end());
        return *this;
    }
    // riffSize below 0: the size of what is there.
    Bytes bytes(int64_t riffSize = -1) const {
        Bytes b;
        appendTag(&b, "RIFF");
        append32(&b, riffSize < 0 ? uint32_t(4 + chunks.size()) : uint32_t(riffSize));
        appendTag(&b, "WAVE");
        b.insert(b.end(), chunks.begin(), chunks.end());
        return b;
    }
};

inline Bytes floatBytes(const std::vector<float>& values) {
    Bytes b;
    for (float v : values) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        append32(&b, bits);
    }
    return b;
}

inline std::string tempPath(const std::string& name) {
    return testing::TempDir() + "korvane-wav-" + name;
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);
}

inline Bytes readBytes(const std::string& path) {
    Bytes bytes;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return bytes;
    }
    uint8_t buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    std::fclose(file);
    return bytes;
}

inline bool fileExists(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) {
        std::fclose(file);
    }
    return file != nullptr;
}

// The samples of a canonical file, as floats.
inline std::vector<float> canonicalSamples(const std::string& path) {
    const Bytes bytes = readBytes(path);
    std::vector<float> samples;
    for (size_t i = 44; i + 4 <= bytes.size(); i += 4) {
        const uint32_t bits = uint32_t(bytes[i]) | uint32_t(bytes[i + 1]) << 8 |
                              uint32_t(bytes[i + 2]) << 16 | uint32_t(bytes[i + 3]) << 24;
        float v;
        std::memcpy(&v, &bits, 4);
        samples.push_back(v);
    }
    return samples;
}

inline uint32_t bitsOf(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return bits;
}
