// Korvane JACK's settings, read from KORVANE_JACK ("key=value,key=value...") when the host
// calls init.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver_config.h"
#include "host/asio.h"

constexpr int kJackTextCapacity = kDriverTextCapacity;
constexpr int kJackNameCapacity = 64;     // a JACK client or server name and its terminator
constexpr int kJackPatternCapacity = 320; // a full JACK port name and its terminator
constexpr int kJackPathCapacity = 1024;
constexpr int32_t kJackMaxChannels = 4096;

struct JackConfig {
    char server[kJackNameCapacity] = ""; // empty: JACK's default (JACK_DEFAULT_SERVER)
    char client[kJackNameCapacity] = "korvane";
    char capture[kJackPatternCapacity] = "";  // empty: the physical capture ports
    char playback[kJackPatternCapacity] = ""; // empty: the physical playback ports
    bool connect = true;
    int32_t inputs = -1; // -1: as many as the capture ports matched
    int32_t outputs = -1;
    ASIOSampleType type = ASIOSTInt32LSB;
    char trace[kJackPathCapacity] = ""; // empty: no trace
};

// Parses `text` (null or empty: all defaults) over the defaults into `config`. Returns
// true on success; otherwise false with a message naming the offending key or item in
// `message`. Keys given twice take the later value. Even on failure a `trace` met before
// the fault is kept, so the failed init is traced.
bool parseJackConfig(const char* text, JackConfig* config, char* message, size_t messageCapacity);
