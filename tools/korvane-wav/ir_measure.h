// korvane-wav ir: the measurement, its report printed, its unit's record logged.
#pragma once

#include <cstdio>

#include "measure/exit_codes.h"
#include "measure/jobs/ir_job.h"
#include "unit_log.h"

struct IrRequest {
    IrJob job;
    bool json = false;
    LogRequest log;
};

// Measures every channel, writes its files and prints the report. kToolLimitsFailed when
// limits are given and a channel fails them.
ToolExit runIrMeasurement(const IrRequest& request, FILE* out, FILE* err);
