#include "engine/run_state.h"

#include <cstddef>
#include <new>

#include "platform/memory.h"

DuplexState duplexState;

int32_t bytesPerSample = 4;
uint32_t bufferFrames;
uint32_t playChannels;
uint32_t playSampleRate;
uint32_t playFramesLeft;
uint32_t recordChannels;
uint32_t recordFrames;
uint8_t** playBuffers;
uint8_t** playCursors;
uint8_t** recordBuffers;
uint8_t** recordCursors;
ASIOCallbacks hostCallbacks;

bool allocateRecordStore() {
    recordBuffers = new (std::nothrow) uint8_t*[recordChannels]();
    recordCursors = new (std::nothrow) uint8_t*[recordChannels]();
    if (recordBuffers == nullptr || recordCursors == nullptr) {
        releaseRecordStore();
        return false;
    }
    const size_t blockBytes = static_cast<size_t>(bytesPerSample) * recordFrames;
    for (uint32_t c = 0; c < recordChannels; ++c) {
        // Not cleared: the buffer switch writes every frame before the writer reads it.
        recordBuffers[c] = new (std::nothrow) uint8_t[blockBytes];
        if (recordBuffers[c] == nullptr) {
            releaseRecordStore();
            return false;
        }
        // Mapped now, so that the buffer switch does not take the page faults.
        mapStoreBlockNow(recordBuffers[c], blockBytes);
        recordCursors[c] = recordBuffers[c];
    }
    return true;
}

static void releaseStore(uint8_t**& blocks, uint8_t**& cursors, uint32_t channels) {
    if (blocks != nullptr) {
        for (uint32_t c = 0; c < channels; ++c) {
            delete[] blocks[c];
        }
    }
    delete[] blocks;
    delete[] cursors;
    blocks = nullptr;
    cursors = nullptr;
}

void releasePlayStore() {
    releaseStore(playBuffers, playCursors, playChannels);
}

void releaseRecordStore() {
    releaseStore(recordBuffers, recordCursors, recordChannels);
}
