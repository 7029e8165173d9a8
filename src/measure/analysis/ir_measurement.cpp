#include "measure/analysis/ir_measurement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "measure/analysis/parallel.h"
#include "measure/analysis/rub_buzz.h"
#include "measure/signals/sweep_match.h"
#include "measure/text/number_text.h"

namespace {

// A recorded peak at or above this, -0.01 dBFS, may have clipped.
constexpr double kClipLevel = 0.99885;
// A drift below this is not worth a resampling's own small error.
constexpr double kLeastCorrectedPpm = 0.01;
// The phase error a drift may leave across the band. A drift's bend fits its model exactly;
// a device's own phase beyond minimum phase leaves a misfit, and a bend no larger than a
// few times that is not taken for a clock's.
constexpr double kDriftPhaseDeg = 1;
constexpr double kDriftOverMisfit = 20;
// Beyond this the recording's phase follows no clock: it holds another signal.
constexpr double kMostPpm = 5000;
// A direct sound this far above the noise, 10 times its RMS, is one no noise makes.
constexpr double kLeastPeakToNoiseDb = 20;

bool hasSound(const std::vector<float>& samples) {
    for (float s : samples) {
        if (s != 0.0f) {
            return true;
        }
    }
    return false;
}

// What one worker thread keeps between its channels: the transforms' plans and the
// inverse of the played channel it last used.
struct IrWorker {
    Fft fft;
    const SweepInverse* shared = nullptr; // one inverse for every channel, when they agree
    SweepInverse inverse;
    const std::vector<float>* inverted = nullptr; // the played channel it inverts
    size_t invertedFor = 0;                       // for recordings of this length
};

// Repeated sweeps: the recording's periods averaged into one, N times less noise power for
// N sweeps, and the played channel up to its first sweep's period.
void onePeriod(const SyncSweep& sweep, uint64_t start, const std::vector<float>& played,
               const std::vector<float>& recorded, std::vector<float>* first,
               std::vector<float>* averaged) {
    const size_t length = size_t(start + sweep.periodFrames);
    first->assign(played.begin(), played.begin() + long(std::min(length, played.size())));
    std::vector<double> sum(length, 0.0);
    for (uint32_t k = 0; k < sweep.repeat; ++k) {
        const size_t offset = size_t(k * sweep.periodFrames);
        for (size_t t = 0; t < length && offset + t < recorded.size(); ++t) {
            sum[t] += recorded[offset + t];
        }
    }
    averaged->resize(length);
    for (size_t t = 0; t < length; ++t) {
        (*averaged)[t] = float(sum[t] / sweep.repeat);
    }
}

// Each point's and probe's rub and buzz, from the recording itself.
void addRubBuzz(const std::vector<float>& y, int64_t onset, const IrMeasurement& m,
                ChannelIr* ir) {
    std::vector<double> frequencies;
    for (const std::vector<ResponsePoint>* points : {&ir->points, &ir->probes}) {
        for (const ResponsePoint& p : *points) {
            frequencies.push_back(p.frequency);
        }
    }
    const std::vector<RubBuzzPoint> rb =
        rubBuzz(y, onset, m.sweep, m.options.rubBuzzMultiple, frequencies);
    size_t i = 0;
    for (std::vector<ResponsePoint>* points : {&ir->points, &ir->probes}) {
        for (ResponsePoint& p : *points) {
            p.rbPeakDb = rb[i].peakDb;
            p.rbRmsDb = rb[i].rmsDb;
            p.rbCrestDb = rb[i].crestDb;
            ++i;
        }
    }
}

bool analyseOne(const IrMeasurement& m, IrWorker* worker, IrChannelReport* report,
                std::string* error) {
    const uint32_t r = report->recorded - 1;
    const int64_t source = playedChannelFor(r, uint32_t(m.played->channels.size()), m.map);
    report->played = source >= 0 ? uint32_t(source + 1) : 0;
    const std::vector<float>& recorded = m.recorded->channels[r];
    // A silent channel has no response to find; check says why.
    if (source < 0 || !hasSound(recorded)) {
        return true;
    }
    const std::vector<float>& played = m.played->channels[size_t(source)];
    std::vector<float> averaged;
    std::vector<float> first;
    if (m.sweep.repeat > 1) {
        onePeriod(m.sweep, m.sweep.startFrame + uint64_t(source) * m.sweep.staggerFrames, played,
                  recorded, &first, &averaged);
        worker->inverted = nullptr;
    }
    const std::vector<float>& x = m.sweep.repeat > 1 ? first : played;
    const std::vector<float>& y = m.sweep.repeat > 1 ? averaged : recorded;
    // The same sweep on every channel, as gen writes it unstaggered, is inverted once.
    if (worker->shared == nullptr && (worker->inverted == nullptr || *worker->inverted != x ||
                                      worker->invertedFor != y.size())) {
        prepareSweepInverse(x, y.size(), m.sweep, &worker->fft, &worker->inverse);
        worker->inverted = m.sweep.repeat > 1 ? nullptr : &x;
        worker->invertedFor = y.size();
    }
    const SweepInverse& inverse = worker->shared != nullptr ? *worker->shared : worker->inverse;
    if (!analyseChannel(inverse, y, m.sweep, m.options, &worker->fft, &report->ir, error)) {
        *error = "channel " + std::to_string(r + 1) + ": " + *error;
        return false;
    }
    const DriftEstimate& drift = report->ir.drift;
    if (m.options.correctDrift && drift.measured && std::fabs(drift.ppm) > kLeastCorrectedPpm) {
        // Once on the played clock, the recording is measured again; what drift is left
        // shows how well the correction took.
        const double ppm = drift.ppm;
        if (!analyseChannel(inverse, resampleToPlayedClock(y, ppm), m.sweep, m.options,
                            &worker->fft, &report->ir, error)) {
            *error = "channel " + std::to_string(r + 1) + ", on the played clock: " + *error;
            return false;
        }
        report->ir.correctedPpm = ppm;
    }
    addRubBuzz(y, int64_t(inverse.sweepStart) + report->ir.delay, m, &report->ir);
    report->analysed = true;
    if (!(report->ir.peakToNoiseDb >= kLeastPeakToNoiseDb)) {
        report->ir.polarity = Polarity::Undetermined; // no clear direct sound to tell by
    }
    report->reference = report->ir.probes[0];
    for (const ResponsePoint& p : report->ir.points) {
        if (p.thdPercent > report->worstThd ||
            (std::isnan(report->worstThd) && !std::isnan(p.thdPercent))) {
            report->worstThd = p.thdPercent;
            report->worstThdFrequency = p.frequency;
        }
    }
    return true;
}

// A clock drift that bends the phase, or a phase that follows no clock at all.
void addDriftProblems(IrChannelReport* report) {
    const DriftEstimate& drift = report->ir.drift;
    if (!report->analysed || !drift.measured) {
        return;
    }
    char text[200];
    if (std::fabs(drift.ppm) > kMostPpm) {
        std::snprintf(text, sizeof text,
                      "the recording does not hold the played sweep: its phase bends as a "
                      "clock %.0f ppm off would, more than any recorder's",
                      std::fabs(drift.ppm));
        report->problems.push_back({"not-the-sweep", text});
    } else if (drift.phaseDeg > std::max(kDriftPhaseDeg, kDriftOverMisfit * drift.residualDeg)) {
        std::snprintf(text, sizeof text,
                      "the clocks differ by %.1f ppm: the phase is off by up to %.1f degrees; "
                      "korvane-wav ir --drift correct resamples the recording to the played "
                      "clock",
                      std::fabs(drift.ppm), drift.phaseDeg);
        report->problems.push_back({"clock-drift", text});
    }
}

// An analysed channel's delay is its direct sound's, trusted where that stands clear of
// the deconvolution's noise: a room or a loudspeaker spreads the correlation's peak that
// check looks for, but not the impulse response's.
void addProblems(const ChannelCheck& check, const CheckOptions& map, uint32_t rate,
                 IrChannelReport* report) {
    const uint32_t ownPeak = kTrustNoClearPeak | kTrustAmbiguousPeak;
    if (report->analysed && !(report->ir.peakToNoiseDb >= kLeastPeakToNoiseDb)) {
        report->problems.push_back(
            {"no-clear-response",
             "the impulse response's direct sound stands only " +
                 fixedText(report->ir.peakToNoiseDb, 1) +
                 " dB above the deconvolution's noise (at least " +
                 fixedText(kLeastPeakToNoiseDb, 0) +
                 " dB wanted): the recording holds too little of the played sweep"});
    }
    for (TrustProblem problem : kTrustProblems) {
        if ((check.problems & problem) && !(report->analysed && (problem & ownPeak))) {
            report->problems.push_back(
                {trustProblemName(problem), trustProblemText(check, problem, map, rate)});
        }
    }
    if (check.peak >= kClipLevel) {
        report->problems.push_back(
            {"may-have-clipped", "the recording peaks at " +
                                     fixedText(20 * std::log10(check.peak), 2) +
                                     " dBFS and may have clipped"});
    }
}

} // namespace

