#include "ir_measure.h"

#include "command_line.h"
#include "measure/text/ir_report.h"

namespace {

// The unit's record, logged once the report is printed.
ToolExit logIrUnit(const IrRequest& request, const IrResults& r, UnitRecord* record,
                   ToolExit result, FILE* out, FILE* err) {
    std::string error;
    if (!startUnitRecord(
            unitIdentity(request.log, "ir", request.job.played, request.job.limitsPath), record,
            &error)) {
        return fileError(err, error, kToolInput);
    }
    record->sampleRate = r.m.sweep.rate;
    record->sweepFromHz = r.m.sweep.from;
    record->sweepToHz = r.m.sweep.to;
    record->sweepSeconds = double(r.m.sweep.frames) / r.m.sweep.rate;
    return logUnit(request.log, *record, result, request.json, out, err);
}

} // namespace

ToolExit runIrMeasurement(const IrRequest& request, FILE* out, FILE* err) {
    IrResults results;
    std::string error;
    if (!runIrJob(request.job, &results, &error)) {
        return fileError(err, error, kToolInput);
    }
    (request.json ? printIrJson : printIrText)(out, request.job, results);
    // The verdict is decided once: the exit code and the record both come from it.
    UnitRecord record;
    addIrChannels(results.reports, results.judging, &record);
    ToolExit result = irExit(record, results.judging);
    if (!results.filesError.empty()) {
        // A side file that cannot be written ends the run with 3, but the unit keeps its
        // report and its record.
        result = fileError(err, results.filesError, result == kToolOk ? kToolOutput : result);
    }
    return request.log.target.empty() ? result
                                      : logIrUnit(request, results, &record, result, out, err);
}
