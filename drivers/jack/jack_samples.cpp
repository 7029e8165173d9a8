#include "jack_samples.h"

#include <cstring>

#include "host/sample_types.h"

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

template <int Bytes> constexpr double kFullScale = static_cast<double>(1ull << (8 * Bytes - 1));

// The halves are little-endian, as the machines the driver runs on: a sample is the low
// bytes of its 32-bit value. Whole words go by memcpy, which compilers make one move of; three
// bytes go one by one, which they handle better than a memcpy of three.
template <int Bytes> void store(uint8_t* to, uint32_t value) {
    if constexpr (Bytes == 3) {
        for (int b = 0; b < Bytes; ++b) {
            to[b] = static_cast<uint8_t>(value >> (8 * b));
        }
    } else {
        std::memcpy(to, &value, Bytes);
    }
}

template <int Bytes> uint32_t load(const uint8_t* from) {
    uint32_t value = 0;
    if constexpr (Bytes == 3) {
        for (int b = 0; b < Bytes; ++b) {
            value |= static_cast<uint32_t>(from[b]) << (8 * b);
        }
    } else {
        std::memcpy(&value, from, Bytes);
    }
    return value;
}

template <int Bytes> void fromFloat(const float* from, uint8_t* to, size_t frames) {
    for (size_t i = 0; i < frames; ++i) {
        store<Bytes>(to + Bytes * i, static_cast<uint32_t>(scaled(from[i], kFullScale<Bytes>)));
    }
}

template <int Bytes> void toFloat(const uint8_t* from, float* to, size_t frames) {
    constexpr float kStep = static_cast<float>(1.0 / kFullScale<Bytes>);
    constexpr int kPad = 8 * (4 - Bytes);
    for (size_t i = 0; i < frames; ++i) {
        // The sample at the top of 32 bits, its sign shifted down over the rest.
        const uint32_t raw = load<Bytes>(from + Bytes * i) << kPad;
        to[i] = static_cast<float>(static_cast<int32_t>(raw) >> kPad) * kStep;
    }
}

void leaveFromFloat(const float*, uint8_t*, size_t) {}
void leaveToFloat(const uint8_t*, float*, size_t) {}

} // namespace

JackSamples jackSamples(ASIOSampleType type) {
    const SampleTypeInfo* row = findSampleType(type);
    if (row != nullptr && row->kind == SampleKind::Integer && !row->msbFirst &&
        row->bits == 8 * row->bytes) {
        switch (row->bytes) {
        case 2:
            return {2, fromFloat<2>, toFloat<2>};
        case 3:
            return {3, fromFloat<3>, toFloat<3>};
        case 4:
            return {4, fromFloat<4>, toFloat<4>};
        default:
            break;
        }
    }
    return {static_cast<size_t>(sampleTypeBytes(type)), leaveFromFloat, leaveToFloat};
}
