#include "loopback_dut.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "driver_config.h"
#include "loopback_samples.h"
#include "measure/maths.h"

namespace {

constexpr size_t kChunk = 256; // values converted at a time, on the stack

// Reads `count` colon-separated numbers after the name's colon, and nothing more.
bool parseNumbers(const char* p, const char* end, double* values, int count) {
    for (int i = 0; i < count; ++i) {
        if (p == end || *p++ != ':') {
            return false;
        }
        const char* next = static_cast<const char*>(std::memchr(p, ':', size_t(end - p)));
        const char* stop = next != nullptr ? next : end;
        if (!parseDecimal(Span{p, size_t(stop - p)}, &values[i])) {
            return false;
        }
        p = stop;
    }
    return p == end;
}

bool startsWith(const char* text, size_t length, const char* word) {
    const size_t n = std::strlen(word);
    return length >= n && std::memcmp(text, word, n) == 0;
}

} // namespace

bool parseLoopbackDut(const char* text, size_t length, LoopbackDut* dut) {
    const char* end = text + length;
    double v[3] = {};
    LoopbackDut parsed;
    if (length == 4 && startsWith(text, length, "none")) {
        *dut = parsed;
        return true;
    }
    if (startsWith(text, length, "poly") && parseNumbers(text + 4, end, v, 2) &&
        std::fabs(v[0]) <= 1000 && std::fabs(v[1]) <= 1000) {
        parsed.kind = LoopbackDutKind::Poly;
        parsed.a2 = v[0];
        parsed.a3 = v[1];
    } else if (startsWith(text, length, "peak") && parseNumbers(text + 4, end, v, 3) && v[0] > 0 &&
               v[0] <= 1e7 && v[1] > 0 && v[1] <= 1000 && std::fabs(v[2]) <= 120) {
        parsed.kind = LoopbackDutKind::Peak;
        parsed.frequency = v[0];
        parsed.q = v[1];
        parsed.gainDb = v[2];
    } else {
        return false;
    }
    *dut = parsed;
    return true;
}

bool prepareLoopbackDut(const LoopbackDut& dut, double rate, LoopbackDutFilter* filter) {
    *filter = LoopbackDutFilter();
    if (dut.kind != LoopbackDutKind::Peak) {
        return true;
    }
    if (!(dut.frequency < rate / 2)) {
        return false;
    }
    const double a = std::pow(10.0, dut.gainDb / 40);
    const double w0 = 2 * kPi * dut.frequency / rate;
    const double alpha = std::sin(w0) / (2 * dut.q);
    const double a0 = 1 + alpha / a;
    filter->b0 = (1 + alpha * a) / a0;
    filter->b1 = -2 * std::cos(w0) / a0;
    filter->b2 = (1 - alpha * a) / a0;
    filter->a1 = filter->b1;
    filter->a2 = (1 - alpha / a) / a0;
    return true;
}

void applyLoopbackDut(const LoopbackDut& dut, const LoopbackDutFilter& filter,
                      LoopbackDutState* state, uint8_t* samples, ASIOSampleType type,
                      size_t frames) {
    if (dut.kind == LoopbackDutKind::None) {
        return;
    }
    const size_t bytes = static_cast<size_t>(sampleTypeBytes(type));
    double values[kChunk];
    for (size_t done = 0; done < frames; done += kChunk) {
        const size_t n = frames - done < kChunk ? frames - done : kChunk;
        uint8_t* at = samples + done * bytes;
        if (!loopbackReadValues(at, type, values, n)) {
            return;
        }
        for (size_t i = 0; i < n; ++i) {
            const double x = values[i];
            if (dut.kind == LoopbackDutKind::Poly) {
                values[i] = x + dut.a2 * x * x + dut.a3 * x * x * x;
            } else {
                const double y = filter.b0 * x + state->s1;
                state->s1 = filter.b1 * x - filter.a1 * y + state->s2;
                state->s2 = filter.b2 * x - filter.a2 * y;
                values[i] = y;
            }
        }
        // A decaying tail would go subnormal, and slow, after the signal ends.
        for (double* s : {&state->s1, &state->s2}) {
            if (std::fabs(*s) < 1e-30) {
                *s = 0;
            }
        }
        loopbackWriteValues(values, type, at, n);
    }
}
