#include "driver_host.h"

#include <chrono>
#include <cstdio>
#include <cstring>

ASIOError checkBufferRequest(const ASIOBufferInfo* infos, int32_t count, int32_t inputs,
                             int32_t outputs) {
    for (int32_t i = 0; i < count; ++i) {
        const bool isInput = infos[i].isInput != ASIOFalse;
        const int32_t channel = infos[i].channelNum;
        if (channel < 0 || channel >= (isInput ? inputs : outputs)) {
            return ASE_InvalidParameter;
        }
        for (int32_t j = 0; j < i; ++j) {
            if ((infos[j].isInput != ASIOFalse) == isInput && infos[j].channelNum == channel) {
                return ASE_InvalidParameter; // the same channel twice
            }
        }
    }
    return ASE_OK;
}

bool hostWantsTimeInfo(const ASIOCallbacks* callbacks) {
    if (callbacks->asioMessage == nullptr || callbacks->bufferSwitchTimeInfo == nullptr) {
        return false;
    }
    if (callbacks->asioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr) ==
        0) {
        return false;
    }
    return callbacks->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) == 1;
}

uint64_t driverTimeNs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

ASIOError answerOneClockSource(ASIOClockSource* clocks, int32_t* numSources, const char* name) {
    if (clocks == nullptr || numSources == nullptr) {
        return ASE_InvalidParameter;
    }
    if (*numSources >= 1) {
        std::memset(&clocks[0], 0, sizeof clocks[0]);
        clocks[0].index = 0;
        clocks[0].associatedChannel = -1;
        clocks[0].associatedGroup = -1;
        clocks[0].isCurrentSource = ASIOTrue;
        std::snprintf(clocks[0].name, sizeof clocks[0].name, "%s", name);
    }
    *numSources = 1;
    return ASE_OK;
}

void fillTimeRecord(ASIOTime* time, uint64_t nowNs, uint64_t position, bool positionValid,
                    double rate) {
    std::memset(time, 0, sizeof *time);
    time->timeInfo.speed = 1.0;
    time->timeInfo.systemTime.hi = static_cast<uint32_t>(nowNs >> 32);
    time->timeInfo.systemTime.lo = static_cast<uint32_t>(nowNs);
    time->timeInfo.samplePosition.hi = static_cast<uint32_t>(position >> 32);
    time->timeInfo.samplePosition.lo = static_cast<uint32_t>(position);
    time->timeInfo.sampleRate = rate;
    time->timeInfo.flags = kSystemTimeValid | kSampleRateValid;
    if (positionValid) {
        time->timeInfo.flags |= kSamplePositionValid;
    }
}
