#include "wav/play_loader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/run_state.h"
#include "platform/file_open.h"
#include "platform/memory.h"
#include "platform/vector_clones.h"
#include "wav/wav_format.h"
#include "wav/wav_io.h"

namespace {

struct NativeRange {
    double scale;
    double lowest;
    double highest;
};

NativeRange nativeRange(int width) {
    const int64_t top = int64_t(1) << (8 * width - 1);
    // The factor is held in single precision: 2147483648 rather than 2147483647 at 4 bytes.
    return {double(float(top - 1)), double(-top), double(top - 1)};
}

// Truncates toward zero; clips what lies beyond the native range; NaN becomes silence.
// Clipping before the truncation gives the same integers, since both bounds are whole.
// A plain loop over contiguous samples, which the compiler turns into vector code. It calls
// nothing, so that the wide build leaves the vector registers clean for the code after it.
KORVANE_VECTOR_CLONES
void convertSamples(const uint8_t* raw, int32_t* out, size_t count, NativeRange range) {
    for (size_t i = 0; i < count; ++i) {
        double p = double(bitsFloat(loadLe32(raw + 4 * i))) *
                   range.scale; // exact: two 24-bit significands
        p = p < range.lowest ? range.lowest : p;
        p = p > range.highest ? range.highest : p;
        p = p == p ? p : 0.0;
        out[i] = int32_t(p);
    }
}

// One channel's samples of a chunk of interleaved frames, appended to its block. Three-byte
// samples go out four at a time as three whole words.
template <int Width>
void scatterChannel(const int32_t* staged, size_t stride, size_t frames, uint8_t* dst) {
    if (Width == 2) {
        for (size_t f = 0; f < frames; ++f) {
            storeLe16(dst + 2 * f, uint32_t(staged[f * stride]));
        }
    } else if (Width == 4) {
        for (size_t f = 0; f < frames; ++f) {
            storeLe32(dst + 4 * f, uint32_t(staged[f * stride]));
        }
    } else {
        size_t f = 0;
        for (; f + 4 <= frames; f += 4) {
            const uint64_t a = uint32_t(staged[f * stride]) & 0xFFFFFFu;
            const uint64_t b = uint32_t(staged[(f + 1) * stride]) & 0xFFFFFFu;
            const uint32_t c = uint32_t(staged[(f + 2) * stride]);
            const uint32_t d = uint32_t(staged[(f + 3) * stride]);
            storeLe64(dst + 3 * f, a | b << 24 | uint64_t(c) << 48);
            storeLe32(dst + 3 * f + 8, (c >> 16 & 0xFF) | d << 8);
        }
        for (; f < frames; ++f) {
            const uint32_t n = uint32_t(staged[f * stride]);
            dst[3 * f] = uint8_t(n);
            dst[3 * f + 1] = uint8_t(n >> 8);
            dst[3 * f + 2] = uint8_t(n >> 16);
        }
    }
}

template <int Width>
void scatterChunk(const int32_t* staged, uint32_t channels, size_t frames, uint8_t** cursors) {
    for (uint32_t c = 0; c < channels; ++c) {
        scatterChannel<Width>(staged + c, channels, frames, cursors[c]);
        cursors[c] += frames * Width;
    }
}

void scatterChunk(int width, const int32_t* staged, uint32_t channels, size_t frames,
                  uint8_t** cursors) {
    switch (width) {
    case 2:
        scatterChunk<2>(staged, channels, frames, cursors);
        break;
    case 3:
        scatterChunk<3>(staged, channels, frames, cursors);
        break;
    default:
        scatterChunk<4>(staged, channels, frames, cursors);
        break;
    }
}

// Samples converted at a time: the staged integers stay in the first-level cache while
// they are split into the channel blocks.
constexpr size_t kChunkSamples = 4096;

// Converts whole interleaved frames and splits them into the channel blocks, advancing
// every cursor.
void convertFrames(const uint8_t* raw, uint32_t channels, size_t frames, int width,
                   NativeRange range, uint8_t** cursors) {
    int32_t staged[kChunkSamples];
    if (channels > kChunkSamples) {
        // Frames wider than a chunk: each in pieces of channels.
        for (size_t f = 0; f < frames; ++f) {
            for (uint32_t c = 0; c < channels; c += uint32_t(kChunkSamples)) {
                const uint32_t n = std::min(channels - c, uint32_t(kChunkSamples));
                convertSamples(raw + (f * channels + c) * 4, staged, n, range);
                scatterChunk(width, staged, n, 1, cursors + c);
            }
        }
        return;
    }
    const size_t chunkFrames = kChunkSamples / channels;
    for (size_t done = 0; done < frames;) {
        const size_t count = std::min(chunkFrames, frames - done);
        convertSamples(raw + done * channels * 4, staged, count * channels, range);
        scatterChunk(width, staged, channels, count, cursors);
        done += count;
    }
}

void freeStore(uint8_t** blocks, uint8_t** cursors, uint32_t channels) {
    if (blocks != nullptr) {
        for (uint32_t c = 0; c < channels; ++c) {
            delete[] blocks[c];
        }
    }
    delete[] blocks;
    delete[] cursors;
}

bool sameAsProbed(const WavHeader& header) {
    return header.formatTag == kWavFormatFloat && header.bitsPerSample == 32 &&
           header.channels == playChannels && header.sampleRate == playSampleRate &&
           header.frames == playFramesLeft && header.frames != 0;
}

// One block per channel, each blockBytes long; false, with nothing left allocated, when
// memory cannot be had.
bool allocateStore(uint32_t channels, size_t blockBytes, uint8_t*** blocks, uint8_t*** cursors) {
    *blocks = new (std::nothrow) uint8_t*[channels]();
    *cursors = new (std::nothrow) uint8_t*[channels]();
    bool complete = *blocks != nullptr && *cursors != nullptr;
    for (uint32_t c = 0; complete && c < channels; ++c) {
        (*blocks)[c] = new (std::nothrow) uint8_t[blockBytes];
        complete = (*blocks)[c] != nullptr;
        (*cursors)[c] = (*blocks)[c];
        adviseStoreBlock((*blocks)[c], blockBytes);
    }
    if (!complete) {
        freeStore(*blocks, *cursors, channels);
    }
    return complete;
}

// The data chunk's frames through `raw`, workFrames at a time, into the channels' blocks at
// their cursors, which it advances.
void convertData(FILE* file, uint32_t channels, uint32_t frames, int width, uint8_t* raw,
                 size_t workFrames, uint8_t** cursors) {
    const size_t frameBytes = size_t(channels) * 4;
    const NativeRange range = nativeRange(width);
    size_t done = 0;
    bool cutShort = false;
    while (done < frames && !cutShort) {
        const size_t count = std::min<size_t>(workFrames, frames - done);
        const size_t wanted = count * frameBytes;
        const size_t got = std::fread(raw, 1, wanted, file);
        if (got < wanted) {
            // The data chunk ends early: a torn last sample and all that follows are silence.
            const size_t whole = got / 4 * 4;
            std::memset(raw + whole, 0, wanted - whole);
            cutShort = true;
        }
        for (uint32_t c = 0; c < channels; ++c) {
            mapRangeNow(cursors[c], count * size_t(width));
        }
        convertFrames(raw, channels, count, width, range, cursors);
        done += count;
    }
}

WavResult loadSamples(FILE* file, const WavHeader& header) {
    const uint32_t channels = header.channels;
    const uint32_t frames = header.frames;
    const int width = bytesPerSample;
    // Fewer than 2^30 frames of 32 bits, so the padded count fits in 32 bits; the block
    // size is counted in size_t so that it cannot wrap below what is written into it.
    const uint64_t padded = (uint64_t(frames - 1) / bufferFrames + 1) * uint64_t(bufferFrames);
    if (padded > SIZE_MAX / size_t(width)) {
        return kWavNoMemory;
    }
    const size_t blockBytes = size_t(padded) * size_t(width);
    const size_t frameBytes = size_t(channels) * 4;
    const size_t workFrames =
        std::min<size_t>(std::max<size_t>(1, kWavWorkBytes / frameBytes), frames);

    uint8_t* raw = new (std::nothrow) uint8_t[workFrames * frameBytes];
    uint8_t** blocks = nullptr;
    uint8_t** cursors = nullptr;
    if (raw == nullptr || !allocateStore(channels, blockBytes, &blocks, &cursors)) {
        delete[] raw;
        return kWavNoMemory;
    }
    convertData(file, channels, frames, width, raw, workFrames, cursors);
    for (uint32_t c = 0; c < channels; ++c) {
        std::memset(cursors[c], 0, size_t(blocks[c] + blockBytes - cursors[c]));
        cursors[c] = blocks[c];
    }
    delete[] raw;

    playChannels = channels;
    playFramesLeft = uint32_t(padded);
    playBuffers = blocks;
    playCursors = cursors;
    return kWavOk;
}

} // namespace

WavResult loadPlayFile(const char* path) {
    // Caller's contract; refuse rather than divide by zero or overrun a block.
    if (bufferFrames == 0 || bytesPerSample < 2 || bytesPerSample > 4) {
        return kWavNotCanonical;
    }
    FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        return kWavCannotOpen;
    }
    WavHeader header{};
    WavResult result = readWavHeader(file, &header);
    if (result == kWavOk && !sameAsProbed(header)) {
        result = kWavNotCanonical; // changed since the probe
    }
    if (result == kWavOk) {
        result = loadSamples(file, header);
    }
    std::fclose(file);
    return result;
}
