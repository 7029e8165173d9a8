// KORVANE_JACK's parser on any text: it stays inside the text and the config, ends its
// message and every name, and on success every value is within its key's range.
#include <cstring>

#include "fuzz_config.h"
#include "jack_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    JackConfig c;
    if (!fuzzParseConfig(data, size, parseJackConfig, "KORVANE_JACK", c)) {
        return 0;
    }
    for (const char* name : {c.server, c.client, c.capture, c.playback}) {
        const size_t capacity =
            name == c.server || name == c.client ? kJackNameCapacity : kJackPatternCapacity;
        FUZZ_CHECK(std::memchr(name, 0, capacity) != nullptr, capacity, 0);
    }
    FUZZ_CHECK(c.client[0] != '\0', 0, 0);
    FUZZ_CHECK(c.inputs >= -1 && c.inputs <= kJackMaxChannels, c.inputs, 0);
    FUZZ_CHECK(c.outputs >= -1 && c.outputs <= kJackMaxChannels, c.outputs, 0);
    FUZZ_CHECK(c.type >= ASIOSTInt16LSB && c.type <= ASIOSTInt32LSB, c.type, 0);
    return 0;
}
