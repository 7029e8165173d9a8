#include "measure/analysis/ir_analysis.h"

#include "measure/analysis/ir_window.h"
#include "measure/maths.h"
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Regularisation relative to the largest |X|^2 in the band: inside, small enough to leave
// the division exact to far below any tolerance; outside, as large as the band's peak.
constexpr double kInBand = 1e-10;
constexpr double kOutOfBand = 1.0;
// How far inside the full-level band the harmonics are given: so many times the frequency
// resolution of their windows, past their main lobes and first side lobes.
constexpr double kOrderResolutions = 8;
// The noise floor is smoothed over a third of an octave. Noise alone in a window reaches k
// times its mean power at one point in e^k: a harmonic stands out of it at 16 times (12 dB),
// which noise reaches once in ten million.
constexpr double kNoiseSmoothing = 3;
constexpr double kAboveNoise = 16;
// Stretches of noise taken after the response, and before the harmonics where none after
// holds noise; kept clear of where a frequency's noise begins and ends by a few periods of
// the sweep's lowest frequency and 20 ms of its own spread.
constexpr size_t kNoiseStretchesAfter = 2;
constexpr size_t kNoiseStretchesBefore = 2;
constexpr double kNoiseMarginSeconds = 0.02;
constexpr double kNoiseMarginPeriods = 4;
// The arithmetic's own rounding, relative to the played level: the floor of an exact copy.
constexpr double kRoundingPower = 1e-30;
constexpr double kRaisedCosineEnergy = 0.375;
constexpr size_t kPhasorSteps = 256;
// Below this the wire's response carries too little to divide by.
constexpr double kWireFloor = 1e-3;
// Widths of the raised-cosine transitions beyond the band's ends.
constexpr double kLowTransitionOctaves = 1.0;
constexpr double kHighTransitionOctaves = 1.0 / 3;
// The order spectra are evaluated on a transform at least this many times the linear
// window, so that interpolating between bins stays exact to well below 0.001 dB.
constexpr size_t kZeroPadding = 4;

using Complex = std::complex<double>;

double mean(const std::vector<float>& samples) {
    double sum = 0;
    for (float s : samples) {
        sum += s;
    }
    return samples.empty() ? 0 : sum / double(samples.size());
}

// 0 inside [from, to], rising to 1 over the transitions beyond either end.
double outOfBand(double f, double from, double to) {
    if (f <= 0) {
        return 1;
    }
    const double part = f < from ? std::log2(from / f) / kLowTransitionOctaves
                        : f > to ? std::log2(f / to) / kHighTransitionOctaves
                                 : 0;
    return part >= 1 ? 1 : 0.5 - 0.5 * std::cos(kPi * part);
}

// One order's response on the bins of a zero-padded transform, and running sums for the
// power means of smoothing.
struct OrderSpectrum {
    bool present = false;
    double binHz = 0;
    std::vector<Complex> bins;
    std::vector<double> powers;       // |H|^2
    std::vector<double> powerSums;    // sum of |H|^2 over bins [0, k)
    std::vector<Complex> complexSums; // sum of H over bins [0, k)
};

// The weights of an order's window [start, end), its origin at the real position origin: each
// side a half raised cosine over its whole length, so that the window is 1 at the origin
// alone; or, given fadeOut, the side after the origin is 1 up to its last fadeOut frames,
// which fall as a half raised cosine: a response that lasts keeps its level.
std::vector<double> orderWindow(int64_t start, int64_t end, double origin, double fadeOut = 0) {
    const double before = origin - double(start);
    const double after = fadeOut > 0 ? fadeOut : double(end) - origin;
    std::vector<double> weights(size_t(end - start));
    for (int64_t t = start; t < end; ++t) {
        const double fromStart = double(t - start) + 0.5;
        const double fromEnd = double(end - t) - 0.5;
        weights[size_t(t - start)] = fromStart < before
                                         ? 0.5 - 0.5 * std::cos(kPi * fromStart / before)
                                     : fromEnd < after ? 0.5 - 0.5 * std::cos(kPi * fromEnd / after)
                                                       : 1.0;
    }
    return weights;
}

