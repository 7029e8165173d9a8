#include "measure/analysis/room_acoustics.h"

#include <algorithm>
#include <complex>

#include "measure/maths.h"

namespace {

// Nominal centres; each octave lies around 1 kHz x 2^k.
constexpr double kOctaves[] = {63, 125, 250, 500, 1000, 2000, 4000, 8000};
// Each octave's edges cross over to the next in power over a sixth of an octave either side.
constexpr double kEdgeOctaves = 1.0 / 6;
// The onset: where the response first rises to 20 dB under its largest.
constexpr double kOnsetPower = 0.01;
// Lundeby's steps: the envelope in 10-ms blocks, fitted down to 10 dB over the noise, whose
// level is the mean of the last tenth; at most this many rounds.
constexpr double kBlockSeconds = 0.01;
constexpr double kFitAboveNoiseDb = 10;
constexpr double kNoiseShare = 0.1;
constexpr int kRounds = 5;
// The decay's range above the noise each time needs: its own fit range and 10 dB more.
constexpr double kEdtRangeDb = 20;
constexpr double kT20RangeDb = 35;
constexpr double kT30RangeDb = 45;

double exactCentre(double nominal) {
    return 1000 * std::exp2(std::round(std::log2(nominal / 1000)));
}

// The gain that rises across an edge, and the one that falls: their squares add up to 1.
double rising(double f, double edge) {
    const double u = std::log2(f / edge) / kEdgeOctaves;
    return u <= -1 ? 0 : u >= 1 ? 1 : std::sin(kPi / 4 * (1 + u));
}

double falling(double f, double edge) {
    const double u = std::log2(f / edge) / kEdgeOctaves;
    return u <= -1 ? 1 : u >= 1 ? 0 : std::cos(kPi / 4 * (1 + u));
}

// The power of ir's band from low to high, filtered without phase: octaves next to each
// other add up in power.
std::vector<double> bandPower(const std::vector<std::complex<double>>& spectrum, size_t n,
                              size_t frames, double low, double high, uint32_t rate, Fft* fft) {
    std::vector<std::complex<double>> bins = spectrum;
    for (size_t k = 0; k < bins.size(); ++k) {
        const double f = double(k) * rate / double(n);
        bins[k] *= f > 0 ? rising(f, low) * falling(f, high) : 0;
    }
    std::vector<double> x(n);
    fft->inverse(bins.data(), n, x.data());
    x.resize(frames);
    for (double& v : x) {
        v *= v;
    }
    return x;
}

double mean(const std::vector<double>& p, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += p[i];
    }
    return to > from ? sum / double(to - from) : 0;
}

