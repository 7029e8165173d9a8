#include "loopback_dut.h"

#include <algorithm>
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

// The fields of "speaker:F0:Q:GAIN[:DEFECT:NUMBERS]..." one by one.
struct Fields {
    const char* p;
    const char* end;

    bool next(Span* field) {
        if (p == end) {
            return false;
        }
        const char* colon = static_cast<const char*>(std::memchr(p, ':', size_t(end - p)));
        const char* stop = colon != nullptr ? colon : end;
        *field = Span{p, size_t(stop - p)};
        p = colon != nullptr ? colon + 1 : end;
        return field->length != 0;
    }
    bool number(double* value, double low, double high) {
        Span field{};
        return next(&field) && parseDecimal(field, value) && *value >= low && *value <= high;
    }
};

bool parseSpeaker(const char* text, const char* end, LoopbackDut* dut) {
    LoopbackDut parsed;
    parsed.kind = LoopbackDutKind::Speaker;
    Fields fields{text + std::strlen("speaker:"), end};
    if (!fields.number(&parsed.frequency, 1e-3, 1e7) || !fields.number(&parsed.q, 0.05, 100) ||
        !fields.number(&parsed.gainDb, -120, 60)) {
        return false;
    }
    Span word{};
    while (fields.next(&word)) {
        bool taken = false;
        if (word.is("rub")) {
            taken = fields.number(&parsed.rubExcursion, 1e-6, 1000) &&
                    fields.number(&parsed.rubLevelDb, -200, 0);
        } else if (word.is("buzz")) {
            taken = fields.number(&parsed.buzzExcursion, 1e-6, 1000);
        } else if (word.is("inverted")) {
            taken = parsed.inverted = true;
        } else if (word.is("leak")) {
            taken = fields.number(&parsed.leakHz, 1e-3, 1e7);
        } else if (word.is("noise")) {
            double seed = 0;
            taken = fields.number(&parsed.noiseDb, -200, 0) &&
                    fields.number(&seed, 0, 4294967295.0) && seed == std::floor(seed);
            parsed.noise = true;
            parsed.noiseSeed = uint32_t(seed);
        }
        if (!taken) {
            return false;
        }
    }
    if (fields.p != end || (end > text && end[-1] == ':')) {
        return false;
    }
    *dut = parsed;
    return true;
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
    } else if (startsWith(text, length, "speaker:")) {
        return parseSpeaker(text, end, dut);
    } else {
        return false;
    }
    *dut = parsed;
    return true;
}