// The window of h from start on, its origin moved to time 0 exactly: the whole frames by
// placement, the fraction by a linear phase.
void orderSpectrum(const Deconvolution& h, int64_t start, const std::vector<double>& window,
                   double origin, size_t length, uint32_t rate, Fft* fft,
                   std::vector<double>* buffer, OrderSpectrum* out) {
    const int64_t whole = int64_t(std::floor(origin));
    const double fraction = origin - double(whole);
    buffer->assign(length, 0.0);
    // Both circular positions stepped along rather than divided out for every frame.
    const int64_t n = int64_t(length);
    int64_t at = ((start - whole) % n + n) % n;
    int64_t from = ((start - h.base) % h.n + h.n) % h.n;
    for (size_t i = 0; i < window.size(); ++i) {
        (*buffer)[size_t(at)] = window[i] * h.h[from];
        at = at + 1 == n ? 0 : at + 1;
        from = from + 1 == h.n ? 0 : from + 1;
    }
    out->present = true;
    out->binHz = double(rate) / double(length);
    out->bins.resize(length / 2 + 1);
    fft->forward(buffer->data(), length, out->bins.data());
    // The linear phase by a rotating phasor, set exactly every kPhasorSteps bins so that its
    // rounding never grows past a few units in the last place.
    const double step = 2 * kPi * fraction / double(length);
    const Complex turn(std::cos(step), std::sin(step));
    Complex phasor;
    for (size_t k = 0; k < out->bins.size(); ++k) {
        if (k % kPhasorSteps == 0) {
            phasor = Complex(std::cos(step * double(k)), std::sin(step * double(k)));
        }
        out->bins[k] *= phasor;
        phasor *= turn;
    }
}

// The order's window [start, end) of the deconvolution, its origin at origin, transformed.
void orderSpectrum(const Deconvolution& h, int64_t start, int64_t end, double origin, size_t length,
                   uint32_t rate, Fft* fft, std::vector<double>* buffer, OrderSpectrum* out,
                   double fadeOut = 0) {
    orderSpectrum(h, start, orderWindow(start, end, origin, fadeOut), origin, length, rate, fft,
                  buffer, out);
}

void prepareSmoothing(OrderSpectrum* out) {
    out->powers.resize(out->bins.size());
    out->powerSums.assign(out->bins.size() + 1, 0.0);
    out->complexSums.assign(out->bins.size() + 1, Complex());
    for (size_t k = 0; k < out->bins.size(); ++k) {
        out->powers[k] = std::norm(out->bins[k]);
        out->powerSums[k + 1] = out->powerSums[k] + out->powers[k];
        out->complexSums[k + 1] = out->complexSums[k] + out->bins[k];
    }
}

// The regularisation's own response, as the wire's windows hold it, taken out: divided out
// of the linear window, and the linear response's share in each order's window (its tail
// there) subtracted. A wire then measures flat with no distortion, to the band's edges.
int64_t orderBoundary(const SyncSweep& sweep, int order);

// Each order's window of the wire's deconvolution, around its time 0, one at a time.
void wireWindow(const Deconvolution& wire, int order, const LinearWindow& linear, size_t length,
                const SyncSweep& sweep, Fft* fft, std::vector<double>* buffer, OrderSpectrum* out) {
    const double perOrder = double(sweep.rate) * sweep.rateConstant;
    const int64_t start = -orderBoundary(sweep, order);
    const int64_t end = order == 1 ? linear.after : -orderBoundary(sweep, order - 1);
    orderSpectrum(wire, start, end, -perOrder * std::log(double(order)), length, sweep.rate, fft,
                  buffer, out, order == 1 ? double(linear.fade) : 0);
}

// The regularisation's own response, as the wire's windows hold it, taken out: divided out
// of the linear window, and the linear response's share in each order's window (its tail
// there) subtracted. A wire then measures flat with no distortion, to the band's edges.
// Returns the wire's linear magnitude on the bins; 0 where it is too small to divide by.
std::vector<double> removeWire(const SweepInverse& inverse, const Deconvolution& wire,
                               const LinearWindow& linear, size_t length, const SyncSweep& sweep,
                               Fft* fft, std::vector<OrderSpectrum>* orders) {
    std::vector<OrderSpectrum>& h = *orders;
    const bool kept = inverse.windowsLength == length && inverse.windowsLinear == linear &&
                      inverse.windows.size() >= h.size();
    std::vector<double> buffer;
    OrderSpectrum w;
    auto window = [&](int n) -> const std::vector<Complex>& {
        if (kept) {
            return inverse.windows[size_t(n)];
        }
        wireWindow(wire, n, linear, length, sweep, fft, &buffer, &w);
        return w.bins;
    };
    const std::vector<Complex>& w1 = window(1);
    std::vector<double> magnitude(w1.size(), 0.0);
    for (size_t k = 0; k < w1.size(); ++k) {
        if (std::abs(w1[k]) > kWireFloor) { // far outside the band nothing is given
            magnitude[k] = std::abs(w1[k]);
            h[1].bins[k] /= w1[k];
        }
    }
    for (size_t n = 2; n < h.size(); ++n) {
        const std::vector<Complex>& wn = window(int(n));
        for (size_t k = 0; k < wn.size(); ++k) {
            h[n].bins[k] -= magnitude[k] > 0 ? h[1].bins[k] * wn[k] : Complex();
        }
    }
    return magnitude;
}

