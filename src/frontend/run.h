#pragma once

#include <cstdint>

// The whole play-and-record run of one process; returns the process exit code.
int runPlayRecord(int argc, char** argv);

// The sample position as the progress line shows it: truncated toward zero, and past the
// 32-bit range wrapped to 32 bits.
int32_t progressSampleCount(double position);
