// The measurement tests' files: WAV bytes from the tests' support, in the test framework's
// temporary folder, and the signals they are made of.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "measure/signals/signal_gen.h"
#include "support/wav_bytes.h"

// An input a reader refuses, and what its message says.
struct Refusal {
    const char* input;
    const char* message;
};

inline std::string tempPath(const std::string& name) {
    return testing::TempDir() + "korvane-wav-" + name;
}

// A signal of `kind`, `seconds` long on `channels` channels at `rate` (SignalSpec's first
// four fields); the rest as SignalSpec has it.
inline SignalSpec signalSpec(SignalKind kind, uint32_t channels, uint32_t rate,
                             double seconds = 1.0) {
    return {kind, channels, rate, seconds};
}
