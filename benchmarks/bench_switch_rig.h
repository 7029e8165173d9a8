// The buffer switch's rig: driver halves and korvane's stores for 64 inputs and 64 outputs
// of 32-bit samples, set up in the run state as a run would have them.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/run_state.h"

constexpr int32_t kSide = 64;
constexpr int32_t kWidth = 4;
constexpr size_t kStoreTotalBytes = size_t(64) << 20; // well beyond the caches, as in a run

// Halves as a driver lays them out, and stores of `switches` blocks per channel, which the
// loop walks through and starts again.
struct SwitchRig {
    size_t blockBytes = 0;
    uint32_t switches = 0;
    uint8_t* halves = nullptr;
    uint8_t* stores = nullptr;
    uint8_t* playStarts[kSide] = {};
    uint8_t* recordStarts[kSide] = {};
    uint8_t* play[kSide] = {};
    uint8_t* record[kSide] = {};
    uint32_t done = 0;

    explicit SwitchRig(uint32_t frames) {
        blockBytes = size_t(frames) * kWidth;
        switches = uint32_t(std::max<size_t>(16, kStoreTotalBytes / (2 * kSide * blockBytes)));
        const size_t storeBytes = blockBytes * switches;
        halves = static_cast<uint8_t*>(std::aligned_alloc(64, 2 * kSide * 2 * blockBytes));
        stores = static_cast<uint8_t*>(std::aligned_alloc(64, 2 * kSide * storeBytes));
        std::memset(halves, 0x11, 2 * kSide * 2 * blockBytes);
        std::memset(stores, 0x22, 2 * kSide * storeBytes);
        for (int32_t c = 0; c < kSide; ++c) {
            recordStarts[c] = stores + size_t(c) * storeBytes;
            playStarts[c] = stores + size_t(kSide + c) * storeBytes;
        }

        duplexState.inputBufferCount = kSide;
        duplexState.outputBufferCount = kSide;
        for (int32_t i = 0; i < 2 * kSide; ++i) {
            ASIOBufferInfo& info = duplexState.bufferInfos[i];
            info.isInput = i < kSide ? ASIOTrue : ASIOFalse;
            info.channelNum = i % kSide;
            info.buffers[0] = halves + size_t(i) * 2 * blockBytes;
            info.buffers[1] = halves + size_t(i) * 2 * blockBytes + blockBytes;
        }
        bytesPerSample = kWidth;
        bufferFrames = frames;
        playCursors = play;
        recordCursors = record;
        rewind();
    }

    ~SwitchRig() {
        playCursors = nullptr;
        recordCursors = nullptr;
        std::free(stores);
        std::free(halves);
    }

    void rewind() {
        for (int32_t c = 0; c < kSide; ++c) {
            play[c] = playStarts[c];
            record[c] = recordStarts[c];
        }
        playFramesLeft = (switches + 1) * bufferFrames; // never reaches the stop
    }

    // The bare copies of a switch on half `index`: each input half to its store, each store
    // to its output half; `input(i, half)` runs before input i's copy, `output(i, half)`
    // after output i's.
    template <typename Input, typename Output>
    void copyBlocks(int32_t index, Input input, Output output) {
        for (int32_t i = 0; i < 2 * kSide; ++i) {
            uint8_t* half = static_cast<uint8_t*>(duplexState.bufferInfos[i].buffers[index]);
            if (i < kSide) {
                input(i, half);
                std::memcpy(record[i], half, blockBytes);
                record[i] += blockBytes;
            } else {
                std::memcpy(half, play[i - kSide], blockBytes);
                play[i - kSide] += blockBytes;
                output(i, half);
            }
        }
    }

    // After each switch: the stores start again once walked through.
    void next() {
        if (++done == switches) {
            rewind();
            done = 0;
        }
    }

    void setBytes(benchmark::State& state) const {
        state.SetBytesProcessed(int64_t(state.iterations()) * 2 * kSide * int64_t(blockBytes));
    }
};
