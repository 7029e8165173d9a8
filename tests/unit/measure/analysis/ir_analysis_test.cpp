// The analysis against devices whose responses are known exactly: delays, gains, a
// polynomial whose harmonics follow from trigonometry, and a two-path comb.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "measure/analysis/ir_analysis.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr double kLevel = 0.5;

SyncSweep testSweep(double from = 40, double to = 16000, double seconds = 2) {
    SyncSweep sweep;
    std::string error;
    EXPECT_TRUE(planSyncSweep(from, to, seconds, kRate, &sweep, &error)) << error;
    return sweep;
}

std::vector<float> play(const SyncSweep& sweep, size_t pad) {
    std::vector<float> samples(sweep.frames + pad, 0.0f);
    for (uint64_t i = 0; i < sweep.frames; ++i) {
        samples[i] = float(kLevel * syncSweepValue(sweep, i));
    }
    return samples;
}

// The recording, as long as the playback, of a memoryless device delayed by `delay`.
std::vector<float> through(const std::vector<float>& played, size_t delay,
                           const std::function<double(double)>& device) {
    std::vector<float> recorded(played.size(), 0.0f);
    for (size_t i = 0; i + delay < recorded.size(); ++i) {
        recorded[i + delay] = float(device(played[i]));
    }
    return recorded;
}

ChannelIr measure(const SyncSweep& sweep, const std::vector<float>& played,
                  const std::vector<float>& recorded, const IrOptions& options = IrOptions()) {
    Fft fft;
    SweepInverse inverse;
    prepareSweepInverse(played, recorded.size(), sweep, &fft, &inverse);
    ChannelIr ir;
    std::string error;
    EXPECT_TRUE(analyseChannel(inverse, recorded, sweep, options, &fft, &ir, &error)) << error;
    return ir;
}

double wrapped(double degrees) {
    return std::remainder(degrees, 360.0);
}

} // namespace

// Any time reads the deconvolution round its circle: inside, at both edges, one and many
// turns away on either side.
TEST(Deconvolution, EveryTimeWrapsRoundTheCircle) {
    const double h[] = {10, 11, 12, 13, 14};
    const Deconvolution d{h, 5, -2}; // h[0] is time -2
    const struct {
        int64_t t;
        double value;
    } reads[] = {{-2, 10}, {2, 14},  {0, 12},   {3, 10},   {-3, 14},
                 {7, 14},  {-8, 14}, {503, 10}, {-496, 11}};
    for (const auto& r : reads) {
        EXPECT_EQ(d.at(r.t), r.value) << r.t;
    }
}

TEST(IrAnalysis, ADelayedInvertedCopyHasItsDelayExactlyAndAFlatResponse) {
    const SyncSweep sweep = testSweep();
    const std::vector<float> played = play(sweep, 12000);
    const ChannelIr ir =
        measure(sweep, played, through(played, 1234, [](double x) { return -0.5 * x; }));
    EXPECT_EQ(ir.delay, 1234);
    EXPECT_EQ(ir.lead, uint32_t(std::llround(kRate * sweep.rateConstant * 0.5 * std::log(2.0))));
    // A band-limited impulse rings on far under its peak: the window follows it a little.
    ASSERT_GE(ir.window.after, int64_t(ir.lead));
    ASSERT_EQ(ir.ir.size(), size_t(ir.lead + ir.window.after));
    EXPECT_EQ(ir.ir[ir.lead], float(-ir.peak)); // the band-limited impulse, inverted
    double low = 0;
    double high = 0;
    fullLevelBand(sweep, &low, &high);
    ASSERT_FALSE(ir.points.empty());
    EXPECT_GE(ir.points.front().frequency, low);
    EXPECT_LE(ir.points.back().frequency, high);
    // The division is exact in the band; what is left is the window's blur near its ends.
    for (const ResponsePoint& p : ir.points) {
        if (p.frequency < 200 || p.frequency > 15000) {
            continue;
        }
        ASSERT_NEAR(p.magnitudeDb, 20 * std::log10(0.5), 0.001) << p.frequency;
        ASSERT_NEAR(wrapped(p.phaseDeg - 180), 0, 0.01) << p.frequency;
        // A linear device: only the floats' rounding, 2^-24, is left in the orders, or the
        // noise floor that rounding leaves in the deconvolution.
        if (2 * p.frequency <= high) {
            ASSERT_LT(p.thdBelowNoise ? p.thdAtMostPercent : p.thdPercent, 0.01) << p.frequency;
        } else {
            ASSERT_TRUE(std::isnan(p.thdPercent)) << p.frequency;
        }
    }
}

