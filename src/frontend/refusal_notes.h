// One line on standard error beside a refusal's own text: what was wrong and the way out.
// Standard output keeps the refusal's text exactly as it always was.
#pragma once

#include <cstdint>

#include "frontend/run_checks.h"

// A buffer argument that is not a whole number is read as its first digits.
bool isWholeNumber(const char* text);
void noteBufferRead(const char* text, uint32_t frames);
void noteBufferLimits(const char* text, uint32_t frames, int32_t minimum, int32_t maximum);

void noteRecordPath(const char* recordPath, const char* playPath, int systemError);
void noteDriverName(const char* name);
void notePlayFormat(const char* playPath, uint32_t formatTag, uint32_t bitsPerSample);
void noteChannels(const ChannelChoice& channels);
