#include "host/host_calls.h"

#include <cstring>

#include "host/driver_manager.h"
#include "platform/text.h"

namespace {

// The operation on the loaded driver, or ASE_NotPresent when none is loaded.
template <typename... Params, typename... Args>
ASIOError forward(ASIOError (IASIO::*operation)(Params...), Args... args) {
    return currentDriver != nullptr ? (currentDriver->*operation)(args...) : ASE_NotPresent;
}

} // namespace

ASIOError ASIOInit(ASIODriverInfo* info) {
    info->driverVersion = 0;
    copyTruncated(info->name, "No ASIO Driver");
    if (currentDriver == nullptr) {
        return ASE_NotPresent;
    }
    if (currentDriver->init(info->sysRef) == ASIOFalse) {
        currentDriver->getErrorMessage(info->errorMessage);
        info->errorMessage[sizeof info->errorMessage - 1] = '\0';
        // The object stays held by the manager; the caller releases it.
        currentDriver = nullptr;
        return ASE_NotPresent;
    }
    copyTruncated(info->errorMessage, "No ASIO Driver Error");
    currentDriver->getDriverName(info->name);
    // Drivers are outside code: never trust them to terminate the text.
    info->name[sizeof info->name - 1] = '\0';
    info->driverVersion = currentDriver->getDriverVersion();
    return ASE_OK;
}

ASIOError ASIOExit() {
    // A driver can be installed without the manager (tests do); nothing to release then.
    if (currentDriver != nullptr && driverManager != nullptr) {
        driverManager->releaseCurrentDriver();
    }
    currentDriver = nullptr;
    return ASE_OK;
}

ASIOError ASIOStart() {
    return forward(&IASIO::start);
}

ASIOError ASIOStop() {
    return forward(&IASIO::stop);
}

ASIOError ASIOGetChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    if (currentDriver == nullptr) {
        *numInputChannels = 0;
        *numOutputChannels = 0;
        return ASE_NotPresent;
    }
    return currentDriver->getChannels(numInputChannels, numOutputChannels);
}

ASIOError ASIOGetLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    if (currentDriver == nullptr) {
        *inputLatency = 0;
        *outputLatency = 0;
        return ASE_NotPresent;
    }
    return currentDriver->getLatencies(inputLatency, outputLatency);
}

ASIOError ASIOGetBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) {
    if (currentDriver == nullptr) {
        *minSize = 0;
        *maxSize = 0;
        *preferredSize = 0;
        *granularity = 0;
        return ASE_NotPresent;
    }
    return currentDriver->getBufferSize(minSize, maxSize, preferredSize, granularity);
}

ASIOError ASIOCanSampleRate(ASIOSampleRate sampleRate) {
    return forward(&IASIO::canSampleRate, sampleRate);
}

ASIOError ASIOGetSampleRate(ASIOSampleRate* currentRate) {
    return forward(&IASIO::getSampleRate, currentRate);
}

ASIOError ASIOSetSampleRate(ASIOSampleRate sampleRate) {
    return forward(&IASIO::setSampleRate, sampleRate);
}

// Called from the buffer switch: one test and one forwarded call, nothing else.
ASIOError ASIOGetSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    return forward(&IASIO::getSamplePosition, sPos, tStamp);
}

ASIOError ASIOGetChannelInfo(ASIOChannelInfo* info) {
    if (currentDriver == nullptr) {
        info->channelGroup = -1;
        info->type = 0;
        copyTruncated(info->name, "None");
        return ASE_NotPresent;
    }
    return currentDriver->getChannelInfo(info);
}

ASIOError ASIOCreateBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                            ASIOCallbacks* callbacks) {
    if (currentDriver == nullptr) {
        for (int32_t i = 0; bufferInfos != nullptr && i < numChannels; ++i) {
            bufferInfos[i].buffers[0] = nullptr;
            bufferInfos[i].buffers[1] = nullptr;
        }
        return ASE_NotPresent;
    }
    return currentDriver->createBuffers(bufferInfos, numChannels, bufferSize, callbacks);
}

ASIOError ASIODisposeBuffers() {
    return forward(&IASIO::disposeBuffers);
}

// Called from the buffer switch: one test and one forwarded call, nothing else.
ASIOError ASIOOutputReady() {
    return forward(&IASIO::outputReady);
}

void ASIOGetErrorMessage(char* text, size_t capacity) {
    // The interface's messages fit 124 bytes; room to spare for a driver that writes more,
    // and never trust it to terminate the text.
    char message[2 * sizeof(ASIODriverInfo::errorMessage)] = {};
    if (currentDriver != nullptr) {
        currentDriver->getErrorMessage(message);
    }
    message[sizeof message - 1] = '\0';
    copyTruncated(text, capacity, message);
}