IrOptions irOptionsFor(const IrOptions& requested, const Limits* limits, double reference) {
    IrOptions options = requested;
    options.probes = {reference};
    if (limits != nullptr) {
        options.probes = limitFrequencies(*limits);
        options.orders = std::max(options.orders, limits->highestOrder);
    }
    return options;
}

bool playedChannelsHoldSweep(const IrMeasurement& m, bool placed, std::string* error) {
    const uint32_t channels = uint32_t(m.played->channels.size());
    std::vector<bool> checked(channels, false);
    std::vector<double> unit;
    for (uint32_t r = 0; r < m.recorded->channels.size(); ++r) {
        const int64_t c = playedChannelFor(r, channels, m.map);
        if (c < 0 || checked[size_t(c)] || !hasSound(m.played->channels[size_t(c)])) {
            continue;
        }
        checked[size_t(c)] = true;
        if (unit.empty()) {
            unit = unitSweep(m.sweep, m.played->channels[size_t(c)].size());
        }
        std::string why;
        if (!channelHoldsSweep(m.sweep, placed, unit, m.played->channels[size_t(c)], uint32_t(c),
                               &why)) {
            *error = "channel " + std::to_string(c + 1) + ": " + why;
            return false;
        }
    }
    return true;
}

namespace {

// The played channel of the first recorded channel that one reaches; -1 for none.
int64_t firstSource(const IrMeasurement& m) {
    for (uint32_t r = 0; r < m.recorded->channels.size(); ++r) {
        const int64_t c = playedChannelFor(r, uint32_t(m.played->channels.size()), m.map);
        if (c >= 0) {
            return c;
        }
    }
    return -1;
}

// Whether every recorded channel measures through one and the same played sweep, as gen
// writes it unstaggered: then one inverse, and the wire's windows, serve them all.
bool oneSweepForAll(const IrMeasurement& m) {
    const int64_t first = firstSource(m);
    if (first < 0 || m.sweep.repeat > 1) {
        return false;
    }
    const std::vector<float>& x = m.played->channels[size_t(first)];
    for (uint32_t r = 0; r < m.recorded->channels.size(); ++r) {
        const int64_t c = playedChannelFor(r, uint32_t(m.played->channels.size()), m.map);
        if (c >= 0 && m.played->channels[size_t(c)] != x) {
            return false;
        }
    }
    return true;
}

} // namespace

