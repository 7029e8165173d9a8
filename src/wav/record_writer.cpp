#include "wav/record_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/run_state.h"
#include "platform/file_open.h"
#include "platform/file_status.h"
#include "wav/wav_format.h"
#include "wav/wav_io.h"

namespace {

// Native sample in the top bytes of a 32-bit word, divided by 2^31 (the single-precision
// value of 2^31 - 1). Scaling by a power of two is exact, so the one rounding is that of
// the word to single precision, ties to even.
inline void storeSample(uint32_t word, uint8_t* out) {
    storeLe32(out, floatBits(float(int32_t(word)) * (1.0f / 2147483648.0f)));
}

// The native sample at frame f of a block as the top bytes of a word. Three-byte samples are
// read as whole words that start one byte early, the stray byte masked off (not at frame 0,
// whose word would start before the block).
template <int Width> inline uint32_t nativeWord(const uint8_t* block, size_t f) {
    if (Width == 2) {
        return loadLe16(block + 2 * f) << 16;
    }
    if (Width == 4) {
        return loadLe32(block + 4 * f);
    }
    return loadLe32(block + 3 * f - 1) & 0xFFFFFF00u;
}

// Channels side by side, frame by frame: each output frame is written in whole runs while
// every block is read straight on; a channel at a time would write the work block at a
// stride and read the blocks, which lie the same distance apart, through the same few
// cache sets.
template <int Width, int Group>
void gatherGroup(uint8_t* const* cursors, size_t first, size_t frames, size_t stride,
                 uint8_t* out) {
    const uint8_t* blocks[Group];
    for (int k = 0; k < Group; ++k) {
        blocks[k] = cursors[k] + first * Width;
    }
    size_t f = 0;
    if (Width == 3 && frames > 0) {
        for (int k = 0; k < Group; ++k) {
            storeSample(loadLe24(blocks[k]) << 8, out + 4 * k);
        }
        f = 1;
    }
    for (; f < frames; ++f) {
        uint8_t* frame = out + f * stride;
        for (int k = 0; k < Group; ++k) {
            storeSample(nativeWord<Width>(blocks[k], f), frame + 4 * k);
        }
    }
}

// Four channels at a time, then the rest one by one.
template <int Width>
void gatherChunk(uint8_t* const* cursors, uint32_t channels, size_t first, size_t frames,
                 uint8_t* out) {
    const size_t stride = size_t(channels) * 4;
    uint32_t c = 0;
    for (; c + 4 <= channels; c += 4) {
        gatherGroup<Width, 4>(cursors + c, first, frames, stride, out + size_t(c) * 4);
    }
    for (; c < channels; ++c) {
        gatherGroup<Width, 1>(cursors + c, first, frames, stride, out + size_t(c) * 4);
    }
}

// Bytes of the work block interleaved at a time: all channels fill the same cache lines
// while those stay in the first-level cache.
constexpr size_t kChunkBytes = size_t(16) << 10;

// Interleaves `frames` frames from the cursors into out, advancing every cursor.
void gatherFrames(uint8_t** cursors, uint32_t channels, size_t frames, int width, uint8_t* out) {
    const size_t frameBytes = size_t(channels) * 4;
    const size_t chunkFrames = std::max<size_t>(1, kChunkBytes / frameBytes);
    for (size_t done = 0; done < frames;) {
        const size_t count = std::min(chunkFrames, frames - done);
        uint8_t* chunk = out + done * frameBytes;
        switch (width) {
        case 2:
            gatherChunk<2>(cursors, channels, done, count, chunk);
            break;
        case 3:
            gatherChunk<3>(cursors, channels, done, count, chunk);
            break;
        default:
            gatherChunk<4>(cursors, channels, done, count, chunk);
            break;
        }
        done += count;
    }
    for (uint32_t c = 0; c < channels; ++c) {
        cursors[c] += frames * size_t(width);
    }
}

// Only a regular file is ours to remove; a device such as a full disk's stand-in is not.
void removeIfRegularFile(const char* path) {
    if (fileKind(path) == FileKind::Regular) {
        removeFile(path);
    }
}

} // namespace

RecordWriteResult writeRecordFileFrames(const char* path, uint32_t frames) {
    // Main thread only, at the end of the run: a static work block cannot fail to be had.
    static uint8_t work[kWavWorkBytes];
    const uint32_t channels = recordChannels;
    const int width = bytesPerSample;
    if (width < 2 || width > 4 || channels > 0xFFFF) {
        return kRecordWriteFailed; // no store of this shape can be described by the header
    }
    frames = std::min(frames, recordFrames);
    const size_t frameBytes = size_t(channels) * 4;
    const size_t workFrames = channels == 0 ? 0 : kWavWorkBytes / frameBytes;
    FILE* file = openFile(path, "wb");
    if (file == nullptr) {
        return kRecordCannotOpen;
    }

    uint8_t header[kWavHeaderBytes];
    writeWavHeader(header, channels, playSampleRate, frames);
    bool written = std::fwrite(header, 1, sizeof header, file) == sizeof header;
    for (uint32_t c = 0; c < channels; ++c) {
        recordCursors[c] = recordBuffers[c];
    }
    size_t done = 0;
    while (written && channels > 0 && done < frames) {
        const size_t count = std::min<size_t>(workFrames, frames - done);
        gatherFrames(recordCursors, channels, count, width, work);
        const size_t bytes = count * frameBytes;
        written = std::fwrite(work, 1, bytes, file) == bytes;
        done += count;
    }
    if (std::fclose(file) != 0) {
        written = false;
    }
    if (!written) {
        removeIfRegularFile(path);
        return kRecordWriteFailed;
    }
    return kRecordWritten;
}

RecordWriteResult writeRecordFile(const char* path) {
    return writeRecordFileFrames(path, recordFrames);
}

bool canCreateRecordFile(const char* path, int* systemError) {
    const bool existed = fileKind(path) != FileKind::Missing;
    // Append mode creates a missing file and leaves an existing one as it is.
    errno = 0;
    FILE* file = openFile(path, "ab");
    if (file == nullptr) {
        if (systemError != nullptr) {
            *systemError = errno;
        }
        return false;
    }
    std::fclose(file);
    if (!existed) {
        removeFile(path);
    }
    return true;
}
