#include <string>

#include "commands.h"
#include "ir_measure.h"

namespace {

// Options that cannot go together; empty when none.
std::string irConflict(const IrRequest& request) {
    const int sweepOptions =
        (request.job.from > 0) + (request.job.to > 0) + (request.job.seconds > 0);
    if (sweepOptions != 0 && sweepOptions != 3) {
        return "give the sweep with all of --from, --to and --seconds";
    }
    if (request.job.analysis.gateMs > 0 && request.job.analysis.irSeconds > 0) {
        return "--gate and --ir-length both end the window: give one";
    }
    if (request.job.analysis.gateMs > 0 && request.job.room) {
        return "--room needs the whole decay: leave out --gate";
    }
    return logConflict(request.log);
}

// One option into *request; kToolOk, or the usage fault already reported.
ToolExit readIrOption(const std::pair<std::string, std::string>& option, IrRequest* request,
                      FILE* err) {
    const std::string& name = option.first;
    const std::string& text = option.second;
    uint64_t whole = 0;
    double number = 0;
    if (name == "--json") {
        request->json = true;
    } else if (name == "--no-plots") {
        request->job.plots = false;
    } else if (name == "--room") {
        request->job.room = true;
    } else if (takeLogOption(option, &request->log)) {
    } else if (name == "--out") {
        request->job.outPrefix = text;
    } else if (name == "--limits") {
        request->job.limitsPath = text;
    } else if (name == "--play-start" || name == "--rec-start") {
        if (!parseWhole(text, 0xFFFF, &whole) || whole < 1) {
            return usageError(err, "ir", name + " needs a channel number from 1");
        }
        (name == "--play-start" ? request->job.playStart : request->job.recStart) = uint32_t(whole);
    } else if (name == "--orders") {
        if (!parseWhole(text, kMaxOrders, &whole) || whole < 1) {
            return usageError(err, "ir", "--orders needs an order from 1 to 10");
        }
        request->job.analysis.orders = int(whole);
    } else if (name == "--drift") {
        if (text != "correct" && text != "measure") {
            return usageError(err, "ir", "--drift needs measure or correct");
        }
        request->job.analysis.correctDrift = text == "correct";
    } else if (name == "--rb-multiple") {
        if (!parseNumber(text, &number) || number < 2 || number > 100) {
            return usageError(err, "ir", "--rb-multiple needs K from 2 to 100");
        }
        request->job.analysis.rubBuzzMultiple = number;
    } else if (name == "--smooth") {
        if (!parseNumber(text, &number) || number < 1 || number > 96) {
            return usageError(err, "ir", "--smooth needs N from 1 to 96 (1/N octave)");
        }
        request->job.analysis.smoothing = number;
    } else {
        if (!parseNumber(text, &number) || !(number > 0)) {
            return usageError(err, "ir", name + " needs a number above 0");
        }
        (name == "--ir-length" ? request->job.analysis.irSeconds
         : name == "--gate"    ? request->job.analysis.gateMs
         : name == "--from"    ? request->job.from
         : name == "--to"      ? request->job.to
                               : request->job.seconds) = number;
    }
    return kToolOk;
}

} // namespace

ToolExit runIr(const Arguments& arguments, FILE* out, FILE* err) {
    IrRequest request;
    for (const auto& option : arguments.options) {
        const ToolExit usage = readIrOption(option, &request, err);
        if (usage != kToolOk) {
            return usage;
        }
    }
    const std::string conflict = irConflict(request);
    if (!conflict.empty()) {
        return usageError(err, "ir", conflict);
    }
    if (arguments.positional.size() != 2) {
        return usageError(err, "ir", "needs PLAYED and RECORDED");
    }
    request.job.played = arguments.positional[0];
    request.job.recorded = arguments.positional[1];
    return runIrMeasurement(request, out, err);
}
