#include "measure/plots/svg_plot.h"

#include <algorithm>
#include <cmath>

#include "measure/text/number_text.h"

namespace {

constexpr double kWidth = 960;
constexpr double kLeft = 80;   // room for the y labels
constexpr double kRight = 200; // the legend
constexpr double kTop = 50;    // the title
constexpr double kBottom = 60; // the x labels
constexpr double kPanelGap = 30;
const char* const kPalette[] = {"#1f5fa8", "#c8321e", "#2e8b3a", "#e08a00", "#7b4ea8",
                                "#8c5a3c", "#d0508c", "#5a5a5a", "#1a9aa8"};

std::string px(double value) {
    return fixedText(value, 2);
}

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string color(int index) {
    return kPalette[size_t(index) % (sizeof kPalette / sizeof kPalette[0])];
}

// The fewest decimals that write every multiple of step exactly.
int decimalsFor(double step) {
    int decimals = 0;
    while (decimals < 6 && std::fabs(step * std::pow(10.0, decimals) -
                                     std::round(step * std::pow(10.0, decimals))) > 1e-9) {
        ++decimals;
    }
    return decimals;
}

std::string hzText(double f) {
    if (f >= 1000) {
        const double k = f / 1000;
        return fixedText(k, decimalsFor(k)) + "k";
    }
    return fixedText(f, decimalsFor(f));
}

// A legend's mark is at least 2 wide, to be seen.
std::string seriesStyle(const PlotSeries& series, bool legend) {
    const double width = legend ? std::max(2.0, series.width) : series.width;
    const std::string dash = !series.dashArray.empty() ? series.dashArray
                             : series.dashed           ? "6 4"
                                                       : "";
    return "stroke=\"" + color(series.color) + "\"" +
           (dash.empty() ? "" : " stroke-dasharray=\"" + dash + "\"") +
           (legend || width != 1.6 ? " stroke-width=\"" + px(width) + "\"" : "") +
           (series.opacity < 1 ? " stroke-opacity=\"" + fixedText(series.opacity, 2) + "\"" : "");
}

struct Frame {
    double left, top, width, height;
};

} // namespace

void roundRange(double low, double high, int ticks, double* min, double* max, double* step) {
    if (!(high > low)) {
        const double middle = std::isfinite(low) ? low : 0;
        low = middle - 1;
        high = middle + 1;
    }
    const double raw = (high - low) / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double chosen = power * 10;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw * (1 - 1e-9)) {
            chosen = m * power;
            break;
        }
    }
    *step = chosen;
    *min = std::floor(low / chosen + 1e-9) * chosen;
    *max = std::ceil(high / chosen - 1e-9) * chosen;
}

namespace {

using Ticks = std::vector<std::pair<double, bool>>; // value, labelled

// Where x lands across the panels' width.
struct XAxis {
    const Plot& plot;
    double width;

