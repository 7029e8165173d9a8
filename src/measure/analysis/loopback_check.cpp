#include "measure/analysis/loopback_check.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

#include "measure/analysis/fft.h"
#include "measure/analysis/parallel.h"
#include "measure/text/name_table.h"
#include "wav/wav_io.h"

namespace {

// Lags whose transform value lies this close (relative to the Cauchy-Schwarz bound) to the
// best are evaluated again exactly; at most this many of them.
constexpr double kCandidateTolerance = 1e-6;
constexpr size_t kMaxCandidates = 64;

double exactCorrelation(const std::vector<float>& played, size_t playedFrames,
                        const std::vector<float>& recorded, uint32_t delay) {
    double sum = 0;
    for (size_t n = 0; n < playedFrames && n + delay < recorded.size(); ++n) {
        sum += double(played[n]) * double(recorded[n + delay]);
    }
    return sum;
}

double energy(const std::vector<float>& samples, size_t begin, size_t end) {
    double sum = 0;
    for (size_t n = begin; n < end && n < samples.size(); ++n) {
        sum += double(samples[n]) * double(samples[n]);
    }
    return sum;
}

// Normalised over the frames that overlap at this delay only, so that a recording cut
// short still gives 1 for a copy.
double normalisedCorrelation(const std::vector<float>& played, size_t playedFrames,
                             const std::vector<float>& recorded, uint32_t delay) {
    const size_t overlap =
        delay < recorded.size() ? std::min(playedFrames, recorded.size() - delay) : 0;
    const double norm =
        std::sqrt(energy(played, 0, overlap) * energy(recorded, delay, size_t(delay) + overlap));
    return norm > 0 ? exactCorrelation(played, playedFrames, recorded, delay) / norm : 0;
}

// How the peak at match->delay stands among the other lags. Its own lobe, from the peak
// outward while the magnitude keeps falling, is not counted among them.
void rankPeak(const std::vector<double>& magnitude, DelayMatch* match) {
    const size_t peak = match->delay;
    size_t low = peak;
    size_t high = peak;
    while (low > 0 && magnitude[low - 1] <= magnitude[low]) {
        --low;
    }
    while (high + 1 < magnitude.size() && magnitude[high + 1] <= magnitude[high]) {
        ++high;
    }
    double second = 0;
    double squares = 0;
    size_t rest = 0;
    for (size_t d = 0; d < magnitude.size(); ++d) {
        if (d >= low && d <= high) {
            continue;
        }
        squares += magnitude[d] * magnitude[d];
        ++rest;
        if (magnitude[d] > second) {
            second = magnitude[d];
            match->secondDelay = uint32_t(d);
        }
    }
    const double top = magnitude[peak];
    if (top > 0 && rest > 0) {
        match->secondPeak = second / top;
    }
    const double level = rest > 0 ? std::sqrt(squares / double(rest)) : 0;
    if (top > 0 && rest >= kMinRestLags) {
        match->peakToRest = level > 0 ? top / level : HUGE_VAL;
    }
}

// The frame after the last sample that is not zero; 0 for silence.
size_t materialLength(const std::vector<float>& samples) {
    size_t end = samples.size();
    while (end > 0 && samples[end - 1] == 0.0f) {
        --end;
    }
    return end;
}

uint32_t judgeTrust(const ChannelCheck& check, const std::vector<float>* played, bool searched) {
    uint32_t problems = 0;
    if (played == nullptr) {
        return check.peak > std::pow(10.0, kUnplayedSignalDbfs / 20)
                   ? uint32_t(kTrustUnplayedSignal)
                   : 0u;
    }
    if (materialLength(*played) == 0) {
        return 0; // no delay to find, nothing to miss
    }
    const DelayMatch& match = check.match;
    const double ambiguous = std::pow(10.0, -kAmbiguousPeakDb / 20);
    if (searched) {
        // A copy of the playback correlates well at its peak, however periodic it is; a
        // recording that does not hold it correlates nowhere.
        const bool correlates = std::fabs(match.correlation) >= kMinCorrelation;
        if (!match.found || (match.secondPeak >= ambiguous && !correlates)) {
            problems |= kTrustNoClearPeak;
        } else if (match.secondPeak >= ambiguous) {
            problems |= kTrustAmbiguousPeak;
        } else if (match.peakToRest != 0 ? match.peakToRest < kClearPeakFactor : !correlates) {
            problems |= kTrustNoClearPeak;
        }
    }
    if (check.materialEnd > check.recordedFrames && (match.found || !searched)) {
        problems |= kTrustCutShort;
    }
    return problems;
}

std::string framesAndSeconds(uint64_t frames, uint32_t sampleRate) {
    char text[64];
    std::snprintf(text, sizeof text, "%llu frames (%g s)", (unsigned long long)frames,
                  sampleRate != 0 ? double(frames) / sampleRate : 0.0);
    return text;
}

std::string db(double ratio) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dB", 20 * std::log10(ratio));
    return text;
}

} // namespace

