// korvane-wav's test files: WAV bytes from the tests' support, in the test framework's
// temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/wav_bytes.h"

inline std::string tempPath(const std::string& name) {
    return testing::TempDir() + "korvane-wav-" + name;
}
