#include "measure/analysis/ir_window.h"

#include "measure/analysis/decay.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace {

// The onset: 0.3 of the largest value, above a band-limited impulse's ringing (0.22 of its
// peak at most), and 7 times the noise's RMS, which noise alone reaches once in 10^12 frames.
constexpr double kOnsetOfLargest = 0.3;
constexpr double kOnsetOverNoise = 7;
// The direct sound is the largest value within two periods of the band's top after the
// onset, where a band-limited impulse's main lobe lies.
constexpr double kDirectPeriods = 2;
// A value of the other sign this near the direct sound leaves its sign undetermined.
constexpr double kPolarityOpposite = 0.5;
// The decay has ended where no block stands above twice the noise's power (noise alone does
// so once in 10^12 blocks), 100 dB under the peak, or 6 dB over what a perfect wire of the
// direct sound's level leaves there: the band-limited impulse's own slow ringing is no decay
// of the device's.
constexpr double kDecayOverNoise = 2;
constexpr double kDecayRange = 1e-10;
constexpr double kDecayOverWire = 4;
// A gate's fall is the last quarter of it.
constexpr int64_t kGateFadeShare = 4;
// Where the window ends, an octave whose response stands 6 dB above the noise is cut.
constexpr double kCutOverNoise = 4;
constexpr double kCutSegmentSeconds = 0.2;

int64_t largestAt(const Deconvolution& h, int64_t earliest, int64_t frames) {
    int64_t at = 0;
    for (int64_t t = -earliest; t < frames; ++t) {
        if (std::fabs(h.at(t)) > std::fabs(h.at(at))) {
            at = t;
        }
    }
    return at;
}

// The stretch of the window's part before `at` that is far from both ends: from the
// harmonics' tails and from a band-limited impulse's ringing.
void noiseStretch(int64_t at, int64_t lead, int64_t* from, int64_t* to) {
    *from = at - lead / 2;
    *to = at - std::max<int64_t>(1, lead / 8);
}

double meanPower(const Deconvolution& h, int64_t from, int64_t to) {
    double sum = 0;
    for (int64_t t = from; t < to; ++t) {
        sum += h.at(t) * h.at(t);
    }
    return to > from ? sum / double(to - from) : 0;
}

// Frames after d at which the response has decayed into the noise; `wire` has its peak at
// time 0.
int64_t decayEnd(const Deconvolution& h, const Deconvolution& wire, int64_t d, int64_t frames,
                 double noisePower, uint32_t rate) {
    const int64_t block = decayBlockFrames(rate);
    const double peak = h.at(d) * h.at(d);
    const double floor = std::max(kDecayOverNoise * noisePower, kDecayRange * peak);
    const double wirePeak = wire.at(0) * wire.at(0);
    const double scale = wirePeak > 0 ? peak / wirePeak : 0;
    const std::vector<double> own =
        blockPowers([&](int64_t t) { return kDecayOverWire * scale * wire.at(t) * wire.at(t); },
                    frames - d, block);
    const std::vector<double> decay =
        blockPowers([&](int64_t t) { return h.at(d + t) * h.at(d + t); }, frames - d, block);
    return int64_t(decayBlocks(decay, [&](size_t b) { return std::max(floor, own[b]); })) * block;
}

// The octaves' power of a stretch of `length` frames from `from`.
std::vector<double> octavePowers(const Deconvolution& h, int64_t from, int64_t length,
                                 const std::vector<double>& centres, uint32_t rate, Fft* fft) {
    const size_t n = fftLength(size_t(length));
    std::vector<double> x(n, 0.0);
    for (int64_t t = 0; t < length; ++t) {
        x[size_t(t)] = h.at(from + t);
    }
    std::vector<std::complex<double>> bins(n / 2 + 1);
    fft->forward(x.data(), n, bins.data());
    std::vector<double> powers(centres.size(), 0.0);
    const double binHz = double(rate) / double(n);
    for (size_t b = 0; b < centres.size(); ++b) {
        const size_t lo = size_t(std::ceil(centres[b] / std::sqrt(2.0) / binHz));
        const size_t hi = std::min(bins.size(), size_t(centres[b] * std::sqrt(2.0) / binHz));
        for (size_t k = lo; k < hi; ++k) {
            powers[b] += std::norm(bins[k]);
        }
    }
    return powers;
}

