#include "unit_log.h"

#include "korvane_version.h"
#include "platform/process.h"
#include "records/record_log.h"
#include "records/sha256.h"

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
    return true;
}

const char* logConflict(const LogRequest& request) {
    if (request.target.empty()) {
        return request.serial.empty() && request.station.empty() && request.spool.empty()
                   ? nullptr
                   : "--serial, --station and --spool go with --log DB";
    }
    if (request.serial.empty()) {
        return "--log needs the unit's --serial";
    }
    return nullptr;
}

bool startUnitRecord(const LogRequest& request, const char* command, const std::string& playedPath,
                     const std::string& limitsPath, UnitRecord* record, std::string* error) {
    record->id = newRecordId();
    record->measuredAt = utcNowText();
    record->station = !request.station.empty() ? request.station
                      : !hostName().empty()    ? hostName()
                                               : "unnamed";
    record->serial = request.serial;
    record->version = KORVANE_VERSION;
    record->command = command;
    record->playedFile = playedPath;
    if (!sha256File(playedPath, &record->playedSha256, error)) {
        return false;
    }
    record->limitsFile = limitsPath;
    return limitsPath.empty() || sha256File(limitsPath, &record->limitsSha256, error);
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
                     "spooled: %s\n",
                     record.serial.c_str(), outcome.error.c_str());
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
