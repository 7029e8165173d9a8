// The checks that can refuse a run, each made where the run has its inputs: the playback
// file's header, the recording path, the driver's channel counts and buffer-size limits.
// They print nothing; the run prints the refusal.
#pragma once

#include <cstdint>

// The channel arguments as converted from the command line, counted from 1 as typed.
struct ChannelChoice {
    int32_t firstOutput;
    int32_t inputCount;
    int32_t firstInput;
};

enum PlayFileVerdict { kPlayable, kUnreadable, kNotFloat32 };

// Probes the playback file into playSampleRate, playChannels and playFramesLeft.
// kUnreadable also for a file without one whole frame, which would never stop playing.
// kNotFloat32 with the file's format tag and sample width, where given.
PlayFileVerdict checkPlayFile(const char* playPath, uint32_t* formatTag = nullptr,
                              uint32_t* bitsPerSample = nullptr);

// Whether the recording can be created there without touching the playback file, under
// whatever name it is given; when it cannot be created, *systemError is errno (0 when it
// is the playback file).
bool recordPathUsable(const char* recordPath, const char* playPath, int* systemError = nullptr);

// Within the device's channel counts, first channels from 1 and at most 64 a side, which
// the buffer arrays and the stores rely on. Reads playChannels and the device's counts.
bool channelsFit(const ChannelChoice& channels);

// bufferFrames within the driver's limits, compared as unsigned, and not 0.
bool bufferLengthFits();

// Whether the recording of playFramesLeft frames, padded to whole buffers of bufferFrames,
// fits the 32-bit sizes of a WAV header.
bool recordingFitsWav(int32_t inputCount);
