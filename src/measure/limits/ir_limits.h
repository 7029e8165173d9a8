// Pass/fail limits for production lines, read from a text file of rows:
//
//   reference HZ          the frequency whose response is 0 dB for the response rows [1000]
//   HZ MIN IDEAL MAX      the response in dB relative to the reference; "-" for no limit
//   thd HZ MAX            THD in percent
//   hN HZ MAX             order N's level in dB relative to the fundamental (h2, h3, ...)
//   rb HZ MAX             rub and buzz: the residual's peak in dB relative to the fundamental's
//   polarity normal       the direct sound's polarity (or inverted, for a unit so made)
//   float FROM TO         floating limits: the response rows relative to the unit's own mean
//                         level (dB) over FROM to TO Hz instead of the reference
//   level MIN MAX         that mean level, in dB relative to the played level: the sensitivity
//
// "#" starts a comment. Rows of one kind join in log frequency and bind from their first
// frequency to their last; a frequency given twice makes a step, where both rows bind.
#pragma once

#include <string>
#include <vector>

#include "measure/analysis/ir_analysis.h"

struct LimitRow {
    double frequency = 0;
    double min = 0;   // NaN: none
    double ideal = 0; // NaN: none
    double max = 0;   // NaN: none
    int line = 0;
};

struct LimitCurve {
    int order = 1;              // 1: the response; 2 .. : that order; 0: rub and buzz
    bool thd = false;           // the THD in percent
    std::vector<LimitRow> rows; // in file order, frequencies not falling
};

struct Limits {
    double reference = 1000;
    std::vector<LimitCurve> curves;
    int highestOrder = 1;                       // of the order rows
    Polarity polarity = Polarity::Undetermined; // none demanded
    double floatFrom = 0;                       // floating limits' band; 0: the reference holds
    double floatTo = 0;
    double levelMin = NAN; // the band's mean level; NaN: not judged
    double levelMax = NAN;
};

// A unit's mean level in dB over the points from `from` to `to` Hz; NaN where none lies there.
double bandLevelDb(const std::vector<ResponsePoint>& points, double from, double to);

bool parseLimits(const std::string& text, Limits* limits, std::string* error);
bool readLimits(const std::string& path, Limits* limits, std::string* error);

// Where the limits must be evaluated besides the grid: the reference and every row.
std::vector<double> limitFrequencies(const Limits& limits);

struct LimitVerdict {
    bool pass = true;
    // The least margin, negative when a limit is crossed; where several fail, the one that
    // names the fault: a distortion raised by a fundamental below its minimum by no more
    // than that shortfall is named after the response.
    double worstMarginDb = 0;
    double worstFrequency = 0;
    std::string worstLimit;     // "response min", "response max", "thd", "h3"
    std::string unmeasured;     // why a limit could not be checked (a fail), else empty
    bool judgedNothing = false; // no row set a minimum or maximum at any point
    std::string polarityFault;  // "polarity inverted, normal wanted"; empty when it agrees
};

// The polarity row against the measured polarity: a fail, with its sentence, where they
// differ or the polarity is undetermined.
void judgePolarity(const Limits& limits, Polarity measured, LimitVerdict* verdict);

// Margins in dB for every point inside a curve's span: the response against MIN and MAX,
// the THD as 20 log10(MAX / THD), an order as MAX - level. A point that the sweep cannot
// measure inside a span fails.
LimitVerdict judgeLimits(const Limits& limits, const std::vector<ResponsePoint>& points,
                         double referenceDb);

// The limit of a curve's side (0 min, 1 ideal, 2 max) at f, or NaN outside its span; at a
// step the stricter of the two rows.
double limitAt(const LimitCurve& curve, int side, double f);
