#include "driver_buffers.h"

#include <chrono>

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
