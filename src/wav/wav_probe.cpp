#include "platform/file_open.h"
#include "wav/wav_format.h"
#include "wav/wav_io.h"

void writeWavHeader(uint8_t* header, uint32_t channels, uint32_t sampleRate, uint32_t frames) {
    const uint32_t dataBytes = channels * frames * 4;
    std::memcpy(header, "RIFF", 4);
    storeLe32(header + 4, dataBytes + 36);
    std::memcpy(header + 8, "WAVE", 4);
    std::memcpy(header + 12, "fmt ", 4);
    storeLe32(header + 16, kWavFormatChunkBytes);
    storeLe16(header + 20, kWavFormatFloat);
    storeLe16(header + 22, channels);
    storeLe32(header + 24, sampleRate);
    storeLe32(header + 28, sampleRate * channels * 4);
    storeLe16(header + 32, channels * 4);
    storeLe16(header + 34, 32);
    std::memcpy(header + 36, "data", 4);
    storeLe32(header + 40, dataBytes);
}

WavResult readWavHeader(FILE* file, WavHeader* header) {
    // Bytes past the end of a short file stay zero, and no tag holds a zero byte, so a
    // header cut short fails at the first tag that was not read whole.
    uint8_t raw[kWavHeaderBytes] = {};
    const size_t got = std::fread(raw, 1, sizeof raw, file);
    if (!wavTagIs(raw, "RIFF") || !wavTagIs(raw + 8, "WAVE")) {
        return kWavNotRiffWave;
    }
    if (!wavTagIs(raw + 12, "fmt ") || loadLe32(raw + 16) != kWavFormatChunkBytes ||
        !wavTagIs(raw + 36, "data")) {
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

WavResult probeWavFile(const char* path, uint32_t* formatTag, uint32_t* sampleRate,
                       uint32_t* bitsPerSample, uint32_t* channelCount, uint32_t* frameCount) {
    FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        return kWavCannotOpen;
    }
    WavHeader header{};
    const WavResult result = readWavHeader(file, &header);
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