bool analyseIrChannels(const IrMeasurement& m, std::vector<IrChannelReport>* reports,
                       std::string* error) {
    const size_t count = m.recorded->channels.size();
    reports->assign(count, IrChannelReport());
    for (size_t r = 0; r < count; ++r) {
        (*reports)[r].recorded = uint32_t(r + 1);
    }
    const size_t workers = std::min(count, machineThreads());
    std::vector<IrWorker> state(workers);
    SweepInverse shared;
    if (oneSweepForAll(m)) {
        const std::vector<float>& played = m.played->channels[size_t(firstSource(m))];
        const size_t frames = m.recorded->channels.front().size();
        prepareSweepInverse(played, frames, m.sweep, &state[0].fft, &shared);
        keepWireWindows(frames, m.sweep, m.options, &state[0].fft, &shared);
        for (IrWorker& worker : state) {
            worker.shared = &shared;
        }
    }
    std::vector<std::string> errors(count);
    forEachInParallel(count, workers, [&](size_t r, size_t worker) {
        analyseOne(m, &state[worker], &(*reports)[r], &errors[r]);
    });
    for (const std::string& e : errors) {
        if (!e.empty()) {
            *error = e;
            return false;
        }
    }
    return true;
}

bool judgeIrChannels(const IrMeasurement& m, std::vector<IrChannelReport>* reports) {
    CheckOptions map = m.map;
    map.maxDelay = kDefaultMaxDelay;
    for (const IrChannelReport& report : *reports) {
        map.maxDelay = std::max<int64_t>(map.maxDelay, int64_t(report.ir.delay) + kDefaultMaxDelay);
    }
    const std::vector<ChannelCheck> checks = checkRecording(*m.played, *m.recorded, map);
    bool trusted = true;
    for (IrChannelReport& report : *reports) {
        addProblems(checks[report.recorded - 1], map, m.recorded->format.sampleRate, &report);
        addDriftProblems(&report);
        trusted = trusted && report.problems.empty();
        if (m.limits == nullptr || report.played == 0) {
            continue;
        }
        report.judged = true;
        if (report.analysed) {
            std::vector<ResponsePoint> points = report.ir.points;
            points.insert(points.end(), report.ir.probes.begin(), report.ir.probes.end());
            report.verdict = judgeLimits(*m.limits, points, report.reference.magnitudeDb);
            judgePolarity(*m.limits, report.ir.polarity, &report.verdict);
        }
        report.verdict.pass = report.analysed && report.verdict.pass && report.problems.empty();
    }
    return trusted;
}

bool irChannelsPass(const std::vector<IrChannelReport>& reports) {
    for (const IrChannelReport& report : reports) {
        if (report.judged && !report.verdict.pass) {
            return false;
        }
    }
    return true;
}
