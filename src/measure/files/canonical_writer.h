// Writes the one layout korvane plays: the 44-byte header (RIFF, a 16-byte "fmt " chunk,
// "data") and interleaved 32-bit float samples. The file is written beside its final name
// and renamed into place only when complete, so a failed run leaves no half file and an
// output that names the input does not destroy it before it has been read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Every size field is 32 bits; the RIFF size adds 36 to the data size.
constexpr uint64_t kMaxCanonicalDataBytes = 0xFFFFFFFFull - 36;

enum WriteResult : int {
    kWriteOk = 0,
    kWriteTooLarge = 1,
    kWriteFailed = 2,
};

struct CanonicalWriter {
    FILE* file = nullptr;
    std::string path;
    std::string partPath;
    uint32_t channels = 0;
    uint32_t frames = 0; // announced in the header
    uint32_t written = 0;
};

// Whether channels x frames floats fit the 32-bit size fields.
bool canonicalSizeFits(uint32_t channels, uint64_t frames);
// The most frames of that many channels that fit them.
uint64_t maxCanonicalFrames(uint32_t channels);

WriteResult openCanonicalWriter(CanonicalWriter* writer, const char* path, uint32_t channels,
                                uint32_t sampleRate, uint64_t frames, std::string* error);
// Interleaved float bits.
WriteResult writeCanonicalFrames(CanonicalWriter* writer, const uint32_t* samples, uint32_t frames,
                                 std::string* error);
WriteResult writeCanonicalSilence(CanonicalWriter* writer, uint64_t frames, std::string* error);
// Closes the file and puts it in place; on failure nothing is left behind.
WriteResult commitCanonicalWriter(CanonicalWriter* writer, std::string* error);
// Closes and removes the partial file.
void abandonCanonicalWriter(CanonicalWriter* writer);

// Whether korvane's own probe takes the file at path as one it plays, of this shape.
bool korvaneProbeAccepts(const char* path, uint32_t channels, uint32_t frames);
