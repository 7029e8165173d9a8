#include "frontend/run_checks.h"

#include "engine/run_state.h"
#include "platform/file_identity.h"
#include "wav/record_writer.h"
#include "wav/wav_format.h"

PlayFileVerdict checkPlayFile(const char* playPath, uint32_t* formatTagOut,
                              uint32_t* bitsPerSampleOut) {
    uint32_t formatTag = 0;
    uint32_t bitsPerSample = 0;
    if (probeWavFile(playPath, &formatTag, &playSampleRate, &bitsPerSample, &playChannels,
                     &playFramesLeft) != kWavOk) {
        return kUnreadable;
    }
    if (formatTag != kWavFormatFloat || bitsPerSample != 32) {
        if (formatTagOut != nullptr && bitsPerSampleOut != nullptr) {
            *formatTagOut = formatTag;
            *bitsPerSampleOut = bitsPerSample;
        }
        return kNotFloat32;
    }
    return playFramesLeft == 0 ? kUnreadable : kPlayable;
}

bool recordPathUsable(const char* recordPath, const char* playPath, int* systemError) {
    // Writing the recording would destroy the material before it is played.
    if (sameFile(recordPath, playPath)) {
        if (systemError != nullptr) {
            *systemError = 0;
        }
        return false;
    }
    return canCreateRecordFile(recordPath, systemError);
}

bool channelsFit(const ChannelChoice& channels) {
    if (channels.firstInput < 1 || channels.firstOutput < 1 || channels.inputCount < 0 ||
        channels.inputCount > kMaxChannelsPerSide) {
        return false;
    }
    const uint32_t lastInput = static_cast<uint32_t>(channels.firstInput) +
                               static_cast<uint32_t>(channels.inputCount) - 1u;
    const uint32_t lastOutput = playChannels + static_cast<uint32_t>(channels.firstOutput) - 1u;
    return lastInput <= kMaxChannelsPerSide && lastOutput <= kMaxChannelsPerSide &&
           lastInput <= static_cast<uint32_t>(duplexState.inputChannelCount) &&
           lastOutput <= static_cast<uint32_t>(duplexState.outputChannelCount);
}

bool bufferLengthFits() {
    // A length of 0 would leave nothing to pad the playback to.
    return bufferFrames <= static_cast<uint32_t>(duplexState.maxBufferSize) &&
           bufferFrames >= static_cast<uint32_t>(duplexState.minBufferSize) && bufferFrames != 0;
}

bool recordingFitsWav(int32_t inputCount) {
    const uint64_t buffers = (uint64_t{playFramesLeft} - 1) / bufferFrames + 1;
    const uint64_t paddedFrames = buffers * bufferFrames;
    const uint64_t riffBytes = paddedFrames * static_cast<uint64_t>(inputCount) * 4 + 36;
    return riffBytes <= 0xFFFFFFFFu;
}
