#include "unit_log.h"

#include "records/record_log.h"
#include "records/unit_names.h"

bool takeLogOption(const std::pair<std::string, std::string>& option, LogRequest* request) {
    const std::string& name = option.first;
    std::string* field = name == "--log"       ? &request->target
                         : name == "--serial"  ? &request->serial
                         : name == "--station" ? &request->station
                         : name == "--spool"   ? &request->spool
                                               : nullptr;
    if (field == nullptr) {
        return false;
    }
    *field = option.second;
    request->stationGiven = request->stationGiven || name == "--station";
    return true;
}

std::string logConflict(const LogRequest& request) {
    if (request.target.empty()) {
        return request.serial.empty() && !request.stationGiven && request.spool.empty()
                   ? ""
                   : "--serial, --station and --spool go with --log DB";
    }
    if (request.serial.empty()) {
        return "--log needs the unit's --serial";
    }
    for (const auto& [name, text] :
         {std::pair<const char*, const std::string*>{"--serial", &request.serial},
          {"--station", &request.station}}) {
        if (name == std::string("--station") && !request.stationGiven) {
            continue;
        }
        const char* why = unitNameFault(*text);
        if (why != nullptr) {
            return std::string(name) + " " + why;
        }
    }
    return "";
}

UnitIdentity unitIdentity(const LogRequest& request, const char* command,
                          const std::string& playedPath, const std::string& limitsPath) {
    return {request.serial, request.stationGiven ? request.station : "", command, playedPath,
            limitsPath};
}

ToolExit logUnit(const LogRequest& request, const UnitRecord& record, ToolExit result, bool json,
                 FILE* out, FILE* err) {
    const std::string spool = spoolFolderFor(request.target, request.spool);
    const LogOutcome outcome = logUnitRecord(request.target, spool, record);
    if (outcome.logged) {
        if (!json) {
            std::fprintf(out, "Logged: unit %s, record %s in %s.\n", record.serial.c_str(),
                         record.id.c_str(), printableTarget(request.target).c_str());
        }
        return result;
    }
    if (outcome.spoolFile.empty()) {
        std::fprintf(err,
                     "korvane-wav: the record of unit %s is NOT logged and could not be "
                     "spooled: %s; measure the unit again\n",
                     record.serial.c_str(), outcome.error.c_str());
        return kToolRecordLost;
    } else {
        std::fprintf(err,
                     "korvane-wav: not logged: %s; the record of unit %s waits in %s "
                     "(send it with: korvane-wav log flush %s%s)\n",
                     outcome.error.c_str(), record.serial.c_str(), outcome.spoolFile.c_str(),
                     printableTarget(request.target).c_str(),
                     request.spool.empty() ? "" : (" --spool " + request.spool).c_str());
    }
    return result == kToolOk ? kToolNotLogged : result;
}
