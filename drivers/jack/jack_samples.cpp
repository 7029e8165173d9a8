#include "jack_samples.h"

#include <cstring>

namespace {

// Rounds an integral-range double to the nearest integer, ties to even, without a library
// call: adding and taking away 1.5 * 2^52 leaves no fraction bits in the sum.
constexpr double kRounder = 6755399441055744.0;

// The scaled, clipped, rounded sample; not-a-number is 0.
inline int32_t scaled(float x, double fullScale) {
    double v = static_cast<double>(x) * fullScale;
    v = v == v ? v : 0.0;
    v = v < -fullScale ? -fullScale : v;
    v = v > fullScale - 1.0 ? fullScale - 1.0 : v;
    return static_cast<int32_t>((v + kRounder) - kRounder);
}

} // namespace

void jackFromFloat(const float* from, uint8_t* to, ASIOSampleType type, size_t frames) {
    switch (type) {
    case ASIOSTInt16LSB:
        for (size_t i = 0; i < frames; ++i) {
            const int16_t v = static_cast<int16_t>(scaled(from[i], 32768.0));
            std::memcpy(to + 2 * i, &v, 2);
        }
        break;
    case ASIOSTInt24LSB:
        for (size_t i = 0; i < frames; ++i) {
            const uint32_t v = static_cast<uint32_t>(scaled(from[i], 8388608.0));
            to[3 * i] = static_cast<uint8_t>(v);
            to[3 * i + 1] = static_cast<uint8_t>(v >> 8);
            to[3 * i + 2] = static_cast<uint8_t>(v >> 16);
        }
        break;
    case ASIOSTInt32LSB:
        for (size_t i = 0; i < frames; ++i) {
            const int32_t v = scaled(from[i], 2147483648.0);
            std::memcpy(to + 4 * i, &v, 4);
        }
        break;
    default:
        break;
    }
}

void jackToFloat(const uint8_t* from, float* to, ASIOSampleType type, size_t frames) {
    switch (type) {
    case ASIOSTInt16LSB:
        for (size_t i = 0; i < frames; ++i) {
            int16_t v;
            std::memcpy(&v, from + 2 * i, 2);
            to[i] = static_cast<float>(v) * (1.0f / 32768.0f);
        }
        break;
    case ASIOSTInt24LSB:
        for (size_t i = 0; i < frames; ++i) {
            // The top byte's sign, shifted down over the other two.
            const uint32_t raw = static_cast<uint32_t>(from[3 * i]) << 8 |
                                 static_cast<uint32_t>(from[3 * i + 1]) << 16 |
                                 static_cast<uint32_t>(from[3 * i + 2]) << 24;
            to[i] = static_cast<float>(static_cast<int32_t>(raw) >> 8) * (1.0f / 8388608.0f);
        }
        break;
    case ASIOSTInt32LSB:
        for (size_t i = 0; i < frames; ++i) {
            int32_t v;
            std::memcpy(&v, from + 4 * i, 4);
            to[i] = static_cast<float>(v) * (1.0f / 2147483648.0f);
        }
        break;
    default:
        break;
    }
}
