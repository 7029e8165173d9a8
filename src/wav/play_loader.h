#pragma once

#include "wav/wav_format.h"

// Converts the probed playback file into one native-integer block per channel, padded
// with silence to whole buffers. Refuses (kWavNotCanonical) a file whose header no longer
// matches what the probe left in playChannels, playSampleRate and playFramesLeft.
WavResult loadPlayFile(const char* path);
