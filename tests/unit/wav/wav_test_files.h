// Temporary files and the per-sample reference conversions for the WAV tests.
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
#include "support/wav_bytes.h"

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
        EXPECT_TRUE(writeBytes(p, bytes)) << p;
        return p;
    }

    std::filesystem::path dir_;
};