    double pixel(double x) const {
        const double part = plot.logX ? std::log(x / plot.xMin) / std::log(plot.xMax / plot.xMin)
                                      : (x - plot.xMin) / (plot.xMax - plot.xMin);
        return kLeft + part * width;
    }
};

std::string svgHead(const Plot& plot, double height) {
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + px(kWidth) +
                      "\" height=\"" + px(height) + "\" viewBox=\"0 0 " + px(kWidth) + " " +
                      px(height) +
                      "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" "
                      "font-size=\"13\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += "<text x=\"" + px(kWidth / 2) +
           "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\" "
           "font-weight=\"bold\">" +
           escaped(plot.title) + "</text>\n";
    return svg;
}

// The x ticks: 1, 2 and 5 of each decade labelled, the rest of the decade as fine grid.
Ticks xTicks(const Plot& plot) {
    Ticks ticks;
    if (plot.logX) {
        for (double decade = std::pow(10.0, std::floor(std::log10(plot.xMin))); decade <= plot.xMax;
             decade *= 10) {
            for (int m = 1; m <= 9; ++m) {
                const double x = decade * m;
                if (x >= plot.xMin * (1 - 1e-9) && x <= plot.xMax * (1 + 1e-9)) {
                    ticks.push_back({x, m == 1 || m == 2 || m == 5});
                }
            }
        }
        return ticks;
    }
    double min = 0, max = 0, step = 0;
    roundRange(plot.xMin, plot.xMax, 10, &min, &max, &step);
    for (double x = min; x <= plot.xMax + step * 1e-9; x += step) {
        if (x >= plot.xMin - step * 1e-9) {
            ticks.push_back({std::fabs(x) < step * 1e-9 ? 0 : x, true});
        }
    }
    return ticks;
}

double panelY(const PlotPanel& panel, const Frame& f, double y) {
    return f.top + f.height * (panel.yMax - y) / (panel.yMax - panel.yMin);
}

// The panel's clip, grid, y labels, frame and y axis name.
std::string panelGrid(const PlotPanel& panel, const Frame& f, const XAxis& x, const Ticks& ticks,
                      const std::string& clip) {
    double step = panel.yStep;
    if (!(step > 0)) {
        double min = 0, max = 0;
        roundRange(panel.yMin, panel.yMax, 8, &min, &max, &step);
    }
    std::string svg = "<clipPath id=\"" + clip + "\"><rect x=\"" + px(f.left) + "\" y=\"" +
                      px(f.top) + "\" width=\"" + px(f.width) + "\" height=\"" + px(f.height) +
                      "\"/></clipPath>\n";
    svg += "<g stroke=\"#dddddd\" stroke-width=\"1\">\n";
    for (const auto& tick : ticks) {
        svg += "<line x1=\"" + px(x.pixel(tick.first)) + "\" y1=\"" + px(f.top) + "\" x2=\"" +
               px(x.pixel(tick.first)) + "\" y2=\"" + px(f.top + f.height) + "\"" +
               (tick.second ? " stroke=\"#bbbbbb\"" : "") + "/>\n";
    }
    const int yDecimals = decimalsFor(step);
    std::string labels;
    for (double y = std::ceil(panel.yMin / step - 1e-9) * step; y <= panel.yMax + step * 1e-9;
         y += step) {
        const double at = panelY(panel, f, y);
        svg += "<line x1=\"" + px(f.left) + "\" y1=\"" + px(at) + "\" x2=\"" +
               px(f.left + f.width) + "\" y2=\"" + px(at) + "\"/>\n";
        labels += "<text x=\"" + px(f.left - 8) + "\" y=\"" + px(at + 4) +
                  "\" text-anchor=\"end\">" +
                  fixedText(std::fabs(y) < step * 1e-9 ? 0 : y, yDecimals) + "</text>\n";
    }
    svg += "</g>\n" + labels;
    svg += "<rect x=\"" + px(f.left) + "\" y=\"" + px(f.top) + "\" width=\"" + px(f.width) +
           "\" height=\"" + px(f.height) + "\" fill=\"none\" stroke=\"#333333\"/>\n";
    svg += "<text transform=\"translate(" + px(22) + " " + px(f.top + f.height / 2) +
           ") rotate(-90)\" text-anchor=\"middle\">" + escaped(panel.yLabel) + "</text>\n";
    return svg;
}

std::string xLabels(const Plot& plot, const Frame& f, const XAxis& x, const Ticks& ticks) {
    std::string svg;
    for (const auto& tick : ticks) {
        if (tick.second) {
            svg +=
                "<text x=\"" + px(x.pixel(tick.first)) + "\" y=\"" + px(f.top + f.height + 18) +
                "\" text-anchor=\"middle\">" +
                (plot.logX ? hzText(tick.first) : fixedText(tick.first, decimalsFor(tick.first))) +
                "</text>\n";
        }
    }
    svg += "<text x=\"" + px(f.left + f.width / 2) + "\" y=\"" + px(f.top + f.height + 42) +
           "\" text-anchor=\"middle\">" + escaped(plot.xLabel) + "</text>\n";
    return svg;
}

std::string markerLines(const Plot& plot, const Frame& f, const XAxis& axis) {
    std::string svg;
    for (const auto& marker : plot.markers) {
        const double x = axis.pixel(marker.first);
        // In the right half of the panel the label stands left of its line, clear of the legend.
        const bool left = x > f.left + 0.5 * f.width;
        svg += "<line x1=\"" + px(x) + "\" y1=\"" + px(f.top) + "\" x2=\"" + px(x) + "\" y2=\"" +
               px(f.top + f.height) +
               "\" stroke=\"#888888\" stroke-dasharray=\"2 3\"/>\n<text x=\"" +
               px(left ? x - 4 : x + 4) + "\" y=\"" + px(f.top + 16) + "\"" +
               (left ? " text-anchor=\"end\"" : "") + " fill=\"#555555\">" +
               escaped(marker.second) + "</text>\n";
    }
    return svg;
}

// One series as polylines, broken where a value is not finite.
std::string seriesLines(const PlotSeries& series, const PlotPanel& panel, const Frame& f,
                        const XAxis& x) {
    std::string svg;
    std::string points;
    auto flush = [&]() {
        if (!points.empty()) {
            svg += "<polyline " + seriesStyle(series, false) + " points=\"" + points + "\"/>\n";
            points.clear();
        }
    };
    for (size_t i = 0; i < series.x.size() && i < series.y.size(); ++i) {
        if (!std::isfinite(series.y[i]) || !std::isfinite(series.x[i]) ||
            (x.plot.logX && !(series.x[i] > 0))) {
            flush();
            continue;
        }
        // Far outside the panel the clip hides the line; keep the numbers short.
        const double y = std::max(f.top - f.height,
                                  std::min(f.top + 2 * f.height, panelY(panel, f, series.y[i])));
        points += (points.empty() ? "" : " ") + px(x.pixel(series.x[i])) + "," + px(y);
    }
    flush();
    return svg;
}

std::string legendRows(const PlotPanel& panel, const Frame& f) {
    std::string legend;
    size_t shown = 0;
    for (size_t s = 0; s < panel.series.size(); ++s) {
        if (panel.series[s].label.empty()) {
            continue; // one of many alike: the legend names their kind once
        }
        const double row = f.top + 14 + 20 * double(shown++);
        legend += "<line x1=\"" + px(kWidth - kRight + 16) + "\" y1=\"" + px(row - 4) + "\" x2=\"" +
                  px(kWidth - kRight + 44) + "\" y2=\"" + px(row - 4) + "\" " +
                  seriesStyle(panel.series[s], true) + "/>\n<text x=\"" + px(kWidth - kRight + 52) +
                  "\" y=\"" + px(row) + "\">" + escaped(panel.series[s].label) + "</text>\n";
    }
    return legend;
}

} // namespace

