#include "wav/play_loader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "frontend/run_state.h"
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
void convertSamples(const uint8_t* raw, int32_t* out, size_t count, NativeRange range) {
    for (size_t i = 0; i < count; ++i) {
        const uint32_t bits = loadLe32(raw + 4 * i);
        float x;
        std::memcpy(&x, &bits, sizeof x);
        double p = double(x) * range.scale; // exact: two 24-bit significands
        p = p < range.lowest ? range.lowest : p;
        p = p > range.highest ? range.highest : p;
        p = p == p ? p : 0.0;
        out[i] = int32_t(p);
    }
}

template <int Width>
void scatterChannel(const int32_t* staged, size_t stride, size_t frames, uint8_t* dst) {
    for (size_t f = 0; f < frames; ++f) {
        const uint32_t n = uint32_t(staged[f * stride]);
        for (int b = 0; b < Width; ++b) {
            dst[f * Width + b] = uint8_t(n >> (8 * b));
        }
    }
}

// Splits interleaved frames into the channel blocks, advancing every cursor.
void scatterFrames(const int32_t* staged, uint32_t channels, size_t frames, int width,
                   uint8_t** cursors) {
    for (uint32_t c = 0; c < channels; ++c) {
        switch (width) {
        case 2:
            scatterChannel<2>(staged + c, channels, frames, cursors[c]);
            break;
        case 3:
            scatterChannel<3>(staged + c, channels, frames, cursors[c]);
            break;
        default:
            scatterChannel<4>(staged + c, channels, frames, cursors[c]);
            break;
        }
        cursors[c] += frames * size_t(width);
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

int loadSamples(FILE* file, const WavHeader& header) {
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
    int32_t* staged = new (std::nothrow) int32_t[workFrames * channels];
    uint8_t** blocks = new (std::nothrow) uint8_t*[channels]();
    uint8_t** cursors = new (std::nothrow) uint8_t*[channels]();
    bool complete = raw != nullptr && staged != nullptr && blocks != nullptr && cursors != nullptr;
    for (uint32_t c = 0; complete && c < channels; ++c) {
        blocks[c] = new (std::nothrow) uint8_t[blockBytes];
        complete = blocks[c] != nullptr;
        cursors[c] = blocks[c];
    }
    if (!complete) {
        freeStore(blocks, cursors, channels);
        delete[] staged;
        delete[] raw;
        return kWavNoMemory;
    }

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
        convertSamples(raw, staged, count * channels, range);
        scatterFrames(staged, channels, count, width, cursors);
        done += count;
    }
    for (uint32_t c = 0; c < channels; ++c) {
        std::memset(cursors[c], 0, size_t(blocks[c] + blockBytes - cursors[c]));
        cursors[c] = blocks[c];
    }
    delete[] staged;
    delete[] raw;

    playChannels = channels;
    playFramesLeft = uint32_t(padded);
    playBuffers = blocks;
    playCursors = cursors;
    return kWavOk;
}

} // namespace

int loadPlayFile(const char* path) {
    // Caller's contract; refuse rather than divide by zero or overrun a block.
    if (bufferFrames == 0 || bytesPerSample < 2 || bytesPerSample > 4) {
        return kWavNotCanonical;
    }
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return kWavCannotOpen;
    }
    WavHeader header{};
    int result = readWavHeader(file, &header);
    if (result == kWavOk && !sameAsProbed(header)) {
        result = kWavNotCanonical; // changed since the probe
    }
    if (result == kWavOk) {
        result = loadSamples(file, header);
    }
    std::fclose(file);
    return result;
}
