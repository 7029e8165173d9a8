#include "engine/buffer_setup.h"

#include "host/host_calls.h"
#include "host/sample_types.h"

// Entry k of bufferInfos as 0-based device channel; first channels are counted from 1.
static int32_t deviceChannel(int32_t first, int32_t offset) {
    return static_cast<int32_t>(static_cast<uint32_t>(first) + static_cast<uint32_t>(offset) - 1u);
}

ASIOError createDuplexBuffers(DuplexState* state, uint32_t bufferSize, int32_t inputCount,
                              int32_t firstInput, int32_t outputCount, int32_t firstOutput) {
    // The arrays hold 64 channels a side; larger or negative counts would overrun them.
    if (inputCount < 0 || inputCount > kMaxChannelsPerSide || outputCount < 0 ||
        outputCount > kMaxChannelsPerSide) {
        return ASE_InvalidParameter;
    }
    state->inputBufferCount = inputCount;
    for (int32_t i = 0; i < inputCount; ++i) {
        ASIOBufferInfo& info = state->bufferInfos[i];
        info.isInput = ASIOTrue;
        info.channelNum = deviceChannel(firstInput, i);
        info.buffers[0] = nullptr;
        info.buffers[1] = nullptr;
    }
    state->outputBufferCount = outputCount;
    for (int32_t j = 0; j < outputCount; ++j) {
        ASIOBufferInfo& info = state->bufferInfos[inputCount + j];
        info.isInput = ASIOFalse;
        info.channelNum = deviceChannel(firstOutput, j);
        info.buffers[0] = nullptr;
        info.buffers[1] = nullptr;
    }

    const int32_t count = inputCount + outputCount;
    const ASIOError created = ASIOCreateBuffers(state->bufferInfos, count,
                                                static_cast<int32_t>(bufferSize), &hostCallbacks);
    if (created != ASE_OK) {
        return created; // some drivers crash on getChannelInfo without buffers
    }
    for (int32_t k = 0; k < count; ++k) {
        ASIOChannelInfo& info = state->channelInfos[k];
        info.channel = state->bufferInfos[k].channelNum;
        info.isInput = state->bufferInfos[k].isInput;
        const ASIOError described = ASIOGetChannelInfo(&info);
        if (described != ASE_OK) {
            // A failure leaves no buffers behind: the driver is released next.
            ASIODisposeBuffers();
            return described;
        }
    }
    return ASE_OK;
}

int32_t nativeSampleBytes() {
    const ASIOSampleType first = duplexState.channelInfos[0].type;
    if (!korvaneStreams(first)) {
        return 0;
    }
    // The switch moves one width on every channel: any other format, even of a wider
    // container, would be played or recorded as garbage.
    const int32_t width = sampleTypeBytes(first);
    int32_t count = duplexState.inputBufferCount + duplexState.outputBufferCount;
    if (count > kMaxBuffers) {
        count = kMaxBuffers;
    }
    for (int32_t k = 1; k < count; ++k) {
        const ASIOSampleType type = duplexState.channelInfos[k].type;
        if (!korvaneStreams(type) || sampleTypeBytes(type) != width) {
            return 0;
        }
    }
    return width;
}
