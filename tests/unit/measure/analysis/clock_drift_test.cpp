#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "measure/analysis/clock_drift.h"
#include "measure/maths.h"

// A sine recorded on a clock `ppm` fast, resampled to the played clock, is the played sine
// again: at its own frequency and phase, to the windowed sinc's accuracy.
TEST(ClockDrift, ResamplingPutsAStretchedSineBackOnThePlayedClock) {
    const double f = 0.05; // cycles per frame
    for (double ppm : {-100.0, 0.0, 10.0, 100.0}) {
        SCOPED_TRACE(ppm);
        const double speed = 1 + ppm / 1e6;
        std::vector<float> recorded(20000);
        for (size_t n = 0; n < recorded.size(); ++n) {
            recorded[n] = float(std::sin(2 * kPi * f * double(n) * speed));
        }
        const std::vector<float> back = resampleToPlayedClock(recorded, ppm);
        ASSERT_EQ(back.size(), recorded.size());
        for (size_t n = 100; n + 100 < back.size(); ++n) {
            ASSERT_NEAR(back[n], std::sin(2 * kPi * f * double(n)), 2e-4) << n;
        }
    }
}

// A response whose only phase is the bend of a stretched sweep gives that stretch back; a
// flat one, none.
TEST(ClockDrift, TheBendOfAStretchedSweepGivesItsPpm) {
    const double rate = 48000, rateConstant = 1.15;
    const size_t length = 1 << 16;
    Fft fft;
    for (double ppm : {0.0, 10.0, -100.0}) {
        SCOPED_TRACE(ppm);
        const double slope = (1 / (1 + ppm / 1e6) - 1) * rateConstant; // s per unit of ln f
        std::vector<std::complex<double>> bins(length / 2 + 1);
        for (size_t k = 1; k < bins.size(); ++k) {
            const double f = double(k) * rate / double(length) / 1000; // kHz
            const double phase = -2 * kPi * slope * 1000 * (f * std::log(f) - f);
            bins[k] = std::polar(1.0, phase);
        }
        bins[0] = bins[1];
        const DriftEstimate d = estimateDrift(bins, length, rate, 20.6, 19400, rateConstant, &fft);
        ASSERT_TRUE(d.measured);
        EXPECT_NEAR(d.ppm, ppm, 0.01);
        EXPECT_LT(d.residualDeg, 0.01);
        EXPECT_EQ(d.phaseDeg > 1, ppm != 0);
    }
}
