// The canonical 44-byte WAV header: RIFF, a 16-byte "fmt " chunk, then "data".
#pragma once

#include <cstdint>

constexpr uint32_t kWavHeaderBytes = 44;
constexpr uint32_t kWavFormatChunkBytes = 16;
constexpr uint32_t kWavFormatPcm = 1;
constexpr uint32_t kWavFormatFloat = 3;
constexpr uint32_t kWavFormatExtensible = 0xFFFE;

// Results shared by the probe and the loader.
enum WavResult : int {
    kWavOk = 0,
    kWavCannotOpen = 1,
    kWavNotRiffWave = 2,
    kWavNotCanonical = 3,
    kWavNoMemory = 4 // loader only: a store could not be allocated
};

// Reads the header only. The five outputs are written together, and only on kWavOk.
// A channel count of 0 or fewer than 8 bits per sample gives kWavNotCanonical.
WavResult probeWavFile(const char* path, uint32_t* formatTag, uint32_t* sampleRate,
                       uint32_t* bitsPerSample, uint32_t* channelCount, uint32_t* frameCount);
