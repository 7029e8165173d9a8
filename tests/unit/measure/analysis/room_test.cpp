// Rooms made the way rooms behave: a direct sound, then Gaussian noise under an envelope that
// falls 60 dB in RT60, from a fixed seed; the sweep convolved with it and recorded with 1 s
// of padding. ir must trust them, follow their decay and give their parameters.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "measure/analysis/ir_measurement.h"
#include "measure/analysis/room_acoustics.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr int64_t kDirect = 200;

SyncSweep roomSweep(double seconds) {
    SyncSweep sweep;
    std::string error;
    EXPECT_TRUE(planSyncSweep(20, 20000, seconds, kRate, &sweep, &error)) << error;
    return sweep;
}

// A direct sound, then a tail of tailRatio times its energy that decays 60 dB in rt60
// seconds, to 100 dB down; 0.27 of energy in all, which the sweep's recording holds unclipped.
std::vector<double> roomIr(double rt60, uint32_t seed, double tailRatio) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> gauss;
    const size_t frames = size_t(kDirect + rt60 * kRate * 100 / 60);
    std::vector<double> h(frames, 0.0);
    const double direct = std::sqrt(0.27 / (1 + tailRatio));
    h[kDirect] = direct;
    double energy = 0;
    for (size_t t = kDirect + 1; t < frames; ++t) {
        h[t] = gauss(random) * std::pow(10.0, -3.0 * double(t - kDirect) / (rt60 * kRate));
        energy += h[t] * h[t];
    }
    const double scale = std::sqrt(tailRatio * direct * direct / energy);
    for (size_t t = kDirect + 1; t < frames; ++t) {
        h[t] *= scale;
    }
    return h;
}

// x convolved with h, as long as x.
std::vector<float> convolve(const std::vector<float>& x, const std::vector<double>& h) {
    const size_t n = fftLength(x.size() + h.size());
    Fft fft;
    std::vector<double> a(n, 0.0);
    std::vector<double> b(n, 0.0);
    std::copy(x.begin(), x.end(), a.begin());
    std::copy(h.begin(), h.end(), b.begin());
    std::vector<std::complex<double>> fa(n / 2 + 1);
    std::vector<std::complex<double>> fb(n / 2 + 1);
    fft.forward(a.data(), n, fa.data());
    fft.forward(b.data(), n, fb.data());
    for (size_t k = 0; k < fa.size(); ++k) {
        fa[k] *= fb[k];
    }
    fft.inverse(fa.data(), n, a.data());
    return std::vector<float>(a.begin(), a.begin() + long(x.size()));
}

// |H| of h at f in dB, its power averaged over the 1/N-octave band.
double trueDb(const std::vector<std::complex<double>>& spectrum, size_t n, double f,
              double smoothing) {
    const double half = std::pow(2.0, 0.5 / smoothing);
    const double binHz = double(kRate) / double(n);
    double sum = 0;
    int count = 0;
    for (size_t k = size_t(std::ceil(f / half / binHz)); double(k) * binHz <= f * half; ++k) {
        sum += std::norm(spectrum[k]);
        ++count;
    }
    return 10 * std::log10(sum / count);
}

struct RoomRun {
    std::vector<IrChannelReport> reports;
    bool trusted = false;
    double worstDb = 0; // against the true response, 50 Hz to 16 kHz
};

