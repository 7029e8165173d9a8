#pragma once

#include <cstdint>

enum RecordWriteResult : int {
    kRecordWritten = 0,
    kRecordCannotOpen = 1,
    kRecordWriteFailed = 2 // a write or the close failed; the partial file was removed
};

// Writes the recording store as a canonical float WAV file of recordFrames frames.
RecordWriteResult writeRecordFile(const char* path);
// The same for the first `frames` frames of every channel (a run cut short).
RecordWriteResult writeRecordFileFrames(const char* path, uint32_t frames);

// Whether the recording path can be created or opened for writing. Changes no existing
// file and leaves no new file behind. When it cannot, *systemError (if given) is errno.
bool canCreateRecordFile(const char* path, int* systemError = nullptr);
