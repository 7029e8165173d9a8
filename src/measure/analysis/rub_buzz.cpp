#include "measure/analysis/rub_buzz.h"

#include <algorithm>

#include "measure/analysis/ir_analysis.h"
#include "measure/maths.h"

namespace {

// The four sections' 1 / Q of an 8th-order Butterworth: 2 cos((2k - 1) pi / 16).
constexpr double kSectionDamping[] = {1.9615705608, 1.6629392246, 1.1111404660, 0.3901806440};
constexpr double kHighestCutOff = 0.4; // of the rate: clear of the bilinear warp's crowding
constexpr double kFloorDb = -300;
const double kAfterFadeIn = std::exp2(1.0 / 6);
// The high-pass lets go of what the band's end made within a few of its periods.
constexpr double kSettlingPeriods = 4;
constexpr size_t kTuneFrames = 8;

// A state-variable section in trapezoidal form: its cut-off may change at every sample
// without the jolts a biquad's coefficients would give.
struct Section {
    double ic1 = 0, ic2 = 0;
    double a1 = 0, a2 = 0, a3 = 0, k = 0;

    void tune(double g, double damping) {
        k = damping;
        a1 = 1 / (1 + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    double highPass(double x) {
        const double v3 = x - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        return x - k * v1 - v2;
    }
};

// The cut-off's warped value at frame i: it follows the sweep from its onset to its end.
double warpedCutOff(double i, int64_t onset, const SyncSweep& sweep, double multiple) {
    const double rate = double(sweep.rate);
    const double t = std::clamp((i - double(onset)) / rate, 0.0, double(sweep.frames) / rate);
    const double cutOff =
        std::min(multiple * sweep.from * std::exp(t / sweep.rateConstant), kHighestCutOff * rate);
    return std::tan(kPi * cutOff / rate);
}

// The recording through the high-pass that follows the sweep, from its first frame on; its
// cut-off moves at every frame, the warped value drawn straight between exact ones
// kTuneFrames apart (within a millionth of it).
// Only the first `frames` are made: the filter looks back only.
std::vector<double> residual(const std::vector<float>& recorded, size_t frames, int64_t onset,
                             const SyncSweep& sweep, double multiple) {
    Section sections[4];
    std::vector<double> out(frames);
    double next = warpedCutOff(0, onset, sweep, multiple);
    for (size_t start = 0; start < frames; start += kTuneFrames) {
        const double g0 = next;
        next = warpedCutOff(double(start + kTuneFrames), onset, sweep, multiple);
        const size_t end = std::min(frames, start + kTuneFrames);
        for (size_t i = start; i < end; ++i) {
            const double g = g0 + (next - g0) * double(i - start) / double(kTuneFrames);
            double x = recorded[i];
            for (size_t k = 0; k < 4; ++k) {
                sections[k].tune(g, kSectionDamping[k]);
                x = sections[k].highPass(x);
            }
            out[i] = x;
        }
    }
    return out;
}

} // namespace

double rubBuzzHighestHz(const SyncSweep& sweep, double multiple) {
    double low = 0;
    double high = 0;
    fullLevelBand(sweep, &low, &high);
    return std::min(high, kHighestCutOff * double(sweep.rate) / multiple);
}

namespace {

// Each point's frames [first, last): the sweep's between the band's edges, and after them as
// long as the high-pass takes to let go of what the band's end made: a few of its periods.
// {0, 0} where the fade-in's onset still splatters into the high-pass (up to 1/6 octave on),
// past the highest point, or outside the recording.
std::vector<std::pair<int64_t, int64_t>> pointSpans(int64_t recordedFrames, int64_t onset,
                                                    const SyncSweep& sweep, double multiple,
                                                    const std::vector<double>& frequencies) {
    double low = 0;
    double high = 0;
    fullLevelBand(sweep, &low, &high);
    const double highest = rubBuzzHighestHz(sweep, multiple);
    const double rate = double(sweep.rate);
    const double half = std::exp2(kRubBuzzBandOctaves / 2);
    std::vector<std::pair<int64_t, int64_t>> spans(frequencies.size(), {0, 0});
    for (size_t i = 0; i < frequencies.size(); ++i) {
        const double from = frequencies[i] / half;
        const double to = frequencies[i] * half;
        if (from < low * kAfterFadeIn || to > highest) {
            continue;
        }
        const int64_t first =
            onset + int64_t(sweep.rateConstant * std::log(from / sweep.from) * rate);
        const int64_t last = onset +
                             int64_t(sweep.rateConstant * std::log(to / sweep.from) * rate) +
                             int64_t(kSettlingPeriods * rate / (multiple * from));
        if (first >= 0 && last <= recordedFrames && last > first) {
            spans[i] = {first, last};
        }
    }
    return spans;
}

} // namespace

std::vector<RubBuzzPoint> rubBuzz(const std::vector<float>& recorded, int64_t onset,
                                  const SyncSweep& sweep, double multiple,
                                  const std::vector<double>& frequencies) {
    std::vector<RubBuzzPoint> points(frequencies.size());
    const std::vector<std::pair<int64_t, int64_t>> spans =
        pointSpans(int64_t(recorded.size()), onset, sweep, multiple, frequencies);
    int64_t needed = 0;
    for (const auto& span : spans) {
        needed = std::max(needed, span.second);
    }
    const std::vector<double> r = residual(recorded, size_t(needed), onset, sweep, multiple);
    for (size_t i = 0; i < frequencies.size(); ++i) {
        const auto [first, last] = spans[i];
        if (last == 0) {
            continue;
        }
        double peak = 0;
        double residualPower = 0;
        double power = 0;
        for (int64_t t = first; t < last; ++t) {
            peak = std::max(peak, std::fabs(r[size_t(t)]));
            residualPower += r[size_t(t)] * r[size_t(t)];
            power += double(recorded[size_t(t)]) * recorded[size_t(t)];
        }
        if (!(power > 0)) {
            continue;
        }
        // The fundamental's peak: a sine's, sqrt(2) times its RMS.
        const double fundamentalRms = std::sqrt(power / double(last - first));
        const double residualRms = std::sqrt(residualPower / double(last - first));
        // No residual at all (an exact copy's) stands at the arithmetic's floor.
        auto db = [](double ratio) { return ratio > 0 ? 20 * std::log10(ratio) : kFloorDb; };
        RubBuzzPoint& p = points[i];
        p.peakDb = std::max(db(peak / (std::sqrt(2.0) * fundamentalRms)), kFloorDb);
        p.rmsDb = std::max(db(residualRms / fundamentalRms), kFloorDb);
        p.crestDb = residualRms > 0 ? 20 * std::log10(peak / residualRms) : NAN;
    }
    return points;
}
