#include <gtest/gtest.h>

#include <algorithm>
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
        {"polarity reversed\n", "line 1: polarity needs normal or inverted"},
        {"float 2000 200\n", "line 1: float needs FROM TO, two frequencies rising"},
        {"level 3 -3\n", "line 1: level needs MIN MAX in dB, rising"},
        {"level -3 3\n", "a level row needs a float row"},
        {"rb 100\n", "line 1: rb needs a frequency and a maximum in dB"},
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

// A loudspeaker's rows: rub and buzz, the polarity, and floating limits with the level judged
// apart; where several fail, the fault is named by what explains the others.
TEST(IrLimits, ALoudspeakersRowsAndTheFaultTheyName) {
    auto at = [](double f, double db, double rb) {
        ResponsePoint p = point(f, db, 0.5);
        p.rbPeakDb = rb;
        return p;
    };
    const Limits floating = parsed("float 200 2000\nlevel -3 3\n100 -2 0 2\n5000 -2 0 2\n"
                                   "rb 100 -30\nrb 1000 -30\npolarity normal\n");
    EXPECT_EQ(floating.polarity, Polarity::Normal);
    const std::vector<double> probes = limitFrequencies(floating);
    EXPECT_NE(std::find(probes.begin(), probes.end(), 200.0), probes.end());
    struct Case {
        const char* what;
        std::vector<ResponsePoint> points;
        bool pass;
        const char* named;
        double frequency;
    };
    const Case cases[] = {
        // 4 dB louder throughout: the response floats with it, the level does not.
        {"louder", {at(100, 4, -50), at(1000, 4, -50), at(5000, 4, -50)}, false, "level max", 200},
        {"flat", {at(100, 1, -50), at(1000, 1, -50), at(5000, 1, -50)}, true, "level max", 200},
        {"a rub", {at(100, 0, -20), at(1000, 0, -50), at(5000, 0, -50)}, false, "rb", 100},
        // 6 dB weak at 100 Hz: its rub and buzz 5 dB over the limit is what that explains.
        {"a leak",
         {at(100, -6, -25), at(1000, 0, -50), at(5000, 0, -50)},
         false,
         "response min",
         100},
        // A buzz: the fundamental a little weak, the rub and buzz far over.
        {"a buzz", {at(100, -2.5, -10), at(1000, 0, -50), at(5000, 0, -50)}, false, "rb", 100},
    };
    for (const Case& c : cases) {
        const LimitVerdict v = judgeLimits(floating, c.points, kNaN);
        EXPECT_EQ(v.pass, c.pass) << c.what;
        EXPECT_EQ(v.worstLimit, c.named) << c.what;
        EXPECT_EQ(v.worstFrequency, c.frequency) << c.what;
    }
    // The polarity: a fail with its sentence; a polarity row alone passes with no margin.
    LimitVerdict v = judgeLimits(floating, cases[1].points, kNaN);
    judgePolarity(floating, Polarity::Inverted, &v);
    EXPECT_FALSE(v.pass);
    EXPECT_EQ(v.polarityFault, "polarity inverted, normal wanted");
    const Limits polarityOnly = parsed("polarity inverted\n");
    for (Polarity measured : {Polarity::Inverted, Polarity::Undetermined}) {
        v = judgeLimits(polarityOnly, cases[1].points, 0);
        judgePolarity(polarityOnly, measured, &v);
        EXPECT_EQ(v.pass, measured == Polarity::Inverted);
        EXPECT_TRUE(std::isnan(v.worstMarginDb));
    }
}
