// The loopback driver's settings, read from KORVANE_LOOPBACK ("key=value,key=value...")
// when the host calls init.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver_config.h"
#include "host/asio.h"
#include "loopback_dut.h"

constexpr int kLoopbackMaxRates = 32;
constexpr int kLoopbackTextCapacity = kDriverTextCapacity;
constexpr int kLoopbackPathCapacity = 1024;

enum LoopbackClock { kClockRealtime, kClockFast };

// Operations that `fail=` makes fail; more than one may be given.
enum : uint32_t {
    kFailInit = 1u << 0,
    kFailChannels = 1u << 1,
    kFailBufferSize = 1u << 2,
    kFailCanSampleRate = 1u << 3,
    kFailSetSampleRate = 1u << 4,
    kFailCreateBuffers = 1u << 5,
    kFailStart = 1u << 6
};

struct LoopbackConfig {
    int32_t inputs = 8;
    int32_t outputs = 8;
    ASIOSampleType inType = ASIOSTInt32LSB;
    ASIOSampleType outType = ASIOSTInt32LSB;
    double rates[kLoopbackMaxRates] = {44100, 48000, 88200, 96000, 176400, 192000};
    int rateCount = 6;
    double reportRate = 0; // 0: report the current rate
    int32_t minBuf = 16;
    int32_t maxBuf = 8192;
    int32_t prefBuf = 256;
    int32_t granularity = -1;
    int32_t inExtra = 0;
    int32_t outExtra = 0;
    int32_t delay = -1; // -1: input latency + output latency
    LoopbackClock clock = kClockRealtime;
    bool timeInfo = true;
    bool position = true;
    bool outputReady = true;
    bool startSwitch = false;
    bool traceCodePage = false; // trace the process's ANSI code page at init
    int64_t switches = -1;      // -1: unlimited
    int64_t drop = 0;           // 0: none; else the switch (from 1) that loses a buffer period
    uint32_t fail = 0;
    int32_t failChannelInfo = 0; // 0: none; else the getChannelInfo call (from 1) that fails
    char errorText[kLoopbackTextCapacity] = "Loopback init failed";
    char trace[kLoopbackPathCapacity] = ""; // empty: no trace
    LoopbackDut dut;
};

// Parses `text` (null or empty: all defaults) over the defaults into `config`. Returns
// true on success; otherwise false with a message naming the offending key or item in
// `message`. Keys given twice take the later value, except `fail`, which accumulates.
// Even on failure a `trace` met before the fault is kept, so the failed init is traced.
bool parseLoopbackConfig(const char* text, LoopbackConfig* config, char* message,
                         size_t messageCapacity);
