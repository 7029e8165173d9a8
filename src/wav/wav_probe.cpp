#include <cstring>

#include "wav/wav_format.h"
#include "wav/wav_io.h"

static bool tagIs(const uint8_t* bytes, const char* tag) {
    return std::memcmp(bytes, tag, 4) == 0;
}

int readWavHeader(FILE* file, WavHeader* header) {
    // Bytes past the end of a short file stay zero, and no tag holds a zero byte, so a
    // header cut short fails at the first tag that was not read whole.
    uint8_t raw[kWavHeaderBytes] = {};
    const size_t got = std::fread(raw, 1, sizeof raw, file);
    if (!tagIs(raw, "RIFF") || !tagIs(raw + 8, "WAVE")) {
        return kWavNotRiffWave;
    }
    if (!tagIs(raw + 12, "fmt ") || loadLe32(raw + 16) != kWavFormatChunkBytes ||
        !tagIs(raw + 36, "data")) {
        return kWavNotCanonical;
    }
    if (got < sizeof raw) {
        return kWavNotCanonical; // ends within the data size
    }
    const uint32_t channels = loadLe16(raw + 22);
    const uint32_t bitsPerSample = loadLe16(raw + 34);
    if (channels == 0 || bitsPerSample < 8) {
        return kWavNotCanonical; // no frame size to count by
    }
    header->formatTag = loadLe16(raw + 20);
    header->channels = channels;
    header->sampleRate = loadLe32(raw + 24);
    header->bitsPerSample = bitsPerSample;
    header->dataBytes = loadLe32(raw + 40);
    header->frames = header->dataBytes / channels / (bitsPerSample / 8);
    return kWavOk;
}

int probeWavFile(const char* path, uint32_t* formatTag, uint32_t* sampleRate,
                 uint32_t* bitsPerSample, uint32_t* channelCount, uint32_t* frameCount) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return kWavCannotOpen;
    }
    WavHeader header{};
    const int result = readWavHeader(file, &header);
    std::fclose(file);
    if (result != kWavOk) {
        return result;
    }
    *formatTag = header.formatTag;
    *sampleRate = header.sampleRate;
    *bitsPerSample = header.bitsPerSample;
    *channelCount = header.channels;
    *frameCount = header.frames;
    return kWavOk;
}
