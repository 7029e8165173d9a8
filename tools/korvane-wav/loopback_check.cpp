#include "loopback_check.h"

#include <algorithm>
#include <cmath>

#include "wav/wav_io.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// Lags whose transform value lies this close (relative to the Cauchy-Schwarz bound) to the
// best are evaluated again exactly; at most this many of them.
constexpr double kCandidateTolerance = 1e-6;
constexpr size_t kMaxCandidates = 64;

// In place, length a power of two; the inverse is not scaled.
void fft(std::vector<double>* re, std::vector<double>* im, bool inverse) {
    const size_t n = re->size();
    double* x = re->data();
    double* y = im->data();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(x[i], x[j]);
            std::swap(y[i], y[j]);
        }
    }
    // Twiddles computed directly rather than by repeated rotation, for accuracy at any length.
    std::vector<double> cosines(n / 2);
    std::vector<double> sines(n / 2);
    for (size_t k = 0; k < n / 2; ++k) {
        const double angle = 2 * kPi * double(k) / double(n);
        cosines[k] = std::cos(angle);
        sines[k] = inverse ? std::sin(angle) : -std::sin(angle);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const size_t half = length / 2;
        const size_t stride = n / length;
        for (size_t start = 0; start < n; start += length) {
            for (size_t k = 0; k < half; ++k) {
                const double wr = cosines[k * stride];
                const double wi = sines[k * stride];
                const size_t a = start + k;
                const size_t b = a + half;
                const double tr = x[b] * wr - y[b] * wi;
                const double ti = x[b] * wi + y[b] * wr;
                x[b] = x[a] - tr;
                y[b] = y[a] - ti;
                x[a] += tr;
                y[a] += ti;
            }
        }
    }
}

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
    // Both real signals in one complex transform: z = played + i recorded.
    size_t n = 1;
    while (n < used + lastLag) {
        n <<= 1;
    }
    std::vector<double> re(n, 0.0);
    std::vector<double> im(n, 0.0);
    for (size_t i = 0; i < used; ++i) {
        re[i] = played[i];
    }
    for (size_t i = 0; i < window; ++i) {
        im[i] = recorded[i];
    }
    fft(&re, &im, false);
    // P = (Z[k] + conj Z[-k]) / 2, R = (Z[k] - conj Z[-k]) / 2i; the lags come from conj(P) R.
    std::vector<double> xr(n);
    std::vector<double> xi(n);
    for (size_t k = 0; k < n; ++k) {
        const size_t m = (n - k) & (n - 1);
        const double pr = (re[k] + re[m]) / 2;
        const double pi = (im[k] - im[m]) / 2;
        const double rr = (im[k] + im[m]) / 2;
        const double ri = (re[m] - re[k]) / 2;
        xr[k] = pr * rr + pi * ri;
        xi[k] = pr * ri - pi * rr;
    }
    re.swap(xr);
    im.swap(xi);
    xr.clear();
    xi.clear();
    fft(&re, &im, true);
    double best = 0;
    for (uint32_t d = 0; d <= lastLag; ++d) {
        best = std::max(best, std::fabs(re[d]) / double(n));
    }
    const double tolerance = kCandidateTolerance * std::sqrt(playedEnergy * recordedEnergy);
    std::vector<std::pair<double, uint32_t>> candidates;
    for (uint32_t d = 0; d <= lastLag; ++d) {
        const double value = std::fabs(re[d]) / double(n);
        if (value >= best - tolerance) {
            candidates.push_back({value, d});
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
    for (const auto& candidate : candidates) {
        const double exact = exactCorrelation(played, used, recorded, candidate.second);
        const double magnitude = std::fabs(exact);
        if (magnitude > bestExact || (magnitude == bestExact && candidate.second < match.delay)) {
            bestExact = magnitude;
            match.delay = candidate.second;
        }
    }
    if (!(bestExact > 0)) {
        return match; // nothing overlaps at any lag
    }
    match.found = true;
    match.correlation = normalisedCorrelation(played, used, recorded, match.delay);
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
    for (size_t n = 0; n < recorded.size(); ++n) {
        float want = 0.0f;
        if (n >= delay && n - delay < playedFrames) {
            want = roundTrip((*played)[n - delay], width);
        }
        if (floatBits(want) != floatBits(recorded[n])) {
            *frame = uint32_t(n);
            *expected = want;
            *got = recorded[n];
            return true;
        }
    }
    return false;
}

std::vector<ChannelCheck> checkRecording(const WavData& played, const WavData& recorded,
                                         const CheckOptions& options) {
    std::vector<ChannelCheck> checks;
    const uint32_t playChannels = uint32_t(played.channels.size());
    for (uint32_t r = 0; r < recorded.channels.size(); ++r) {
        const std::vector<float>& samples = recorded.channels[r];
        ChannelCheck check;
        check.recorded = r + 1;
        const int64_t source = playedChannelFor(r, playChannels, options);
        const std::vector<float>* reference =
            source >= 0 ? &played.channels[size_t(source)] : nullptr;
        check.played = source >= 0 ? uint32_t(source + 1) : 0;
        for (float value : samples) {
            check.peak = std::max(check.peak, double(std::fabs(value)));
        }
        if (reference != nullptr) {
            if (options.delay >= 0) {
                check.match.delay = uint32_t(options.delay);
                const size_t used = std::min<size_t>(reference->size(), kMaxCorrelatedFrames);
                check.match.correlation =
                    normalisedCorrelation(*reference, used, samples, check.match.delay);
                check.match.found = check.match.correlation != 0;
            } else {
                const uint32_t maxDelay =
                    options.maxDelay < 0
                        ? kDefaultMaxDelay
                        : uint32_t(std::min<int64_t>(options.maxDelay, kMaxDelaySearch));
                check.match = findDelay(*reference, samples, maxDelay);
            }
        }
        check.delay = options.delay >= 0 ? uint32_t(options.delay) : check.match.delay;
        if (options.width != 0) {
            check.exactTested = true;
            check.exact = !firstMismatch(reference, samples, check.delay, options.width,
                                         &check.mismatchFrame, &check.expected, &check.got);
        }
        checks.push_back(check);
    }
    return checks;
}