int32_t loaderNative(float sample, int width) {
    if (std::isnan(sample)) {
        return 0;
    }
    const double scale = width == 2 ? 32767.0 : width == 3 ? 8388607.0 : 2147483648.0;
    const double top = width == 2 ? 32767.0 : width == 3 ? 8388607.0 : 2147483647.0;
    // Exact: a float's 24 bits times at most 23 bits, or a power of two.
    const double product = std::trunc(double(sample) * scale);
    if (product > top) {
        return int32_t(top);
    }
    if (product < -top - 1) {
        return int32_t(-top - 1);
    }
    return int32_t(product);
}

float writerFloat(int32_t native, int width) {
    const double divisor = width == 2 ? 32768.0 : width == 3 ? 8388608.0 : 2147483648.0;
    return float(double(native) / divisor);
}

float roundTrip(float sample, int width) {
    if (width == 0) {
        return sample;
    }
    return writerFloat(loaderNative(sample, width), width);
}

size_t delaySearchLength(size_t playedFrames, size_t recordedFrames, uint32_t maxDelay) {
    const size_t lastLag =
        std::min<size_t>({size_t(maxDelay), recordedFrames - 1, kMaxDelaySearch});
    const size_t used = std::min<size_t>({playedFrames, recordedFrames, kMaxCorrelatedFrames});
    return fftLength(used + lastLag);
}

namespace {

// |sum played[n] recorded[n + d]| for d = 0 .. lastLag, from conj(P) R: both spectra of
// zero-padded real signals, so no wrap reaches the lags searched.
std::vector<double> correlationMagnitudes(const std::vector<float>& played, size_t used,
                                          const std::vector<float>& recorded, size_t window,
                                          size_t n, uint32_t lastLag) {
    std::vector<std::complex<double>> p(n / 2 + 1);
    std::vector<std::complex<double>> r(n / 2 + 1);
    Fft fft;
    double* x = Fft::realInput(p.data());
    std::copy(played.begin(), played.begin() + long(used), x);
    fft.forwardInPlace(p.data(), n);
    x = Fft::realInput(r.data());
    std::copy(recorded.begin(), recorded.begin() + long(window), x);
    fft.forwardInPlace(r.data(), n);
    for (size_t k = 0; k < r.size(); ++k) {
        r[k] *= std::conj(p[k]);
    }
    std::vector<std::complex<double>>().swap(p);
    const double* lags = fft.inverseInPlace(r.data(), n);
    std::vector<double> magnitude(size_t(lastLag) + 1);
    for (uint32_t d = 0; d <= lastLag; ++d) {
        magnitude[d] = std::fabs(lags[d]);
    }
    return magnitude;
}

// The best lag of the transform's, evaluated again exactly among those within tolerance
// of it (at most kMaxCandidates): the smallest of equals. -1 when none overlaps.
int64_t bestExactLag(const std::vector<double>& magnitude, double tolerance,
                     const std::vector<float>& played, size_t used,
                     const std::vector<float>& recorded) {
    const double best = *std::max_element(magnitude.begin(), magnitude.end());
    std::vector<std::pair<double, uint32_t>> candidates;
    for (uint32_t d = 0; d < magnitude.size(); ++d) {
        if (magnitude[d] >= best - tolerance) {
            candidates.push_back({magnitude[d], d});
        }
    }
    if (candidates.size() > kMaxCandidates) {
        std::partial_sort(candidates.begin(), candidates.begin() + kMaxCandidates, candidates.end(),
                          [](const auto& a, const auto& b) {
                              return a.first > b.first ||
                                     (a.first == b.first && a.second < b.second);
                          });
        candidates.resize(kMaxCandidates);
    }
    double bestExact = -1;
    int64_t lag = 0;
    for (const auto& candidate : candidates) {
        const double exact = std::fabs(exactCorrelation(played, used, recorded, candidate.second));
        if (exact > bestExact || (exact == bestExact && candidate.second < lag)) {
            bestExact = exact;
            lag = candidate.second;
        }
    }
    return bestExact > 0 ? lag : -1;
}

} // namespace

