// korvane-wav's test files: WAV bytes from the tests' support, in the test framework's
// temporary folder, and the signals they are made of.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "signal_gen.h"
#include "support/wav_bytes.h"

inline std::string tempPath(const std::string& name) {
    return testing::TempDir() + "korvane-wav-" + name;
}

// A signal of `kind`, `seconds` long on `channels` channels at `rate`; the rest as
// SignalSpec has it.
inline SignalSpec signalSpec(SignalKind kind, uint32_t channels, uint32_t rate,
                             double seconds = 1.0) {
    SignalSpec spec;
    spec.kind = kind;
    spec.channels = channels;
    spec.sampleRate = rate;
    spec.seconds = seconds;
    return spec;
}
