// Compares a recording with the file that was played: for each recorded channel, the
// played channel that reaches it, the delay at which it matches best, its level, and
// whether it is exactly what korvane's integer round trip through a digital loopback gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/files/riff_reader.h"

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
    bool found = false;     // false when either side is silent
    int64_t delay = 0;      // negative: the recording starts after the playback did
    double correlation = 0; // normalised; -1 means inverted
    // How the best peak stands among the other lags searched, outside its own lobe: the
    // highest of them relative to it (0: none), and the peak over their root mean square
    // (0: too few of them to tell, fewer than kMinRestLags).
    double secondPeak = 0;
    int64_t secondDelay = 0;
    double peakToRest = 0;
    uint32_t lastLag = 0; // the search went from lag -firstLag to lag lastLag
    uint32_t firstLag = 0;
};

// The lag d in -maxDelay..maxDelay that maximises |sum played[n] recorded[n + d]|, the
// nearest to 0 of equals (the later of two as near). A negative lag is a recording that
// started late, or a response that comes before its cause. Evaluated through an FFT, the
// best candidates again exactly.
DelayMatch findDelay(const std::vector<float>& played, const std::vector<float>& recorded,
                     uint32_t maxDelay);
// The length of its two transforms (forward and back) for channels of these lengths.
size_t delaySearchLength(size_t playedFrames, size_t recordedFrames, uint32_t maxDelay);

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
    int64_t delay = 0; // the one compared at
    double peak = 0;   // of the recording, linear
    bool exactTested = false;
    bool exact = false;
    uint32_t mismatchFrame = 0; // of the recording, 0-based; its length: the recording ends
    float expected = 0;
    float got = 0;
    // The played material, up to its last sample that is not zero, at the delay: the frame
    // of the recording where it ends. 0 without played material or delay.
    uint64_t materialEnd = 0;
    uint32_t recordedFrames = 0;
    uint32_t problems = 0; // TrustProblem bits; 0: the delay and level can be trusted
};

// The played channel (0-based) that input rec (0-based) records, or -1 for none, when
// output k feeds input k.
int64_t playedChannelFor(uint32_t recordedChannel, uint32_t playChannels,
                         const CheckOptions& options);

// The first frame at which recorded differs from played delayed by delay frames and taken
// through the round trip at width; silence where played is not. A recording that ends
// before the played material does differs at its end: *frame is then its length and *got
// is 0. False when none does.
bool firstMismatch(const std::vector<float>* played, const std::vector<float>& recorded,
                   int64_t delay, int width, uint32_t* frame, float* expected, float* got);

std::vector<ChannelCheck> checkRecording(const WavData& played, const WavData& recorded,
                                         const CheckOptions& options);

// Why a channel's delay or level cannot be trusted; a channel may have several.
enum TrustProblem : uint32_t {
    kTrustNoClearPeak = 1,    // no correlation peak stands clearly above the rest
    kTrustAmbiguousPeak = 2,  // a second peak within kAmbiguousPeakDb of the best
    kTrustUnplayedSignal = 4, // signal on a channel that no played channel reaches
    kTrustCutShort = 8,       // the recording ends before the delayed playback does
};
constexpr double kAmbiguousPeakDb = 3;
// A peak stands clearly above the rest when it is this many times their root mean square.
// The highest of unrelated signals reaches about 6 over thousands of lags; a copy through a
// room at a signal-to-noise ratio of 0 dB stays above 15.
constexpr double kClearPeakFactor = 12;
constexpr uint32_t kMinRestLags = 32;
// Where there are fewer lags to compare with, the correlation itself must reach this.
constexpr double kMinCorrelation = 0.5;
// Above this peak level a channel that nothing plays to holds signal, not noise.
constexpr double kUnplayedSignalDbfs = -60;

// The verdict on every channel of checkRecording: whether its result can be trusted. Other
// commands that measure through a delay use it to refuse what check would not trust.
bool recordingTrusted(const std::vector<ChannelCheck>& checks);
constexpr TrustProblem kTrustProblems[] = {kTrustNoClearPeak, kTrustAmbiguousPeak,
                                           kTrustUnplayedSignal, kTrustCutShort};
// What the problem is, for scripts: "no-clear-peak" and the like.
const char* trustProblemName(TrustProblem problem);
// One sentence on a problem the channel has, saying what to do about it.
std::string trustProblemText(const ChannelCheck& check, TrustProblem problem,
                             const CheckOptions& options, uint32_t sampleRate);
// The sentences of all the channel's problems.
std::vector<std::string> trustProblemTexts(const ChannelCheck& check, const CheckOptions& options,
                                           uint32_t sampleRate);