namespace {

// The speaker's mild polynomial: about 0.28 % THD at half of full scale.
constexpr double kSpeakerA2 = 0.01;
constexpr double kSpeakerA3 = 0.02;
constexpr double kBurstSeconds = 0.001;
// The burst falls to e^-5 of its peak over its length.
constexpr double kBurstDecay = 5;

// The cookbook's second-order high-pass (or low-pass) at f with q.
LoopbackBiquad passFilter(double f, double q, double rate, bool high) {
    const double w0 = 2 * kPi * f / rate;
    const double alpha = std::sin(w0) / (2 * q);
    const double c = std::cos(w0);
    const double a0 = 1 + alpha;
    LoopbackBiquad b;
    b.b0 = (high ? (1 + c) : (1 - c)) / 2 / a0;
    b.b1 = (high ? -(1 + c) : (1 - c)) / a0;
    b.b2 = b.b0;
    b.a1 = -2 * c / a0;
    b.a2 = (1 - alpha) / a0;
    return b;
}

double biquad(const LoopbackBiquad& f, double x, double* s1, double* s2) {
    const double y = f.b0 * x + *s1;
    *s1 = f.b1 * x - f.a1 * y + *s2;
    *s2 = f.b2 * x - f.a2 * y;
    return y;
}

// xorshift32: a uniform value in [-1, 1).
double nextRandom(uint32_t* state) {
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    *state = x;
    return double(x) / 2147483648.0 - 1;
}

void flushTiny(std::initializer_list<double*> values) {
    // A decaying tail would go subnormal, and slow, after the signal ends.
    for (double* s : values) {
        if (std::fabs(*s) < 1e-30) {
            *s = 0;
        }
    }
}

double speakerValue(const LoopbackDut& dut, const LoopbackDutFilter& f, LoopbackDutState* st,
                    double x) {
    double y = biquad(f, x + kSpeakerA2 * x * x + kSpeakerA3 * x * x * x, &st->s1, &st->s2);
    if (dut.leakHz > 0) {
        const double out = (y - st->leakIn + (1 - f.leak) * st->leakOut) / (1 + f.leak);
        st->leakIn = y;
        st->leakOut = out;
        y = out;
    }
    const double e = biquad(f.excursion, x, &st->e1, &st->e2);
    if (dut.buzzExcursion > 0) {
        const double excess =
            std::fabs(e) > dut.buzzExcursion ? e - std::copysign(dut.buzzExcursion, e) : 0;
        y -= f.buzzScale * (excess - 2 * st->excess1 + st->excess2);
        st->excess2 = st->excess1;
        st->excess1 = excess;
    }
    y *= dut.inverted ? -f.gain : f.gain;
    if (dut.rubExcursion > 0) {
        const bool past = std::fabs(e) > dut.rubExcursion;
        if (past && !st->pastRub) {
            st->burstLeft = f.burstFrames;
            st->burstEnvelope = f.rubPeak;
        }
        st->pastRub = past;
        if (st->burstLeft > 0) {
            y += st->burstEnvelope * nextRandom(&st->burstRandom);
            st->burstEnvelope *= std::exp(-kBurstDecay / double(f.burstFrames));
            --st->burstLeft;
        }
    }
    if (dut.noise) {
        // Uniform over +-sqrt(3) RMS: white, with the RMS asked for.
        y += f.noiseRms * std::sqrt(3.0) * nextRandom(&st->noiseRandom);
    }
    return y;
}

} // namespace

bool prepareLoopbackDut(const LoopbackDut& dut, double rate, LoopbackDutFilter* filter,
                        double* fault) {
    *filter = LoopbackDutFilter();
    if (dut.kind != LoopbackDutKind::Peak && dut.kind != LoopbackDutKind::Speaker) {
        return true;
    }
    for (double f : {dut.frequency, dut.leakHz}) {
        if (!(f < rate / 2)) {
            if (fault != nullptr) {
                *fault = f;
            }
            return false;
        }
    }
    if (dut.kind == LoopbackDutKind::Speaker) {
        static_cast<LoopbackBiquad&>(*filter) = passFilter(dut.frequency, dut.q, rate, true);
        filter->excursion = passFilter(dut.frequency, dut.q, rate, false);
        filter->leak = std::tan(kPi * dut.leakHz / rate);
        filter->gain = std::pow(10.0, dut.gainDb / 20);
        filter->rubPeak = std::pow(10.0, dut.rubLevelDb / 20);
        filter->noiseRms = std::pow(10.0, dut.noiseDb / 20);
        filter->burstFrames = std::max(1u, uint32_t(std::lround(kBurstSeconds * rate)));
        const double periods = rate / (2 * kPi * dut.frequency);
        filter->buzzScale = periods * periods;
        return true;
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

LoopbackDutState startLoopbackDut(const LoopbackDut& dut, int32_t channel) {
    LoopbackDutState state;
    // Never zero, which xorshift would keep; each output its own streams.
    state.noiseRandom = (dut.noiseSeed * 2654435761u + uint32_t(channel) * 40503u) | 1u;
    state.burstRandom = (uint32_t(channel) * 2246822519u + 374761393u) | 1u;
    return state;
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
            } else if (dut.kind == LoopbackDutKind::Speaker) {
                values[i] = speakerValue(dut, filter, state, x);
            } else {
                const double y = filter.b0 * x + state->s1;
                state->s1 = filter.b1 * x - filter.a1 * y + state->s2;
                state->s2 = filter.b2 * x - filter.a2 * y;
                values[i] = y;
            }
        }
        flushTiny(
            {&state->s1, &state->s2, &state->e1, &state->e2, &state->leakIn, &state->leakOut});
        loopbackWriteValues(values, type, at, n);
    }
}
