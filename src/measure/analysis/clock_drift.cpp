#include "measure/analysis/clock_drift.h"

#include "measure/analysis/line_fit.h"

#include <algorithm>
#include <cmath>

#include "measure/maths.h"

namespace {

using Complex = std::complex<double>;

// The fit leaves out what the band's edges and the magnitude's extension beyond them
// disturb: three octaves above the bottom, one and a half below the top.
constexpr double kFitFromLow = 8;
constexpr double kFitBelowHigh = 2.828;
// The continued magnitude: at most 52 dB per octave, never below -200 dB.
constexpr double kMostLogSlope = 6;
constexpr double kLeastLogMagnitude = -23;
// A misfit beyond this, in degrees, is not a clock's: a recorder's drift fits to thousandths
// of a degree, another signal to a tenth, a reverberant room to hundreds.
constexpr double kMostMisfitDeg = 10;
// The sinc's half length in frames, and its window table.
constexpr int kSincHalf = 32;
constexpr int kWindowSteps = 4096;

// The slope of ln |H| against ln f over bins [a, b], by least squares.
double logSlope(const std::vector<Complex>& bins, size_t a, size_t b) {
    LineFit line;
    for (size_t k = std::max<size_t>(a, 1); k <= b; ++k) {
        line.add(std::log(double(k)), std::log(std::max(std::abs(bins[k]), 1e-300)));
    }
    double slope = 0;
    double intercept = 0;
    return line.fit(&slope, &intercept) ? std::max(-kMostLogSlope, std::min(kMostLogSlope, slope))
                                        : 0;
}

// ln |H| on every bin: measured within [first, last], beyond it continued along the slope of
// its last octave, as a device's response goes on rising or falling past the sweep's ends.
std::vector<double> logMagnitude(const std::vector<Complex>& bins, size_t first, size_t last) {
    const double below = logSlope(bins, first, std::min(last, 2 * first));
    const double above = logSlope(bins, std::max(first, last / 2), last);
    const double atFirst = std::log(std::max(std::abs(bins[first]), 1e-300));
    const double atLast = std::log(std::max(std::abs(bins[last]), 1e-300));
    std::vector<double> m(bins.size());
    for (size_t k = 0; k < bins.size(); ++k) {
        const double f = double(std::max<size_t>(k, 1));
        m[k] = k < first  ? atFirst + below * std::log(f / double(first))
               : k > last ? atLast + above * std::log(f / double(last))
                          : std::log(std::max(std::abs(bins[k]), 1e-300));
        m[k] = std::max(m[k], kLeastLogMagnitude);
    }
    return m;
}

// The phase of the minimum-phase response with this log magnitude: the folded cepstrum's
// transform (its imaginary part).
std::vector<double> minimumPhase(const std::vector<double>& logMag, size_t length, Fft* fft) {
    std::vector<Complex> spectrum(logMag.begin(), logMag.end());
    std::vector<double> cepstrum(length);
    fft->inverse(spectrum.data(), length, cepstrum.data());
    for (size_t t = 1; t < length / 2; ++t) {
        cepstrum[t] *= 2;
        cepstrum[length - t] = 0;
    }
    fft->forward(cepstrum.data(), length, spectrum.data());
    std::vector<double> phase(spectrum.size());
    for (size_t k = 0; k < spectrum.size(); ++k) {
        phase[k] = spectrum[k].imag();
    }
    return phase;
}

// Weighted least squares of y on the columns of x (three of them).
bool fit3(const std::vector<double> (&x)[3], const std::vector<double>& y,
          const std::vector<double>& w, double (&c)[3]) {
    double a[3][4] = {};
    for (size_t i = 0; i < y.size(); ++i) {
        for (int r = 0; r < 3; ++r) {
            for (int col = 0; col < 3; ++col) {
                a[r][col] += w[i] * x[r][i] * x[col][i];
            }
            a[r][3] += w[i] * x[r][i] * y[i];
        }
    }
    for (int p = 0; p < 3; ++p) { // Gauss-Jordan with partial pivoting
        int best = p;
        for (int r = p + 1; r < 3; ++r) {
            best = std::fabs(a[r][p]) > std::fabs(a[best][p]) ? r : best;
        }
        std::swap(a[p], a[best]);
        if (!(std::fabs(a[p][p]) > 0)) {
            return false;
        }
        for (int r = 0; r < 3; ++r) {
            const double factor = r == p ? 0 : a[r][p] / a[p][p];
            for (int col = p; col < 4; ++col) {
                a[r][col] -= factor * a[p][col];
            }
        }
    }
    for (int r = 0; r < 3; ++r) {
        c[r] = a[r][3] / a[r][r];
    }
    return true;
}

// The phase a drift's curve c (f ln f - f, f in kHz) leaves across [low, high] Hz once the
// best delay, a straight line through it, is removed: its largest departure, in degrees.
double bentPhaseDeg(double c, double low, double high) {
    const int steps = 512;
    std::vector<double> f(steps + 1), curve(steps + 1);
    LineFit fit;
    for (int i = 0; i <= steps; ++i) {
        f[size_t(i)] = low * std::pow(high / low, double(i) / steps) / 1000;
        curve[size_t(i)] = c * (f[size_t(i)] * std::log(f[size_t(i)]) - f[size_t(i)]);
        fit.add(f[size_t(i)], curve[size_t(i)]); // points even in log f
    }
    double line = 0;
    double offset = 0;
    fit.fit(&line, &offset);
    double worst = 0;
    for (int i = 0; i <= steps; ++i) {
        worst = std::max(worst, std::fabs(curve[size_t(i)] - offset - line * f[size_t(i)]));
    }
    return worst * 180 / kPi;
}

} // namespace

