// Limits learnt from good units: the mean and the larger of k deviations and a margin, the
// response relative to the reference or floating, and what the file can be read back as.
#include <gtest/gtest.h>

#include <cmath>

#include "measure/limits/ir_limits.h"
#include "measure/limits/limits_learn.h"

namespace {

// A unit `offset` dB louder everywhere, its THD and rub and buzz `spread` dB off the mean.
LearnUnit unit(double offset, double spread, const char* polarity = "normal") {
    LearnUnit u;
    u.name = "unit";
    u.polarity = polarity;
    for (double f : {125.0, 1000.0, 8000.0}) { // on the rows' 1/12-octave grid
        u.frequency.push_back(f);
        u.magnitudeDb.push_back(offset + (f == 125 ? -6 : 0));
        u.thdPercent.push_back(std::pow(10.0, spread / 20));
        u.rbPeakDb.push_back(-50 + spread);
    }
    return u;
}

} // namespace

TEST(LimitsLearn, TheMeanAndTheLargerOfKDeviationsAndAMargin) {
    struct Case {
        const char* what;
        std::vector<LearnUnit> units;
        LearnOptions options;
        double at125Min, at125Max; // the response's limits at 125 Hz
        double levelMin;           // floating: the level row's minimum
        bool polarityRow;
    };
    LearnOptions floating;
    floating.floatFrom = 500;
    floating.floatTo = 20000;
    LearnOptions wide;
    wide.k = 1;
    wide.responseMarginDb = 5;
    // Offsets -1, 0, 1: relative to the reference they vanish; their deviation is 1 dB.
    const std::vector<LearnUnit> three = {unit(-1, -1), unit(0, 0), unit(1, 1)};
    const Case cases[] = {
        {"relative to the reference", three, LearnOptions(), -7.5, -4.5, NAN, true},
        {"a margin wider than k deviations", three, wide, -11, -1, NAN, true},
        {"floating, the level apart", three, floating, -7.5, -4.5, -4, true},
        {"polarities that differ",
         {unit(0, 0), unit(0, 0), unit(0, 0, "inverted")},
         LearnOptions(),
         -7.5,
         -4.5,
         NAN,
         false},
    };
    for (const Case& c : cases) {
        std::string text;
        std::string error;
        ASSERT_TRUE(learnLimits(c.units, c.options, &text, &error)) << c.what << ": " << error;
        Limits limits;
        ASSERT_TRUE(parseLimits(text, &limits, &error)) << c.what << ": " << error << text;
        EXPECT_NEAR(limitAt(limits.curves[0], 0, 125), c.at125Min, 1e-2) << c.what;
        EXPECT_NEAR(limitAt(limits.curves[0], 2, 125), c.at125Max, 1e-2) << c.what;
        EXPECT_EQ(limits.polarity == Polarity::Normal, c.polarityRow) << c.what;
        if (!std::isnan(c.levelMin)) {
            EXPECT_NEAR(limits.levelMin, c.levelMin, 1e-2) << c.what; // 0 - 4 x 1 dB
            EXPECT_EQ(limits.floatTo, 20000) << c.what;
        }
        // THD and rub and buzz above their means (1 %, -50 dB) by their 6-dB margin, which
        // is more than the deviations (1 dB) times k.
        bool thd = false;
        bool rb = false;
        for (const LimitCurve& curve : limits.curves) {
            if (curve.thd) {
                thd = std::fabs(limitAt(curve, 2, 1000) - std::pow(10.0, 6.0 / 20)) < 1e-3;
            } else if (curve.order == 0) {
                rb = std::fabs(limitAt(curve, 2, 1000) + 44) < 1e-2;
            }
        }
        EXPECT_TRUE(thd && rb) << c.what << "\n" << text;
    }
    std::string text;
    std::string error;
    EXPECT_FALSE(learnLimits({unit(0, 0), unit(0, 0)}, LearnOptions(), &text, &error));
    EXPECT_EQ(error, "limits need at least 3 good units to learn from, 2 given");
}
