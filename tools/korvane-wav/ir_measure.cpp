#include "ir_measure.h"

#include <cmath>
#include <cstdio>

#include "command_line.h"
#include "ir_report.h"
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
bool sweepFor(const IrRequest& request, uint32_t rate, SyncSweep* sweep, std::string* source,
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
bool readInputs(const IrRequest& request, WavData* played, WavData* recorded, SyncSweep* sweep,
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
bool checkPlayedSweep(const IrRequest& request, const IrMeasurement& m, const std::string& source,
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

// The unit's record, logged once the report is printed.
ToolExit logIrUnit(const IrRequest& request, const IrMeasurement& m, UnitRecord* record,
                   ToolExit result, FILE* out, FILE* err) {
    std::string error;
    if (!startUnitRecord(unitIdentity(request.log, "ir", request.played, request.limitsPath),
                         record, &error)) {
        return fileError(err, error, kToolInput);
    }
    record->sampleRate = m.sweep.rate;
    record->sweepFromHz = m.sweep.from;
    record->sweepToHz = m.sweep.to;
    record->sweepSeconds = double(m.sweep.frames) / m.sweep.rate;
    return logUnit(request.log, *record, result, request.json, out, err);
}

} // namespace

ToolExit runIrMeasurement(const IrRequest& request, FILE* out, FILE* err) {
    std::string error;
    WavData played;
    WavData recorded;
    IrMeasurement m;
    std::string sweepSource;
    if (!readInputs(request, &played, &recorded, &m.sweep, &sweepSource, &error)) {
        return fileError(err, error, kToolInput);
    }
    Limits limits;
    const bool judging = !request.limitsPath.empty();
    if (judging && !readLimits(request.limitsPath, &limits, &error)) {
        return fileError(err, error, kToolInput);
    }
    m.played = &played;
    m.recorded = &recorded;
    m.limits = judging ? &limits : nullptr;
    m.map.playStart = request.playStart;
    m.map.recStart = request.recStart;
    m.options = irOptionsFor(request.analysis, m.limits, kDefaultReference);
    m.options.keepTail = request.room;
    if (!checkPlayedSweep(request, m, sweepSource, &error)) {
        return fileError(err, error, kToolInput);
    }
    std::vector<IrChannelReport> reports;
    if (!analyseIrChannels(m, &reports, &error)) {
        return fileError(err, request.recorded + ", " + error, kToolInput);
    }
    IrSummary summary{request, played, recorded, m.sweep, sweepSource, m.options};
    summary.reference = judging ? limits.reference : kDefaultReference;
    summary.judging = judging;
    summary.trusted = judgeIrChannels(m, &reports);
    for (const IrChannelReport& report : reports) {
        if (report.analysed && report.judged && report.verdict.judgedNothing) {
            double low = 0;
            double high = 0;
            fullLevelBand(m.sweep, &low, &high);
            return fileError(err,
                             request.limitsPath +
                                 ": no row sets a minimum or maximum at a frequency the sweep "
                                 "measures (" +
                                 fixedText(low, 1) + " to " + fixedText(high, 1) +
                                 " Hz): these limits judge nothing",
                             kToolInput);
        }
    }
    if (request.room) {
        measureRooms(m, &reports);
    }
    IrFiles files;
    files.prefix =
        request.outPrefix.empty() ? withoutWavSuffix(request.recorded) : request.outPrefix;
    files.played = request.played;
    files.recorded = request.recorded;
    files.plots = request.plots;
    // A side file that cannot be written is said and ends the run with 3, but the unit
    // keeps its report and its record.
    std::string filesError;
    for (IrChannelReport& report : reports) {
        if (report.analysed && filesError.empty() &&
            !writeIrChannelFiles(&files, m.sweep.rate, m.options, m.limits, &report, &error)) {
            filesError = error;
        }
        report.ir.span.clear();
        report.ir.ir.clear();
    }
    summary.pngMissing = files.pngMissing;
    // A channel map that leaves signal unheard fails the line too.
    summary.allPass = irChannelsPass(reports) && summary.trusted;
    (request.json ? printIrJson : printIrText)(out, summary, reports);
    // The verdict is decided once: the exit code and the record both come from it.
    UnitRecord record;
    addIrChannels(reports, judging, &record);
    ToolExit result = irExit(record, judging);
    if (!filesError.empty()) {
        result = fileError(err, filesError, result == kToolOk ? kToolOutput : result);
    }
    return request.log.target.empty() ? result : logIrUnit(request, m, &record, result, out, err);
}
