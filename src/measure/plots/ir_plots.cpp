#include "measure/plots/ir_plots.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "measure/plots/svg_plot.h"
#include "measure/text/number_text.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kImpulseFloorDb = -140;
constexpr double kDecayFloorDb = -80;       // below it no room parameter is read
constexpr double kDistortionFloorDb = -200; // below it, only the arithmetic's own noise
constexpr size_t kImpulseColumns = 1400;    // the envelope's resolution across the plot
constexpr double kAudioLow = 20;
constexpr double kAudioHigh = 20000;

std::string smoothingText(double smoothing) {
    return smoothing > 0
               ? ", 1/" + fixedText(smoothing, smoothing == std::floor(smoothing) ? 0 : 2) +
                     "-octave smoothing"
               : "";
}

// Log frequency over at least the audio band, so that its ends have their ticks; with
// limits, the verdict in the title and the worst margin's point marked.
Plot frequencyPlot(const ChannelIr& ir, const std::string& title, const IrPlotContext& context) {
    Plot plot;
    plot.title = title;
    plot.xLabel = "frequency (Hz)";
    plot.logX = true;
    plot.xMin = std::min(kAudioLow, ir.points.empty() ? kAudioLow : ir.points.front().frequency);
    plot.xMax = std::max(kAudioHigh, ir.points.empty() ? kAudioHigh : ir.points.back().frequency);
    const LimitVerdict* v = context.verdict;
    if (v != nullptr) {
        plot.title += v->pass ? " - limits: pass" : " - limits: FAIL";
        if (v->unmeasured.empty() && std::isfinite(v->worstFrequency)) {
            plot.markers.push_back(
                {v->worstFrequency,
                 "worst margin " + fixedText(v->worstMarginDb, 2) + " dB (" + v->worstLimit + ")"});
        }
    }
    return plot;
}

// Phase wraps from +180 to -180 degrees as a break in the line, not a stroke across it.
void addPhase(PlotSeries* series, double f, double degrees) {
    if (!series->y.empty() && std::isfinite(series->y.back()) &&
        std::fabs(degrees - series->y.back()) > 180) {
        series->x.push_back(f);
        series->y.push_back(kNaN);
    }
    series->x.push_back(f);
    series->y.push_back(degrees);
}

// The limit curve's side over the plot's frequencies, shifted by offset; NaN outside it.
PlotSeries limitSeries(const ChannelIr& ir, const LimitCurve& curve, int side, double offset,
                       const std::string& label, int color) {
    PlotSeries series;
    series.label = label;
    series.color = color;
    series.dashed = true;
    std::vector<double> frequencies;
    for (const ResponsePoint& p : ir.points) {
        frequencies.push_back(p.frequency);
    }
    // The rows themselves too, so that steps stand upright.
    for (const LimitRow& row : curve.rows) {
        frequencies.push_back(row.frequency);
        frequencies.push_back(row.frequency * (1 + 1e-9));
        frequencies.push_back(row.frequency * (1 - 1e-9));
    }
    std::sort(frequencies.begin(), frequencies.end());
    for (double f : frequencies) {
        if (f < curve.rows.front().frequency || f > curve.rows.back().frequency) {
            continue;
        }
        series.x.push_back(f);
        series.y.push_back(limitAt(curve, side, f) + offset);
    }
    return series;
}

void widen(double value, double* low, double* high) {
    if (std::isfinite(value)) {
        *low = std::min(*low, value);
        *high = std::max(*high, value);
    }
}

} // namespace

