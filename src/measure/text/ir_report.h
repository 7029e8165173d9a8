// What korvane-wav ir prints: a few lines per channel, or one JSON document with every
// point of every channel.
#pragma once

#include <cstdio>

#include "measure/jobs/ir_job.h"

void printIrText(FILE* out, const IrJob& job, const IrResults& results);
void printIrJson(FILE* out, const IrJob& job, const IrResults& results);
