// --log DB --serial SN [--station NAME] [--spool DIR] of ir and check: the unit's record,
// made from the command's results and logged once its report is printed.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "command_line.h"
#include "records/measured_unit.h"
#include "records/record.h"

struct LogRequest {
    std::string target; // empty: not logging
    std::string serial;
    std::string station; // not given: the host name
    bool stationGiven = false;
    std::string spool; // empty: beside the database
};

// Takes the option if it is one of the four; false when it is not.
bool takeLogOption(const std::pair<std::string, std::string>& option, LogRequest* request);
// Why the options cannot go together, or a serial or station cannot name a unit: more than
// 128 characters, text that is not UTF-8, control or bidirectional-override characters,
// which would forge lines or reorder what a person reads. Empty when they can.
std::string logConflict(const LogRequest& request);

// Who measured which unit with what, as the record names them.
UnitIdentity unitIdentity(const LogRequest& request, const char* command,
                          const std::string& playedPath, const std::string& limitsPath);

// Logs the record and says where it went; `result` is the command's exit code so far,
// returned as it is, or as kToolNotLogged where it was kToolOk and the record was spooled,
// or kToolRecordLost where it could not be spooled either.
ToolExit logUnit(const LogRequest& request, const UnitRecord& record, ToolExit result, bool json,
                 FILE* out, FILE* err);
