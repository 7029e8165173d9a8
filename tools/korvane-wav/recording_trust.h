// Whether a recording's delay and level can be believed, so that a limit never passes on a
// recording that cannot show it: a level near full scale may have clipped, and a recording
// that ends before the sweep has come back holds only part of it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct RecordingTrust {
    bool delay = true;
    bool level = true;
    std::string why; // when either is false
};

// The peak at or above this may have clipped (-0.01 dBFS).
constexpr double kClipLevel = 0.99885;

// playedEnd: the played channel's frames up to its last sample that is not zero.
RecordingTrust judgeRecording(const std::vector<float>& recorded, size_t delay, size_t playedEnd);
