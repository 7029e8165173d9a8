#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measure/limits/ir_limits.h"
#include "support/measure_test_files.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Limits parsed(const std::string& text) {
    Limits limits;
    std::string error;
    EXPECT_TRUE(parseLimits(text, &limits, &error)) << error;
    return limits;
}

ResponsePoint point(double f, double db, double thd, double h3Db = kNaN) {
    ResponsePoint p;
    p.frequency = f;
    p.magnitudeDb = db;
    p.thdPercent = thd;
    p.orderDb = {kNaN, kNaN, kNaN, h3Db};
    return p;
}

} // namespace

TEST(IrLimits, RowsJoinInLogFrequencyAndARepeatedFrequencyIsAStepWhereBothBind) {
    const Limits limits = parsed("# a speaker\n"
                                 "reference 500\n"
                                 "100   -6  0  6   # the low end\n"
                                 "1000  -1  0  1\n"
                                 "1000  -2  0  -\n"
                                 "10000 -2  0  -\n"
                                 "thd 100 10\nthd 10000 1\n"
                                 "h3 100 -40\n");
    EXPECT_EQ(limits.reference, 500);
    EXPECT_EQ(limits.highestOrder, 3);
    ASSERT_EQ(limits.curves.size(), 3u);
    const LimitCurve& response = limits.curves[0];
    EXPECT_NEAR(limitAt(response, 0, std::sqrt(100.0 * 1000)), -3.5, 1e-12); // half way
    EXPECT_NEAR(limitAt(response, 2, std::sqrt(100.0 * 1000)), 3.5, 1e-12);
    EXPECT_EQ(limitAt(response, 0, 1000), -1);           // the stricter of the step
    EXPECT_EQ(limitAt(response, 2, 1000), 1);            // the only max there
    EXPECT_TRUE(std::isnan(limitAt(response, 2, 2000))); // none after the step
    EXPECT_EQ(limitAt(response, 0, 2000), -2);
    EXPECT_TRUE(std::isnan(limitAt(response, 0, 99))); // outside the span
    EXPECT_NEAR(limitAt(limits.curves[1], 2, 1000), 5.5, 1e-12);
    EXPECT_EQ(limitAt(limits.curves[2], 2, 100), -40); // one row binds at its frequency
    EXPECT_TRUE(std::isnan(limitAt(limits.curves[2], 2, 101)));
    const std::vector<double> probes = limitFrequencies(limits);
    EXPECT_EQ(probes.front(), 500);
    EXPECT_EQ(probes.size(), 1u + 7u);
}

TEST(IrLimits, BadRowsAreNamedByTheirLine) {
    const Refusal cases[] = {
        {"", "no limit rows"},
        {"100 -1 0\n", "line 1: a response row is FREQUENCY MIN IDEAL MAX"},
        {"100 1 0 -1\n", "line 1: the minimum lies above the maximum"},
        {"\n200 -1 0 1\n100 -1 0 1\n", "line 3: the frequencies of response rows must not fall"},
        {"thd 100\n", "line 1: thd needs a frequency and a maximum in percent"},
        {"thd 100 -1\n", "line 1: thd needs a frequency and a maximum in percent"},
        {"h1 100 -40\n", "line 1: unknown row h1 (orders h2 to h10)"},
        {"h11 100 -40\n", "line 1: unknown row h11"},
        {"reference 0\n", "line 1: reference needs one frequency above 0 Hz"},
        {"0 -1 0 1\n", "line 1: the frequency must lie above 0 Hz"},
        {"100 -1 zero 1\n", "line 1: a response row"},
    };
    for (const auto& c : cases) {
        Limits limits;
        std::string error;
        EXPECT_FALSE(parseLimits(c.input, &limits, &error)) << c.input;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
    }
}

TEST(IrLimits, TheWorstMarginInDecibelsDecidesAndWhatCannotBeMeasuredFails) {
    const Limits limits = parsed("100 -3 0 3\n10000 -3 0 3\nthd 100 10\nthd 5000 10\n"
                                 "h3 100 -30\nh3 3000 -30\n");
    // The reference lies at 2 dB: the response rows are relative to it.
    std::vector<ResponsePoint> points = {point(100, 2, 1, -50), point(1000, 2, 1, -50),
                                         point(3000, 2.5, 5, -35), point(5000, 2, 8, kNaN),
                                         point(10000, 2, kNaN)};
    LimitVerdict v = judgeLimits(limits, points, 2);
    EXPECT_TRUE(v.pass);
    EXPECT_NEAR(v.worstMarginDb, 20 * std::log10(10.0 / 8), 1e-12); // THD 8 % of 10 %
    EXPECT_EQ(v.worstFrequency, 5000);
    EXPECT_EQ(v.worstLimit, "thd");
    EXPECT_EQ(v.unmeasured, "");

    points[2].magnitudeDb = 5.5; // 3.5 dB above the reference
    v = judgeLimits(limits, points, 2);
    EXPECT_FALSE(v.pass);
    EXPECT_NEAR(v.worstMarginDb, -0.5, 1e-12);
    EXPECT_EQ(v.worstLimit, "response max");
    EXPECT_EQ(v.worstFrequency, 3000);

    points[2].magnitudeDb = 2.5;
    points[1].orderDb[3] = kNaN; // the sweep does not reach 3 kHz at 1 kHz
    v = judgeLimits(limits, points, 2);
    EXPECT_FALSE(v.pass);
    EXPECT_EQ(v.unmeasured, "h3 at 1000 Hz lies outside what the sweep measures");
    EXPECT_FALSE(judgeLimits(limits, {points[0]}, kNaN).pass); // no reference

    // Only where a limit binds: the H3 rows end at 3 kHz, the THD rows at 5 kHz.
    points[1].orderDb[3] = -50;
    points[4].thdPercent = kNaN;
    EXPECT_TRUE(judgeLimits(limits, points, 2).pass);

    // Rows that judge no point are no pass: the command refuses them.
    v = judgeLimits(limits, {point(20000, 2, 1, -50)}, 2);
    EXPECT_TRUE(v.judgedNothing);
    EXPECT_FALSE(v.pass);
    EXPECT_FALSE(judgeLimits(limits, points, 2).judgedNothing);
}