DelayMatch findDelay(const std::vector<float>& played, const std::vector<float>& recorded,
                     uint32_t maxDelay) {
    DelayMatch match;
    const size_t recordedFrames = recorded.size();
    if (played.empty() || recordedFrames == 0) {
        return match;
    }
    const uint32_t lastLag =
        uint32_t(std::min<size_t>({size_t(maxDelay), recordedFrames - 1, kMaxDelaySearch}));
    const size_t used = std::min<size_t>({played.size(), recordedFrames, kMaxCorrelatedFrames});
    const size_t window = std::min<size_t>(recordedFrames, used + lastLag);
    const double playedEnergy = energy(played, 0, used);
    const double recordedEnergy = energy(recorded, 0, window);
    if (!(playedEnergy > 0) || !(recordedEnergy > 0) || !std::isfinite(playedEnergy) ||
        !std::isfinite(recordedEnergy)) {
        return match;
    }
    const size_t n = delaySearchLength(played.size(), recordedFrames, maxDelay);
    const std::vector<double> magnitude =
        correlationMagnitudes(played, used, recorded, window, n, lastLag);
    const double tolerance = kCandidateTolerance * std::sqrt(playedEnergy * recordedEnergy);
    const int64_t lag = bestExactLag(magnitude, tolerance, played, used, recorded);
    if (lag < 0) {
        return match; // nothing overlaps at any lag
    }
    match.delay = uint32_t(lag);
    match.found = true;
    match.correlation = normalisedCorrelation(played, used, recorded, match.delay);
    match.lastLag = lastLag;
    rankPeak(magnitude, &match);
    return match;
}

int64_t playedChannelFor(uint32_t recordedChannel, uint32_t playChannels,
                         const CheckOptions& options) {
    // Input recStart + r records output recStart + r, which plays file channel
    // recStart + r - playStart (all but the file channel counted from 1).
    const int64_t channel = int64_t(options.recStart) + recordedChannel - options.playStart;
    return channel >= 0 && channel < int64_t(playChannels) ? channel : -1;
}

bool firstMismatch(const std::vector<float>* played, const std::vector<float>& recorded,
                   uint32_t delay, int width, uint32_t* frame, float* expected, float* got) {
    const size_t playedFrames = played != nullptr ? played->size() : 0;
    auto wanted = [&](size_t n) {
        return n >= delay && n - delay < playedFrames ? roundTrip((*played)[n - delay], width)
                                                      : 0.0f;
    };
    for (size_t n = 0; n < recorded.size(); ++n) {
        const float want = wanted(n);
        if (floatBits(want) != floatBits(recorded[n])) {
            *frame = uint32_t(n);
            *expected = want;
            *got = recorded[n];
            return true;
        }
    }
    const size_t material = played != nullptr ? materialLength(*played) : 0;
    if (material != 0 && uint64_t(delay) + material > recorded.size()) {
        *frame = uint32_t(recorded.size());
        *expected = wanted(recorded.size());
        *got = 0.0f;
        return true;
    }
    return false;
}

