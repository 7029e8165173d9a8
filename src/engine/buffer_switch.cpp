#include "engine/buffer_switch.h"

#include <cstring>

#include "engine/run_state.h"
#include "host/host_calls.h"
#include "platform/win32.h"

// Halves are unsigned: a set top bit of either must never turn the value negative.
static uint64_t timeValue(uint32_t hi, uint32_t lo) {
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

static double timeValueAsDouble(uint32_t hi, uint32_t lo) {
    return static_cast<double>(hi) * 4294967296.0 + static_cast<double>(lo);
}

// A dropped or repeated block shows as a position that did not advance by one buffer per
// switch; the first valid position only sets the reference. Switches without a valid
// position carry the expected advance forward instead of breaking the chain.
static void trackPosition(DuplexState& state, const ASIOTime* params, bool draining) {
    ++state.switchesSincePosition;
    if (params == nullptr || (params->timeInfo.flags & kSamplePositionValid) == 0) {
        return;
    }
    const uint64_t position =
        timeValue(params->timeInfo.samplePosition.hi, params->timeInfo.samplePosition.lo);
    const uint64_t expected = static_cast<uint64_t>(bufferFrames) * state.switchesSincePosition;
    // Once the material is through, nothing recorded can be out of step any more.
    if (state.positionKnown && !draining && position - state.lastValidPosition != expected) {
        state.lostSwitches.fetch_add(1, std::memory_order_relaxed);
    }
    state.lastValidPosition = position;
    state.switchesSincePosition = 0;
    state.positionKnown = true;
}

ASIOTime* bufferSwitchTimeInfo(ASIOTime* params, int32_t doubleBufferIndex,
                               ASIOBool directProcess) {
    (void)directProcess;
    DuplexState& state = duplexState;
    // Only this thread raises the flag, so its own last store is what it reads.
    const bool draining = state.stopped.load(std::memory_order_relaxed);
    state.switchCount.fetch_add(1, std::memory_order_relaxed);

    if (params != nullptr && (params->timeInfo.flags & kSamplePositionValid) != 0) {
        state.samplePosition.store(timeValueAsDouble(params->timeInfo.samplePosition.hi,
                                                     params->timeInfo.samplePosition.lo),
                                   std::memory_order_relaxed);
    } else {
        state.samplePosition.store(0.0, std::memory_order_relaxed);
    }
    state.lastSwitchTimeMs.store(timeGetTime(), std::memory_order_relaxed);
    trackPosition(state, params, draining);

    // An index other than 0 or 1 names no half: the block is not moved, and the run
    // learns that the recording is out of step.
    if (doubleBufferIndex != 0 && doubleBufferIndex != 1) {
        if (!draining) {
            state.lostSwitches.fetch_add(1, std::memory_order_relaxed);
        }
        return nullptr;
    }

    const size_t blockBytes = static_cast<size_t>(bytesPerSample) * bufferFrames;
    const int32_t inputs = state.inputBufferCount;
    const int32_t count = inputs + state.outputBufferCount;
    for (int32_t i = 0; i < count; ++i) {
        uint8_t* half = static_cast<uint8_t*>(state.bufferInfos[i].buffers[doubleBufferIndex]);
        if (state.bufferInfos[i].isInput == ASIOFalse) {
            if (draining) {
                std::memset(half, 0, blockBytes);
            } else {
                uint8_t*& cursor = playCursors[i - inputs];
                std::memcpy(half, cursor, blockBytes);
                cursor += blockBytes;
            }
        } else if (!draining) {
            uint8_t*& cursor = recordCursors[i];
            std::memcpy(cursor, half, blockBytes);
            cursor += blockBytes;
        }
    }

    ASIOOutputReady();
    playFramesLeft -= bufferFrames;
    if (playFramesLeft == 0) {
        // Release: the copies above must be visible before the main thread sees the flag.
        state.stopped.store(true, std::memory_order_release);
    }
    return nullptr;
}

void bufferSwitch(int32_t doubleBufferIndex, ASIOBool directProcess) {
    ASIOTime record;
    std::memset(&record, 0, sizeof record);
    if (ASIOGetSamplePosition(&record.timeInfo.samplePosition, &record.timeInfo.systemTime) ==
        ASE_OK) {
        record.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
    }
    bufferSwitchTimeInfo(&record, doubleBufferIndex, directProcess);
}

// Notices that mean the device may have lost or shifted blocks: counted only while the
// device runs, so the run can warn that the recording may be out of step.
static void noteStreamNotice() {
    if (duplexState.streaming.load(std::memory_order_acquire)) {
        duplexState.streamNotices.fetch_add(1, std::memory_order_relaxed);
    }
}

int32_t asioMessage(int32_t selector, int32_t value, void* message, double* opt) {
    (void)message;
    (void)opt;
    switch (selector) {
    case kAsioSelectorSupported:
        switch (value) {
        case kAsioEngineVersion:
        case kAsioResetRequest:
        case kAsioResyncRequest:
        case kAsioLatenciesChanged:
        case kAsioSupportsTimeInfo:
        case kAsioSupportsTimeCode:
        case kAsioSupportsInputMonitor:
            return 1;
        default:
            return 0;
        }
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest:
        noteStreamNotice();
        if (duplexState.streaming.load(std::memory_order_acquire)) {
            duplexState.resetRequested.store(true, std::memory_order_release);
        }
        return 1;
    case kAsioBufferSizeChange:
        noteStreamNotice();
        return 0;
    case kAsioResyncRequest:
        noteStreamNotice();
        return 1;
    case kAsioLatenciesChanged:
        return 1;
    case kAsioSupportsTimeInfo:
        return 1;
    case kAsioOverload:
        noteStreamNotice();
        return 0;
    default:
        return 0;
    }
}

void sampleRateDidChange(ASIOSampleRate sRate) {
    (void)sRate;
    noteStreamNotice();
}