TEST(IrAnalysis, APolynomialGivesEachOrderItsTrigonometricLevelAndPhase) {
    // y = x + A2 x^2 + A3 x^3 + A4 x^4 on x = a sin(t): the fundamental 1 + 3 A3 a^2 / 4; the
    // orders, relative to a: 2nd (A2 a + A4 a^3) / 2 at -90 degrees, 3rd A3 a^2 / 4 at 180,
    // 4th A4 a^3 / 8 at +90. The orders lie L ln n before the linear response, fractions of
    // a frame included: a frame's error would turn the 4th order's phase by 30 degrees at
    // 4 kHz. The sweep stops where the 4th order still lies below half the rate: above it,
    // it would come back mirrored, as a falling sweep, and blur everything.
    const double a2 = 0.2, a3 = 0.1, a4 = 0.4, a = kLevel;
    const double h1 = 1 + 3 * a3 * a * a / 4;
    const double h[5] = {0, h1, (a2 * a + a4 * a * a * a) / 2, a3 * a * a / 4, a4 * a * a * a / 8};
    const double phases[5] = {0, 0, -90, 180, 90};
    const SyncSweep sweep = testSweep(40, 5000);
    const std::vector<float> played = play(sweep, 12000);
    IrOptions options;
    options.orders = 4;
    const ChannelIr ir = measure(
        sweep, played,
        through(played, 700,
                [&](double x) { return x + a2 * x * x + a3 * x * x * x + a4 * x * x * x * x; }),
        options);
    EXPECT_EQ(ir.delay, 700);
    int checked[5] = {};
    for (const ResponsePoint& p : ir.points) {
        if (p.frequency < 200) {
            continue;
        }
        if (p.frequency <= 4500) {
            ASSERT_NEAR(p.magnitudeDb, 20 * std::log10(h1), 0.002) << p.frequency;
            ASSERT_NEAR(p.phaseDeg, 0, 0.02) << p.frequency;
        }
        double power = 0;
        for (int n = 2; n <= 4; ++n) {
            // The last tenth of the band is left alone: there the orders' short windows blur
            // the band's end into them (some 1e-4 of the fundamental, a few 0.01 dB of H4).
            if (n * p.frequency > 4500) {
                ASSERT_TRUE(n * p.frequency <= 5000 || std::isnan(p.orderDb[size_t(n)]));
                continue;
            }
            ++checked[n];
            ASSERT_NEAR(p.orderDb[size_t(n)], 20 * std::log10(h[n] / h1), 0.005)
                << n << " at " << p.frequency;
            ASSERT_NEAR(wrapped(p.orderPhaseDeg[size_t(n)] - phases[n]), 0, 0.05)
                << n << " at " << p.frequency;
            power += h[n] * h[n];
        }
        if (4 * p.frequency <= 4500) {
            ASSERT_NEAR(p.thdPercent / (100 * std::sqrt(power) / h1), 1, 0.001) << p.frequency;
        }
    }
    EXPECT_GT(checked[4], 100);
    EXPECT_GT(checked[2], checked[3]);
}

TEST(IrAnalysis, ADelayLongerThanTheHarmonicsLeadDoesNotWrap) {
    const SyncSweep sweep = testSweep();
    const std::vector<float> played = play(sweep, 40000);
    // The 2nd order now lies at a positive time, 30000 - L ln 2 frames.
    const ChannelIr ir =
        measure(sweep, played, through(played, 30000, [](double x) { return x + 0.1 * x * x; }));
    EXPECT_EQ(ir.delay, 30000);
    const ResponsePoint& p = ir.points[ir.points.size() / 3];
    EXPECT_NEAR(p.magnitudeDb, 0, 0.001);
    EXPECT_NEAR(p.orderDb[2], 20 * std::log10(0.1 * kLevel / 2), 0.01);
    EXPECT_NEAR(p.orderPhaseDeg[2], -90, 0.1);
    EXPECT_TRUE(std::isnan(p.orderDb[3]) || p.orderDb[3] < -100);
}

