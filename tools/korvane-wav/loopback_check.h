// Compares a recording with the file that was played: for each recorded channel, the
// played channel that reaches it, the delay at which it matches best, its level, and
// whether it is exactly what korvane's integer round trip through a digital loopback gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "riff_reader.h"

// The delay search correlates at most this much of the played channel...
constexpr uint32_t kMaxCorrelatedFrames = 1u << 21;
// ...over at most this many lags.
constexpr uint32_t kMaxDelaySearch = 1u << 22;
constexpr uint32_t kDefaultMaxDelay = 65536;

// korvane's loader: x times k (32767, 8388607, or 2^31 as a float), truncated toward zero,
// clipped to the native range, NaN as 0.
int32_t loaderNative(float sample, int width);
// korvane's writer: native / 2^(8 width - 1), rounded to float.
float writerFloat(int32_t native, int width);
float roundTrip(float sample, int width);

struct DelayMatch {
    bool found = false; // false when either side is silent
    uint32_t delay = 0;
    double correlation = 0; // normalised; -1 means inverted
};

// The lag d in 0..maxDelay that maximises |sum played[n] recorded[n + d]|, the smallest
// of equals. Evaluated through an FFT, the best candidates again exactly.
DelayMatch findDelay(const std::vector<float>& played, const std::vector<float>& recorded,
                     uint32_t maxDelay);

struct CheckOptions {
    uint32_t playStart = 1; // korvane's PlayStartChannel
    uint32_t recStart = 1;  // korvane's RecStartChannel
    int width = 0;          // 2, 3 or 4: test exactness; 0: do not
    int64_t maxDelay = -1;  // below 0: kDefaultMaxDelay, or the recording's length if shorter
    int64_t delay = -1;     // 0 or more: take this delay instead of searching
};

struct ChannelCheck {
    uint32_t recorded = 0; // 1-based
    uint32_t played = 0;   // 1-based; 0: no played channel reaches this input
    DelayMatch match;
    uint32_t delay = 0; // the one compared at
    double peak = 0;    // of the recording, linear
    bool exactTested = false;
    bool exact = false;
    uint32_t mismatchFrame = 0; // of the recording, 0-based
    float expected = 0;
    float got = 0;
};

// The played channel (0-based) that input rec (0-based) records, or -1 for none, when
// output k feeds input k.
int64_t playedChannelFor(uint32_t recordedChannel, uint32_t playChannels,
                         const CheckOptions& options);

// The first frame at which recorded differs from played delayed by delay frames and taken
// through the round trip at width; silence where played is not. False when none does.
bool firstMismatch(const std::vector<float>* played, const std::vector<float>& recorded,
                   uint32_t delay, int width, uint32_t* frame, float* expected, float* got);

std::vector<ChannelCheck> checkRecording(const WavData& played, const WavData& recorded,
                                         const CheckOptions& options);