std::string responsePlotSvg(const ChannelIr& ir, const IrPlotContext& context) {
    Plot plot = frequencyPlot(ir, context.channel + ": frequency response", context);
    PlotPanel magnitude;
    magnitude.yLabel = "magnitude (dB)";
    PlotPanel phase;
    phase.yLabel = "phase (degrees, delay removed)";
    phase.yMin = -180;
    phase.yMax = 180;
    phase.yStep = 45;
    PlotSeries level;
    level.label = "magnitude";
    PlotSeries angle;
    angle.label = "phase";
    angle.color = 0;
    double low = INFINITY;
    double high = -INFINITY;
    for (const ResponsePoint& p : ir.points) {
        level.x.push_back(p.frequency);
        level.y.push_back(p.magnitudeDb);
        addPhase(&angle, p.frequency, p.phaseDeg);
        widen(p.magnitudeDb, &low, &high);
    }
    magnitude.series.push_back(level);
    if (context.limits != nullptr) {
        for (const LimitCurve& curve : context.limits->curves) {
            if (curve.thd || curve.order != 1) {
                continue;
            }
            const char* names[] = {"min limit", "ideal", "max limit"};
            const int colors[] = {1, 2, 1};
            for (int side = 0; side < 3; ++side) {
                PlotSeries s =
                    limitSeries(ir, curve, side, context.referenceDb, names[side], colors[side]);
                for (double y : s.y) {
                    widen(y, &low, &high);
                }
                magnitude.series.push_back(s);
            }
        }
    }
    double step = 0;
    roundRange(low - 1, high + 1, 8, &magnitude.yMin, &magnitude.yMax, &step);
    magnitude.yStep = step;
    magnitude.series.front().label += smoothingText(context.smoothing).empty() ? "" : " (smoothed)";
    phase.series.push_back(angle);
    plot.panels = {magnitude, phase};
    plot.title += smoothingText(context.smoothing);
    return renderSvg(plot);
}

namespace {

// The harmonics' noise floor, as THD is judged against it: all orders' floors together.
PlotSeries noiseSeries(const ChannelIr& ir, double* low, double* high) {
    PlotSeries noise;
    noise.label = "noise floor";
    noise.color = 7;
    noise.width = 1;
    noise.dashArray = "1 3";
    for (const ResponsePoint& p : ir.points) {
        double power = 0;
        for (double db : p.orderNoiseDb) {
            power += std::isfinite(db) ? std::pow(10.0, db / 10) : 0;
        }
        noise.x.push_back(p.frequency);
        noise.y.push_back(power > 0 ? 10 * std::log10(power) : kNaN);
        widen(noise.y.back(), low, high);
    }
    return noise;
}

void addLimitLines(const ChannelIr& ir, const IrPlotContext& context, PlotPanel* panel) {
    if (context.limits == nullptr) {
        return;
    }
    for (const LimitCurve& curve : context.limits->curves) {
        if (!curve.thd && curve.order == 1) {
            continue;
        }
        const std::string name = curve.thd          ? "THD limit"
                                 : curve.order == 0 ? "rub and buzz limit"
                                                    : "H" + std::to_string(curve.order) + " limit";
        PlotSeries s = limitSeries(ir, curve, 2, 0, name,
                                   curve.thd          ? 7
                                   : curve.order == 0 ? 8
                                                      : curve.order - 1);
        if (curve.thd) {
            for (double& y : s.y) {
                y = y > 0 ? 20 * std::log10(y / 100) : kNaN;
            }
        }
        panel->series.push_back(s);
    }
}

} // namespace

std::string distortionPlotSvg(const ChannelIr& ir, const IrPlotContext& context) {
    Plot plot = frequencyPlot(
        ir, context.channel + ": harmonic distortion" + smoothingText(context.smoothing), context);
    PlotPanel panel;
    panel.yLabel = "level relative to the fundamental (dB)";
    double low = -60;
    double high = 0;
    // One value per point; those given widen the range where asked.
    auto series = [&](std::string label, int color, double width, const char* dashes, bool widens,
                      auto value) {
        PlotSeries s;
        s.label = std::move(label);
        s.color = color;
        s.width = width;
        s.dashArray = dashes;
        for (const ResponsePoint& p : ir.points) {
            s.x.push_back(p.frequency);
            s.y.push_back(value(p));
            if (widens) {
                widen(s.y.back(), &low, &high);
            }
        }
        return s;
    };
    // THD in dark grey dots over the orders' solid lines, which it often all but equals; what
    // lies below the noise floor is not drawn.
    const PlotSeries thd = series("THD", 7, 2.4, "2 3", true, [](const ResponsePoint& p) {
        return p.thdPercent > 0 ? 20 * std::log10(p.thdPercent / 100) : kNaN;
    });
    const size_t orders = ir.points.empty() ? 0 : ir.points.front().orderDb.size();
    for (size_t n = 2; n < orders; ++n) {
        panel.series.push_back(series("H" + std::to_string(n), int(n) - 1, 1.4, "", true,
                                      [n](const ResponsePoint& p) { return p.orderDb[n]; }));
    }
    panel.series.push_back(thd);
    // Rub and buzz: the residual's peak, dashed; it sets no range of its own (a wire's lies
    // near the arithmetic's floor), the clip hides what falls below.
    panel.series.push_back(
        series("rub and buzz peak", 8, 1.4, "6 3", false, [](const ResponsePoint& p) {
            return p.rbPeakDb > kDistortionFloorDb ? p.rbPeakDb : kNaN;
        }));
    panel.series.push_back(noiseSeries(ir, &low, &high));
    addLimitLines(ir, context, &panel);
    low = std::max(low - 10, kDistortionFloorDb);
    roundRange(low, std::min(high + 5, 20.0), 8, &panel.yMin, &panel.yMax, &panel.yStep);
    plot.panels = {panel};
    return renderSvg(plot);
}

