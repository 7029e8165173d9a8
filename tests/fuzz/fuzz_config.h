// What every driver's configuration parser must do on any text: stay inside the text and
// the config, end its message and the trace path, and name its variable in a fault.
#pragma once

#include <cstring>
#include <string>

#include "driver_config.h"
#include "fuzz_support.h"

// Parses the fuzzer's bytes into `config` with `parse` and checks the above; true when the
// parser took the text, and the keys' own ranges are then the target's to check.
template <typename Config>
bool fuzzParseConfig(const uint8_t* data, size_t size,
                     bool (*parse)(const char*, Config*, char*, size_t), const char* variable,
                     Config& config) {
    // An environment variable ends at its first zero byte.
    const std::string text(reinterpret_cast<const char*>(data), size);
    char message[kDriverTextCapacity];
    std::memset(message, 'x', sizeof message);
    const bool ok = parse(text.c_str(), &config, message, sizeof message);
    fuzzCheckConfigMessage(ok, message, sizeof message, variable);
    FUZZ_CHECK(std::memchr(config.trace, 0, sizeof config.trace) != nullptr, 0, 0);
    return ok;
}
