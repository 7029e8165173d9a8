#include "loopback_config.h"

#include <cstdio>
#include <cstring>

#include "host/text.h"
#include "loopback_samples.h"

namespace {

// A piece of the configuration text, not zero-terminated.
struct Span {
    const char* begin;
    size_t length;

    bool is(const char* word) const {
        return std::strlen(word) == length && std::memcmp(begin, word, length) == 0;
    }
};

Span trim(Span s) {
    while (s.length > 0 && isBlank(s.begin[0])) {
        ++s.begin;
        --s.length;
    }
    while (s.length > 0 && isBlank(s.begin[s.length - 1])) {
        --s.length;
    }
    return s;
}

bool parseInteger(Span s, int64_t min, int64_t max, int64_t* out) {
    size_t i = 0;
    bool negative = false;
    if (i < s.length && (s.begin[i] == '-' || s.begin[i] == '+')) {
        negative = s.begin[i] == '-';
        ++i;
    }
    if (i == s.length) {
        return false;
    }
    int64_t value = 0;
    for (; i < s.length; ++i) {
        const char c = s.begin[i];
        if (c < '0' || c > '9') {
            return false;
        }
        if (value > ((int64_t{1} << 62) - (c - '0')) / 10) {
            return false; // checked before it could overflow
        }
        value = value * 10 + (c - '0');
    }
    if (negative) {
        value = -value;
    }
    if (value < min || value > max) {
        return false;
    }
    *out = value;
    return true;
}

bool parseInt32(Span s, int32_t min, int32_t max, int32_t* out) {
    int64_t value = 0;
    if (!parseInteger(s, min, max, &value)) {
        return false;
    }
    *out = static_cast<int32_t>(value);
    return true;
}

bool parseFlag(Span s, bool* out) {
    if (s.is("0") || s.is("1")) {
        *out = s.is("1");
        return true;
    }
    return false;
}

// Digits with an optional fraction; no sign, no exponent, so no locale is involved.
bool parseRate(Span s, double* out) {
    double value = 0;
    double scale = 0;
    int digits = 0;
    for (size_t i = 0; i < s.length; ++i) {
        const char c = s.begin[i];
        if (c == '.' && scale == 0) {
            scale = 1;
        } else if (c >= '0' && c <= '9') {
            if (scale == 0) {
                value = value * 10 + (c - '0');
            } else {
                scale /= 10;
                value += (c - '0') * scale;
            }
            ++digits;
        } else {
            return false;
        }
    }
    if (digits == 0 || digits > 15 || value <= 0 || value > 10000000.0) {
        return false;
    }
    *out = value;
    return true;
}

bool parseSampleType(Span s, ASIOSampleType* out) {
    int32_t value = 0;
    if (!parseInt32(s, 0, 255, &value) || sampleTypeBytes(value) == 0) {
        return false;
    }
    *out = value;
    return true;
}

bool parseFail(Span s, LoopbackConfig* config) {
    static const struct {
        const char* name;
        uint32_t flag;
    } kFailures[] = {{"init", kFailInit},
                     {"channels", kFailChannels},
                     {"buffersize", kFailBufferSize},
                     {"cansamplerate", kFailCanSampleRate},
                     {"setsamplerate", kFailSetSampleRate},
                     {"createbuffers", kFailCreateBuffers},
                     {"start", kFailStart}};
    for (const auto& failure : kFailures) {
        if (s.is(failure.name)) {
            config->fail |= failure.flag;
            return true;
        }
    }
    const char kChannelInfo[] = "channelinfo:";
    const size_t prefix = sizeof kChannelInfo - 1;
    if (s.length > prefix && std::memcmp(s.begin, kChannelInfo, prefix) == 0) {
        return parseInt32(Span{s.begin + prefix, s.length - prefix}, 1, INT32_MAX,
                          &config->failChannelInfo);
    }
    return false;
}

// A text that must not be cut (a path) is refused when it does not fit.
bool copyText(Span s, char* out, size_t capacity, bool cut) {
    return copyTruncated(out, capacity, s.begin, s.length) || cut;
}

constexpr int32_t kFrameLimit = 1 << 24;

enum class Outcome { kOk, kUnknownKey, kBadValue };

Outcome applyKey(Span key, Span value, LoopbackConfig* c) {
    bool ok = false;
    if (key.is("inputs")) {
        ok = parseInt32(value, 0, 4096, &c->inputs);
    } else if (key.is("outputs")) {
        ok = parseInt32(value, 0, 4096, &c->outputs);
    } else if (key.is("type")) {
        ok = parseSampleType(value, &c->inType);
        c->outType = c->inType;
    } else if (key.is("intype")) {
        ok = parseSampleType(value, &c->inType);
    } else if (key.is("outtype")) {
        ok = parseSampleType(value, &c->outType);
    } else if (key.is("rates")) {
        c->rateCount = 0;
        ok = parseRate(value, &c->rates[0]);
        if (ok) {
            c->rateCount = 1;
        }
    } else if (key.is("reportrate")) {
        ok = parseRate(value, &c->reportRate);
    } else if (key.is("minbuf")) {
        ok = parseInt32(value, 0, kFrameLimit, &c->minBuf);
    } else if (key.is("maxbuf")) {
        ok = parseInt32(value, 0, kFrameLimit, &c->maxBuf);
    } else if (key.is("prefbuf")) {
        ok = parseInt32(value, 0, kFrameLimit, &c->prefBuf);
    } else if (key.is("granularity")) {
        ok = parseInt32(value, -1, kFrameLimit, &c->granularity);
    } else if (key.is("inextra")) {
        ok = parseInt32(value, 0, kFrameLimit, &c->inExtra);
    } else if (key.is("outextra")) {
        ok = parseInt32(value, 0, kFrameLimit, &c->outExtra);
    } else if (key.is("delay")) {
        ok = parseInt32(value, 0, kFrameLimit, &c->delay);
    } else if (key.is("clock")) {
        ok = value.is("realtime") || value.is("fast");
        c->clock = value.is("fast") ? kClockFast : kClockRealtime;
    } else if (key.is("timeinfo")) {
        ok = parseFlag(value, &c->timeInfo);
    } else if (key.is("position")) {
        ok = parseFlag(value, &c->position);
    } else if (key.is("outputready")) {
        ok = parseFlag(value, &c->outputReady);
    } else if (key.is("startswitch")) {
        ok = parseFlag(value, &c->startSwitch);
    } else if (key.is("switches")) {
        ok = parseInteger(value, 0, int64_t{1} << 62, &c->switches);
    } else if (key.is("drop")) {
        ok = parseInteger(value, 1, int64_t{1} << 62, &c->drop);
    } else if (key.is("fail")) {
        ok = parseFail(value, c);
    } else if (key.is("errortext")) {
        ok = copyText(value, c->errorText, sizeof c->errorText, true);
    } else if (key.is("dut")) {
        ok = parseLoopbackDut(value.begin, value.length, &c->dut);
    } else if (key.is("trace")) {
        ok = value.length > 0 && copyText(value, c->trace, sizeof c->trace, false);
    } else {
        return Outcome::kUnknownKey;
    }
    return ok ? Outcome::kOk : Outcome::kBadValue;
}

int spanLength(Span s) {
    return static_cast<int>(s.length < 100 ? s.length : 100);
}

} // namespace

