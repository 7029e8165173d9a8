#include "loopback_samples.h"

#include <cmath>
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

int significantBits(const IntegerLayout& l) {
    return l.bytes == 4 ? l.bits : 8 * l.bytes;
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

bool loopbackReadValues(const uint8_t* from, ASIOSampleType type, double* values, size_t frames) {
    IntegerLayout layout{};
    if (integerLayout(type, &layout)) {
        for (size_t i = 0; i < frames; ++i) {
            values[i] =
                static_cast<int32_t>(readScaled(from + i * layout.bytes, layout)) / 2147483648.0;
        }
        return true;
    }
    for (size_t i = 0; i < frames; ++i) {
        if (type == ASIOSTFloat32LSB) {
            float value;
            std::memcpy(&value, from + 4 * i, 4);
            values[i] = value;
        } else if (type == ASIOSTFloat64LSB) {
            std::memcpy(&values[i], from + 8 * i, 8);
        } else {
            return false;
        }
    }
    return true;
}

bool loopbackWriteValues(const double* values, ASIOSampleType type, uint8_t* to, size_t frames) {
    IntegerLayout layout{};
    if (integerLayout(type, &layout)) {
        const int bits = significantBits(layout);
        const double top = std::ldexp(1.0, bits - 1);
        for (size_t i = 0; i < frames; ++i) {
            const double step = std::nearbyint(values[i] * top);
            const double clipped = step >= top ? top - 1 : step < -top ? -top : step;
            // NaN compares false everywhere and becomes silence.
            const int64_t native = clipped == clipped ? static_cast<int64_t>(clipped) : 0;
            const uint32_t scaled =
                static_cast<uint32_t>(static_cast<uint64_t>(native) << (32 - bits));
            writeScaled(to + i * layout.bytes, scaled, layout);
        }
        return true;
    }
    for (size_t i = 0; i < frames; ++i) {
        if (type == ASIOSTFloat32LSB) {
            const float value = static_cast<float>(values[i]);
            std::memcpy(to + 4 * i, &value, 4);
        } else if (type == ASIOSTFloat64LSB) {
            std::memcpy(to + 8 * i, &values[i], 8);
        } else {
            return false;
        }
    }
    return true;
}