TEST(IrAnalysis, SmoothingIsThePowerMeanOverTheBand) {
    // y = x + g x(t - D): |H|^2 = 1 + g^2 + 2 g cos(2 pi f D / rate), whose mean over a band
    // [f1, f2] is 1 + g^2 + 2 g (sin(w f2) - sin(w f1)) / (w (f2 - f1)), w = 2 pi D / rate.
    const SyncSweep sweep = testSweep();
    const std::vector<float> played = play(sweep, 12000);
    std::vector<float> recorded(played.size(), 0.0f);
    const size_t d = 24;
    const double g = 0.5;
    for (size_t i = 0; i < played.size(); ++i) {
        recorded[i] = played[i] + (i >= d ? float(g * played[i - d]) : 0.0f);
    }
    IrOptions options;
    options.smoothing = 3;
    options.orders = 1;
    const ChannelIr ir = measure(sweep, played, recorded, options);
    const double w = 2 * 3.14159265358979323846 * double(d) / kRate;
    int checked = 0;
    for (const ResponsePoint& p : ir.points) {
        const double f1 = p.frequency / std::pow(2.0, 1.0 / 6);
        const double f2 = p.frequency * std::pow(2.0, 1.0 / 6);
        if (f1 < 1000 || f2 > 15000) {
            continue;
        }
        const double mean =
            1 + g * g + 2 * g * (std::sin(w * f2) - std::sin(w * f1)) / (w * (f2 - f1));
        // The trapezoid rule between bins 1.1 Hz apart: far below 0.001 dB.
        ASSERT_NEAR(p.magnitudeDb, 10 * std::log10(mean), 0.001) << p.frequency;
        ++checked;
    }
    EXPECT_GT(checked, 50);
}

TEST(IrAnalysis, NothingRecordedOrOrdersBeyondTheSweepAreRefused) {
    const SyncSweep sweep = testSweep();
    const std::vector<float> played = play(sweep, 1000);
    Fft fft;
    SweepInverse inverse;
    prepareSweepInverse(played, played.size(), sweep, &fft, &inverse);
    ChannelIr ir;
    std::string error;
    EXPECT_FALSE(analyseChannel(inverse, std::vector<float>(played.size(), 0.0f), sweep,
                                IrOptions(), &fft, &ir, &error));
    EXPECT_EQ(error, "the recording holds nothing of the sweep");

    const SyncSweep brief = testSweep(1000, 2000, 0.1);
    const std::vector<float> short_ = play(brief, 0);
    prepareSweepInverse(short_, short_.size(), brief, &fft, &inverse);
    IrOptions options;
    options.orders = 10;
    EXPECT_FALSE(analyseChannel(inverse, short_, brief, options, &fft, &ir, &error));
    EXPECT_EQ(error, "the sweep is too short to tell order 10 apart");
    options.orders = 1;
    EXPECT_TRUE(analyseChannel(inverse, short_, brief, options, &fft, &ir, &error)) << error;
}

TEST(IrAnalysis, TheGridStepsFromOneKilohertzAndTransformLengthsAreSmooth) {
    const std::vector<double> grid = frequencyGrid(900, 2100, 3);
    ASSERT_EQ(grid.size(), 4u);
    EXPECT_EQ(grid[0], 1000);
    EXPECT_NEAR(grid[1], 1000 * std::exp2(1.0 / 3), 1e-9);
    EXPECT_EQ(grid[3], 2000);
    for (size_t n : {size_t(1), size_t(97), size_t(1000001), size_t(2025001)}) {
        size_t length = fftLength(n), rest = length;
        EXPECT_GE(length, n);
        EXPECT_EQ(length % 4, 0u);
        for (size_t p : {2, 3, 5}) {
            while (rest % p == 0) {
                rest /= p;
            }
        }
        EXPECT_EQ(rest, 1u) << length;
    }
}
