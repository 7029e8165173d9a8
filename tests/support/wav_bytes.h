// WAV files built and read byte by byte for the tests, fuzz targets and benchmarks, apart
// from src/wav so that they check its layout rather than repeat it (only its float bit
// casts are shared): canonical headers with every field as given, RIFF files of any chunks
// in any order, float samples, and the files themselves. No test framework inside.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "wav/wav_io.h"

using Bytes = std::vector<uint8_t>;

inline void putLe(Bytes& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(uint8_t(value >> (8 * i)));
    }
}

inline uint32_t getLe(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= uint32_t(p[i]) << (8 * i);
    }
    return value;
}

inline void putTag(Bytes& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

inline Bytes floatBytes(const std::vector<float>& values) {
    Bytes out;
    out.reserve(values.size() * 4);
    for (float value : values) {
        putLe(out, floatBits(value), 4);
    }
    return out;
}

struct HeaderFields {
    uint32_t formatTag = 3;
    uint32_t channels = 1;
    uint32_t sampleRate = 48000;
    uint32_t bitsPerSample = 32;
    uint32_t dataBytes = 0;
};

// A format chunk body: 16 bytes, or 18 with an empty extension.
inline Bytes formatBody(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits,
                        bool withExtension = false) {
    Bytes out;
    putLe(out, tag, 2);
    putLe(out, channels, 2);
    putLe(out, rate, 4);
    putLe(out, rate * channels * (bits / 8), 4);
    putLe(out, channels * (bits / 8), 2);
    putLe(out, bits, 2);
    if (withExtension) {
        putLe(out, 0, 2);
    }
    return out;
}

// WAVE_FORMAT_EXTENSIBLE with the subformat GUID {subtag-0000-0010-8000-00AA00389B71}.
inline Bytes extensibleBody(uint32_t subtag, uint32_t channels, uint32_t rate, uint32_t bits,
                            uint32_t validBits) {
    Bytes out = formatBody(0xFFFE, channels, rate, bits);
    putLe(out, 22, 2);
    putLe(out, validBits, 2);
    putLe(out, channels == 2 ? 3 : 4, 4);
    putLe(out, subtag, 4);
    const uint8_t tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                              0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    out.insert(out.end(), tail, tail + 12);
    return out;
}

// The canonical 44-byte header. The sizes are taken as given, so the header may announce
// more or less data than follows it.
inline Bytes canonicalHeader(const HeaderFields& h) {
    Bytes out;
    putTag(out, "RIFF");
    putLe(out, h.dataBytes + 36, 4);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    putLe(out, 16, 4);
    const Bytes body = formatBody(h.formatTag, h.channels, h.sampleRate, h.bitsPerSample);
    out.insert(out.end(), body.begin(), body.end());
    putTag(out, "data");
    putLe(out, h.dataBytes, 4);
    return out;
}

// A canonical float file of interleaved samples.
inline Bytes floatWav(uint32_t channels, const std::vector<float>& samples,
                      uint32_t sampleRate = 48000) {
    HeaderFields h;
    h.channels = channels;
    h.sampleRate = sampleRate;
    h.dataBytes = uint32_t(samples.size() * 4);
    Bytes out = canonicalHeader(h);
    const Bytes data = floatBytes(samples);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A RIFF/WAVE file of chunks in the order they are added.
struct RiffFile {
    Bytes chunks;

    // With pad = false an odd chunk gets no pad byte.
    RiffFile& chunk(const char* id, const Bytes& body, bool pad = true) {
        return chunkSized(id, uint32_t(body.size()), body, pad);
    }
    // A chunk whose size field says `size`, whatever the body holds.
    RiffFile& chunkSized(const char* id, uint32_t size, const Bytes& body, bool pad = false) {
        putTag(chunks, id);
        putLe(chunks, size, 4);
        chunks.insert(chunks.end(), body.begin(), body.end());
        if (pad && body.size() % 2 == 1) {
            chunks.push_back(0);
        }
        return *this;
    }
    // riffSize below 0: the size of what is there.
    Bytes bytes(int64_t riffSize = -1) const {
        Bytes out;
        putTag(out, "RIFF");
        putLe(out, riffSize < 0 ? uint32_t(4 + chunks.size()) : uint32_t(riffSize), 4);
        putTag(out, "WAVE");
        out.insert(out.end(), chunks.begin(), chunks.end());
        return out;
    }
};

inline bool writeBytes(const std::string& path, const Bytes& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// The whole file; empty when it cannot be read.
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
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

// The whole samples behind the 44-byte header of a canonical float file.
inline std::vector<float> canonicalSamples(const std::string& path) {
    const Bytes bytes = readBytes(path);
    std::vector<float> samples;
    for (size_t at = 44; at + 4 <= bytes.size(); at += 4) {
        samples.push_back(bitsFloat(getLe(bytes.data() + at, 4)));
    }
    return samples;
}
