#include "measure/files/canonical_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "measure/text/number_text.h"
#include "wav/wav_format.h"
#include "wav/wav_io.h"

namespace {

std::string systemError() {
    return std::strerror(errno);
}

bool putBytes(CanonicalWriter* writer, const void* bytes, size_t count, std::string* error) {
    if (std::fwrite(bytes, 1, count, writer->file) != count) {
        *error = "it cannot be written (" + systemError() + ")";
        return false;
    }
    return true;
}

} // namespace

uint64_t maxCanonicalFrames(uint32_t channels) {
    return kMaxCanonicalDataBytes / 4 / (channels > 0 ? channels : 1);
}

namespace {

std::string uniqueSuffix() {
    std::random_device random;
    char text[24];
    std::snprintf(text, sizeof text, "%08x%08x", unsigned(random()), unsigned(random()));
    return text;
}

} // namespace

bool canonicalSizeFits(uint32_t channels, uint64_t frames) {
    return frames <= maxCanonicalFrames(channels);
}

WriteResult openCanonicalWriter(CanonicalWriter* writer, const char* path, uint32_t channels,
                                uint32_t sampleRate, uint64_t frames, std::string* error) {
    *writer = CanonicalWriter();
    if (channels == 0 || channels > 0xFFFF || !canonicalSizeFits(channels, frames)) {
        *error = "it would hold " + countText(frames, "frame") + " of " +
                 countText(channels, "channel") +
                 ", more than the 4 GiB a WAV file's 32-bit sizes allow";
        return kWriteTooLarge;
    }
    writer->path = path;
    // A name of its own: processes writing the same file at once never share one.
    writer->partPath = writer->path + ".part-" + uniqueSuffix();
    writer->channels = channels;
    writer->frames = uint32_t(frames);
    writer->file = std::fopen(writer->partPath.c_str(), "wb");
    if (writer->file == nullptr) {
        *error = "it cannot be created (" + writer->partPath + ": " + systemError() + ")";
        return kWriteFailed;
    }
    uint8_t header[kWavHeaderBytes];
    writeWavHeader(header, channels, sampleRate, writer->frames);
    if (!putBytes(writer, header, sizeof header, error)) {
        abandonCanonicalWriter(writer);
        return kWriteFailed;
    }
    return kWriteOk;
}

WriteResult writeCanonicalFrames(CanonicalWriter* writer, const uint32_t* samples, uint32_t frames,
                                 std::string* error) {
    if (uint64_t(writer->written) + frames > writer->frames) {
        *error = "more frames than announced";
        return kWriteFailed;
    }
    const size_t count = size_t(frames) * writer->channels;
    std::vector<uint8_t> bytes(count * 4);
    for (size_t i = 0; i < count; ++i) {
        storeLe32(bytes.data() + 4 * i, samples[i]);
    }
    if (!putBytes(writer, bytes.data(), bytes.size(), error)) {
        return kWriteFailed;
    }
    writer->written += frames;
    return kWriteOk;
}

WriteResult writeCanonicalSilence(CanonicalWriter* writer, uint64_t frames, std::string* error) {
    if (writer->written + frames > writer->frames) {
        *error = "more frames than announced";
        return kWriteFailed;
    }
    const std::vector<uint8_t> zeros(65536);
    uint64_t bytes = frames * writer->channels * 4;
    while (bytes > 0) {
        const size_t step = size_t(bytes < zeros.size() ? bytes : zeros.size());
        if (!putBytes(writer, zeros.data(), step, error)) {
            return kWriteFailed;
        }
        bytes -= step;
    }
    writer->written += uint32_t(frames);
    return kWriteOk;
}

WriteResult commitCanonicalWriter(CanonicalWriter* writer, std::string* error) {
    if (writer->written != writer->frames) {
        *error = "it was not written in full";
        abandonCanonicalWriter(writer);
        return kWriteFailed;
    }
    const int closed = std::fclose(writer->file);
    writer->file = nullptr;
    if (closed != 0) {
        *error = "it cannot be written (" + systemError() + ")";
        std::remove(writer->partPath.c_str());
        return kWriteFailed;
    }
    // Windows does not rename onto an existing file; elsewhere the first try replaces it.
    bool renamed = std::rename(writer->partPath.c_str(), writer->path.c_str()) == 0;
    if (!renamed && (errno == EEXIST || errno == EACCES)) {
        std::remove(writer->path.c_str());
        renamed = std::rename(writer->partPath.c_str(), writer->path.c_str()) == 0;
    }
    if (!renamed) {
        *error = "it cannot be replaced by " + writer->partPath + " (" + systemError() + ")";
        std::remove(writer->partPath.c_str());
        return kWriteFailed;
    }
    return kWriteOk;
}

void abandonCanonicalWriter(CanonicalWriter* writer) {
    if (writer->file != nullptr) {
        std::fclose(writer->file);
        writer->file = nullptr;
        std::remove(writer->partPath.c_str());
    }
}

bool korvaneProbeAccepts(const char* path, uint32_t channels, uint32_t frames) {
    uint32_t tag = 0;
    uint32_t rate = 0;
    uint32_t bits = 0;
    uint32_t probedChannels = 0;
    uint32_t probedFrames = 0;
    return probeWavFile(path, &tag, &rate, &bits, &probedChannels, &probedFrames) == kWavOk &&
           tag == kWavFormatFloat && bits == 32 && probedChannels == channels &&
           probedFrames == frames;
}