struct Evaluated {
    double power = kNaN; // |H|^2, or its mean over the band
    Complex value;       // H, or its mean over the band
};

// The mean over [lo, hi] (in bins) of the values interpolated linearly between bins, from
// their running sums: the trapezoid rule, with the part bins at both ends.
template <typename T>
T bandMean(const std::vector<T>& values, const std::vector<T>& sums, double lo, double hi) {
    auto at = [&](double x) {
        const size_t below = std::min(size_t(x), values.size() - 2);
        const double weight = x - double(below);
        return values[below] * (1 - weight) + values[below + 1] * weight;
    };
    const double first = std::ceil(lo);
    const double last = std::floor(hi);
    if (!(last > first)) {
        return (at(lo) + at(hi)) * 0.5;
    }
    const size_t a = size_t(first);
    const size_t b = size_t(last);
    const T inner = sums[b + 1] - sums[a] - (values[a] + values[b]) * 0.5;
    const T ends =
        (at(lo) + values[a]) * (0.5 * (first - lo)) + (values[b] + at(hi)) * (0.5 * (hi - last));
    return (inner + ends) * (1 / (hi - lo));
}

// The order's response at f, or its power mean over f's 1/N-octave band within [from, to].
Evaluated evaluate(const OrderSpectrum& s, double f, double smoothing, double from, double to) {
    Evaluated e;
    if (!s.present || f < from || f > to) {
        return e;
    }
    const double last = double(s.bins.size() - 1);
    if (smoothing > 0) {
        const double half = std::pow(2.0, 0.5 / smoothing);
        const double lo = std::max(f / half, from) / s.binHz;
        const double hi = std::min(std::min(f * half, to) / s.binHz, last);
        e.power = bandMean(s.powers, s.powerSums, lo, hi);
        e.value = bandMean(s.bins, s.complexSums, lo, hi);
        return e;
    }
    const double position = std::min(f / s.binHz, last);
    const size_t below = std::min(size_t(position), s.bins.size() - 2);
    const double weight = position - double(below);
    e.value = s.bins[below] * (1 - weight) + s.bins[below + 1] * weight;
    e.power = std::norm(e.value);
    return e;
}

// Frames before the linear response at which order n's window ends and order n + 1's
// begins: L ln sqrt(n (n + 1)), the geometric mean of where the two orders lie.
int64_t orderBoundary(const SyncSweep& sweep, int order) {
    const double perOrder = double(sweep.rate) * sweep.rateConstant; // frames per unit of ln n
    return int64_t(std::llround(perOrder * 0.5 * std::log(double(order) * (order + 1))));
}

// The linear window's frames after the delay, as the options ask...
int64_t wantedAfter(const SyncSweep& sweep, const IrOptions& options) {
    return options.irSeconds > 0 ? int64_t(std::llround(options.irSeconds * sweep.rate))
                                 : orderBoundary(sweep, 1);
}

// ...and as far as the recording goes.
int64_t framesAfter(const SyncSweep& sweep, const IrOptions& options, size_t recordedFrames,
                    int64_t delay) {
    return std::max<int64_t>(
        1, std::min<int64_t>(wantedAfter(sweep, options), int64_t(recordedFrames) - delay));
}

double degrees(Complex value) {
    return std::arg(value) * 180 / kPi;
}

// Where each order is given. The response: the full-level band, in which the wire's
// division leaves a linear device exact. The harmonics: less what their windows blur of the
// fades at either end, which change the level a device sees and so its distortion.
struct Band {
    std::vector<double> low;  // index n: order n at n f from here; 1: the response
    std::vector<double> high; // and up to here
};

Band bandOf(const SyncSweep& sweep, const IrOptions& options) {
    double fadeEnd = 0;
    double fadeStart = 0;
    fullLevelBand(sweep, &fadeEnd, &fadeStart);
    Band band;
    band.low.assign(size_t(options.orders) + 1, fadeEnd);
    band.high.assign(size_t(options.orders) + 1, fadeStart);
    double margin = 0; // of the fundamental, so that every order is there
    for (int n = 2; n <= options.orders; ++n) {
        const double hz = kOrderResolutions * sweep.rate /
                          double(orderBoundary(sweep, n) - orderBoundary(sweep, n - 1));
        band.high[size_t(n)] = fadeStart - hz;
        margin = std::max(margin, hz / n);
    }
    for (int n = 2; n <= options.orders; ++n) {
        band.low[size_t(n)] = n * (fadeEnd + margin);
    }
    return band;
}