RoomRun measureRoom(const std::vector<double>& h, IrOptions options) {
    const SyncSweep sweep = roomSweep(8);
    WavData played;
    played.format.sampleRate = kRate;
    played.channels.assign(1, std::vector<float>(sweep.frames + kRate, 0.0f));
    for (uint64_t i = 0; i < sweep.frames; ++i) {
        played.channels[0][i] = float(0.5 * syncSweepValue(sweep, i));
    }
    WavData recorded = played;
    recorded.channels[0] = convolve(played.channels[0], h);
    played.frames = recorded.frames = uint32_t(played.channels[0].size());
    IrMeasurement m;
    m.played = &played;
    m.recorded = &recorded;
    m.sweep = sweep;
    m.options = irOptionsFor(options, nullptr, 1000);
    RoomRun run;
    std::string error;
    EXPECT_TRUE(analyseIrChannels(m, &run.reports, &error)) << error;
    run.trusted = judgeIrChannels(m, &run.reports);
    const size_t n = fftLength(std::max<size_t>(h.size() * 4, size_t(1) << 20));
    std::vector<double> padded(n, 0.0);
    std::copy(h.begin(), h.end(), padded.begin());
    std::vector<std::complex<double>> spectrum(n / 2 + 1);
    Fft fft;
    fft.forward(padded.data(), n, spectrum.data());
    for (const ResponsePoint& p : run.reports[0].ir.points) {
        if (p.frequency >= 50 && p.frequency <= 16000) {
            run.worstDb = std::max(
                run.worstDb,
                std::fabs(p.magnitudeDb - trueDb(spectrum, n, p.frequency, options.smoothing)));
        }
    }
    return run;
}

// C80 of h from its direct sound.
double trueC80(const std::vector<double>& h) {
    double early = 0;
    double late = 0;
    for (size_t t = kDirect; t < h.size(); ++t) {
        (t < size_t(kDirect) + 80 * kRate / 1000 ? early : late) += h[t] * h[t];
    }
    return 10 * std::log10(early / late);
}

} // namespace

// Each room trusted at its direct sound, its response within 0.5 dB of the truth at 1/6
// octave with the window the decay chose, and (where asked) its decay times within their
// tolerances of the RT60 that made it: 5 % from 500 Hz to 4 kHz, 10 % at 125 and 250 Hz.
TEST(Room, RoomsAreTrustedFollowedAndTheirDecayTimesAndClarityMeasured) {
    struct Row {
        double rt60;
        double tailRatio; // the reverberant energy over the direct sound's
        bool room;        // check the room's parameters
        double irSeconds; // a window asked for; 0: the decay's
    };
    const Row rows[] = {{0.1, 2, false, 0},   {0.3, 30, false, 0}, {0.6, 30, false, 0},
                        {1.0, 30, true, 0},   {2.0, 30, true, 0},  {1.0, 300, false, 0},
                        {1.0, 30, false, 0.3}};
    for (const Row& row : rows) {
        SCOPED_TRACE("RT60 " + std::to_string(row.rt60) + " s, tail " +
                     std::to_string(row.tailRatio));
        IrOptions options;
        options.smoothing = 6;
        options.keepTail = row.room;
        options.irSeconds = row.irSeconds;
        const std::vector<double> h = roomIr(row.rt60, 1, row.tailRatio);
        const RoomRun run = measureRoom(h, options);
        const IrChannelReport& r = run.reports[0];
        EXPECT_TRUE(run.trusted) << (r.problems.empty() ? "" : r.problems[0].second);
        EXPECT_EQ(r.ir.delay, kDirect);
        if (row.irSeconds > 0) {
            // A window shorter than the decay says so: this room's decay is the same in every
            // band, so the whole band is affected.
            EXPECT_EQ(r.ir.cutBelowHz, 20000);
            continue;
        }
        EXPECT_TRUE(std::isnan(r.ir.cutBelowHz));
        EXPECT_LT(run.worstDb, 0.5);
        if (!row.room) {
            continue;
        }
        Fft fft;
        const RoomTail tail{r.ir.delay - int64_t(r.ir.lead), r.ir.lags};
        const std::vector<RoomBand> bands = roomParameters(r.ir.tail, tail, kRate, 20, 20000, &fft);
        EXPECT_NEAR(bands[0].c80Db, trueC80(h), 0.5);
        for (const RoomBand& b : bands) {
            if (b.centreHz < 125 || b.centreHz > 4000) {
                continue;
            }
            const double tolerance = (b.centreHz < 500 ? 0.1 : 0.05) * row.rt60;
            EXPECT_NEAR(b.t20.seconds, row.rt60, tolerance) << b.centreHz;
            EXPECT_NEAR(b.t30.seconds, row.rt60, tolerance) << b.centreHz;
        }
    }
}
