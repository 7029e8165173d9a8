#include "measure/jobs/ir_job.h"

#include <cmath>
#include <cstdio>

#include "measure/files/file_names.h"
#include "measure/files/ir_files.h"
#include "measure/text/number_text.h"
#include "platform/file_status.h"

namespace {

constexpr double kDefaultReference = 1000;

std::string sweepText(const SyncSweep& sweep) {
    char text[96];
    std::snprintf(text, sizeof text, "from %.9g Hz to %.9g Hz, L = %.9g s", sweep.from, sweep.to,
                  sweep.rateConstant);
    return text;
}

bool sameSweep(const SyncSweep& a, const SyncSweep& b) {
    auto near = [](double x, double y) { return std::fabs(x - y) <= 1e-9 * std::fabs(y); };
    return near(a.from, b.from) && near(a.to, b.to) && near(a.rateConstant, b.rateConstant);
}

// The sweep from the options, or else from the played file's sidecar; false with *error.
// Options that contradict a sidecar are refused: one of them is not what was played.
bool sweepFor(const IrJob& request, uint32_t rate, SyncSweep* sweep, std::string* source,
              std::string* error) {
    const std::string sidecar = sweepSidecarPath(request.played);
    if (request.seconds > 0) {
        *source = "options";
        if (!planSyncSweep(request.from, request.to, request.seconds, rate, sweep, error)) {
            return false;
        }
        SyncSweep written;
        std::string unread;
        if (fileKind(sidecar.c_str()) != FileKind::Missing &&
            readSweepSidecar(sidecar, &written, &unread) && !sameSweep(*sweep, written)) {
            *error = "--from, --to and --seconds give a sweep " + sweepText(*sweep) + ", but " +
                     sidecar + " says " + sweepText(written) + ": give the sweep that was played";
            return false;
        }
        return true;
    }
    *source = sidecar;
    if (!readSweepSidecar(*source, sweep, error)) {
        *error += " (give the sweep with --from, --to and --seconds)";
        return false;
    }
    return true;
}

// The recording's and the sweep's files, read whole; false with *error.
bool readInputs(const IrJob& request, WavData* played, WavData* recorded, SyncSweep* sweep,
                std::string* source, std::string* error) {
    if (loadWavData(request.played.c_str(), played, error) != kReadOk) {
        *error = request.played + ": " + *error;
        return false;
    }
    if (loadWavData(request.recorded.c_str(), recorded, error) != kReadOk) {
        *error = request.recorded + ": " + *error;
        return false;
    }
    if (!sweepFor(request, played->format.sampleRate, sweep, source, error)) {
        return false;
    }
    if (sweep->rate != played->format.sampleRate || sweep->rate != recorded->format.sampleRate) {
        *error = "the sweep, " + request.played + " and " + request.recorded +
                 " must have one sample rate (" + std::to_string(sweep->rate) + ", " +
                 std::to_string(played->format.sampleRate) + " and " +
                 std::to_string(recorded->format.sampleRate) + " Hz)";
        return false;
    }
    return true;
}

// Each analysed channel's room parameters, over the band the response is given in.
void measureRooms(const IrMeasurement& m, std::vector<IrChannelReport>* reports) {
    double low = 0;
    double high = 0;
    fullLevelBand(m.sweep, &low, &high);
    Fft fft;
    for (IrChannelReport& report : *reports) {
        if (report.analysed) {
            const RoomTail tail{report.ir.delay - int64_t(report.ir.lead), report.ir.lags};
            report.room = roomParameters(report.ir.tail, tail, m.sweep.rate, low, high, &fft);
            report.ir.tail.clear();
        }
    }
}

// Every played channel that is measured must be the sweep the analysis assumes.
bool checkPlayedSweep(const IrJob& request, const IrMeasurement& m, const std::string& source,
                      std::string* error) {
    const bool placed = source != "options";
    if (playedChannelsHoldSweep(m, placed, error)) {
        return true;
    }
    *error = request.played + ", " + *error + ": it is not the synchronized sweep " +
             (placed ? source + " describes" : "--from, --to and --seconds give") + " (" +
             sweepText(m.sweep) + ")";
    return false;
}

// Limits whose every row lies outside the band the sweep measures judge nothing: refused
// rather than passed.
bool limitsJudgeSomething(const IrJob& job, const IrResults& r, std::string* error) {
    for (const IrChannelReport& report : r.reports) {
        if (report.analysed && report.judged && report.verdict.judgedNothing &&
            r.limits.polarity == Polarity::Undetermined) {
            double low = 0;
            double high = 0;
            fullLevelBand(r.m.sweep, &low, &high);
            *error = job.limitsPath +
                     ": no row sets a minimum or maximum at a frequency the sweep measures (" +
                     fixedText(low, 1) + " to " + fixedText(high, 1) +
                     " Hz): these limits judge nothing";
            return false;
        }
    }
    return true;
}

// Each analysed channel's files; the impulse responses are let go once written.
void writeChannelFiles(const IrJob& job, IrResults* r) {
    IrFiles files;
    files.prefix = job.outPrefix.empty() ? withoutWavSuffix(job.recorded) : job.outPrefix;
    files.played = job.played;
    files.recorded = job.recorded;
    files.plots = job.plots;
    std::string error;
    for (IrChannelReport& report : r->reports) {
        if (job.files && report.analysed && r->filesError.empty() &&
            !writeIrChannelFiles(&files, r->m.sweep.rate, r->m.options, r->m.limits, &report,
                                 &error)) {
            r->filesError = error;
        }
        report.ir.span.clear();
        report.ir.ir.clear();
    }
    r->pngMissing = files.pngMissing;
}

} // namespace

bool runIrJob(const IrJob& job, IrResults* r, std::string* error) {
    IrMeasurement& m = r->m;
    if (!readInputs(job, &r->played, &r->recorded, &m.sweep, &r->sweepSource, error)) {
        return false;
    }
    r->judging = !job.limitsPath.empty();
    if (r->judging && !readLimits(job.limitsPath, &r->limits, error)) {
        return false;
    }
    m.played = &r->played;
    m.recorded = &r->recorded;
    m.limits = r->judging ? &r->limits : nullptr;
    m.map.playStart = job.playStart;
    m.map.recStart = job.recStart;
    m.options = irOptionsFor(job.analysis, m.limits, kDefaultReference);
    m.options.keepTail = job.room;
    if (!checkPlayedSweep(job, m, r->sweepSource, error)) {
        return false;
    }
    if (!analyseIrChannels(m, &r->reports, error)) {
        *error = job.recorded + ", " + *error;
        return false;
    }
    r->reference = r->judging ? r->limits.reference : kDefaultReference;
    r->trusted = judgeIrChannels(m, &r->reports);
    if (!limitsJudgeSomething(job, *r, error)) {
        return false;
    }
    if (job.room) {
        measureRooms(m, &r->reports);
    }
    writeChannelFiles(job, r);
    // A channel map that leaves signal unheard fails the line too.
    r->allPass = irChannelsPass(r->reports) && r->trusted;
    return true;
}
