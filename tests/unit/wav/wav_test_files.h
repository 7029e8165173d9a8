// Temporary files, WAV images and the per-sample reference conversions for the WAV tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "support/run_state_reset.h"

using Bytes = std::vector<uint8_t>;

inline void putLe(Bytes& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(uint8_t(value >> (8 * i)));
    }
}

inline void putTag(Bytes& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

struct HeaderFields {
    uint32_t formatTag = 3;
    uint32_t channels = 1;
    uint32_t sampleRate = 48000;
    uint32_t bitsPerSample = 32;
    uint32_t dataBytes = 0;
};

inline Bytes canonicalHeader(const HeaderFields& h) {
    Bytes out;
    putTag(out, "RIFF");
    putLe(out, h.dataBytes + 36, 4);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    putLe(out, 16, 4);
    putLe(out, h.formatTag, 2);
    putLe(out, h.channels, 2);
    putLe(out, h.sampleRate, 4);
    putLe(out, h.sampleRate * h.channels * h.bitsPerSample / 8, 4);
    putLe(out, h.channels * h.bitsPerSample / 8, 2);
    putLe(out, h.bitsPerSample, 2);
    putTag(out, "data");
    putLe(out, h.dataBytes, 4);
    return out;
}

inline uint32_t floatBits(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

inline float bitsFloat(uint32_t bits) {
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// A float file of interleaved samples (frames * channels of them).
inline Bytes floatWav(uint32_t channels, const std::vector<float>& samples,
                      uint32_t sampleRate = 48000) {
    HeaderFields h;
    h.channels = channels;
    h.sampleRate = sampleRate;
    h.dataBytes = uint32_t(samples.size() * 4);
    Bytes out = canonicalHeader(h);
    for (float x : samples) {
        putLe(out, floatBits(x), 4);
    }
    return out;
}

// One float to the native sample, one sample at a time, as plainly as it can be said.
inline int32_t referenceNative(float x, int width) {
    const double top = std::ldexp(1.0, 8 * width - 1);
    const float k = float(top - 1);
    if (std::isnan(x)) {
        return 0;
    }
    const double truncated = std::trunc(double(x) * double(k));
    if (truncated > top - 1) {
        return int32_t(top - 1);
    }
    if (truncated < -top) {
        return int32_t(-top);
    }
    return int32_t(truncated);
}

inline Bytes referenceNativeBytes(float x, int width) {
    Bytes out;
    putLe(out, uint32_t(referenceNative(x, width)), width);
    return out;
}

// One native sample back to the float written: the sign-extended value over 2^(8w-1),
// rounded once to single precision.
inline float referenceFloat(const uint8_t* native, int width) {
    int64_t n = 0;
    for (int i = 0; i < width; ++i) {
        n |= int64_t(native[i]) << (8 * i);
    }
    if (n >= (int64_t(1) << (8 * width - 1))) {
        n -= int64_t(1) << (8 * width);
    }
    return float(double(n) / std::ldexp(1.0, 8 * width - 1));
}

// Each test gets a fresh run state and a directory of its own, removed afterwards.
class WavFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        std::random_device seed;
        dir_ = std::filesystem::temp_directory_path() /
               ("korvane-wav-" + std::to_string(seed()) + "-" + std::to_string(seed()));
        std::filesystem::create_directories(dir_);
    }

    void TearDown() override {
        resetRunState();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::string writeFile(const std::string& name, const Bytes& bytes) const {
        const std::string p = path(name);
        FILE* file = std::fopen(p.c_str(), "wb");
        EXPECT_NE(file, nullptr) << p;
        if (file != nullptr) {
            EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
            std::fclose(file);
        }
        return p;
    }

    static Bytes readFile(const std::string& p) {
        Bytes bytes;
        FILE* file = std::fopen(p.c_str(), "rb");
        if (file == nullptr) {
            return bytes;
        }
        uint8_t chunk[4096];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        std::fclose(file);
        return bytes;
    }

    std::filesystem::path dir_;
};
