#pragma once

#include "engine/run_state.h"

// One double buffer per chosen channel, inputs first; first channels counted from 1.
// Returns the first failing call's result; buffers created before a failing channel
// description are disposed again.
ASIOError createDuplexBuffers(DuplexState* state, uint32_t bufferSize, int32_t inputCount,
                              int32_t firstInput, int32_t outputCount, int32_t firstOutput);

// 2, 3 or 4 from the first created channel's type; 0 when unsupported, or when another
// created channel has a format korvane does not stream or a width other than the first's.
int32_t nativeSampleBytes();