namespace {

// The played channel's match in the recording: at the given delay, or searched for.
DelayMatch matchChannel(const std::vector<float>& reference, const std::vector<float>& samples,
                        const CheckOptions& options) {
    DelayMatch match;
    if (options.delay < 0) {
        const uint32_t maxDelay =
            options.maxDelay < 0 ? kDefaultMaxDelay
                                 : uint32_t(std::min<int64_t>(options.maxDelay, kMaxDelaySearch));
        return findDelay(reference, samples, maxDelay);
    }
    match.delay = uint32_t(options.delay);
    const size_t used = std::min<size_t>(reference.size(), kMaxCorrelatedFrames);
    match.correlation = normalisedCorrelation(reference, used, samples, match.delay);
    match.found = match.correlation != 0;
    return match;
}

ChannelCheck checkChannel(const WavData& played, const WavData& recorded, uint32_t r,
                          const CheckOptions& options) {
    const std::vector<float>& samples = recorded.channels[r];
    ChannelCheck check;
    check.recorded = r + 1;
    const int64_t source = playedChannelFor(r, uint32_t(played.channels.size()), options);
    const std::vector<float>* reference = source >= 0 ? &played.channels[size_t(source)] : nullptr;
    check.played = source >= 0 ? uint32_t(source + 1) : 0;
    for (float value : samples) {
        check.peak = std::max(check.peak, double(std::fabs(value)));
    }
    if (reference != nullptr) {
        check.match = matchChannel(*reference, samples, options);
    }
    check.delay = options.delay >= 0 ? uint32_t(options.delay) : check.match.delay;
    check.recordedFrames = uint32_t(samples.size());
    const size_t material = reference != nullptr ? materialLength(*reference) : 0;
    if (material != 0 && (check.match.found || options.delay >= 0)) {
        check.materialEnd = uint64_t(check.delay) + material;
    }
    if (options.width != 0) {
        check.exactTested = true;
        check.exact = !firstMismatch(reference, samples, check.delay, options.width,
                                     &check.mismatchFrame, &check.expected, &check.got);
    }
    check.problems = judgeTrust(check, reference, options.delay < 0);
    return check;
}

} // namespace

std::vector<ChannelCheck> checkRecording(const WavData& played, const WavData& recorded,
                                         const CheckOptions& options) {
    std::vector<ChannelCheck> checks(recorded.channels.size());
    forEachInParallel(checks.size(), machineThreads(), [&](size_t r, size_t) {
        checks[r] = checkChannel(played, recorded, uint32_t(r), options);
    });
    return checks;
}

bool recordingTrusted(const std::vector<ChannelCheck>& checks) {
    for (const ChannelCheck& check : checks) {
        if (check.problems != 0) {
            return false;
        }
    }
    return true;
}

const NamedValue<TrustProblem> kTrustProblemNames[] = {{kTrustNoClearPeak, "no-clear-peak"},
                                                       {kTrustAmbiguousPeak, "ambiguous-peak"},
                                                       {kTrustUnplayedSignal, "unplayed-signal"},
                                                       {kTrustCutShort, "cut-short"}};

const char* trustProblemName(TrustProblem problem) {
    return nameOf(kTrustProblemNames, problem, "unknown");
}

std::string trustProblemText(const ChannelCheck& check, TrustProblem problem,
                             const CheckOptions& options, uint32_t sampleRate) {
    const std::string played = std::to_string(check.played);
    switch (problem) {
    case kTrustNoClearPeak: {
        if (!(check.peak > 0)) {
            return "the recording is silent where played channel " + played + " should arrive";
        }
        const uint32_t maxDelay = check.match.lastLag != 0 ? check.match.lastLag
                                  : options.maxDelay >= 0  ? uint32_t(options.maxDelay)
                                                           : kDefaultMaxDelay;
        return "no correlation peak stands clearly above the rest: the delay may lie beyond "
               "--max-delay " +
               std::to_string(maxDelay) + ", or the recording does not hold played channel " +
               played;
    }
    case kTrustAmbiguousPeak:
        return "a second correlation peak, at delay " + std::to_string(check.match.secondDelay) +
               ", is within " + db(1 / check.match.secondPeak) +
               " of the best: a periodic signal matches at every period; play noise, a sweep or "
               "staggered impulses to measure the delay";
    case kTrustUnplayedSignal: {
        char level[32];
        std::snprintf(level, sizeof level, "%.1f dBFS", 20 * std::log10(check.peak));
        return std::string("signal up to ") + level +
               " on a channel that no played channel reaches by the channel map: give korvane's "
               "PlayStartChannel and RecStartChannel as --play-start and --rec-start";
    }
    case kTrustCutShort:
        return "the recording ends at frame " + std::to_string(check.recordedFrames) +
               ", before the delayed playback does at frame " + std::to_string(check.materialEnd) +
               ": pad the played file with at least " +
               framesAndSeconds(check.materialEnd - check.recordedFrames, sampleRate) +
               " of silence (korvane-wav convert --pad, or gen --pad) and record again";
    }
    return "";
}

std::vector<std::string> trustProblemTexts(const ChannelCheck& check, const CheckOptions& options,
                                           uint32_t sampleRate) {
    std::vector<std::string> texts;
    for (TrustProblem problem : kTrustProblems) {
        if (check.problems & problem) {
            texts.push_back(trustProblemText(check, problem, options, sampleRate));
        }
    }
    return texts;
}