bool parseLoopbackConfig(const char* text, LoopbackConfig* config, char* message,
                         size_t messageCapacity) {
    if (messageCapacity > 0) {
        message[0] = '\0';
    }
    if (text == nullptr) {
        return true;
    }
    bool inRates = false; // items without '=' continue a rates list
    const char* p = text;
    for (;;) {
        const char* end = std::strchr(p, ',');
        const Span item =
            trim(Span{p, end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p)});
        if (item.length > 0) {
            const char* equals =
                static_cast<const char*>(std::memchr(item.begin, '=', item.length));
            if (equals == nullptr) {
                if (!inRates) {
                    std::snprintf(message, messageCapacity,
                                  "KORVANE_LOOPBACK: '%.*s' is not key=value", spanLength(item),
                                  item.begin);
                    return false;
                }
                if (config->rateCount == kLoopbackMaxRates ||
                    !parseRate(item, &config->rates[config->rateCount])) {
                    std::snprintf(message, messageCapacity,
                                  "KORVANE_LOOPBACK: bad value for rates: '%.*s'", spanLength(item),
                                  item.begin);
                    return false;
                }
                ++config->rateCount;
            } else {
                const Span key = trim(Span{item.begin, static_cast<size_t>(equals - item.begin)});
                const Span value = trim(
                    Span{equals + 1, static_cast<size_t>(item.begin + item.length - (equals + 1))});
                const Outcome outcome = applyKey(key, value, config);
                if (outcome == Outcome::kUnknownKey) {
                    std::snprintf(message, messageCapacity, "KORVANE_LOOPBACK: unknown key '%.*s'",
                                  spanLength(key), key.begin);
                    return false;
                }
                if (outcome == Outcome::kBadValue) {
                    std::snprintf(message, messageCapacity,
                                  "KORVANE_LOOPBACK: bad value for %.*s: '%.*s'", spanLength(key),
                                  key.begin, spanLength(value), value.begin);
                    return false;
                }
                inRates = key.is("rates");
            }
        }
        if (end == nullptr) {
            return true;
        }
        p = end + 1;
    }
}
