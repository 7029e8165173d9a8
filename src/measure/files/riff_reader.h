// A general RIFF/WAVE reader: integer PCM and IEEE float in the plain, 18-byte and
// extensible format chunks, other chunks in any order. Samples are streamed, never held
// whole, and come out as 32-bit float bits: integers divided by 2^(bits-1), 8-bit centred
// on 128, 64-bit floats rounded, nothing clipped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr uint32_t kWaveFormatPcm = 1;
constexpr uint32_t kWaveFormatFloat = 3;
constexpr uint32_t kWaveFormatExtensible = 0xFFFE;

// The plain format chunk; 18 adds the extension size; the extensible form needs 40.
constexpr uint32_t kFormatPlainBytes = 16;
constexpr uint32_t kFormatExtensionBytes = 18;
constexpr uint32_t kFormatExtensibleBytes = 40;
constexpr uint32_t kExtensibleExtraBytes = 22;

// Samples move through work blocks of about this size.
constexpr uint32_t kReadBlockBytes = 1u << 20;

// How many frames to take at a time into a buffer of whole samples: about a million
// samples, and never more frames than the file holds, however many channels it claims.
uint32_t framesPerStep(uint32_t channels, uint64_t frames);

enum ReadResult : int {
    kReadOk = 0,
    kReadCannotOpen = 1,
    kReadBadFile = 2, // refused: the message says what is wrong
};

struct WavFormat {
    uint32_t encoding = 0; // kWaveFormatPcm or kWaveFormatFloat, after the extensible subformat
    uint32_t channels = 0;
    uint32_t sampleRate = 0;
    uint32_t bitsPerSample = 0; // the container: 8, 16, 24, 32 or 64
    uint32_t validBits = 0;     // extensible only; else bitsPerSample
    uint32_t blockAlign = 0;
    uint32_t formatChunkBytes = 0;
    bool extensible = false;
};

struct RiffReader {
    FILE* file = nullptr;
    WavFormat format;
    uint32_t frames = 0;        // whole frames in the data chunk
    uint32_t framesLeft = 0;    // not yet read
    uint32_t trailingBytes = 0; // of the data chunk, after its last whole frame
    uint64_t offset = 0;        // bytes consumed from the start of the file
    uint64_t riffEnd = 0;       // where the RIFF form ends, by its size field
    uint64_t dataStart = 0;
    uint64_t dataEnd = 0;                 // past the data chunk's pad byte (if the form holds one)
    bool canonical = false;               // the 44-byte layout korvane plays, 32-bit float
    std::vector<std::string> otherChunks; // ids of the chunks passed over, in file order
    std::vector<uint8_t> block;
};

// Opens the file and walks the chunks up to the first sample. On failure the reader is
// closed and *error says what is wrong (without the path).
ReadResult openRiffReader(RiffReader* reader, const char* path, std::string* error);
// Reads up to maxFrames frames as interleaved float bits; *got is 0 only at the end.
ReadResult readRiffFrames(RiffReader* reader, uint32_t* out, uint32_t maxFrames, uint32_t* got,
                          std::string* error);
// After the last frame: walks the chunks behind the data, so that a broken tail is found too.
ReadResult finishRiffReader(RiffReader* reader, std::string* error);
void closeRiffReader(RiffReader* reader);

// Reads a whole file into one float vector per channel.
struct WavData {
    WavFormat format;
    bool canonical = false;
    uint32_t frames = 0;
    std::vector<std::vector<float>> channels;
};
ReadResult loadWavData(const char* path, WavData* data, std::string* error);

// "16-bit integer PCM (extensible)" and the like.
std::string describeFormat(const WavFormat& format);
// A chunk id as text, with bytes outside printable ASCII as \xNN.
std::string chunkIdText(const uint8_t* id);
