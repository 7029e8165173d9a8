// What every driver checks, asks and answers a host the same way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/asio.h"

// ASE_OK when every entry names a channel the device has (inputs, outputs), each at most
// once; else ASE_InvalidParameter.
ASIOError checkBufferRequest(const ASIOBufferInfo* infos, int32_t count, int32_t inputs,
                             int32_t outputs);

// Whether the host asks for bufferSwitchTimeInfo: it must have the callback, support the
// question, and answer it with 1.
bool hostWantsTimeInfo(const ASIOCallbacks* callbacks);

// Halves start on 16-byte boundaries, as hosts that copy with wide loads like them.
inline size_t alignedBytes(size_t bytes) {
    return (bytes + 15) & ~static_cast<size_t>(15);
}

// Each value into its place, or ASE_InvalidParameter, and none, when the host gave no place
// for one of them.
template <typename T, size_t N> ASIOError answer(T* const (&places)[N], const T (&values)[N]) {
    for (T* place : places) {
        if (place == nullptr) {
            return ASE_InvalidParameter;
        }
    }
    for (size_t i = 0; i < N; ++i) {
        *places[i] = values[i];
    }
    return ASE_OK;
}

// Nanoseconds of the monotonic clock: the system time of the time record.
uint64_t driverTimeNs();

// The time record of a switch: system time, sample position (marked valid or not), rate.
void fillTimeRecord(ASIOTime* time, uint64_t nowNs, uint64_t position, bool positionValid,
                    double rate);

// One clock source of the given name, current: what getClockSources answers.
ASIOError answerOneClockSource(ASIOClockSource* clocks, int32_t* numSources, const char* name);
