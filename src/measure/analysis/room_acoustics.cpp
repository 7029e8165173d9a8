#include "measure/analysis/room_acoustics.h"

#include <algorithm>
#include <complex>

#include "measure/analysis/decay.h"
#include "measure/analysis/line_fit.h"
#include "measure/maths.h"

namespace {

// Nominal centres; each octave lies around 1 kHz x 2^k.
constexpr double kOctaves[] = {63, 125, 250, 500, 1000, 2000, 4000, 8000};
// Each octave's edges cross over to the next in power over a sixth of an octave either side.
constexpr double kEdgeOctaves = 1.0 / 6;
// The onset: where the response first rises to 20 dB under its largest.
constexpr double kOnsetPower = 0.01;
// Lundeby's steps: the envelope in the decay's blocks, fitted down to 10 dB over the noise,
// whose level is the mean of the last tenth; at most this many rounds.
constexpr double kFitAboveNoiseDb = 10;
constexpr double kNoiseShare = 0.1;
constexpr int kRounds = 5;
// The decay's range above the noise each time needs: its own fit range and 10 dB more.
constexpr double kEdtRangeDb = 20;
constexpr double kT20RangeDb = 35;
constexpr double kT30RangeDb = 45;
// A band filter rings for about 1 / bandwidth: a decay time is its room's only where
// bandwidth x time reaches 16.
constexpr double kLeastBandwidthTime = 16;
// and where it is more than twice what the filter shows of a lone impulse, followed for 2 s.
constexpr double kOverRinging = 2;
constexpr double kRingingSeconds = 2;
// Kept clear of where a band's lags stop holding it: the sweep's own spread.
constexpr double kLagMarginSeconds = 0.02;

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

// What a band's filter does to an impulse: its bandwidth, and the longest decay time its own
// ringing shows (0 where not known).
struct Ringing {
    double bandwidthHz = 0;
    double seconds = 0;
};

struct Decay {
    size_t cross = 0;   // frames from the onset where the decay meets the noise
    double slopeDb = 0; // per second, below 0
    double startDb = 0; // the fitted line at the onset
    double noiseDb = 0;
    bool noiseSeen = false; // the noise was measured past the decay, not within it
};

// Lundeby's iteration over p's power from the onset: the line the decay follows and where
// it meets the noise. False where no decay is found.
bool findDecay(const std::vector<double>& p, uint32_t rate, Decay* d) {
    const int64_t block = decayBlockFrames(rate);
    const double blockSeconds = double(block) / rate;
    const std::vector<double> powers =
        blockPowers([&](int64_t t) { return p[size_t(t)]; }, int64_t(p.size()), block);
    if (powers.size() < 4) {
        return false;
    }
    std::vector<double> level(powers.size());
    for (size_t b = 0; b < powers.size(); ++b) {
        level[b] = 10 * std::log10(powers[b] + 1e-300);
    }
    const size_t least = size_t(double(p.size()) * kNoiseShare);
    double noise = mean(p, p.size() - least, p.size());
    for (int round = 0; round < kRounds; ++round) {
        d->noiseDb = 10 * std::log10(noise + 1e-300);
        const double floorDb = d->noiseDb + kFitAboveNoiseDb;
        const size_t end = decayBlocks(level, [&](size_t) { return floorDb; });
        LineFit line;
        for (size_t b = 0; b < end; ++b) {
            if (level[b] > floorDb) {
                line.add((double(b) + 0.5) * blockSeconds, level[b]);
            }
        }
        if (!line.fit(&d->slopeDb, &d->startDb) || !(d->slopeDb < 0)) {
            return false;
        }
        const double seconds = (d->noiseDb - d->startDb) / d->slopeDb;
        d->cross = std::min(p.size(), size_t(std::max(0.0, seconds) * rate));
        // The noise again from 10 dB of decay past the crossing, if a tenth is left there.
        const size_t from = d->cross + size_t(-kFitAboveNoiseDb / d->slopeDb * rate);
        d->noiseSeen = from + least <= p.size();
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

// -60 dB over the slope of the Schroeder curve's line between from and to dB, given where
// the decay's range reaches `needed` dB and the time exceeds the band filter's own ringing.
DecayTime decayTime(const std::vector<double>& db, uint32_t rate, double from, double to,
                    double needed, const Decay& d, bool decays, const Ringing& ringing) {
    DecayTime time;
    if (!decays) {
        time.withheld = RoomWithheld::NoDecay;
        return time;
    }
    if (!(d.startDb - d.noiseDb >= needed)) {
        time.withheld = d.noiseSeen ? RoomWithheld::Range : RoomWithheld::Pad;
        return time;
    }
    LineFit line;
    for (size_t t = 0; t < db.size(); ++t) {
        if (db[t] <= from && db[t] >= to) {
            line.add(double(t) / rate, db[t]);
        }
    }
    double slope = 0;
    double intercept = 0;
    if (!line.fit(&slope, &intercept) || !(slope < 0)) {
        time.withheld = RoomWithheld::NoDecay;
        return time;
    }
    time.correlation = line.correlation();
    if (ringing.bandwidthHz > 0 && (-60 / slope * ringing.bandwidthHz < kLeastBandwidthTime ||
                                    -60 / slope < kOverRinging * ringing.seconds)) {
        time.withheld = RoomWithheld::Filter;
        return time;
    }
    time.seconds = -60 / slope;
    return time;
}

RoomBand bandParameters(const std::vector<double>& power, size_t onset, size_t usable,
                        uint32_t rate, double centre, const Ringing& ringing) {
    RoomBand band;
    band.centreHz = centre;
    const std::vector<double> p(power.begin() + long(std::min(onset, power.size())),
                                power.begin() +
                                    long(std::max(onset, std::min(usable, power.size()))));
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
    if (s.empty() || !(s[0] > 0)) {
        band.edt.withheld = band.t20.withheld = band.t30.withheld =
            s.empty() ? RoomWithheld::Pad : RoomWithheld::NoDecay;
        return band;
    }
    std::vector<double> db(s.size());
    for (size_t t = 0; t < s.size(); ++t) {
        db[t] = 10 * std::log10(s[t] / s[0]);
    }
    band.edt = decayTime(db, rate, 0, -10, kEdtRangeDb, d, decays, ringing);
    band.t20 = decayTime(db, rate, -5, -25, kT20RangeDb, d, decays, ringing);
    band.t30 = decayTime(db, rate, -5, -35, kT30RangeDb, d, decays, ringing);
    if (!std::isnan(band.t20.seconds) && !std::isnan(band.t30.seconds)) {
        band.curvaturePercent = 100 * (band.t30.seconds / band.t20.seconds - 1);
    }
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

// Frames of the response from its start that hold the band up to `high` (and its edge's
// transition), as far as the recording reaches there.
size_t usableFrames(const RoomTail& tail, double high, uint32_t rate) {
    const double end = tail.lags.end(high * std::exp2(kEdgeOctaves)) - kLagMarginSeconds * rate -
                       double(tail.start);
    return end > 0 ? size_t(end) : 0;
}

// The longest decay time the band's filter shows of a lone impulse, its direct sound at
// frame 0: a decay no longer than a few times that is the filter's.
double ownRinging(double low, double high, uint32_t rate, Fft* fft) {
    const size_t frames = size_t(kRingingSeconds * rate);
    const size_t n = fftLength(2 * frames);
    const std::vector<std::complex<double>> flat(n / 2 + 1, 1.0);
    const std::vector<double> p = bandPower(flat, n, frames, low, high, rate, fft);
    const RoomBand band = bandParameters(p, 0, frames, rate, 0, Ringing());
    double longest = 0;
    for (const DecayTime* t : {&band.edt, &band.t20, &band.t30}) {
        longest = std::isnan(t->seconds) ? longest : std::max(longest, t->seconds);
    }
    return longest;
}

} // namespace

const char* roomWithheldName(RoomWithheld why) {
    switch (why) {
    case RoomWithheld::NoDecay:
        return "no-decay";
    case RoomWithheld::Range:
        return "range";
    case RoomWithheld::Pad:
        return "pad";
    case RoomWithheld::Filter:
        return "filter";
    case RoomWithheld::None:
        break;
    }
    return "";
}

const char* roomWithheldText(RoomWithheld why) {
    switch (why) {
    case RoomWithheld::NoDecay:
        return "no decay stands above the noise";
    case RoomWithheld::Range:
        return "the decay stands too little above the noise (EDT needs 20 dB, T20 35, T30 45): "
               "average more sweeps (--repeat), or measure in a quieter room";
    case RoomWithheld::Pad:
        return "the recording ends before the decay meets the noise: pad the played file longer";
    case RoomWithheld::Filter:
        return "no longer than the band filter's own ringing (bandwidth x time under 16, or "
               "under twice the filter's decay)";
    case RoomWithheld::None:
        break;
    }
    return "";
}

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

std::vector<RoomBand> roomParameters(const std::vector<float>& ir, const RoomTail& tail,
                                     uint32_t rate, double low, double high, Fft* fft) {
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
    std::vector<std::pair<double, double>> edges{{low, high}};
    for (double centre : roomOctaves(low, high)) {
        const double exact = exactCentre(centre);
        edges.push_back({exact / std::sqrt(2.0), exact * std::sqrt(2.0)});
    }
    std::vector<RoomBand> bands;
    for (size_t b = 0; b < edges.size(); ++b) {
        const auto [lo, hi] = edges[b];
        const Ringing ringing{hi - lo, ownRinging(lo, hi, rate, fft)};
        bands.push_back(
            bandParameters(b == 0 ? whole : bandPower(spectrum, n, ir.size(), lo, hi, rate, fft),
                           onset, usableFrames(tail, hi, rate), rate,
                           b == 0 ? 0 : roomOctaves(low, high)[b - 1], ringing));
    }
    return bands;
}
