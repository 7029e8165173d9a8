// Impulse response, frequency response and harmonic distortion of a recorded channel, from
// the synchronized sweep that was played: regularised spectral division of the recording by
// the played channel, then one window per harmonic order, cut where the orders meet.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "measure/analysis/clock_drift.h"
#include "measure/analysis/deconvolution.h"
#include "measure/analysis/fft.h"
#include "measure/signals/sweep.h"

constexpr int kMaxOrders = 10;

struct IrOptions {
    int orders = 5;              // highest harmonic order; 1: the linear response alone
    double smoothing = 0;        // N of 1/N-octave smoothing; 0: none
    int pointsPerOctave = 48;    // of the frequency grid, anchored at 1 kHz
    double irSeconds = 0;        // linear window after the delay; 0: as long as its decay lasts
    double gateMs = 0;           // or cut so long after the direct sound, for a device's own
                                 // response without the room's reflections
    std::vector<double> probes;  // further frequencies to evaluate (limits)
    bool correctDrift = false;   // resample a recording on another clock to the played one
    bool keepTail = false;       // keep the deconvolution to the recording's end (a room's)
    double rubBuzzMultiple = 10; // rub and buzz: the residual's high-pass at this times f
};

struct ResponsePoint {
    double frequency = 0;
    double magnitudeDb = 0; // relative to the played level
    double phaseDeg = 0;    // delay removed
    double thdPercent = 0;  // NaN where the sweep covers no order's frequency, or below noise
    // Index n = 2 .. orders: the order's level relative to the fundamental in dB and its phase
    // with its own delay removed, taken at n x frequency; NaN where the sweep does not reach
    // or the order lies below the noise floor.
    std::vector<double> orderDb;
    std::vector<double> orderPhaseDeg;
    // The deconvolution's noise floor: at f, relative to the played level as magnitudeDb;
    // in each order's window at n f, relative to the fundamental as orderDb. NaN: unknown.
    double noiseDb = NAN;
    std::vector<double> orderNoiseDb;
    std::vector<bool> orderBelowNoise; // the order was measured, and lies below its floor
    bool thdBelowNoise = false;
    // Below noise, what the harmonics may be at most: each order in dB re the fundamental,
    // the THD in percent.
    std::vector<double> orderAtMostDb;
    double thdAtMostPercent = NAN;
    // The noise lets the magnitude be in error by more than kResponseErrorDb.
    bool lowSnr = false;
    // No lags of the deconvolution hold the recording's noise at f apart from the response
    // (the pad is too short): noiseDb is NaN, and nothing is judged against it.
    bool noiseUnmeasured = false;
    // Rub and buzz (rub_buzz.h), in dB: the residual's peak and RMS relative to the
    // fundamental's, its crest factor. NaN beyond where it is measured.
    double rbPeakDb = NAN;
    double rbRmsDb = NAN;
    double rbCrestDb = NAN;
};

// The response's error that a point's noise floor may cause, and the SNR that keeps to it.
constexpr double kResponseErrorDb = 0.1;
constexpr double kLeastSnrDb = 38.7; // 20 log10(1 / (10^(0.1 / 20) - 1))

// Which way round the device passes the sweep: its direct sound against the wire's, whose
// peak is positive.
enum class Polarity { Undetermined, Normal, Inverted };
// "normal", "inverted", "undetermined".
const char* polarityName(Polarity polarity);

// The linear window's side after the delay: frames, and the last of them that fade out.
struct LinearWindow {
    int64_t after = 0;
    int64_t fade = 0;
    bool operator==(const LinearWindow& o) const { return after == o.after && fade == o.fade; }
};