// The deconvolution's noise, from stretches twice the part before the delay long that hold no
// response: after the response's decay, or before the highest order's window. A stretch
// tells the noise at a frequency only where the recording reaches all of it there.
struct NoiseStretch {
    int64_t start = 0;  // lags, [start, start + length)
    bool after = false; // after the response, rather than before the harmonics
};

// A frequency's floor: the power summed over the stretches chosen for it.
struct NoiseAt {
    std::vector<size_t> stretches;
    double sum = 0;
};

struct NoiseFloor {
    NoiseLags lags;
    int64_t length = 0; // of each stretch
    int64_t margin = 0; // kept from the lags that hold noise at a frequency
    std::vector<NoiseStretch> stretches;
    std::map<double, NoiseAt> at;    // every frequency an order or the response is given at
    std::vector<double> windowScale; // the noise an order's window passes over a stretch's
};

// The stretches a frequency's floor is taken from: those after the response where the
// recording reaches them, else the two earliest before the harmonics, far from the orders
// above the highest analysed, which lie close before it.
std::vector<size_t> stretchesFor(const NoiseFloor& noise, double f) {
    const double low = f / std::pow(2.0, 0.5 / kNoiseSmoothing);
    const double high = f * std::pow(2.0, 0.5 / kNoiseSmoothing);
    std::vector<size_t> after;
    std::vector<size_t> before;
    for (size_t i = 0; i < noise.stretches.size(); ++i) {
        const NoiseStretch& s = noise.stretches[i];
        if (double(s.start - noise.margin) >= noise.lags.first(low) &&
            double(s.start + noise.length + noise.margin) <= noise.lags.end(high)) {
            (s.after ? after : before).push_back(i);
        }
    }
    if (!after.empty()) {
        return after;
    }
    before.resize(std::min<size_t>(before.size(), kNoiseStretchesBefore));
    return before;
}

// The floor's power at f, relative to the played level; NaN where no stretch holds noise
// at f. Never below the arithmetic's own rounding: an exact copy has that floor.
double noisePower(const NoiseFloor& noise, double f) {
    const auto found = noise.at.find(f);
    if (found == noise.at.end() || found->second.stretches.empty()) {
        return kNaN;
    }
    return std::max(kRoundingPower, found->second.sum / double(found->second.stretches.size()));
}

// Orders below their floor are not given; the THD only where the harmonics stand above
// theirs together. Where the floor is not measured nothing is assumed of it.
void applyNoise(const NoiseFloor& noise, double linearPower, ResponsePoint* p) {
    const size_t orders = p->orderDb.size();
    p->orderNoiseDb.assign(orders, kNaN);
    p->orderBelowNoise.assign(orders, false);
    p->orderAtMostDb.assign(orders, kNaN);
    const double own = noisePower(noise, p->frequency) * noise.windowScale[1];
    p->noiseUnmeasured = std::isnan(own);
    if (p->noiseUnmeasured) {
        return;
    }
    p->noiseDb = 10 * std::log10(own);
    p->lowSnr = !(p->magnitudeDb - p->noiseDb >= kLeastSnrDb);
    double harmonics = 0;
    double floor = 0;
    bool floorKnown = true;
    for (size_t n = 2; n < orders; ++n) {
        if (std::isnan(p->orderDb[n])) {
            continue;
        }
        const double level = linearPower * std::pow(10.0, p->orderDb[n] / 10);
        const double noiseLevel =
            noisePower(noise, double(n) * p->frequency) * noise.windowScale[n];
        harmonics += level;
        if (std::isnan(noiseLevel)) {
            // Nothing above a floor not measured is given as distortion.
            floorKnown = false;
            p->orderDb[n] = kNaN;
            p->orderPhaseDeg[n] = kNaN;
            continue;
        }
        p->orderNoiseDb[n] = 10 * std::log10(noiseLevel / linearPower);
        floor += noiseLevel;
        if (!(level > kAboveNoise * noiseLevel)) {
            p->orderBelowNoise[n] = true;
            p->orderAtMostDb[n] = p->orderNoiseDb[n] + 10 * std::log10(kAboveNoise);
            p->orderDb[n] = kNaN;
            p->orderPhaseDeg[n] = kNaN;
        }
    }
    if (!floorKnown) {
        p->thdPercent = kNaN;
    } else if (!std::isnan(p->thdPercent) && !(harmonics > kAboveNoise * floor)) {
        p->thdBelowNoise = true;
        p->thdAtMostPercent = 100 * std::sqrt(kAboveNoise * floor / linearPower);
        p->thdPercent = kNaN;
    }
}

