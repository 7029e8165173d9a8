// A unit's channels as its record keeps them, from ir's and check's results.
#pragma once

#include <vector>

#include "check_report.h"
#include "measure/analysis/ir_measurement.h"
#include "measure/exit_codes.h"
#include "records/record.h"

void addIrChannels(const std::vector<IrChannelReport>& reports, bool judging, UnitRecord* record);
void addCheckChannels(const CheckReport& report, bool exact, UnitRecord* record);
// The unit's verdict from its channels': not trusted before fail before pass.
std::string unitVerdict(const std::vector<ChannelRecord>& channels);

// The exit codes, from the same channel verdicts the record keeps: check's 4 where a channel
// is not exact (before 5, not trusted); ir's 6 where judged and the unit does not pass, else
// 5 where a channel is not trusted.
ToolExit checkExit(const UnitRecord& record);
ToolExit irExit(const UnitRecord& record, bool judging);
