// Line plots as SVG text: panels stacked over one x axis (logarithmic in frequency, or
// linear), a grid, labelled axes, a legend beside the panels and optional vertical markers.
// Every number is written by fixedText, and nothing depends on the time or the locale, so
// the same plot gives the same bytes.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct PlotSeries {
    std::string label;
    std::vector<double> x;
    std::vector<double> y; // a value that is not finite breaks the line
    int color = 0;         // palette index
    bool dashed = false;   // drawn first, under the rest: limits
    std::string dashArray; // its own pattern, e.g. "2 3" for dots; dashed: "6 4"
    double width = 1.6;    // of the line
    double opacity = 1;    // below 1 for many lines drawn over each other
    // An empty label leaves the series out of the legend.
};

struct PlotPanel {
    std::string yLabel;
    double yMin = 0;
    double yMax = 1;
    double yStep = 0; // grid step; 0: chosen from the range
    std::vector<PlotSeries> series;
};

struct Plot {
    std::string title;
    std::string xLabel;
    bool logX = true; // frequency in Hz, ticks at 1, 2 and 5 of each decade
    double xMin = 10;
    double xMax = 20000;
    std::vector<PlotPanel> panels;
    std::vector<std::pair<double, std::string>> markers; // dotted vertical lines with labels
};

std::string renderSvg(const Plot& plot);

// A range around [low, high] that ends on multiples of a round step (1, 2 or 5 times a power
// of ten) giving at most `ticks` intervals.
void roundRange(double low, double high, int ticks, double* min, double* max, double* step);
