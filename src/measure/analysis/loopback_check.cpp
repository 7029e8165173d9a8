#include "measure/analysis/loopback_check.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "measure/analysis/fft.h"
#include "measure/analysis/parallel.h"
#include "measure/text/name_table.h"
#include "wav/wav_io.h"

namespace {

// Lags whose transform value lies this close (relative to the Cauchy-Schwarz bound) to the
// best are evaluated again exactly; at most this many of them.
constexpr double kCandidateTolerance = 1e-6;
constexpr size_t kMaxCandidates = 64;

// The played frames [*first, *last) that meet the recording at this delay.
void overlap(size_t playedFrames, size_t recordedFrames, int64_t delay, size_t* first,
             size_t* last) {
    const int64_t from = std::max<int64_t>(0, -delay);
    const int64_t to = std::min<int64_t>(int64_t(playedFrames), int64_t(recordedFrames) - delay);
    *first = size_t(from);
    *last = size_t(std::max(from, to));
}

double exactCorrelation(const std::vector<float>& played, size_t playedFrames,
                        const std::vector<float>& recorded, int64_t delay) {
    size_t first = 0;
    size_t last = 0;
    overlap(playedFrames, recorded.size(), delay, &first, &last);
    double sum = 0;
    for (size_t n = first; n < last; ++n) {
        sum += double(played[n]) * double(recorded[size_t(int64_t(n) + delay)]);
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
// short, or started late, still gives 1 for a copy.
double normalisedCorrelation(const std::vector<float>& played, size_t playedFrames,
                             const std::vector<float>& recorded, int64_t delay) {
    size_t first = 0;
    size_t last = 0;
    overlap(playedFrames, recorded.size(), delay, &first, &last);
    const double norm =
        std::sqrt(energy(played, first, last) *
                  energy(recorded, size_t(int64_t(first) + delay), size_t(int64_t(last) + delay)));
    return norm > 0 ? exactCorrelation(played, playedFrames, recorded, delay) / norm : 0;
}

// How the peak at match->delay stands among the other lags. Its own lobe, from the peak
// outward while the magnitude keeps falling, is not counted among them.
void rankPeak(const std::vector<double>& magnitude, DelayMatch* match) {
    const size_t peak = size_t(match->delay + match->firstLag);
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
            match->secondDelay = int64_t(d) - match->firstLag;
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

namespace {

// How far the search goes on either side of lag 0.
void searchedLags(size_t playedFrames, size_t recordedFrames, uint32_t maxDelay, size_t* used,
                  uint32_t* firstLag, uint32_t* lastLag) {
    *used = std::min<size_t>({playedFrames, recordedFrames, kMaxCorrelatedFrames});
    *lastLag = uint32_t(std::min<size_t>({size_t(maxDelay), recordedFrames - 1, kMaxDelaySearch}));
    *firstLag = uint32_t(std::min<size_t>({size_t(maxDelay), *used - 1, kMaxDelaySearch}));
}

} // namespace

size_t delaySearchLength(size_t playedFrames, size_t recordedFrames, uint32_t maxDelay) {
    size_t used = 0;
    uint32_t firstLag = 0;
    uint32_t lastLag = 0;
    searchedLags(playedFrames, recordedFrames, maxDelay, &used, &firstLag, &lastLag);
    return fftLength(used + lastLag + firstLag);
}

namespace {

using Spectrum = std::vector<std::complex<double>>;

// The played channel's zero-padded spectrum, kept for the channels checked after it: a sweep
// played on every channel is transformed once. One is kept at a time; a channel whose played
// samples differ in any bit makes its own, which those after it may take.
class PlayedSpectrum {
public:
    std::shared_ptr<const Spectrum> get(const std::vector<float>& played, size_t used, size_t n) {
        std::lock_guard<std::mutex> hold(lock_);
        if (spectrum_ == nullptr || n != n_ || used != used_ ||
            std::memcmp(played.data(), source_->data(), used * sizeof(float)) != 0) {
            spectrum_ = transform(played, used, n);
            source_ = &played;
            used_ = used;
            n_ = n;
        }
        return spectrum_;
    }

    static std::shared_ptr<const Spectrum> transform(const std::vector<float>& played, size_t used,
                                                     size_t n) {
        auto p = std::make_shared<Spectrum>(n / 2 + 1);
        std::copy(played.begin(), played.begin() + long(used), Fft::realInput(p->data()));
        Fft().forwardInPlace(p->data(), n);
        return p;
    }

private:
    std::mutex lock_;
    const std::vector<float>* source_ = nullptr;
    size_t used_ = 0;
    size_t n_ = 0;
    std::shared_ptr<const Spectrum> spectrum_;
};

// |sum played[n] recorded[n + d]| for d = -firstLag .. lastLag (at index d + firstLag), from
// conj(P) R: both spectra of zero-padded real signals, so no wrap reaches the lags searched.
std::vector<double> correlationMagnitudes(std::shared_ptr<const Spectrum> p,
                                          const std::vector<float>& recorded, size_t window,
                                          size_t n, uint32_t firstLag, uint32_t lastLag) {
    Spectrum r(n / 2 + 1);
    Fft fft;
    std::copy(recorded.begin(), recorded.begin() + long(window), Fft::realInput(r.data()));
    fft.forwardInPlace(r.data(), n);
    for (size_t k = 0; k < r.size(); ++k) {
        r[k] *= std::conj((*p)[k]);
    }
    p.reset();
    const double* lags = fft.inverseInPlace(r.data(), n);
    std::vector<double> magnitude(size_t(firstLag) + lastLag + 1);
    for (size_t i = 0; i < magnitude.size(); ++i) {
        const int64_t d = int64_t(i) - firstLag;
        magnitude[i] = std::fabs(lags[d >= 0 ? size_t(d) : size_t(int64_t(n) + d)]);
    }
    return magnitude;
}

// Of two lags that match alike, the nearer to 0, and of two as near the later.
bool preferred(double a, int64_t lagA, double b, int64_t lagB) {
    if (a != b) {
        return a > b;
    }
    const int64_t nearA = lagA < 0 ? -lagA : lagA;
    const int64_t nearB = lagB < 0 ? -lagB : lagB;
    return nearA != nearB ? nearA < nearB : lagA > lagB;
}

// The best lag of the transform's, evaluated again exactly among those within tolerance
// of it (at most kMaxCandidates). False when nothing overlaps at any of them.
bool bestExactLag(const std::vector<double>& magnitude, uint32_t firstLag, double tolerance,
                  const std::vector<float>& played, size_t used, const std::vector<float>& recorded,
                  int64_t* lag) {
    const double best = *std::max_element(magnitude.begin(), magnitude.end());
    std::vector<std::pair<double, int64_t>> candidates;
    for (size_t i = 0; i < magnitude.size(); ++i) {
        if (magnitude[i] >= best - tolerance) {
            candidates.push_back({magnitude[i], int64_t(i) - firstLag});
        }
    }
    if (candidates.size() > kMaxCandidates) {
        std::partial_sort(candidates.begin(), candidates.begin() + kMaxCandidates, candidates.end(),
                          [](const auto& a, const auto& b) {
                              return preferred(a.first, a.second, b.first, b.second);
                          });
        candidates.resize(kMaxCandidates);
    }
    double bestExact = -1;
    for (const auto& candidate : candidates) {
        const double exact = std::fabs(exactCorrelation(played, used, recorded, candidate.second));
        if (bestExact < 0 || preferred(exact, candidate.second, bestExact, *lag)) {
            bestExact = exact;
            *lag = candidate.second;
        }
    }
    return bestExact > 0;
}

DelayMatch findDelay(const std::vector<float>& played, const std::vector<float>& recorded,
                     uint32_t maxDelay, PlayedSpectrum* kept) {
    DelayMatch match;
    const size_t recordedFrames = recorded.size();
    if (played.empty() || recordedFrames == 0) {
        return match;
    }
    size_t used = 0;
    uint32_t firstLag = 0;
    uint32_t lastLag = 0;
    searchedLags(played.size(), recordedFrames, maxDelay, &used, &firstLag, &lastLag);
    const size_t window = std::min<size_t>(recordedFrames, used + lastLag);
    const double playedEnergy = energy(played, 0, used);
    const double recordedEnergy = energy(recorded, 0, window);
    if (!(playedEnergy > 0) || !(recordedEnergy > 0) || !std::isfinite(playedEnergy) ||
        !std::isfinite(recordedEnergy)) {
        return match;
    }
    const size_t n = delaySearchLength(played.size(), recordedFrames, maxDelay);
    const std::vector<double> magnitude = correlationMagnitudes(
        kept != nullptr ? kept->get(played, used, n) : PlayedSpectrum::transform(played, used, n),
        recorded, window, n, firstLag, lastLag);
    const double tolerance = kCandidateTolerance * std::sqrt(playedEnergy * recordedEnergy);
    if (!bestExactLag(magnitude, firstLag, tolerance, played, used, recorded, &match.delay)) {
        match.delay = 0;
        return match; // nothing overlaps at any lag
    }
    match.found = true;
    match.correlation = normalisedCorrelation(played, used, recorded, match.delay);
    match.firstLag = firstLag;
    match.lastLag = lastLag;
    rankPeak(magnitude, &match);
    return match;
}

} // namespace

DelayMatch findDelay(const std::vector<float>& played, const std::vector<float>& recorded,
                     uint32_t maxDelay) {
    return findDelay(played, recorded, maxDelay, nullptr);
}

int64_t playedChannelFor(uint32_t recordedChannel, uint32_t playChannels,
                         const CheckOptions& options) {
    // Input recStart + r records output recStart + r, which plays file channel
    // recStart + r - playStart (all but the file channel counted from 1).
    const int64_t channel = int64_t(options.recStart) + recordedChannel - options.playStart;
    return channel >= 0 && channel < int64_t(playChannels) ? channel : -1;
}

bool firstMismatch(const std::vector<float>* played, const std::vector<float>& recorded,
                   int64_t delay, int width, uint32_t* frame, float* expected, float* got) {
    const int64_t playedFrames = played != nullptr ? int64_t(played->size()) : 0;
    auto wanted = [&](size_t n) {
        const int64_t at = int64_t(n) - delay;
        return at >= 0 && at < playedFrames ? roundTrip((*played)[size_t(at)], width) : 0.0f;
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
    if (material != 0 && delay + int64_t(material) > int64_t(recorded.size())) {
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
                        const CheckOptions& options, PlayedSpectrum* kept) {
    DelayMatch match;
    if (options.delay < 0) {
        const uint32_t maxDelay =
            options.maxDelay < 0 ? kDefaultMaxDelay
                                 : uint32_t(std::min<int64_t>(options.maxDelay, kMaxDelaySearch));
        return findDelay(reference, samples, maxDelay, kept);
    }
    match.delay = options.delay;
    const size_t used = std::min<size_t>(reference.size(), kMaxCorrelatedFrames);
    match.correlation = normalisedCorrelation(reference, used, samples, match.delay);
    match.found = match.correlation != 0;
    return match;
}

ChannelCheck checkChannel(const WavData& played, const WavData& recorded, uint32_t r,
                          const CheckOptions& options, PlayedSpectrum* kept) {
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
        check.match = matchChannel(*reference, samples, options, kept);
    }
    check.delay = options.delay >= 0 ? options.delay : check.match.delay;
    check.recordedFrames = uint32_t(samples.size());
    const size_t material = reference != nullptr ? materialLength(*reference) : 0;
    if (material != 0 && (check.match.found || options.delay >= 0)) {
        check.materialEnd = uint64_t(std::max<int64_t>(0, check.delay + int64_t(material)));
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
    PlayedSpectrum kept;
    forEachInParallel(checks.size(), machineThreads(), [&](size_t r, size_t) {
        checks[r] = checkChannel(played, recorded, uint32_t(r), options, &kept);
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
