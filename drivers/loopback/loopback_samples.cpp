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
    switch (type) {
    case ASIOSTInt16MSB:
        *layout = {2, 16, true};
        return true;
    case ASIOSTInt24MSB:
        *layout = {3, 24, true};
        return true;
    case ASIOSTInt32MSB:
        *layout = {4, 32, true};
        return true;
    case ASIOSTInt32MSB16:
        *layout = {4, 16, true};
        return true;
    case ASIOSTInt32MSB18:
        *layout = {4, 18, true};
        return true;
    case ASIOSTInt32MSB20:
        *layout = {4, 20, true};
        return true;
    case ASIOSTInt32MSB24:
        *layout = {4, 24, true};
        return true;
    case ASIOSTInt16LSB:
        *layout = {2, 16, false};
        return true;
    case ASIOSTInt24LSB:
        *layout = {3, 24, false};
        return true;
    case ASIOSTInt32LSB:
        *layout = {4, 32, false};
        return true;
    case ASIOSTInt32LSB16:
        *layout = {4, 16, false};
        return true;
    case ASIOSTInt32LSB18:
        *layout = {4, 18, false};
        return true;
    case ASIOSTInt32LSB20:
        *layout = {4, 20, false};
        return true;
    case ASIOSTInt32LSB24:
        *layout = {4, 24, false};
        return true;
    default:
        return false;
    }
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

int32_t loopbackSampleBytes(ASIOSampleType type) {
    IntegerLayout layout{};
    if (integerLayout(type, &layout)) {
        return layout.bytes;
    }
    switch (type) {
    case ASIOSTFloat32MSB:
    case ASIOSTFloat32LSB:
        return 4;
    case ASIOSTFloat64MSB:
    case ASIOSTFloat64LSB:
        return 8;
    case ASIOSTDSDInt8LSB1:
    case ASIOSTDSDInt8MSB1:
    case ASIOSTDSDInt8NER8:
        return 1;
    default:
        return 0;
    }
}

bool loopbackIsIntegerType(ASIOSampleType type) {
    IntegerLayout layout{};
    return integerLayout(type, &layout);
}

void loopbackConvert(const uint8_t* from, ASIOSampleType fromType, uint8_t* to,
                     ASIOSampleType toType, size_t frames) {
    if (fromType == toType) {
        std::memcpy(to, from, frames * static_cast<size_t>(loopbackSampleBytes(toType)));
        return;
    }
    IntegerLayout source{};
    IntegerLayout target{};
    if (!integerLayout(fromType, &source) || !integerLayout(toType, &target)) {
        std::memset(to, 0, frames * static_cast<size_t>(loopbackSampleBytes(toType)));
        return;
    }
    for (size_t i = 0; i < frames; ++i) {
        writeScaled(to + i * target.bytes, readScaled(from + i * source.bytes, source), target);
    }
}