DriftEstimate estimateDrift(const std::vector<Complex>& bins, size_t length, double rate,
                            double low, double high, double rateConstant, Fft* fft) {
    DriftEstimate d;
    const double binHz = rate / double(length);
    const size_t first = size_t(std::ceil(low / binHz));
    const size_t last = std::min(bins.size() - 1, size_t(std::floor(high / binHz)));
    const size_t from = size_t(std::ceil(kFitFromLow * low / binHz));
    const size_t to = std::min(last, size_t(std::floor(high / kFitBelowHigh / binHz)));
    if (!(first < last && from + 8 < to)) {
        return d;
    }
    const std::vector<double> minPhase = minimumPhase(logMagnitude(bins, first, last), length, fft);
    // Excess phase, unwrapped bin by bin; columns 1, f and f ln f - f (in kHz, for scale).
    std::vector<double> x[3], y, w;
    double previous = 0;
    double unwrapped = 0;
    for (size_t k = from; k <= to; ++k) {
        const double f = double(k) * binHz / 1000;
        const double excess = std::arg(bins[k]) - minPhase[k];
        const double step = std::remainder(excess - previous, 2 * kPi);
        unwrapped = k == from ? excess : unwrapped + step;
        previous = excess;
        x[0].push_back(1);
        x[1].push_back(f);
        x[2].push_back(f * std::log(f) - f);
        y.push_back(unwrapped);
        w.push_back(1 / f); // every octave alike
    }
    double c[3] = {};
    if (!fit3(x, y, w, c)) {
        return d;
    }
    // phi = -2 pi (c0' f + c1' (f ln f - f)) with f in kHz: c1' = c[2] / -2 pi is the group
    // delay's slope per unit of ln f, in ms; (1 / s - 1) L = that.
    const double slope = -c[2] / (2 * kPi) / 1000; // seconds per unit of ln f
    const double speed = 1 / (1 + slope / rateConstant);
    d.measured = true;
    d.ppm = (speed - 1) * 1e6;
    d.phaseDeg = bentPhaseDeg(c[2], low, high);
    double squares = 0;
    double weights = 0;
    for (size_t i = 0; i < y.size(); ++i) {
        const double miss = y[i] - c[0] - c[1] * x[1][i] - c[2] * x[2][i];
        squares += w[i] * miss * miss;
        weights += w[i];
    }
    d.residualDeg = std::sqrt(squares / weights) * 180 / kPi;
    // A phase that fits no clock's bend this badly is the device's own: a room's
    // reflections are far from minimum phase. It says nothing of the clocks.
    d.measured = d.residualDeg <= kMostMisfitDeg;
    return d;
}

std::vector<float> resampleToPlayedClock(const std::vector<float>& recorded, double ppm) {
    const double speed = 1 + ppm / 1e6;
    std::vector<double> window(kWindowSteps + 2);
    for (int i = 0; i <= kWindowSteps + 1; ++i) {
        const double x = std::min(1.0, double(i) / kWindowSteps); // |t| / kSincHalf
        window[size_t(i)] = 0.42 + 0.5 * std::cos(kPi * x) + 0.08 * std::cos(2 * kPi * x);
    }
    auto windowAt = [&](double t) {
        const double at = std::fabs(t) / kSincHalf * kWindowSteps;
        const size_t i = size_t(at);
        const double part = at - double(i);
        return window[i] * (1 - part) + window[i + 1] * part;
    };
    std::vector<float> out(recorded.size());
    const int64_t size = int64_t(recorded.size());
    for (size_t n = 0; n < out.size(); ++n) {
        const double t = double(n) / speed;
        const int64_t whole = int64_t(std::floor(t));
        const double part = t - double(whole);
        if (part == 0) {
            out[n] = whole < size ? recorded[size_t(whole)] : 0.0f;
            continue;
        }
        // sin(pi (part - k)) = (-1)^k sin(pi part): one sine for every tap.
        const double sine = std::sin(kPi * part) / kPi;
        double sum = 0;
        for (int k = -kSincHalf + 1; k <= kSincHalf; ++k) {
            const int64_t i = whole + k;
            if (i < 0 || i >= size) {
                continue;
            }
            const double u = part - k;
            const double sign = (k & 1) ? -1 : 1;
            sum += recorded[size_t(i)] * sign * sine / u * windowAt(u);
        }
        out[n] = float(sum);
    }
    return out;
}