ResponsePoint responsePoint(const std::vector<OrderSpectrum>& orders, double f, const Band& band,
                            double smoothing, const NoiseFloor& noise) {
    ResponsePoint p;
    p.frequency = f;
    const Evaluated linear = evaluate(orders[1], f, smoothing, band.low[1], band.high[1]);
    p.magnitudeDb = 10 * std::log10(linear.power);
    p.phaseDeg = degrees(linear.value);
    p.orderDb.assign(orders.size(), kNaN);
    p.orderPhaseDeg.assign(orders.size(), kNaN);
    double harmonicPower = 0;
    bool any = false;
    for (size_t n = 2; n < orders.size(); ++n) {
        const Evaluated e =
            evaluate(orders[n], double(n) * f, smoothing, band.low[n], band.high[n]);
        if (std::isnan(e.power)) {
            continue;
        }
        any = true;
        harmonicPower += e.power;
        p.orderDb[n] = 10 * std::log10(e.power / linear.power);
        p.orderPhaseDeg[n] = degrees(e.value);
    }
    p.thdPercent = any ? 100 * std::sqrt(harmonicPower / linear.power) : kNaN;
    applyNoise(noise, linear.power, &p);
    return p;
}

} // namespace

double distortionFrom(const SyncSweep& sweep, const IrOptions& options) {
    const Band band = bandOf(sweep, options);
    return options.orders > 1 ? band.low[2] / 2 : kNaN;
}

const char* polarityName(Polarity polarity) {
    return polarity == Polarity::Normal     ? "normal"
           : polarity == Polarity::Inverted ? "inverted"
                                            : "undetermined";
}

void fullLevelBand(const SyncSweep& sweep, double* low, double* high) {
    const double perFrame = 1.0 / (double(sweep.rate) * sweep.rateConstant);
    *low = sweep.from * std::exp(double(sweep.fadeInFrames) * perFrame);
    *high = sweep.to;
    if (sweep.frames > sweep.fadeOutFrames) {
        *high = std::min(
            sweep.to, sweep.from * std::exp(double(sweep.frames - sweep.fadeOutFrames) * perFrame));
    }
}

IrTransforms irTransforms(size_t playedFrames, size_t recordedFrames, const SyncSweep& sweep,
                          const IrOptions& options, int64_t delay) {
    IrTransforms t;
    t.deconvolution = fftLength(playedFrames + recordedFrames);
    const int64_t window =
        orderBoundary(sweep, 1) + framesAfter(sweep, options, recordedFrames, delay);
    t.orders = fftLength(kZeroPadding * size_t(window));
    return t;
}

std::vector<double> frequencyGrid(double from, double to, int pointsPerOctave) {
    std::vector<double> grid;
    const int64_t first = int64_t(std::ceil(std::log2(from / 1000) * pointsPerOctave - 1e-9));
    for (int64_t k = first;; ++k) {
        const double f = 1000 * std::exp2(double(k) / pointsPerOctave);
        if (f > to * (1 + 1e-12)) {
            return grid;
        }
        grid.push_back(std::max(f, from));
    }
}

namespace {

// The wire's deconvolution, X conj(X) / (|X|^2 + eps), transformed back in x's buffer and
// kept over the span of the windows: real and even, its peak at time 0.
void keepWire(std::vector<Complex>* x, size_t recordedFrames, const SyncSweep& sweep, Fft* fft,
              SweepInverse* inverse) {
    const size_t n = inverse->length;
    for (size_t k = 0; k < x->size(); ++k) {
        (*x)[k] *= inverse->spectrum[k];
    }
    const double* w = fft->inverseInPlace(x->data(), n);
    // All of it: the noise's stretches reach from the played sweep's start before the
    // response to the recording's end after it, where a decay is followed.
    const int64_t end = int64_t(recordedFrames) + orderBoundary(sweep, 1);
    inverse->wireStart = end - int64_t(n);
    inverse->wire.resize(size_t(end - inverse->wireStart));
    for (int64_t t = inverse->wireStart; t < end; ++t) {
        const int64_t at = ((t % int64_t(n)) + int64_t(n)) % int64_t(n);
        inverse->wire[size_t(t - inverse->wireStart)] = w[size_t(at)];
    }
}

} // namespace

