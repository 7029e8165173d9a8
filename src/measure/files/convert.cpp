#include "measure/files/convert.h"

#include <cmath>
#include <cstdio>

#include "measure/exit_codes.h"
#include "measure/files/canonical_writer.h"
#include "measure/text/number_text.h"

bool secondsToFrames(double seconds, uint32_t sampleRate, uint64_t* frames) {
    const double exact = seconds * double(sampleRate);
    if (!(exact >= 0) || exact > 4294967295.0) {
        return false;
    }
    *frames = uint64_t(std::llround(exact));
    return true;
}

namespace {

// Every frame the reader holds into the writer, then the reader's end checked.
ToolExit copyFrames(RiffReader* reader, CanonicalWriter* writer, const char* inPath,
                    const char* outPath, std::string* error) {
    std::string why;
    const uint32_t step = framesPerStep(reader->format.channels, reader->frames);
    std::vector<uint32_t> samples(size_t(step) * reader->format.channels);
    for (;;) {
        uint32_t got = 0;
        if (readRiffFrames(reader, samples.data(), step, &got, &why) != kReadOk) {
            *error = std::string(inPath) + ": " + why;
            return kToolInput;
        }
        if (got == 0) {
            break;
        }
        if (writeCanonicalFrames(writer, samples.data(), got, &why) != kWriteOk) {
            *error = std::string(outPath) + ": " + why;
            return kToolOutput;
        }
    }
    if (finishRiffReader(reader, &why) != kReadOk) {
        *error = std::string(inPath) + ": " + why;
        return kToolInput;
    }
    return kToolOk;
}

// The opened input, described in *report, and its padding in frames.
ToolExit checkInput(const RiffReader& reader, const char* inPath, const char* outPath,
                    double padSeconds, uint64_t* padFrames, std::string* error) {
    if (reader.frames == 0) {
        *error = std::string(inPath) + ": it has no whole frame, and korvane plays none";
        return kToolInput;
    }
    const uint32_t channels = reader.format.channels;
    if (!secondsToFrames(padSeconds, reader.format.sampleRate, padFrames) ||
        !canonicalSizeFits(channels, uint64_t(reader.frames) + *padFrames)) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g s", padSeconds);
        *error = std::string(outPath) + ": " + countText(reader.frames, "frame") + " of " +
                 countText(channels, "channel") + " and " + seconds +
                 " of padding do not fit the 4 GiB a WAV file's 32-bit sizes allow";
        return kToolOutput;
    }
    return kToolOk;
}

} // namespace

ToolExit convertToCanonical(const char* inPath, const char* outPath, double padSeconds,
                            ConvertReport* report, std::string* error) {
    *report = ConvertReport();
    std::string why;
    RiffReader reader;
    if (openRiffReader(&reader, inPath, &why) != kReadOk) {
        *error = std::string(inPath) + ": " + why;
        return kToolInput;
    }
    report->format = reader.format;
    report->wasCanonical = reader.canonical;
    report->frames = reader.frames;
    report->trailingBytes = reader.trailingBytes;
    uint64_t padFrames = 0;
    ToolExit result = checkInput(reader, inPath, outPath, padSeconds, &padFrames, error);
    if (result != kToolOk) {
        closeRiffReader(&reader);
        return result;
    }
    report->padFrames = uint32_t(padFrames);
    CanonicalWriter writer;
    if (openCanonicalWriter(&writer, outPath, reader.format.channels, reader.format.sampleRate,
                            uint64_t(reader.frames) + padFrames, &why) != kWriteOk) {
        closeRiffReader(&reader);
        *error = std::string(outPath) + ": " + why;
        return kToolOutput;
    }
    result = copyFrames(&reader, &writer, inPath, outPath, error);
    report->otherChunks = reader.otherChunks;
    closeRiffReader(&reader);
    if (result == kToolOk && writeCanonicalSilence(&writer, padFrames, &why) != kWriteOk) {
        *error = std::string(outPath) + ": " + why;
        result = kToolOutput;
    }
    if (result != kToolOk) {
        abandonCanonicalWriter(&writer);
        return result;
    }
    if (commitCanonicalWriter(&writer, &why) != kWriteOk) {
        *error = std::string(outPath) + ": " + why;
        return kToolOutput;
    }
    return kToolOk;
}
