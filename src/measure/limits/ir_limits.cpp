#include "measure/limits/ir_limits.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "measure/files/text_file.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool number(const std::string& token, bool dashAllowed, double* value) {
    if (dashAllowed && token == "-") {
        *value = kNaN;
        return true;
    }
    char* end = nullptr;
    *value = std::strtod(token.c_str(), &end);
    // Frequencies in Hz and levels in dB or percent: beyond a million nothing is measured.
    return !token.empty() && *end == '\0' && std::isfinite(*value) && std::fabs(*value) <= 1e6;
}

LimitCurve* curveFor(Limits* limits, int order, bool thd) {
    for (LimitCurve& curve : limits->curves) {
        if (curve.order == order && curve.thd == thd) {
            return &curve;
        }
    }
    limits->curves.push_back(LimitCurve());
    limits->curves.back().order = order;
    limits->curves.back().thd = thd;
    return &limits->curves.back();
}

double side(const LimitRow& row, int which) {
    return which == 0 ? row.min : which == 1 ? row.ideal : row.max;
}

std::string curveName(const LimitCurve& curve) {
    return curve.thd          ? "thd"
           : curve.order == 0 ? "rb"
           : curve.order == 1 ? "response"
                              : "h" + std::to_string(curve.order);
}

} // namespace

namespace {

// A thd, rb or hN row; *why on a bad one.
bool parseOrderRow(const std::vector<std::string>& tokens, Limits* limits, LimitRow* row,
                   LimitCurve** curve, std::string* why) {
    const std::string& first = tokens[0];
    const bool thd = first == "thd";
    const bool rb = first == "rb";
    char* end = nullptr;
    const long order = thd || rb ? 0 : std::strtol(first.c_str() + 1, &end, 10);
    if (!thd && !rb && (*end != '\0' || order < 2 || order > kMaxOrders)) {
        *why = "unknown row " + first + " (orders h2 to h" + std::to_string(kMaxOrders) + ")";
        return false;
    }
    if (tokens.size() != 3 || !number(tokens[1], false, &row->frequency) ||
        !number(tokens[2], false, &row->max) || (thd && row->max < 0)) {
        *why = first + " needs a frequency and a maximum" +
               (thd ? std::string(" in percent") : std::string(" in dB"));
        return false;
    }
    *curve = curveFor(limits, thd ? 1 : int(order), thd);
    if (order > limits->highestOrder) {
        limits->highestOrder = int(order);
    }
    return true;
}

bool parseResponseRow(const std::vector<std::string>& tokens, Limits* limits, LimitRow* row,
                      LimitCurve** curve, std::string* why) {
    if (tokens.size() != 4 || !number(tokens[0], false, &row->frequency) ||
        !number(tokens[1], true, &row->min) || !number(tokens[2], true, &row->ideal) ||
        !number(tokens[3], true, &row->max)) {
        *why = "a response row is FREQUENCY MIN IDEAL MAX in dB (\"-\" for none)";
        return false;
    }
    if (row->min > row->max) {
        *why = "the minimum lies above the maximum";
        return false;
    }
    *curve = curveFor(limits, 1, false);
    return true;
}

// One line's words into the limits; *why on a bad line.
bool parseLimitLine(const std::vector<std::string>& tokens, int lineNumber, Limits* limits,
                    std::string* why) {
    const std::string& first = tokens[0];
    if (first == "float" || first == "level") {
        const bool band = first == "float";
        double a = 0;
        double b = 0;
        const bool ok = tokens.size() == 3 && number(tokens[1], false, &a) &&
                        number(tokens[2], false, &b) && a < b && (!band || a > 0);
        (band ? limits->floatFrom : limits->levelMin) = ok ? a : NAN;
        (band ? limits->floatTo : limits->levelMax) = ok ? b : NAN;
        *why = ok ? ""
                  : first + (band ? " needs FROM TO, two frequencies rising from above 0 Hz"
                                  : " needs MIN MAX in dB, rising");
        return ok;
    }
    if (first == "polarity") {
        const bool ok = tokens.size() == 2 && (tokens[1] == "normal" || tokens[1] == "inverted");
        limits->polarity = !ok                       ? limits->polarity
                           : tokens[1] == "inverted" ? Polarity::Inverted
                                                     : Polarity::Normal;
        *why = ok ? "" : "polarity needs normal or inverted";
        return ok;
    }
    if (first == "reference") {
        const bool ok = tokens.size() == 2 && number(tokens[1], false, &limits->reference) &&
                        limits->reference > 0;
        *why = ok ? "" : "reference needs one frequency above 0 Hz";
        return ok;
    }
    LimitRow row;
    row.line = lineNumber;
    row.min = row.ideal = row.max = kNaN;
    LimitCurve* curve = nullptr;
    const bool orderRow =
        first == "thd" || first == "rb" ||
        (first.size() >= 2 && first[0] == 'h' && first[1] >= '0' && first[1] <= '9');
    if (!(orderRow ? parseOrderRow(tokens, limits, &row, &curve, why)
                   : parseResponseRow(tokens, limits, &row, &curve, why))) {
        return false;
    }
    if (!(row.frequency > 0)) {
        *why = "the frequency must lie above 0 Hz";
        return false;
    }
    if (!curve->rows.empty() && row.frequency < curve->rows.back().frequency) {
        *why = "the frequencies of " + curveName(*curve) + " rows must not fall";
        return false;
    }
    curve->rows.push_back(row);
    return true;
}

} // namespace

