#pragma once

// Process exit codes: one per refusal, 0 for a complete run.
enum ExitCode : int {
    kExitDone = 0,
    kExitUsage = 1,
    kExitPlayFile = 2,
    kExitFormat = 3,
    kExitDriverLoad = 4,
    kExitDriverInit = 5,
    kExitChannels = 6,
    kExitBufferSize = 7,
    kExitSampleRate = 8,
    kExitCreateBuffers = 9,
    kExitNativeFormat = 10,
    kExitStart = 11,
    kExitRecordFile = 12,
    kExitNoMemory = 13,
    kExitInterrupted = 14,
    kExitTooLong = 15,
    kExitLostBlocks = 16
};