// A line through (x, y): slope and intercept; false with fewer than two points.
bool fitLine(const std::vector<double>& x, const std::vector<double>& y, double* slope,
             double* intercept) {
    const double n = double(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    const double d = n * sxx - sx * sx;
    if (x.size() < 2 || !(d > 0)) {
        return false;
    }
    *slope = (n * sxy - sx * sy) / d;
    *intercept = (sy - *slope * sx) / n;
    return true;
}

struct Decay {
    size_t cross = 0;   // frames from the onset where the decay meets the noise
    double slopeDb = 0; // per second, below 0
    double startDb = 0; // the fitted line at the onset
    double noiseDb = 0;
};

// Lundeby's iteration over p's power from the onset: the line the decay follows and where
// it meets the noise. False where no decay is found.
bool findDecay(const std::vector<double>& p, uint32_t rate, Decay* d) {
    const size_t block = std::max<size_t>(1, size_t(kBlockSeconds * rate));
    const size_t blocks = p.size() / block;
    if (blocks < 4) {
        return false;
    }
    std::vector<double> level(blocks);
    for (size_t b = 0; b < blocks; ++b) {
        level[b] = 10 * std::log10(mean(p, b * block, (b + 1) * block) + 1e-300);
    }
    double noise = mean(p, size_t(double(p.size()) * (1 - kNoiseShare)), p.size());
    for (int round = 0; round < kRounds; ++round) {
        d->noiseDb = 10 * std::log10(noise + 1e-300);
        // Every block over the noise up to the last one: a gap before the first
        // reflections, or a dip, does not end the decay.
        std::vector<double> x;
        std::vector<double> y;
        for (size_t b = 0; b < blocks; ++b) {
            if (level[b] > d->noiseDb + kFitAboveNoiseDb) {
                x.push_back((double(b) + 0.5) * kBlockSeconds);
                y.push_back(level[b]);
            }
        }
        if (!fitLine(x, y, &d->slopeDb, &d->startDb) || !(d->slopeDb < 0)) {
            return false;
        }
        const double seconds = (d->noiseDb - d->startDb) / d->slopeDb;
        d->cross = std::min(p.size(), size_t(std::max(0.0, seconds) * rate));
        // The noise again from 10 dB of decay past the crossing, if a tenth is left there.
        const size_t from = d->cross + size_t(-kFitAboveNoiseDb / d->slopeDb * rate);
        const size_t least = size_t(double(p.size()) * kNoiseShare);
        noise = mean(p, p.size() - std::max(least, p.size() - std::min(from, p.size())), p.size());
    }
    return true;
}

// Schroeder's integral of p from each frame to the crossing, plus what the fitted decay
// holds beyond it; past the crossing, the fitted decay's own.
std::vector<double> schroeder(const std::vector<double>& p, const Decay& d, uint32_t rate) {
    const double perFrame = -d.slopeDb * std::log(10.0) / 10 / rate; // power's decay rate
    auto line = [&](size_t t) {
        return std::pow(10.0, (d.startDb + d.slopeDb * double(t) / rate) / 10);
    };
    std::vector<double> s(p.size());
    double sum = line(d.cross) / perFrame;
    for (size_t t = p.size(); t-- > 0;) {
        if (t >= d.cross) {
            s[t] = line(t) / perFrame;
        } else {
            sum += p[t];
            s[t] = sum;
        }
    }
    return s;
}

// -60 dB over the slope of the Schroeder curve's line between from and to dB.
double decayTime(const std::vector<double>& db, uint32_t rate, double from, double to) {
    std::vector<double> x;
    std::vector<double> y;
    for (size_t t = 0; t < db.size(); ++t) {
        if (db[t] <= from && db[t] >= to) {
            x.push_back(double(t) / rate);
            y.push_back(db[t]);
        }
    }
    double slope = 0;
    double intercept = 0;
    return fitLine(x, y, &slope, &intercept) && slope < 0 ? -60 / slope : NAN;
}

RoomBand bandParameters(const std::vector<double>& power, size_t onset, uint32_t rate,
                        double centre) {
    RoomBand band;
    band.centreHz = centre;
    const std::vector<double> p(power.begin() + long(onset), power.end());
    Decay d;
    const bool decays = findDecay(p, rate, &d);
    std::vector<double> s(p.size());
    if (decays) {
        band.rangeDb = d.startDb - d.noiseDb;
        s = schroeder(p, d, rate);
    } else {
        // No decay over the noise to follow: the energies as they stand give the ratios.
        double sum = 0;
        for (size_t t = p.size(); t-- > 0;) {
            s[t] = sum += p[t];
        }
    }
    std::vector<double> db(s.size());
    for (size_t t = 0; t < s.size(); ++t) {
        db[t] = 10 * std::log10(s[t] / s[0]);
    }
    const double range = decays ? band.rangeDb : 0;
    band.edt = range >= kEdtRangeDb ? decayTime(db, rate, 0, -10) : NAN;
    band.t20 = range >= kT20RangeDb ? decayTime(db, rate, -5, -25) : NAN;
    band.t30 = range >= kT30RangeDb ? decayTime(db, rate, -5, -35) : NAN;
    for (const double ms : {50.0, 80.0}) {
        const size_t at = std::min(s.size() - 1, size_t(ms / 1000 * rate));
        const double early = s[0] - s[at];
        (ms == 50 ? band.c50Db : band.c80Db) = 10 * std::log10(early / s[at]);
        if (ms == 50) {
            band.d50Percent = 100 * early / s[0];
        }
    }
    for (size_t t = 0; t < db.size(); t += std::max<size_t>(1, rate / 1000)) {
        band.decayDb.push_back(db[t]);
    }
    return band;
}

} // namespace

std::vector<double> roomOctaves(double low, double high) {
    std::vector<double> centres;
    for (double centre : kOctaves) {
        if (exactCentre(centre) / std::sqrt(2.0) >= low &&
            exactCentre(centre) * std::sqrt(2.0) <= high) {
            centres.push_back(centre);
        }
    }
    return centres;
}

std::vector<RoomBand> roomParameters(const std::vector<float>& ir, uint32_t rate, double low,
                                     double high, Fft* fft) {
    const size_t n = fftLength(2 * ir.size());
    std::vector<double> x(n, 0.0);
    std::copy(ir.begin(), ir.end(), x.begin());
    std::vector<std::complex<double>> spectrum(n / 2 + 1);
    fft->forward(x.data(), n, spectrum.data());
    // The whole band without what the sweep does not measure: the band-limited impulse's
    // slow ringing beyond it.
    const std::vector<double> whole = bandPower(spectrum, n, ir.size(), low, high, rate, fft);
    const double largest = *std::max_element(whole.begin(), whole.end());
    size_t onset = 0;
    while (whole[onset] < kOnsetPower * largest) {
        ++onset;
    }
    std::vector<RoomBand> bands{bandParameters(whole, onset, rate, 0)};
    for (double centre : roomOctaves(low, high)) {
        const double exact = exactCentre(centre);
        bands.push_back(bandParameters(bandPower(spectrum, n, ir.size(), exact / std::sqrt(2.0),
                                                 exact * std::sqrt(2.0), rate, fft),
                                       onset, rate, centre));
    }
    return bands;
}