void prepareSweepInverse(const std::vector<float>& played, size_t recordedFrames,
                         const SyncSweep& sweep, Fft* fft, SweepInverse* inverse) {
    const size_t n =
        irTransforms(played.size(), recordedFrames, sweep, IrOptions(), 0).deconvolution;
    inverse->length = n;
    std::vector<Complex> x(n / 2 + 1);
    double* input = Fft::realInput(x.data());
    const double offset = mean(played);
    for (size_t i = 0; i < played.size(); ++i) {
        input[i] = played[i] - offset;
    }
    inverse->sweepStart = 0;
    while (inverse->sweepStart < played.size() && played[inverse->sweepStart] == 0.0f) {
        ++inverse->sweepStart;
    }
    fft->forwardInPlace(x.data(), n);
    double reference = 0;
    const double binHz = double(sweep.rate) / double(n);
    for (size_t k = 0; k < x.size(); ++k) {
        const double f = double(k) * binHz;
        if (f >= sweep.from && f <= sweep.to) {
            reference = std::max(reference, std::norm(x[k]));
        }
    }
    inverse->spectrum.resize(x.size());
    for (size_t k = 0; k < x.size(); ++k) {
        const double w = outOfBand(double(k) * binHz, sweep.from, sweep.to);
        const double eps = reference * (kInBand + (kOutOfBand - kInBand) * w);
        const double denominator = std::norm(x[k]) + eps;
        inverse->spectrum[k] = denominator > 0 ? std::conj(x[k]) / denominator : Complex();
    }
    keepWire(&x, recordedFrames, sweep, fft, inverse);
}

void keepWireWindows(size_t recordedFrames, const SyncSweep& sweep, const IrOptions& options,
                     Fft* fft, SweepInverse* inverse) {
    const Deconvolution wire{inverse->wire.data(), int64_t(inverse->wire.size()),
                             inverse->wireStart};
    inverse->windowsLength = irTransforms(0, recordedFrames, sweep, options, 0).orders;
    const int64_t after = framesAfter(sweep, options, recordedFrames, 0);
    inverse->windowsLinear = {after, after};
    inverse->windows.assign(size_t(options.orders) + 1, {});
    std::vector<double> buffer;
    OrderSpectrum w;
    for (int n = 1; n <= options.orders; ++n) {
        wireWindow(wire, n, inverse->windowsLinear, inverse->windowsLength, sweep, fft, &buffer,
                   &w);
        inverse->windows[size_t(n)].swap(w.bins);
    }
}