struct ChannelIr {
    int64_t delay = 0; // frames from the played channel to the direct sound; negative: earlier
    double peak = 0;   // |h| at the delay
    Polarity polarity = Polarity::Undetermined;
    // The direct sound over the deconvolution's noise, a stretch before it that holds no
    // response: what says that the recording holds the played sweep.
    double peakToNoiseDb = INFINITY;
    LinearWindow window;
    // Where the window ends while the decay still stands above the noise, the response is
    // affected from cutBelowHz down; NaN: the window holds the whole decay.
    double cutBelowHz = NAN;
    double gateLowestHz = NAN; // with a gate: the lowest frequency it gives rightly
    // The clocks' difference, from the excess phase; and what was corrected before this
    // analysis (0: nothing).
    DriftEstimate drift;
    double correctedPpm = 0;
    // The linear impulse response, starting `lead` frames before the delay; with keepTail,
    // the same start to the recording's end, where each octave's decay meets its own noise.
    std::vector<float> ir;
    uint32_t lead = 0;
    std::vector<float> tail;
    NoiseLags lags;
    // The whole deconvolution from the start of the highest order's window to the end of
    // the linear window, starting spanStart frames from the delay (negative: earlier), and
    // where each order's window starts, relative to the delay (index n = 1 .. orders).
    std::vector<float> span;
    int64_t spanStart = 0;
    std::vector<int64_t> orderStart;
    std::vector<ResponsePoint> points; // the grid over the sweep's band
    std::vector<ResponsePoint> probes; // at IrOptions::probes
};

// The played channel's regularised inverse, conj(X) / (|X|^2 + eps(f)): eps is small inside
// the sweep's band and large outside it, with raised-cosine transitions in log frequency.
// The same division of the played channel by itself, a perfect wire's measurement, keeps
// the regularisation's own response: the analysis divides it out of every window.
struct SweepInverse {
    size_t length = 0; // of the transforms: no circular wrap for recordings of recordedFrames
    std::vector<std::complex<double>> spectrum;
    std::vector<double> wire; // the wire's deconvolution from wireStart on (time 0 its peak)
    int64_t wireStart = 0;
    uint64_t sweepStart = 0; // the played channel's first sound
    // When one inverse serves many channels: the wire's window of every order, transformed
    // once, for orders' transforms of windowsLength and the linear window windowsLinear.
    size_t windowsLength = 0;
    LinearWindow windowsLinear;
    std::vector<std::vector<std::complex<double>>> windows;
};
void prepareSweepInverse(const std::vector<float>& played, size_t recordedFrames,
                         const SyncSweep& sweep, Fft* fft, SweepInverse* inverse);
// The wire's windows for recordings of recordedFrames, kept in the inverse.
void keepWireWindows(size_t recordedFrames, const SyncSweep& sweep, const IrOptions& options,
                     Fft* fft, SweepInverse* inverse);

// Deconvolves the recording (mean removed) and analyses it. False with *error when the
// recording holds nothing or the orders do not fit the sweep.
bool analyseChannel(const SweepInverse& inverse, const std::vector<float>& recorded,
                    const SyncSweep& sweep, const IrOptions& options, Fft* fft, ChannelIr* result,
                    std::string* error);

// The transform lengths of a channel's analysis at a delay: the deconvolution's (the played
// channel forward, the recording forward and back) and the orders' (one forward each).
struct IrTransforms {
    size_t deconvolution = 0;
    size_t orders = 0;
};
IrTransforms irTransforms(size_t playedFrames, size_t recordedFrames, const SyncSweep& sweep,
                          const IrOptions& options, int64_t delay);

// Where the sweep plays at its full level, between its fades: the band every response is
// given in (a harmonic's where its own frequency lies in it). Near the ends of the band an
// order's window, a few periods of the frequency long, blurs what lies beyond them.
void fullLevelBand(const SyncSweep& sweep, double* low, double* high);
// The fundamental frequency from which the harmonics are given: above the full-level band's
// start by what their windows blur of the fade, which changes the level a device sees; NaN
// without harmonics. Each order stops as far below the top.
double distortionFrom(const SyncSweep& sweep, const IrOptions& options);

// The grid: 1 kHz x 2^(k / pointsPerOctave) within [from, to].
std::vector<double> frequencyGrid(double from, double to, int pointsPerOctave);
