#include "loopback_config.h"

#include <cstdio>
#include <cstring>

#include "driver_config.h"
#include "loopback_samples.h"

namespace {

// A positive rate, unsigned.
bool parseRate(Span s, double* out) {
    double value = 0;
    if (s.length == 0 || s.begin[0] == '-' || s.begin[0] == '+' || !parseDecimal(s, &value) ||
        value <= 0 || value > 10000000.0) {
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

bool parseFail(Span s, LoopbackConfig& config) {
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
            config.fail |= failure.flag;
            return true;
        }
    }
    const char kChannelInfo[] = "channelinfo:";
    const size_t prefix = sizeof kChannelInfo - 1;
    if (s.length > prefix && std::memcmp(s.begin, kChannelInfo, prefix) == 0) {
        return parseInt32(Span{s.begin + prefix, s.length - prefix}, 1, INT32_MAX,
                          &config.failChannelInfo);
    }
    return false;
}

// A further item of a rates list.
bool addRate(Span s, LoopbackConfig& c) {
    if (c.rateCount == kLoopbackMaxRates || !parseRate(s, &c.rates[c.rateCount])) {
        return false;
    }
    ++c.rateCount;
    return true;
}

constexpr int32_t kFrameLimit = 1 << 24;

using Key = ConfigKey<LoopbackConfig>;

// One row per key; a new key is one more row.
const Key kKeys[] = {
    {"inputs", [](Span v, LoopbackConfig& c) { return parseInt32(v, 0, 4096, &c.inputs); }},
    {"outputs", [](Span v, LoopbackConfig& c) { return parseInt32(v, 0, 4096, &c.outputs); }},
    {"type",
     [](Span v, LoopbackConfig& c) {
         const bool ok = parseSampleType(v, &c.inType);
         c.outType = c.inType;
         return ok;
     }},
    {"intype", [](Span v, LoopbackConfig& c) { return parseSampleType(v, &c.inType); }},
    {"outtype", [](Span v, LoopbackConfig& c) { return parseSampleType(v, &c.outType); }},
    {"rates",
     [](Span v, LoopbackConfig& c) {
         c.rateCount = 0;
         return addRate(v, c);
     },
     addRate},
    {"reportrate", [](Span v, LoopbackConfig& c) { return parseRate(v, &c.reportRate); }},
    {"minbuf", [](Span v, LoopbackConfig& c) { return parseInt32(v, 0, kFrameLimit, &c.minBuf); }},
    {"maxbuf", [](Span v, LoopbackConfig& c) { return parseInt32(v, 0, kFrameLimit, &c.maxBuf); }},
    {"prefbuf",
     [](Span v, LoopbackConfig& c) { return parseInt32(v, 0, kFrameLimit, &c.prefBuf); }},
    {"granularity",
     [](Span v, LoopbackConfig& c) { return parseInt32(v, -1, kFrameLimit, &c.granularity); }},
    {"inextra",
     [](Span v, LoopbackConfig& c) { return parseInt32(v, 0, kFrameLimit, &c.inExtra); }},
    {"outextra",
     [](Span v, LoopbackConfig& c) { return parseInt32(v, 0, kFrameLimit, &c.outExtra); }},
    {"delay", [](Span v, LoopbackConfig& c) { return parseInt32(v, 0, kFrameLimit, &c.delay); }},
    {"clock",
     [](Span v, LoopbackConfig& c) {
         c.clock = v.is("fast") ? kClockFast : kClockRealtime;
         return v.is("realtime") || v.is("fast");
     }},
    {"timeinfo", [](Span v, LoopbackConfig& c) { return parseFlag(v, &c.timeInfo); }},
    {"position", [](Span v, LoopbackConfig& c) { return parseFlag(v, &c.position); }},
    {"outputready", [](Span v, LoopbackConfig& c) { return parseFlag(v, &c.outputReady); }},
    {"startswitch", [](Span v, LoopbackConfig& c) { return parseFlag(v, &c.startSwitch); }},
    {"tracecodepage", [](Span v, LoopbackConfig& c) { return parseFlag(v, &c.traceCodePage); }},
    {"switches",
     [](Span v, LoopbackConfig& c) { return parseInteger(v, 0, int64_t{1} << 62, &c.switches); }},
    {"drop",
     [](Span v, LoopbackConfig& c) { return parseInteger(v, 1, int64_t{1} << 62, &c.drop); }},
    {"fail", parseFail},
    {"errortext",
     [](Span v, LoopbackConfig& c) { return copyText(v, c.errorText, sizeof c.errorText, true); }},
    {"dut", [](Span v, LoopbackConfig& c) { return parseLoopbackDut(v.begin, v.length, &c.dut); }},
    {"trace", [](Span v, LoopbackConfig& c) { return parseWhole(v, c.trace, sizeof c.trace); }},
};

} // namespace

bool parseLoopbackConfig(const char* text, LoopbackConfig* config, char* message,
                         size_t messageCapacity) {
    return parseConfigList("KORVANE_LOOPBACK", text, kKeys, config, message, messageCapacity);
}
