#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "measure/plots/ir_plots.h"

namespace {

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

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
