#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measure/plots/ir_plots.h"
#include "measure/plots/svg_plot.h"
#include "measure/text/number_text.h"

namespace {

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

Plot responsePlot() {
    Plot plot;
    plot.title = "rec.wav channel 2 <left & right>";
    plot.xLabel = "frequency (Hz)";
    plot.xMin = 20;
    plot.xMax = 20000;
    PlotPanel panel;
    panel.yLabel = "magnitude (dB)";
    panel.yMin = -12;
    panel.yMax = 6;
    PlotSeries series;
    series.label = "magnitude";
    for (double f = 20; f <= 20000; f *= 1.5) {
        series.x.push_back(f);
        series.y.push_back(f > 700 && f < 1200 ? std::numeric_limits<double>::quiet_NaN()
                                               : -3 * std::sin(std::log(f)));
    }
    panel.series.push_back(series);
    PlotSeries limit;
    limit.label = "max limit";
    limit.dashed = true;
    limit.x = {20, 20000};
    limit.y = {3, 3};
    panel.series.push_back(limit);
    plot.panels = {panel, panel};
    return plot;
}

} // namespace

TEST(FixedText, RoundsHalfAwayFromZeroWithoutALocaleOrANegativeZero) {
    EXPECT_EQ(fixedText(-12.345678, 2), "-12.35");
    EXPECT_EQ(fixedText(0.125, 2), "0.13");
    EXPECT_EQ(fixedText(1000, 0), "1000");
    EXPECT_EQ(fixedText(0.05, 3), "0.050");
    EXPECT_EQ(fixedText(-0.0001, 2), "0.00");
    EXPECT_EQ(fixedText(std::nan(""), 2), "");
    EXPECT_EQ(fixedText(INFINITY, 2), "");
}

TEST(SvgPlot, TheSamePlotGivesTheSameBytesWithEveryPartNamed) {
    const std::string svg = renderSvg(responsePlot());
    EXPECT_EQ(svg, renderSvg(responsePlot()));
    EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"960.00\"", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_NE(svg.find(">rec.wav channel 2 &lt;left &amp; right&gt;</text>"), std::string::npos);
    // Decades labelled at 1, 2 and 5; the rest of each decade a fine grid line.
    for (const char* label : {">20<", ">50<", ">100<", ">1k<", ">2k<", ">10k<", ">20k<"}) {
        EXPECT_EQ(count(svg, label), 1u) << label;
    }
    EXPECT_EQ(count(svg, ">30<"), 0u);
    EXPECT_EQ(count(svg, ">frequency (Hz)<"), 1u); // under the last panel only
    EXPECT_EQ(count(svg, ">magnitude (dB)</text>"), 2u);
    EXPECT_EQ(count(svg, ">-10<"), 2u); // a grid step of 5 dB
    EXPECT_EQ(count(svg, ">-12<"), 0u);
    EXPECT_EQ(count(svg, ">max limit<"), 2u);
    EXPECT_EQ(count(svg, "stroke-dasharray=\"6 4\""), 4u); // 2 lines, 2 legend marks
    // The gap around 1 kHz splits the line in two, in each panel.
    EXPECT_EQ(count(svg, "<polyline"), 2u * 3u);
    const size_t points = svg.find("points=\"") + 8;
    EXPECT_EQ(svg.substr(points, 6), "80.00,"); // fixed decimals
    EXPECT_EQ(svg[svg.find(' ', points) - 3], '.');
}

TEST(SvgPlot, RoundRangesEndOnMultiplesOfOneTwoOrFive) {
    double min = 0, max = 0, step = 0;
    roundRange(-43.2, 1.7, 8, &min, &max, &step);
    EXPECT_EQ(step, 10);
    EXPECT_EQ(min, -50);
    EXPECT_EQ(max, 10);
    roundRange(0.01, 0.09, 8, &min, &max, &step);
    EXPECT_NEAR(step, 0.01, 1e-15);
    roundRange(5, 5, 8, &min, &max, &step); // no range: one is made around the value
    EXPECT_LT(min, 5);
    EXPECT_GT(max, 5);
}

namespace {

// Points from 30 Hz to 15 kHz whose phase wraps once, with H2 below its noise floor
// under 100 Hz and H3 never measured.
ChannelIr measured() {
    ChannelIr ir;
    for (double f = 30; f < 15000; f *= 1.1) {
        ResponsePoint p;
        p.frequency = f;
        p.phaseDeg = f < 1000 ? 170 : -170;
        const bool below = f < 100;
        p.orderDb = {NAN, NAN, below ? NAN : -40.0, NAN};
        p.orderPhaseDeg = {NAN, NAN, 0, NAN};
        p.orderNoiseDb = {NAN, NAN, -90, -95};
        p.orderBelowNoise = {false, false, below, false};
        p.thdPercent = below ? NAN : 1.0;
        ir.points.push_back(p);
    }
    return ir;
}

} // namespace

TEST(IrPlots, ShowTheAudioBandsEndsTheNoiseFloorBrokenWrapsAndTheVerdict) {
    const ChannelIr ir = measured();
    Limits limits;
    LimitVerdict verdict;
    verdict.pass = false;
    verdict.worstMarginDb = -1.5;
    verdict.worstFrequency = 2000;
    verdict.worstLimit = "thd";
    IrPlotContext context;
    context.channel = "rec.wav channel 1";
    context.rate = 48000;
    context.limits = &limits;
    context.verdict = &verdict;
    const std::string response = responsePlotSvg(ir, context);
    const std::string distortion = distortionPlotSvg(ir, context);
    for (const std::string* svg : {&response, &distortion}) {
        EXPECT_NE(svg->find(">20</text>"), std::string::npos);
        EXPECT_NE(svg->find(">20k</text>"), std::string::npos);
        EXPECT_NE(svg->find(" - limits: FAIL</text>"), std::string::npos);
        EXPECT_NE(svg->find(">worst margin -1.50 dB (thd)</text>"), std::string::npos);
    }
    // The phase, one series, in two pieces either side of the wrap: no stroke across it.
    EXPECT_EQ(count(response, "<polyline"), 3u);
    // H2 from where it stands above its floor, THD with it, and the floor throughout.
    EXPECT_NE(distortion.find(">noise floor</text>"), std::string::npos);
    EXPECT_EQ(count(distortion, "stroke-dasharray=\"1 3\""), 2u); // the floor and its legend
    EXPECT_EQ(count(distortion, "<polyline"), 3u);                // H2, THD, the floor
}