std::string impulsePlotSvg(const ChannelIr& ir, const IrPlotContext& context) {
    Plot plot;
    plot.title = context.channel + ": impulse response";
    plot.xLabel = "time from the delay (ms); harmonics come earlier";
    plot.logX = false;
    const double msPerFrame = 1000.0 / context.rate;
    plot.xMin = double(ir.spanStart) * msPerFrame;
    plot.xMax = double(ir.spanStart + int64_t(ir.span.size())) * msPerFrame;
    PlotPanel panel;
    panel.yLabel = "|h| relative to its peak (dB)";
    PlotSeries envelope;
    envelope.label = "|h|, peak per column";
    const size_t per =
        std::max<size_t>(1, (ir.span.size() + kImpulseColumns - 1) / kImpulseColumns);
    for (size_t start = 0; start < ir.span.size(); start += per) {
        double top = 0;
        for (size_t i = start; i < start + per && i < ir.span.size(); ++i) {
            top = std::max(top, double(std::fabs(ir.span[i])));
        }
        envelope.x.push_back((double(ir.spanStart) + double(start)) * msPerFrame);
        envelope.y.push_back(top > 0 ? std::max(20 * std::log10(top / ir.peak), kImpulseFloorDb)
                                     : kImpulseFloorDb);
    }
    panel.series.push_back(envelope);
    panel.yMin = kImpulseFloorDb;
    panel.yMax = 0;
    panel.yStep = 20;
    plot.panels = {panel};
    // Each order's window, its label inside it.
    for (size_t n = 1; n < ir.orderStart.size(); ++n) {
        plot.markers.push_back(
            {double(ir.orderStart[n]) * msPerFrame, n == 1 ? "linear" : "H" + std::to_string(n)});
    }
    return renderSvg(plot);
}

std::string decayPlotSvg(const std::vector<RoomBand>& room, const IrPlotContext& context) {
    Plot plot;
    plot.title = context.channel + ": decay (Schroeder), whole band and octaves";
    plot.xLabel = "time from the onset (s)";
    plot.logX = false;
    plot.xMin = 0;
    plot.xMax = 0;
    PlotPanel panel;
    panel.yLabel = "decay (dB)";
    panel.yMin = kDecayFloorDb;
    panel.yMax = 0;
    panel.yStep = 10;
    int color = 0;
    for (const RoomBand& band : room) {
        PlotSeries series;
        series.label = band.centreHz > 0 ? fixedText(band.centreHz, 0) + " Hz" : "whole band";
        series.color = color++;
        series.width = band.centreHz > 0 ? 1.2 : 2.2;
        for (size_t ms = 0; ms < band.decayDb.size(); ++ms) {
            if (band.decayDb[ms] < kDecayFloorDb) {
                break;
            }
            series.x.push_back(double(ms) / 1000);
            series.y.push_back(band.decayDb[ms]);
        }
        plot.xMax = std::max(plot.xMax, series.x.empty() ? 0.0 : series.x.back());
        panel.series.push_back(series);
    }
    plot.xMax = std::max(plot.xMax, 0.01);
    plot.panels = {panel};
    return renderSvg(plot);
}
