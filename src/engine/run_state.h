// Process-wide state of the one play-and-record run. Zero at start but bytesPerSample.
// The main thread writes everything the buffer switch reads before ASIOStart and
// touches the stores again only after ASIOStop, ASIODisposeBuffers and ASIOExit.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/asio.h"

constexpr int kMaxBuffers = 128;
constexpr int kMaxChannelsPerSide = 64;

struct DuplexState {
    ASIODriverInfo driverInfo;
    int32_t inputChannelCount;
    int32_t outputChannelCount;
    int32_t minBufferSize;
    int32_t maxBufferSize;
    int32_t preferredBufferSize;
    int32_t bufferGranularity;
    ASIOSampleRate sampleRate;
    int32_t inputLatency;
    int32_t outputLatency;
    int32_t inputBufferCount;
    int32_t outputBufferCount;
    ASIOBufferInfo bufferInfos[kMaxBuffers];
    ASIOChannelInfo channelInfos[kMaxBuffers];
    // Written by the buffer switch only, read by the progress loop.
    std::atomic<double> samplePosition;
    std::atomic<uint32_t> lastSwitchTimeMs;
    // Every call of the buffer switch, read by the progress loop to see the device alive.
    std::atomic<uint32_t> switchCount;
    // Raised with release order after the last recording copy; read with acquire order.
    std::atomic<bool> stopped;
    // Set by the run just before ASIOStart, cleared after ASIOStop or a failed start.
    std::atomic<bool> streaming;
    // Switches of the material whose sample position did not advance by one buffer per
    // switch since the previous valid position: blocks the device dropped or repeated.
    std::atomic<uint32_t> lostSwitches;
    // Reset, resync, buffer-size-change, overload and rate-change notices while streaming.
    std::atomic<uint32_t> streamNotices;
    // The driver asked for a reset while streaming: its device is gone or changed, and the
    // run ends with what it has.
    std::atomic<bool> resetRequested;
    // The buffer switch's own reference for lostSwitches; no other thread touches it.
    uint64_t lastValidPosition;
    uint32_t switchesSincePosition;
    bool positionKnown;
};

extern DuplexState duplexState;

extern int32_t bytesPerSample;
extern uint32_t bufferFrames;
extern uint32_t playChannels;
extern uint32_t playSampleRate;
extern uint32_t playFramesLeft;
extern uint32_t recordChannels;
extern uint32_t recordFrames;
extern uint8_t** playBuffers;
extern uint8_t** playCursors;
extern uint8_t** recordBuffers;
extern uint8_t** recordCursors;
extern ASIOCallbacks hostCallbacks;

// Creates the recording store from recordChannels, recordFrames and bytesPerSample.
// Returns false, with nothing left allocated, when memory cannot be had.
bool allocateRecordStore();
void releasePlayStore();
void releaseRecordStore();
