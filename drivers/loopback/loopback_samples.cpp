#include "loopback_samples.h"

#include <cstring>

namespace {

// Significant bits of an integer type and whether its bytes run most significant first.
struct IntegerLayout {
    int bytes;
    int bits;
    bool msb;
};

bool integerLayout(ASIOSampleType type, IntegerLayout* layout) {
    const SampleTypeInfo* row = findSampleType(type);
    if (row == nullptr || row->kind != SampleKind::Integer) {
        return false;
    }
    *layout = {row->bytes, row->bits, row->msbFirst};
    return true;
}

// The sample as a full-scale 32-bit value (its significant bits at the top).
uint32_t readScaled(const uint8_t* p, const IntegerLayout& l) {
    uint32_t raw = 0;
    for (int i = 0; i < l.bytes; ++i) {
        const int shift = 8 * (l.msb ? l.bytes - 1 - i : i);
        raw |= static_cast<uint32_t>(p[i]) << shift;
    }
    return raw << (32 - (l.bytes == 4 ? l.bits : 8 * l.bytes));
}

void writeScaled(uint8_t* p, uint32_t value, const IntegerLayout& l) {
    // Arithmetic shift keeps the sign of a right-justified container's value.
    const int drop = 32 - (l.bytes == 4 ? l.bits : 8 * l.bytes);
    const int32_t signedValue = static_cast<int32_t>(value);
    const uint32_t raw = static_cast<uint32_t>(signedValue >> drop);
    for (int i = 0; i < l.bytes; ++i) {
        const int shift = 8 * (l.msb ? l.bytes - 1 - i : i);
        p[i] = static_cast<uint8_t>(raw >> shift);
    }
}

} // namespace

void loopbackConvert(const uint8_t* from, ASIOSampleType fromType, uint8_t* to,
                     ASIOSampleType toType, size_t frames) {
    if (fromType == toType) {
        std::memcpy(to, from, frames * static_cast<size_t>(sampleTypeBytes(toType)));
        return;
    }
    IntegerLayout source{};
    IntegerLayout target{};
    if (!integerLayout(fromType, &source) || !integerLayout(toType, &target)) {
        std::memset(to, 0, frames * static_cast<size_t>(sampleTypeBytes(toType)));
        return;
    }
    for (size_t i = 0; i < frames; ++i) {
        writeScaled(to + i * target.bytes, readScaled(from + i * source.bytes, source), target);
    }
}
