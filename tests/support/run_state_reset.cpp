#include "support/run_state_reset.h"

#include <cstring>

#include "engine/run_state.h"

void resetRunState() {
    releasePlayStore();
    releaseRecordStore();
    std::memset(&duplexState.driverInfo, 0, sizeof duplexState.driverInfo);
    duplexState.inputChannelCount = 0;
    duplexState.outputChannelCount = 0;
    duplexState.minBufferSize = 0;
    duplexState.maxBufferSize = 0;
    duplexState.preferredBufferSize = 0;
    duplexState.bufferGranularity = 0;
    duplexState.sampleRate = 0;
    duplexState.inputLatency = 0;
    duplexState.outputLatency = 0;
    duplexState.inputBufferCount = 0;
    duplexState.outputBufferCount = 0;
    std::memset(duplexState.bufferInfos, 0, sizeof duplexState.bufferInfos);
    std::memset(duplexState.channelInfos, 0, sizeof duplexState.channelInfos);
    duplexState.samplePosition.store(0.0);
    duplexState.lastSwitchTimeMs.store(0);
    duplexState.stopped.store(false);
    duplexState.streaming.store(false);
    duplexState.lostSwitches.store(0);
    duplexState.streamNotices.store(0);
    duplexState.resetRequested.store(false);
    duplexState.switchCount.store(0);
    duplexState.lastValidPosition = 0;
    duplexState.switchesSincePosition = 0;
    duplexState.positionKnown = false;
    bytesPerSample = 4;
    bufferFrames = 0;
    playChannels = 0;
    playSampleRate = 0;
    playFramesLeft = 0;
    recordChannels = 0;
    recordFrames = 0;
    hostCallbacks = ASIOCallbacks{};
}
