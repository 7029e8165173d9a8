#include <string>

#include "commands.h"
#include "measure/analysis/loopback_check.h"
#include "measure/files/riff_reader.h"
#include "measure/text/check_report.h"
#include "unit_log.h"

namespace {

struct CheckRequest {
    CheckOptions options;
    bool exact = false;
    bool json = false;
    LogRequest log;
};

// The options into *request; kToolOk, or the usage fault already reported.
ToolExit readCheckOptions(const Arguments& arguments, CheckRequest* request, FILE* err) {
    CheckOptions& options = request->options;
    for (const auto& option : arguments.options) {
        const std::string& name = option.first;
        uint64_t value = 0;
        if (takeLogOption(option, &request->log)) {
        } else if (name == "--exact" || name == "--json") {
            (name == "--exact" ? request->exact : request->json) = true;
        } else if (name == "--width") {
            if (!parseWhole(option.second, 4, &value) || value < 2) {
                return usageError(err, "check", "--width needs 2, 3 or 4 (bytes)");
            }
            options.width = int(value);
        } else if (name == "--play-start" || name == "--rec-start") {
            if (!parseWhole(option.second, 0xFFFF, &value) || value < 1) {
                return usageError(err, "check", name + " needs a channel number from 1");
            }
            (name == "--play-start" ? options.playStart : options.recStart) = uint32_t(value);
        } else if (!parseWhole(option.second, kMaxDelaySearch, &value)) {
            return usageError(err, "check",
                              name + " needs a number of frames from 0 to " +
                                  std::to_string(kMaxDelaySearch));
        } else {
            (name == "--delay" ? options.delay : options.maxDelay) = int64_t(value);
        }
    }
    if (request->exact && options.width == 0) {
        return usageError(err, "check", "--exact needs --width 2, 3 or 4");
    }
    const std::string conflict = logConflict(request->log);
    if (!conflict.empty()) {
        return usageError(err, "check", conflict);
    }
    if (arguments.positional.size() != 2) {
        return usageError(err, "check", "needs PLAYED and RECORDED");
    }
    return kToolOk;
}

} // namespace

ToolExit runCheck(const Arguments& arguments, FILE* out, FILE* err) {
    CheckRequest request;
    const ToolExit usage = readCheckOptions(arguments, &request, err);
    if (usage != kToolOk) {
        return usage;
    }
    std::string error;
    const char* playedPath = arguments.positional[0].c_str();
    const char* recordedPath = arguments.positional[1].c_str();
    WavData played;
    WavData recorded;
    if (loadWavData(playedPath, &played, &error) != kReadOk) {
        return fileError(err, std::string(playedPath) + ": " + error, kToolInput);
    }
    if (loadWavData(recordedPath, &recorded, &error) != kReadOk) {
        return fileError(err, std::string(recordedPath) + ": " + error, kToolInput);
    }
    CheckReport report;
    report.playedPath = playedPath;
    report.recordedPath = recordedPath;
    report.played = &played;
    report.recorded = &recorded;
    report.options = request.options;
    report.checks = checkRecording(played, recorded, request.options);
    report.allExact = played.format.sampleRate == recorded.format.sampleRate;
    for (const ChannelCheck& check : report.checks) {
        report.allExact = report.allExact && check.exact;
    }
    report.trusted = recordingTrusted(report.checks);
    (request.json ? printCheckJson : printCheckTable)(out, report);
    // The verdict is decided once: the exit code and the record both come from it.
    UnitRecord record;
    addCheckChannels(report.checks, played.format.sampleRate, recorded.format.sampleRate,
                     request.exact, &record);
    const ToolExit result = checkExit(record);
    if (request.log.target.empty()) {
        return result;
    }
    if (!startUnitRecord(unitIdentity(request.log, "check", playedPath, ""), &record, &error)) {
        return fileError(err, error, kToolInput);
    }
    record.sampleRate = played.format.sampleRate;
    return logUnit(request.log, record, result, request.json, out, err);
}
