// The header probe and the playback loader on arbitrary file bytes, at every native width
// and several buffer lengths. The probe's result is checked against an independent reading
// of the 44 header bytes, and every loaded block sample by sample against the conversion
// of the bytes that are there (silence for what the file lacks, and for the padding).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/run_state.h"
#include "fuzz_support.h"
#include "support/wav_bytes.h"
#include "wav/play_loader.h"
#include "wav/wav_format.h"
#include "wav/wav_io.h"

namespace {

// The header's data size is trusted, so a few bytes can announce gigabytes: files that
// announce more than this are probed but not loaded. Every parsing path stays reachable
// with smaller sizes.
constexpr uint64_t kMaxAnnouncedSamples = uint64_t(1) << 19;
// Above this, one width and buffer length picked by the input are loaded rather than all.
constexpr uint64_t kAllCasesSamples = uint64_t(1) << 12;
// Padding to a long buffer multiplies a short file's store; cases beyond these are skipped.
constexpr uint64_t kMaxStoreBytes = uint64_t(8) << 20;
constexpr uint64_t kMaxStoreBytesAllCases = uint64_t(1) << 20;
constexpr uint32_t kSentinel = 0xA5A5A5A5u;

struct Expected {
    int result;
    uint32_t tag, rate, bits, channels, frames;
};

// What the probe must answer, read straight from the bytes.
Expected expectedProbe(const uint8_t* data, size_t size) {
    uint8_t raw[kWavHeaderBytes] = {};
    if (size > 0) {
        std::memcpy(raw, data, size < sizeof raw ? size : sizeof raw);
    }
    Expected e{};
    if (std::memcmp(raw, "RIFF", 4) != 0 || std::memcmp(raw + 8, "WAVE", 4) != 0) {
        e.result = kWavNotRiffWave;
    } else if (std::memcmp(raw + 12, "fmt ", 4) != 0 || getLe(raw + 16, 4) != 16 ||
               std::memcmp(raw + 36, "data", 4) != 0 || size < kWavHeaderBytes ||
               getLe(raw + 22, 2) == 0 || getLe(raw + 34, 2) < 8) {
        e.result = kWavNotCanonical;
    } else {
        e.result = kWavOk;
        e.tag = getLe(raw + 20, 2);
        e.channels = getLe(raw + 22, 2);
        e.rate = getLe(raw + 24, 4);
        e.bits = getLe(raw + 34, 2);
        e.frames = getLe(raw + 40, 4) / (e.channels * (e.bits / 8));
    }
    return e;
}

int32_t referenceNative(float x, int width) {
    if (std::isnan(x)) {
        return 0;
    }
    const double top = double(int64_t(1) << (8 * width - 1));
    // The factor is held in single precision, where 2^31 - 1 rounds to 2^31.
    const double scale = width == 4 ? top : top - 1;
    const double p = std::trunc(double(x) * scale);
    if (p >= top - 1) {
        return int32_t(top - 1);
    }
    if (p <= -top) {
        return int32_t(-top);
    }
    return int32_t(p);
}

void setProbed(const Expected& e, int width, uint32_t buffer) {
    playChannels = e.channels;
    playSampleRate = e.rate;
    playFramesLeft = e.frames;
    bytesPerSample = width;
    bufferFrames = buffer;
}

void checkLoaded(const uint8_t* data, size_t size, const Expected& e, int width, uint32_t buffer) {
    const uint64_t padded = (uint64_t(e.frames) + buffer - 1) / buffer * buffer;
    FUZZ_CHECK(playFramesLeft == padded, playFramesLeft, padded);
    FUZZ_CHECK(playChannels == e.channels, playChannels, e.channels);
    FUZZ_CHECK(playBuffers != nullptr && playCursors != nullptr, 0, 0);
    for (uint32_t c = 0; c < e.channels; ++c) {
        const uint8_t* block = playBuffers[c];
        FUZZ_CHECK(block != nullptr && playCursors[c] == block, c, 0);
        // Frames from the first one this channel lacks a whole sample in are silence.
        uint64_t present = 0;
        if (size >= kWavHeaderBytes + 4 * uint64_t(c + 1)) {
            present =
                (size - kWavHeaderBytes - 4 * uint64_t(c + 1)) / (4 * uint64_t(e.channels)) + 1;
        }
        present = present < e.frames ? present : e.frames;
        const uint64_t silent = present * width;
        const uint64_t end = padded * width;
        if (silent < end) {
            // Each byte equal to the next, and the first zero: all zero.
            FUZZ_CHECK(block[silent] == 0 &&
                           std::memcmp(block + silent, block + silent + 1, end - silent - 1) == 0,
                       silent, c);
        }
        for (uint64_t f = 0; f < present; ++f) {
            float x;
            const uint32_t raw = getLe(data + kWavHeaderBytes + 4 * (f * e.channels + c), 4);
            std::memcpy(&x, &raw, sizeof x);
            const int32_t want = referenceNative(x, width);
            uint32_t got = 0;
            for (int b = 0; b < width; ++b) {
                got |= uint32_t(block[f * width + b]) << (8 * b);
            }
            const uint32_t mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
            FUZZ_CHECK(got == (uint32_t(want) & mask), f, want);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
    static const std::string path = fuzzScratchPath(".wav");
    // The loader reads in work blocks far longer than a fuzz input. With the top bit of
    // the RIFF size's second byte set, the samples are repeated for one work block more, so
    // that later blocks, and a file that ends within one, are reached too.
    static std::vector<uint8_t> file; // kept: its room is reused by every input
    file.assign(input, input + inputSize);
    if (inputSize > kWavHeaderBytes && (input[5] & 0x80) != 0 &&
        getLe(input + 40, 4) > kWavWorkBytes) {
        const size_t samples = inputSize - kWavHeaderBytes;
        file.resize(inputSize + kWavWorkBytes);
        for (size_t at = inputSize; at < file.size(); at += samples) {
            std::memcpy(file.data() + at, input + kWavHeaderBytes,
                        std::min(samples, file.size() - at));
        }
    }
    const uint8_t* data = file.data();
    const size_t size = file.size();
    if (!fuzzWriteFile(path, data, size)) {
        return 0;
    }
    const Expected e = expectedProbe(data, size);
    uint32_t tag = kSentinel, rate = kSentinel, bits = kSentinel, channels = kSentinel,
             frames = kSentinel;
    const int probed = probeWavFile(path.c_str(), &tag, &rate, &bits, &channels, &frames);
    FUZZ_CHECK(probed == e.result, probed, e.result);
    if (probed != kWavOk) {
        // Nothing is written on a refusal, and the loader refuses the same way.
        FUZZ_CHECK(tag == kSentinel && rate == kSentinel && bits == kSentinel &&
                       channels == kSentinel && frames == kSentinel,
                   tag, frames);
        setProbed(Expected{}, 4, 256);
        const int loaded = loadPlayFile(path.c_str());
        FUZZ_CHECK(loaded == probed && playBuffers == nullptr, loaded, probed);
        return 0;
    }
    FUZZ_CHECK(tag == e.tag && rate == e.rate && bits == e.bits, tag, bits);
    FUZZ_CHECK(channels == e.channels && frames == e.frames, channels, frames);

    const bool playable = tag == kWavFormatFloat && bits == 32 && frames != 0;
    if (!playable) {
        setProbed(e, 4, 256);
        const int loaded = loadPlayFile(path.c_str());
        FUZZ_CHECK(loaded == kWavNotCanonical && playBuffers == nullptr, loaded, 0);
        return 0;
    }
    if (uint64_t(frames) * channels > kMaxAnnouncedSamples) {
        return 0;
    }

    // A header changed since the probe, and a caller that broke the contract, are refused
    // with nothing allocated.
    setProbed(e, 4, 256);
    playFramesLeft = frames + 1;
    FUZZ_CHECK(loadPlayFile(path.c_str()) == kWavNotCanonical && playBuffers == nullptr, 0, 0);
    setProbed(e, 4, 0);
    FUZZ_CHECK(loadPlayFile(path.c_str()) == kWavNotCanonical && playBuffers == nullptr, 0, 0);
    setProbed(e, 5, 256);
    FUZZ_CHECK(loadPlayFile(path.c_str()) == kWavNotCanonical && playBuffers == nullptr, 0, 0);

    // The RIFF size field is never read: it picks one more buffer length, and the case
    // loaded alone when the file announces much.
    const uint32_t chosen = 1 + getLe(data + 4, 2) % 4096;
    const uint32_t buffers[] = {1, 7, 256, chosen};
    const bool all = uint64_t(frames) * channels <= kAllCasesSamples;
    const int pickedWidth = 2 + data[6] % 3;
    const uint32_t pickedBuffer = buffers[data[7] % 4];
    for (int width = 2; width <= 4; ++width) {
        for (uint32_t buffer : buffers) {
            if (!all && (width != pickedWidth || buffer != pickedBuffer)) {
                continue;
            }
            const uint64_t padded = (uint64_t(frames) + buffer - 1) / buffer * buffer;
            if (padded * channels * uint64_t(width) >
                (all ? kMaxStoreBytesAllCases : kMaxStoreBytes)) {
                continue;
            }
            setProbed(e, width, buffer);
            const int loaded = loadPlayFile(path.c_str());
            FUZZ_CHECK(loaded == kWavOk, loaded, buffer);
            checkLoaded(data, size, e, width, buffer);
            releasePlayStore();
        }
    }
    return 0;
}