std::string renderSvg(const Plot& plot) {
    const size_t panels = std::max<size_t>(1, plot.panels.size());
    const double panelHeight = panels == 1 ? 420 : 260;
    const double height =
        kTop + double(panels) * panelHeight + double(panels - 1) * kPanelGap + kBottom;
    const XAxis x{plot, kWidth - kLeft - kRight};
    const Ticks ticks = xTicks(plot);
    std::string svg = svgHead(plot, height);
    for (size_t p = 0; p < plot.panels.size(); ++p) {
        const PlotPanel& panel = plot.panels[p];
        const Frame f{kLeft, kTop + double(p) * (panelHeight + kPanelGap), x.width, panelHeight};
        const std::string clip = "panel" + std::to_string(p);
        svg += panelGrid(panel, f, x, ticks, clip);
        // The x labels under the last panel only.
        if (p + 1 == plot.panels.size()) {
            svg += xLabels(plot, f, x, ticks);
        }
        svg += markerLines(plot, f, x);
        svg += "<g clip-path=\"url(#" + clip + ")\" fill=\"none\" stroke-width=\"1.6\" " +
               "stroke-linejoin=\"round\">\n";
        // Limits and other dashed lines first, so that the measurement lies on top of them.
        for (int pass = 0; pass < 2; ++pass) {
            for (const PlotSeries& series : panel.series) {
                if (series.dashed != (pass == 1)) {
                    svg += seriesLines(series, panel, f, x);
                }
            }
        }
        svg += "</g>\n" + legendRows(panel, f);
    }
    svg += "</svg>\n";
    return svg;
}