bool parseLimits(const std::string& text, Limits* limits, std::string* error) {
    *limits = Limits();
    std::istringstream lines(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(lines, line)) {
        ++lineNumber;
        std::istringstream words(line.substr(0, line.find('#')));
        std::vector<std::string> tokens;
        for (std::string token; words >> token;) {
            tokens.push_back(token);
        }
        std::string why;
        if (!tokens.empty() && !parseLimitLine(tokens, lineNumber, limits, &why)) {
            *error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        }
    }
    if (limits->curves.empty() && limits->polarity == Polarity::Undetermined &&
        std::isnan(limits->levelMin)) {
        *error = "no limit rows";
        return false;
    }
    if (!std::isnan(limits->levelMin) && !(limits->floatTo > 0)) {
        *error = "a level row needs a float row: the band whose mean level it judges";
        return false;
    }
    return true;
}

double bandLevelDb(const std::vector<ResponsePoint>& points, double from, double to) {
    double sum = 0;
    size_t count = 0;
    for (const ResponsePoint& p : points) {
        if (p.frequency >= from && p.frequency <= to && !std::isnan(p.magnitudeDb)) {
            sum += p.magnitudeDb;
            ++count;
        }
    }
    return count != 0 ? sum / double(count) : NAN;
}

bool readLimits(const std::string& path, Limits* limits, std::string* error) {
    std::string text;
    if (!readTextFile(path, &text, error)) {
        return false;
    }
    if (!parseLimits(text, limits, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

std::vector<double> limitFrequencies(const Limits& limits) {
    std::vector<double> frequencies{limits.reference};
    if (limits.floatTo > 0) {
        frequencies.push_back(limits.floatFrom);
        frequencies.push_back(limits.floatTo);
    }
    for (const LimitCurve& curve : limits.curves) {
        for (const LimitRow& row : curve.rows) {
            frequencies.push_back(row.frequency);
        }
    }
    return frequencies;
}

double limitAt(const LimitCurve& curve, int which, double f) {
    double limit = kNaN;
    auto take = [&](double candidate) {
        if (std::isnan(candidate)) {
            return;
        }
        if (std::isnan(limit) || which == 1) {
            limit = candidate;
        } else {
            limit = which == 0 ? std::max(limit, candidate) : std::min(limit, candidate);
        }
    };
    const std::vector<LimitRow>& rows = curve.rows;
    if (rows.size() == 1 && rows[0].frequency == f) {
        take(side(rows[0], which));
    }
    for (size_t i = 0; i + 1 < rows.size(); ++i) {
        const LimitRow& a = rows[i];
        const LimitRow& b = rows[i + 1];
        if (f < a.frequency || f > b.frequency || std::isnan(side(a, which)) ||
            std::isnan(side(b, which))) {
            continue;
        }
        if (a.frequency == b.frequency) {
            take(side(a, which));
            take(side(b, which));
            continue;
        }
        const double part = std::log(f / a.frequency) / std::log(b.frequency / a.frequency);
        take(side(a, which) + (side(b, which) - side(a, which)) * part);
    }
    return limit;
}

namespace {

const char kOutside[] = " lies outside what the sweep measures";
const char kBelowNoise[] = " lies below the noise floor, which lies above the limit";
const char kUncertain[] = ": the noise floor leaves the response uncertain by more than 0.1 dB";

// What a limit is judged on at a point: the value, or why there is none. Below the noise
// floor a harmonic is judged by what it may be at most, the floor's own level.
struct Judged {
    double value = kNaN;
    const char* why = nullptr;
};

Judged judgedValue(const LimitCurve& curve, const ResponsePoint& p, double referenceDb) {
    const size_t n = size_t(curve.order);
    Judged j;
    if (curve.thd) {
        j.value = p.thdBelowNoise ? p.thdAtMostPercent : p.thdPercent;
    } else if (curve.order == 0) {
        j.value = p.rbPeakDb;
    } else if (curve.order == 1) {
        j.value = p.magnitudeDb - referenceDb;
        j.why = p.lowSnr ? kUncertain : nullptr;
    } else if (n < p.orderDb.size()) {
        j.value = n < p.orderBelowNoise.size() && p.orderBelowNoise[n] ? p.orderAtMostDb[n]
                                                                       : p.orderDb[n];
    }
    const bool belowNoise = curve.thd
                                ? p.thdBelowNoise
                                : n >= 2 && n < p.orderBelowNoise.size() && p.orderBelowNoise[n];
    if (belowNoise) {
        j.why = j.value > limitAt(curve, 2, p.frequency) ? kBelowNoise : nullptr;
    } else if (std::isnan(j.value)) {
        j.why = kOutside;
    }
    return j;
}

} // namespace

namespace {

// How far below its minimum the response lies at each point (0 where it does not): a
// fundamental that weak raises the distortions relative to itself by as much.
std::vector<double> responseShortfalls(const Limits& limits,
                                       const std::vector<ResponsePoint>& points,
                                       double referenceDb) {
    std::vector<double> shortfall(points.size(), 0.0);
    for (const LimitCurve& curve : limits.curves) {
        for (size_t i = 0; curve.order == 1 && !curve.thd && i < points.size(); ++i) {
            const double min = limitAt(curve, 0, points[i].frequency);
            const double value = points[i].magnitudeDb - referenceDb;
            if (!std::isnan(min) && value < min) {
                shortfall[i] = std::min(shortfall[i], value - min);
            }
        }
    }
    return shortfall;
}

} // namespace

namespace {

// A verdict in the making: the least margin of all, which passes or fails the unit, and the
// fault it names, the distortions' margins less what a weak fundamental explains of them.
struct Judging {
    LimitVerdict verdict;
    bool any = false;
    double least = 0;
    double named = 0;

    void margin(double value, double f, const std::string& name, double explained = 0) {
        least = !any || value < least ? value : least;
        if (!any || value - explained < named) {
            named = value - explained;
            verdict.worstMarginDb = value;
            verdict.worstFrequency = f;
            verdict.worstLimit = name;
        }
        any = true;
    }
    void unmeasured(double f, const std::string& what, const char* why) {
        if (verdict.unmeasured.empty()) {
            char text[64];
            std::snprintf(text, sizeof text, " at %g Hz", f);
            verdict.unmeasured = what + text + why;
        }
    }
};

// One curve's margins at every point inside its span.
void judgeCurve(const LimitCurve& curve, const std::vector<ResponsePoint>& points,
                double referenceDb, const std::vector<double>& shortfall, Judging* j) {
    const std::string name = curveName(curve);
    for (size_t i = 0; i < points.size(); ++i) {
        const ResponsePoint& p = points[i];
        const double f = p.frequency;
        const double max = limitAt(curve, 2, f);
        if (f < curve.rows.front().frequency || f > curve.rows.back().frequency ||
            (std::isnan(limitAt(curve, 0, f)) && std::isnan(max))) {
            continue;
        }
        const Judged v = judgedValue(curve, p, referenceDb);
        if (v.why != nullptr) {
            j->unmeasured(f, name, v.why);
        } else if (curve.thd) {
            j->margin(v.value > 0 ? 20 * std::log10(max / v.value) : 999, f, name, shortfall[i]);
        } else if (curve.order != 1) {
            j->margin(max - v.value, f, name, shortfall[i]);
        } else {
            const double min = limitAt(curve, 0, f);
            if (!std::isnan(min)) {
                j->margin(v.value - min, f, "response min");
            }
            if (!std::isnan(max)) {
                j->margin(max - v.value, f, "response max");
            }
        }
    }
}

} // namespace

LimitVerdict judgeLimits(const Limits& limits, const std::vector<ResponsePoint>& points,
                         double referenceDb) {
    Judging j;
    if (limits.floatTo > 0) {
        // Floating: the unit's own level over the band is its 0 dB, and judged itself.
        referenceDb = bandLevelDb(points, limits.floatFrom, limits.floatTo);
        if (std::isnan(referenceDb)) {
            j.unmeasured(limits.floatFrom, "the float band", kOutside);
        } else if (!std::isnan(limits.levelMin)) {
            j.margin(referenceDb - limits.levelMin, limits.floatFrom, "level min");
            j.margin(limits.levelMax - referenceDb, limits.floatFrom, "level max");
        }
    } else if (std::isnan(referenceDb)) {
        j.unmeasured(limits.reference, "the reference", kOutside);
    }
    const std::vector<double> shortfall = responseShortfalls(limits, points, referenceDb);
    for (const LimitCurve& curve : limits.curves) {
        judgeCurve(curve, points, referenceDb, shortfall, &j);
    }
    LimitVerdict& verdict = j.verdict;
    verdict.judgedNothing = !j.any && verdict.unmeasured.empty();
    verdict.pass = verdict.unmeasured.empty() && j.any && j.least >= 0;
    if (j.any && j.least < 0) {
        // A limit crossed where it is measured names the fault; what a defect leaves
        // unmeasured (its distortion raising the noise) follows from it.
        verdict.unmeasured.clear();
    }
    return verdict;
}

void judgePolarity(const Limits& limits, Polarity measured, LimitVerdict* verdict) {
    if (limits.polarity == Polarity::Undetermined) {
        return;
    }
    if (verdict->judgedNothing) {
        // The polarity row is all that judges: no margin to give.
        verdict->pass = true;
        verdict->worstMarginDb = NAN;
        verdict->worstFrequency = NAN;
    }
    if (measured != limits.polarity) {
        verdict->pass = false;
        verdict->polarityFault = std::string("polarity ") + polarityName(measured) + ", " +
                                 polarityName(limits.polarity) + " wanted";
    }
}
