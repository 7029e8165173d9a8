// korvane-wav's reader on arbitrary file bytes: every WAV form it takes, streamed in blocks
// of a size the input picks, loaded whole, and converted to the layout korvane plays. What
// it takes must hold together: frames counted from the data chunk, no block longer than
// asked, the same samples every way, integer samples within [-1, 1] (32 bits round to
// float, up to 1), and a converted file that korvane's own probe accepts. What it refuses
// it refuses every way, with a reason. Seeds: tests/fixtures/wav and the corpus folder.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "measure/exit_codes.h"
#include "measure/files/canonical_writer.h"
#include "measure/files/convert.h"
#include "measure/files/riff_reader.h"
#include "support/wav_bytes.h"

namespace {

bool sameBits(float a, float b) {
    return floatBits(a) == floatBits(b);
}

// Streams the whole file; on success the samples, interleaved.
ReadResult stream(const std::string& path, uint32_t blockFrames, RiffReader* reader,
                  std::vector<float>* samples) {
    std::string error;
    ReadResult result = openRiffReader(reader, path.c_str(), &error);
    if (result != kReadOk) {
        FUZZ_CHECK(reader->file == nullptr && !error.empty(), result, 0);
        return result;
    }
    const WavFormat& format = reader->format;
    const uint32_t bits = format.bitsPerSample;
    FUZZ_CHECK(format.channels > 0 && format.blockAlign == format.channels * (bits / 8),
               format.channels, format.blockAlign);
    FUZZ_CHECK(format.encoding == kWaveFormatPcm
                   ? bits == 8 || bits == 16 || bits == 24 || bits == 32
                   : format.encoding == kWaveFormatFloat && (bits == 32 || bits == 64),
               format.encoding, bits);
    FUZZ_CHECK(reader->trailingBytes < format.blockAlign, reader->trailingBytes, 0);
    FUZZ_CHECK(reader->dataStart + uint64_t(reader->frames) * format.blockAlign <= reader->dataEnd,
               reader->frames, reader->dataEnd);
    std::vector<uint32_t> block(size_t(blockFrames) * format.channels);
    uint64_t total = 0;
    for (;;) {
        uint32_t got = 0;
        result = readRiffFrames(reader, block.data(), blockFrames, &got, &error);
        if (result != kReadOk) {
            FUZZ_CHECK(!error.empty(), result, total);
            break;
        }
        FUZZ_CHECK(got <= blockFrames, got, blockFrames);
        if (got == 0) {
            break;
        }
        for (size_t i = 0; i < size_t(got) * format.channels; ++i) {
            samples->push_back(bitsFloat(block[i]));
        }
        total += got;
    }
    if (result == kReadOk) {
        FUZZ_CHECK(total == reader->frames, total, reader->frames);
        result = finishRiffReader(reader, &error);
        FUZZ_CHECK(result == kReadOk || !error.empty(), result, 0);
    }
    closeRiffReader(reader);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    static const std::string path = fuzzScratchPath(".wav");
    static const std::string converted = fuzzScratchPath("-out.wav");
    if (!fuzzWriteFile(path, input, size)) {
        return 0;
    }
    // The last byte picks the block length, so that blocks end anywhere in the data.
    const uint32_t blockFrames = size > 0 ? 1u + input[size - 1] % 64 : 1;
    RiffReader reader;
    std::vector<float> streamed;
    const ReadResult result = stream(path, blockFrames, &reader, &streamed);

    WavData data;
    std::string error;
    const ReadResult loaded = loadWavData(path.c_str(), &data, &error);
    FUZZ_CHECK(loaded == result, loaded, result);
    if (result != kReadOk) {
        FUZZ_CHECK(data.channels.empty(), data.channels.size(), 0);
        return 0;
    }
    const uint32_t channels = reader.format.channels;
    FUZZ_CHECK(data.frames == reader.frames && data.channels.size() == channels, data.frames,
               data.channels.size());
    const bool integer = reader.format.encoding == kWaveFormatPcm;
    for (uint32_t f = 0; f < data.frames; ++f) {
        for (uint32_t c = 0; c < channels; ++c) {
            const float x = data.channels[c][f];
            FUZZ_CHECK(sameBits(x, streamed[size_t(f) * channels + c]), f, c);
            FUZZ_CHECK(!integer || (x >= -1.0f && x <= 1.0f), f, c);
        }
    }

    ConvertReport report;
    const ToolExit convertedResult =
        convertToCanonical(path.c_str(), converted.c_str(), 0, &report, &error);
    if (data.frames == 0) {
        FUZZ_CHECK(convertedResult == kToolInput, convertedResult, 0);
        return 0;
    }
    FUZZ_CHECK(convertedResult == kToolOk, convertedResult, data.frames);
    FUZZ_CHECK(report.frames == data.frames && report.trailingBytes == reader.trailingBytes,
               report.frames, report.trailingBytes);
    FUZZ_CHECK(korvaneProbeAccepts(converted.c_str(), channels, data.frames), channels,
               data.frames);
    const std::vector<float> written = canonicalSamples(converted);
    FUZZ_CHECK(written.size() == streamed.size(), written.size(), streamed.size());
    for (size_t i = 0; i < written.size(); ++i) {
        FUZZ_CHECK(sameBits(written[i], streamed[i]), i, 0);
    }
    return 0;
}