namespace {

// The recording (mean removed) deconvolved by the played channel's inverse, in work: the
// linear response from time 0 on, the harmonics before it, circularly.
const double* deconvolve(const SweepInverse& inverse, const std::vector<float>& recorded,
                         size_t recordedFrames, Fft* fft, std::vector<Complex>* work) {
    const size_t n = inverse.length;
    work->assign(n / 2 + 1, Complex());
    double* x = Fft::realInput(work->data());
    const double offset = mean(recorded);
    for (size_t i = 0; i < recordedFrames; ++i) {
        x[i] = recorded[i] - offset;
    }
    fft->forwardInPlace(work->data(), n);
    for (size_t k = 0; k < work->size(); ++k) {
        (*work)[k] *= inverse.spectrum[k];
    }
    return fft->inverseInPlace(work->data(), n);
}

// The deconvolution from the start of the highest order's window to the end of the linear
// one, and the linear impulse response within it.
void keepSpan(const Deconvolution& h, int64_t d, int64_t lead, int64_t after, int orders,
              const SyncSweep& sweep, ChannelIr* result) {
    result->lead = uint32_t(lead);
    result->spanStart = -orderBoundary(sweep, orders);
    result->span.resize(size_t(after - result->spanStart));
    for (int64_t t = result->spanStart; t < after; ++t) {
        result->span[size_t(t - result->spanStart)] = float(h.at(d + t));
    }
    result->ir.assign(result->span.end() - (after + lead), result->span.end());
}

// Each order's window of h around d moved to its own origin and transformed.
std::vector<OrderSpectrum> orderSpectra(const Deconvolution& h, int64_t d,
                                        const LinearWindow& linear, size_t length,
                                        const SyncSweep& sweep, const IrOptions& options,
                                        Fft* fft) {
    const double perOrder = double(sweep.rate) * sweep.rateConstant; // frames per unit of ln n
    std::vector<OrderSpectrum> spectra(size_t(options.orders) + 1);
    std::vector<double> buffer;
    for (int order = 1; order <= options.orders; ++order) {
        const int64_t start = d - orderBoundary(sweep, order);
        const int64_t end = order == 1 ? d + linear.after : d - orderBoundary(sweep, order - 1);
        const double origin = double(d) - perOrder * std::log(double(order));
        orderSpectrum(h, start, end, origin, length, sweep.rate, fft, &buffer,
                      &spectra[size_t(order)], order == 1 ? double(linear.fade) : 0);
    }
    return spectra;
}

// The noise's stretches and which of them each frequency the analysis gives needs; only those
// are transformed, as the linear window is, the regularisation's tail shaped by the response
// taken out and the wire's magnitude divided out.
// Where the noise is read: stretches after the decay where the recording still reaches them,
// then before the harmonics; each frequency (and each harmonic's) takes those valid over its
// band. Returns which stretches any frequency takes.
std::vector<bool> placeNoiseStretches(int64_t d, int64_t lead, const LinearWindow& linear,
                                      const SyncSweep& sweep, const IrOptions& options,
                                      const Band& band, const std::vector<double>& frequencies,
                                      NoiseFloor* noise) {
    // Short enough to fit between the response and where a frequency's noise ends, or before
    // the harmonics; long enough to hold a few periods of the lowest frequency.
    noise->length = 2 * lead;
    noise->margin =
        std::llround(std::max(kNoiseMarginSeconds, kNoiseMarginPeriods / sweep.from) * sweep.rate);
    const int64_t firstLag = int64_t(std::floor(noise->lags.first(sweep.to)));
    for (size_t k = 0; k < kNoiseStretchesAfter; ++k) {
        const int64_t start = d + linear.after + lead + int64_t(k) * noise->length;
        if (start + noise->length <= noise->lags.recordedFrames) {
            noise->stretches.push_back({start, true});
        }
    }
    // Before the harmonics: from the earliest lag that holds noise on, towards the response.
    const int64_t harmonics = d - orderBoundary(sweep, options.orders) - lead;
    for (int64_t start = firstLag + noise->margin; start + noise->length <= harmonics;
         start += noise->length) {
        noise->stretches.push_back({start, false});
    }
    std::vector<bool> wanted(noise->stretches.size(), false);
    for (double f : frequencies) {
        for (int n = 1; n <= options.orders; ++n) {
            const double at = double(n) * f;
            if ((n == 1 || (at >= band.low[size_t(n)] && at <= band.high[size_t(n)])) &&
                noise->at.count(at) == 0) {
                NoiseAt& floor = noise->at[at];
                floor.stretches = stretchesFor(*noise, at);
                for (size_t i : floor.stretches) {
                    wanted[i] = true;
                }
            }
        }
    }
    return wanted;
}

// Noise passes a window in proportion to the sum of its squares: a raised-cosine side keeps
// 3/8 of its length, a flat part all of it. Each order's window against a stretch's.
void scaleNoiseWindows(int64_t lead, const LinearWindow& linear, const SyncSweep& sweep, int orders,
                       NoiseFloor* noise) {
    const double stretch = kRaisedCosineEnergy * double(noise->length);
    noise->windowScale.assign(size_t(orders) + 1, 1);
    noise->windowScale[1] =
        (kRaisedCosineEnergy * double(lead + linear.fade) + double(linear.after - linear.fade)) /
        stretch;
    for (int n = 2; n <= orders; ++n) {
        noise->windowScale[size_t(n)] =
            kRaisedCosineEnergy * double(orderBoundary(sweep, n) - orderBoundary(sweep, n - 1)) /
            stretch;
    }
}

NoiseFloor noiseFloor(const Deconvolution& h, const Deconvolution& wire, int64_t d, int64_t lead,
                      const LinearWindow& linear, const NoiseLags& lags, size_t length,
                      const SyncSweep& sweep, const IrOptions& options, const Band& band,
                      const std::vector<double>& frequencies,
                      const std::vector<OrderSpectrum>& corrected,
                      const std::vector<double>& wireLinear, Fft* fft) {
    NoiseFloor noise;
    noise.lags = lags;
    const std::vector<bool> wanted =
        placeNoiseStretches(d, lead, linear, sweep, options, band, frequencies, &noise);
    // One stretch at a time, each frequency that takes it summed as it goes.
    std::vector<double> buffer;
    OrderSpectrum spectrum;
    OrderSpectrum tail;
    // Every stretch's window, the response's and the wire's alike: its origin at the middle.
    const std::vector<double> window = orderWindow(0, noise.length, double(lead));
    for (size_t i = 0; i < noise.stretches.size(); ++i) {
        if (!wanted[i]) {
            continue;
        }
        const NoiseStretch& s = noise.stretches[i];
        const int64_t origin = s.start + lead;
        orderSpectrum(h, s.start, window, double(origin), length, sweep.rate, fft, &buffer,
                      &spectrum);
        orderSpectrum(wire, s.start - d, window, double(origin - d), length, sweep.rate, fft,
                      &buffer, &tail);
        for (size_t k = 0; k < spectrum.bins.size(); ++k) {
            spectrum.bins[k] -= corrected[1].bins[k] * tail.bins[k];
            spectrum.bins[k] /= wireLinear[k] > 0 ? wireLinear[k] : 1;
        }
        prepareSmoothing(&spectrum);
        for (auto& [f, floor] : noise.at) {
            if (std::find(floor.stretches.begin(), floor.stretches.end(), i) !=
                floor.stretches.end()) {
                floor.sum +=
                    evaluate(spectrum, f, kNoiseSmoothing, band.low[1] / 2, band.high[1] * 2).power;
            }
        }
    }
    scaleNoiseWindows(lead, linear, sweep, options.orders, &noise);
    return noise;
}

// The responses at every frequency of the grid and at the probes, from the windows around the
// direct sound and each harmonic's, with the noise floor and the clocks' drift.
void measureResponses(const SweepInverse& inverse, const Deconvolution& h,
                      const Deconvolution& wire, int64_t recordedFrames, int64_t lead,
                      const SyncSweep& sweep, const IrOptions& options, Fft* fft,
                      ChannelIr* result) {
    const int64_t delay = result->delay;
    const LinearWindow& linear = result->window;
    const size_t length = fftLength(kZeroPadding * size_t(lead + linear.after));
    std::vector<OrderSpectrum> spectra =
        orderSpectra(h, delay, linear, length, sweep, options, fft);
    const std::vector<double> wireLinear =
        removeWire(inverse, wire, linear, length, sweep, fft, &spectra);
    result->lags = {recordedFrames, double(inverse.sweepStart),
                    double(sweep.rate) * sweep.rateConstant, sweep.from};
    const Band band = bandOf(sweep, options);
    std::vector<double> frequencies =
        frequencyGrid(band.low[1], band.high[1], options.pointsPerOctave);
    const size_t gridPoints = frequencies.size();
    frequencies.insert(frequencies.end(), options.probes.begin(), options.probes.end());
    const NoiseFloor noise = noiseFloor(h, wire, delay, lead, linear, result->lags, length, sweep,
                                        options, band, frequencies, spectra, wireLinear, fft);
    double fadeEnd = 0;
    double fadeStart = 0;
    fullLevelBand(sweep, &fadeEnd, &fadeStart);
    result->drift = estimateDrift(spectra[1].bins, length, sweep.rate, fadeEnd, fadeStart,
                                  sweep.rateConstant, fft);
    if (options.smoothing > 0) {
        for (OrderSpectrum& spectrum : spectra) {
            prepareSmoothing(&spectrum);
        }
    }
    for (size_t i = 0; i < frequencies.size(); ++i) {
        (i < gridPoints ? result->points : result->probes)
            .push_back(responsePoint(spectra, frequencies[i], band, options.smoothing, noise));
    }
}

} // namespace

