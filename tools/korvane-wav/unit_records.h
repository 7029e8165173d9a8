// A unit's channels as its record keeps them, from ir's and check's results.
#pragma once

#include <vector>

#include "check_report.h"
#include "measure/analysis/ir_measurement.h"
#include "records/record.h"

void addIrChannels(const std::vector<IrChannelReport>& reports, bool judging, UnitRecord* record);
void addCheckChannels(const CheckReport& report, bool exact, UnitRecord* record);
// The unit's verdict from its channels': not trusted before fail before pass.
std::string unitVerdict(const std::vector<ChannelRecord>& channels);
