#include "measure/plots/ir_plots.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "measure/plots/svg_plot.h"
#include "measure/text/number_text.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kImpulseFloorDb = -140;
constexpr size_t kImpulseColumns = 1400; // the envelope's resolution across the plot

std::string smoothingText(double smoothing) {
    return smoothing > 0
               ? ", 1/" + fixedText(smoothing, smoothing == std::floor(smoothing) ? 0 : 2) +
                     "-octave smoothing"
               : "";
}

Plot frequencyPlot(const ChannelIr& ir, const std::string& title) {
    Plot plot;
    plot.title = title;
    plot.xLabel = "frequency (Hz)";
    plot.logX = true;
    plot.xMin = ir.points.empty() ? 10 : ir.points.front().frequency;
    plot.xMax = ir.points.empty() ? 20000 : ir.points.back().frequency;
    return plot;
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
    Plot plot = frequencyPlot(ir, context.channel + ": frequency response");
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
        angle.x.push_back(p.frequency);
        angle.y.push_back(p.phaseDeg);
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

std::string distortionPlotSvg(const ChannelIr& ir, const IrPlotContext& context) {
    Plot plot = frequencyPlot(ir, context.channel + ": harmonic distortion" +
                                      smoothingText(context.smoothing));
    PlotPanel panel;
    panel.yLabel = "level relative to the fundamental (dB)";
    double low = -60;
    double high = 0;
    PlotSeries thd;
    thd.label = "THD";
    thd.width = 4; // under the orders, which it often all but equals
    for (const ResponsePoint& p : ir.points) {
        thd.x.push_back(p.frequency);
        thd.y.push_back(p.thdPercent > 0 ? 20 * std::log10(p.thdPercent / 100) : kNaN);
        widen(thd.y.back(), &low, &high);
    }
    panel.series.push_back(thd);
    const size_t orders = ir.points.empty() ? 0 : ir.points.front().orderDb.size();
    for (size_t n = 2; n < orders; ++n) {
        PlotSeries order;
        order.label = "H" + std::to_string(n);
        order.color = int(n) - 1;
        for (const ResponsePoint& p : ir.points) {
            order.x.push_back(p.frequency);
            order.y.push_back(p.orderDb[n]);
            widen(p.orderDb[n], &low, &high);
        }
        panel.series.push_back(order);
    }
    if (context.limits != nullptr) {
        for (const LimitCurve& curve : context.limits->curves) {
            if (!curve.thd && curve.order == 1) {
                continue;
            }
            PlotSeries s =
                limitSeries(ir, curve, 2, 0,
                            curve.thd ? "THD limit" : "H" + std::to_string(curve.order) + " limit",
                            curve.thd ? 0 : curve.order - 1);
            if (curve.thd) {
                for (double& y : s.y) {
                    y = y > 0 ? 20 * std::log10(y / 100) : kNaN;
                }
            }
            panel.series.push_back(s);
        }
    }
    // Far below the fundamental there is only the noise of the arithmetic.
    low = std::max(low, kImpulseFloorDb);
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
