// The callbacks installed in hostCallbacks. They run on the driver's thread between
// ASIOStart and ASIOStop: no allocation, no lock, no output, no conversion.
#pragma once

#include "host/asio.h"

void bufferSwitch(int32_t doubleBufferIndex, ASIOBool directProcess);
ASIOTime* bufferSwitchTimeInfo(ASIOTime* params, int32_t doubleBufferIndex, ASIOBool directProcess);
int32_t asioMessage(int32_t selector, int32_t value, void* message, double* opt);
void sampleRateDidChange(ASIOSampleRate sRate);
