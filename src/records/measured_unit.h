// A unit's record from what ir and check measured: who and what, then its channels' verdicts,
// from which the unit's verdict and the command's exit code both follow.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "measure/analysis/ir_measurement.h"
#include "measure/analysis/loopback_check.h"
#include "measure/exit_codes.h"
#include "records/record.h"

// Who measured which unit with what: `station` empty takes the host name. False with *error
// when a file named in it cannot be read.
struct UnitIdentity {
    std::string serial;
    std::string station;
    const char* command = "";
    std::string playedPath;
    std::string limitsPath; // empty: no limits
};
bool startUnitRecord(const UnitIdentity& unit, UnitRecord* record, std::string* error);

void addIrChannels(const std::vector<IrChannelReport>& reports, bool judging, UnitRecord* record);
void addCheckChannels(const std::vector<ChannelCheck>& checks, uint32_t playedRate,
                      uint32_t recordedRate, bool exact, UnitRecord* record);
// The unit's verdict from its channels': not trusted before fail before pass.
std::string unitVerdict(const std::vector<ChannelRecord>& channels);

// The exit codes, from the same channel verdicts the record keeps: check's 4 where a channel
// is not exact (before 5, not trusted); ir's 6 where judged and the unit does not pass, else
// 5 where a channel is not trusted.
ToolExit checkExit(const UnitRecord& record);
ToolExit irExit(const UnitRecord& record, bool judging);