// Where the window has fallen to half while the decay goes on above the noise, the highest
// octave whose response still stands above the noise before the direct sound: the response
// is affected from its top down (from the band's top where the noise's spectrum hides it).
double cutBelow(const Deconvolution& h, const ChannelIr& ir, int64_t lead, int64_t end,
                const SyncSweep& sweep, Fft* fft) {
    const int64_t half = ir.window.after - ir.window.fade / 2;
    if (end <= half) {
        return NAN;
    }
    int64_t noiseFrom = 0;
    int64_t noiseTo = 0;
    noiseStretch(ir.delay, lead, &noiseFrom, &noiseTo);
    const int64_t length = std::min<int64_t>(
        {noiseTo - noiseFrom, half, std::llround(kCutSegmentSeconds * sweep.rate)});
    if (length <= 0) {
        return sweep.to;
    }
    std::vector<double> centres;
    for (double f = 1000 * std::exp2(std::floor(std::log2(sweep.from / 1000))); f < sweep.to;
         f *= 2) {
        centres.push_back(f);
    }
    const std::vector<double> tail =
        octavePowers(h, ir.delay + half - length, length, centres, sweep.rate, fft);
    const std::vector<double> noise =
        octavePowers(h, noiseTo - length, length, centres, sweep.rate, fft);
    for (size_t b = centres.size(); b-- > 0;) {
        if (tail[b] > kCutOverNoise * noise[b]) {
            return std::min(sweep.to, centres[b] * std::sqrt(2.0));
        }
    }
    return sweep.to;
}

} // namespace

int64_t directSound(const Deconvolution& h, int64_t earliest, int64_t frames, int64_t lead,
                    const SyncSweep& sweep, double* noisePower) {
    const int64_t largest = largestAt(h, earliest, frames);
    int64_t from = 0;
    int64_t to = 0;
    noiseStretch(largest, lead, &from, &to);
    *noisePower = meanPower(h, from, to);
    const double onset = std::max(kOnsetOfLargest * std::fabs(h.at(largest)),
                                  kOnsetOverNoise * std::sqrt(*noisePower));
    int64_t t = -earliest;
    while (t < largest && std::fabs(h.at(t)) < onset) {
        ++t;
    }
    const int64_t end = std::min(
        frames, t + std::max<int64_t>(2, std::llround(kDirectPeriods * sweep.rate / sweep.to)));
    int64_t direct = t;
    for (; t < end; ++t) {
        if (std::fabs(h.at(t)) > std::fabs(h.at(direct))) {
            direct = t;
        }
    }
    return direct;
}

Polarity directPolarity(const Deconvolution& h, int64_t direct, const SyncSweep& sweep) {
    const double peak = h.at(direct);
    const int64_t near =
        std::max<int64_t>(2, std::llround(kDirectPeriods * sweep.rate / sweep.to));
    double opposite = 0;
    for (int64_t t = direct - near; t <= direct + near; ++t) {
        opposite = std::max(opposite, -std::copysign(1.0, peak) * h.at(t));
    }
    if (!(peak != 0) || opposite >= kPolarityOpposite * std::fabs(peak)) {
        return Polarity::Undetermined;
    }
    return peak > 0 ? Polarity::Normal : Polarity::Inverted;
}

void chooseLinearWindow(const Deconvolution& h, const Deconvolution& wire, int64_t frames,
                        int64_t lead, double noisePower, const SyncSweep& sweep,
                        const IrOptions& options, Fft* fft, ChannelIr* result) {
    const int64_t available = std::max<int64_t>(1, frames - result->delay);
    LinearWindow& w = result->window;
    if (options.gateMs > 0) {
        w.after = std::min(available,
                           std::max<int64_t>(1, std::llround(options.gateMs * sweep.rate / 1000)));
        w.fade = std::max<int64_t>(1, w.after / kGateFadeShare);
        result->gateLowestHz = double(sweep.rate) / double(w.after);
        return;
    }
    const int64_t end = decayEnd(h, wire, result->delay, frames, noisePower, sweep.rate);
    if (options.irSeconds > 0) {
        w.after =
            std::min(available, std::max<int64_t>(1, std::llround(options.irSeconds * sweep.rate)));
        w.fade = w.after;
    } else {
        // Flat over the decay, then falling over as long as the part before the delay.
        w.after = std::min(available, end + lead);
        w.fade = std::min(w.after, lead);
    }
    result->cutBelowHz = cutBelow(h, *result, lead, end, sweep, fft);
}
