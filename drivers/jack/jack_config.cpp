#include "jack_config.h"

#include "driver_config.h"

namespace {

using Key = ConfigKey<JackConfig>;

// One row per key; a new key is one more row.
const Key kKeys[] = {
    {"server", [](Span v, JackConfig& c) { return parseWhole(v, c.server, sizeof c.server); }},
    {"client", [](Span v, JackConfig& c) { return parseWhole(v, c.client, sizeof c.client); }},
    {"capture", [](Span v, JackConfig& c) { return parseWhole(v, c.capture, sizeof c.capture); }},
    {"playback",
     [](Span v, JackConfig& c) { return parseWhole(v, c.playback, sizeof c.playback); }},
    {"connect", [](Span v, JackConfig& c) { return parseFlag(v, &c.connect); }},
    {"inputs", [](Span v, JackConfig& c) { return parseInt32(v, 0, kJackMaxChannels, &c.inputs); }},
    {"outputs",
     [](Span v, JackConfig& c) { return parseInt32(v, 0, kJackMaxChannels, &c.outputs); }},
    {"type",
     [](Span v, JackConfig& c) { return parseInt32(v, ASIOSTInt16LSB, ASIOSTInt32LSB, &c.type); }},
    {"trace", [](Span v, JackConfig& c) { return parseWhole(v, c.trace, sizeof c.trace); }},
};

} // namespace

bool parseJackConfig(const char* text, JackConfig* config, char* message, size_t messageCapacity) {
    return parseConfigList("KORVANE_JACK", text, kKeys, config, message, messageCapacity);
}