bool analyseChannel(const SweepInverse& inverse, const std::vector<float>& recorded,
                    const SyncSweep& sweep, const IrOptions& options, Fft* fft, ChannelIr* result,
                    std::string* error) {
    *result = ChannelIr();
    const int64_t n = int64_t(inverse.length);
    const int64_t recordedFrames = std::min<int64_t>(int64_t(recorded.size()), n);
    // The harmonics' windows must stay clear of the recording's end, wrapped round.
    const int64_t room = n - recordedFrames - orderBoundary(sweep, options.orders);
    if (room <= 0) {
        *error =
            "the sweep is too short to tell order " + std::to_string(options.orders) + " apart";
        return false;
    }
    std::vector<Complex> work;
    const Deconvolution h{deconvolve(inverse, recorded, size_t(recordedFrames), fft, &work), n, 0};
    const int64_t lead = orderBoundary(sweep, 1);
    double noisePower = 0;
    const int64_t delay =
        directSound(h, std::min(lead, room - 1), recordedFrames, lead, sweep, &noisePower);
    if (!(std::fabs(h.at(delay)) > 0)) {
        *error = "the recording holds nothing of the sweep";
        return false;
    }
    result->delay = delay;
    result->peak = std::fabs(h.at(delay));
    result->polarity = directPolarity(h, delay, sweep);
    result->peakToNoiseDb = 10 * std::log10(result->peak * result->peak / noisePower);
    const Deconvolution wire{inverse.wire.data(), int64_t(inverse.wire.size()), inverse.wireStart};
    chooseLinearWindow(h, wire, recordedFrames, lead, noisePower, sweep, options, fft, result);
    const LinearWindow& linear = result->window;
    keepSpan(h, delay, lead, linear.after, options.orders, sweep, result);
    for (int64_t t = delay - lead; options.keepTail && t < recordedFrames; ++t) {
        result->tail.push_back(float(h.at(t)));
    }
    result->orderStart.assign(size_t(options.orders) + 1, 0);
    for (int order = 1; order <= options.orders; ++order) {
        result->orderStart[size_t(order)] = -orderBoundary(sweep, order);
    }
    measureResponses(inverse, h, wire, recordedFrames, lead, sweep, options, fft, result);
    return true;
}
