#include "measure/limits/limits_learn.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "measure/limits/ir_limits.h"

namespace {

// A unit's value at f, linear in log frequency between its points; NaN outside them or
// beside a point without one.
double valueAt(const std::vector<double>& frequency, const std::vector<double>& value, double f) {
    const auto above = std::lower_bound(frequency.begin(), frequency.end(), f);
    if (above == frequency.end() || (above == frequency.begin() && *above != f)) {
        return NAN;
    }
    const size_t i = size_t(above - frequency.begin());
    if (*above == f) {
        return value[i];
    }
    const double share = std::log(f / frequency[i - 1]) / std::log(frequency[i] / frequency[i - 1]);
    return value[i - 1] + share * (value[i] - value[i - 1]);
}

struct Spread {
    double mean = NAN;
    double deviation = NAN; // the sample standard deviation
    size_t count = 0;
};

Spread spreadOf(const std::vector<double>& values) {
    Spread s;
    double sum = 0;
    for (double v : values) {
        if (!std::isnan(v)) {
            sum += v;
            ++s.count;
        }
    }
    if (s.count < kLeastLearnUnits) {
        return s;
    }
    s.mean = sum / double(s.count);
    double squares = 0;
    for (double v : values) {
        if (!std::isnan(v)) {
            squares += (v - s.mean) * (v - s.mean);
        }
    }
    s.deviation = std::sqrt(squares / double(s.count - 1));
    return s;
}

// Each unit's 0 dB: its response at the reference, or its mean level over the float band
// at its own points, as the limits judge it.
std::vector<double> unitLevels(const std::vector<LearnUnit>& units, const LearnOptions& o) {
    std::vector<double> levels;
    for (const LearnUnit& u : units) {
        if (o.floatTo > 0) {
            std::vector<ResponsePoint> points(u.frequency.size());
            for (size_t i = 0; i < points.size(); ++i) {
                points[i].frequency = u.frequency[i];
                points[i].magnitudeDb = u.magnitudeDb[i];
            }
            levels.push_back(bandLevelDb(points, o.floatFrom, o.floatTo));
        } else {
            levels.push_back(valueAt(u.frequency, u.magnitudeDb, o.reference));
        }
    }
    return levels;
}

std::string line(const char* format, double a, double b = 0, double c = 0, double d = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

// The rows at f: the response where every unit has one; the THD and rub and buzz where most
// do (below its noise a unit has none).
void learnRows(const std::vector<LearnUnit>& units, const std::vector<double>& levels, double f,
               const LearnOptions& o, std::string* response, std::string* thd, std::string* rb) {
    std::vector<double> r;
    std::vector<double> t;
    std::vector<double> b;
    for (size_t u = 0; u < units.size(); ++u) {
        const LearnUnit& unit = units[u];
        r.push_back(valueAt(unit.frequency, unit.magnitudeDb, f) - levels[u]);
        const double percent = valueAt(unit.frequency, unit.thdPercent, f);
        t.push_back(percent > 0 ? 20 * std::log10(percent) : NAN);
        b.push_back(valueAt(unit.frequency, unit.rbPeakDb, f));
    }
    const Spread sr = spreadOf(r);
    if (sr.count == units.size()) {
        const double width = std::max(o.k * sr.deviation, o.responseMarginDb);
        *response +=
            line("%-10.3f %8.2f %8.2f %8.2f\n", f, sr.mean - width, sr.mean, sr.mean + width);
    }
    const Spread st = spreadOf(t);
    if (2 * st.count > units.size()) {
        const double db = st.mean + std::max(o.k * st.deviation, o.thdMarginDb);
        *thd += line("thd %-10.3f %.4g\n", f, std::pow(10.0, db / 20));
    }
    const Spread sb = spreadOf(b);
    if (2 * sb.count > units.size()) {
        *rb += line("rb  %-10.3f %.2f\n", f, sb.mean + std::max(o.k * sb.deviation, o.rbMarginDb));
    }
}

} // namespace

bool learnLimits(const std::vector<LearnUnit>& units, const LearnOptions& o, std::string* text,
                 std::string* error) {
    if (units.size() < kLeastLearnUnits) {
        *error = "limits need at least " + std::to_string(kLeastLearnUnits) +
                 " good units to learn from, " + std::to_string(units.size()) + " given";
        return false;
    }
    double low = 0;
    double high = INFINITY;
    for (const LearnUnit& u : units) {
        low = std::max(low, u.frequency.empty() ? INFINITY : u.frequency.front());
        high = std::min(high, u.frequency.empty() ? 0 : u.frequency.back());
    }
    const std::vector<double> levels = unitLevels(units, o);
    const Spread level = spreadOf(levels);
    if (!(low < high) || level.count != units.size()) {
        *error = "the units measure no band in common, with the reference or float band in it";
        return false;
    }
    std::string response;
    std::string thd;
    std::string rb;
    const long first = long(std::ceil(std::log2(low / 1000) * o.rowsPerOctave - 1e-9));
    for (long k = first;; ++k) {
        const double f = 1000 * std::exp2(double(k) / o.rowsPerOctave);
        if (f > high * (1 + 1e-12)) {
            break;
        }
        learnRows(units, levels, f, o, &response, &thd, &rb);
    }
    if (o.floatTo > 0) {
        const double width = std::max(o.k * level.deviation, o.levelMarginDb);
        *text = line("float %g %g\n", o.floatFrom, o.floatTo) +
                line("level %.2f %.2f\n", level.mean - width, level.mean + width);
    } else {
        *text = line("reference %g\n", o.reference);
    }
    const std::string& polarity = units.front().polarity;
    bool agree = polarity == "normal" || polarity == "inverted";
    for (const LearnUnit& u : units) {
        agree = agree && u.polarity == polarity;
    }
    *text += (agree ? "polarity " + polarity + "\n" : "") + response + thd + rb;
    return true;
}
