#include "frontend/run.h"

#include <cmath>
#include <cstdio>

#include "engine/buffer_setup.h"
#include "engine/buffer_switch.h"
#include "frontend/command_line.h"
#include "frontend/exit_codes.h"
#include "frontend/refusal_notes.h"
#include "frontend/run_checks.h"
#include "engine/run_state.h"
#include "host/driver_manager.h"
#include "host/host_calls.h"
#include "platform/interrupt.h"
#include "platform/text_out.h"
#include "platform/win32.h"
#include "wav/play_loader.h"
#include "wav/record_writer.h"
#include "wav/wav_format.h"

namespace {

// A set-up step that passes returns this; any other value is the exit code of the run.
constexpr int kNextStep = -1;

// How far set-up got. Each stage holds everything of the stages before it.
enum Held { kHeldNothing, kHeldDriver, kHeldInitialised, kHeldBuffers, kHeldStores };

struct Run {
    const char* driverName;
    const char* bufferText;
    const char* playPath;
    const char* recordPath;
    ChannelChoice channels;
    Held held;
};

// Releases what exists, in this order: buffers, driver interface, driver object, stores.
// ASIOExit already removes the driver, so the manager then finds nothing; the stores go
// only after the driver can no longer call back into them.
void releaseHeld(Held held) {
    if (held >= kHeldBuffers) {
        ASIODisposeBuffers();
    }
    if (held >= kHeldInitialised) {
        ASIOExit();
    }
    if (held >= kHeldDriver && driverManager != nullptr) {
        driverManager->releaseCurrentDriver();
    }
    if (held >= kHeldStores) {
        releasePlayStore();
        releaseRecordStore();
    }
}

// Signed as printed; a value past the 32-bit range is shown wrapped, never converted
// with undefined behaviour.
int32_t asSigned(uint32_t value) {
    return value <= 0x7FFFFFFFu ? static_cast<int32_t>(value)
                                : static_cast<int32_t>(static_cast<int64_t>(value) - 0x100000000);
}

int probePlayFile(Run& run) {
    uint32_t formatTag = 0;
    uint32_t bits = 0;
    switch (checkPlayFile(run.playPath, &formatTag, &bits)) {
    case kPlayable:
        return kNextStep;
    case kNotFloat32:
        printText(stdout,
                  "Error: Unsupported WAV file format! (This application support only 32bit "
                  "float WAV file)");
        notePlayFormat(run.playPath, formatTag, bits);
        return kExitFormat;
    case kUnreadable:
        break;
    }
    printText(stdout, "Error: Unable to load input WAV file %s!", run.playPath);
    return kExitPlayFile;
}

// Found out now rather than after the whole run has been recorded.
int checkRecordPath(Run& run) {
    int systemError = 0;
    if (!recordPathUsable(run.recordPath, run.playPath, &systemError)) {
        printText(stdout, "Error: Unable to write output WAV file %s!\n", run.recordPath);
        noteRecordPath(run.recordPath, run.playPath, systemError);
        return kExitRecordFile;
    }
    return kNextStep;
}

int loadDriver(Run& run) {
    if (!loadDriverByName(run.driverName)) {
        printText(stdout, "Error: Failed to load ASIO driver %s!",
                  ansiToUtf8(run.driverName).c_str());
        noteDriverName(run.driverName);
        return kExitDriverLoad;
    }
    run.held = kHeldDriver;
    return kNextStep;
}

int initDriver(Run& run) {
    if (ASIOInit(&duplexState.driverInfo) != ASE_OK) {
        printText(stdout, "Error: Failed to initialize ASIO driver!");
        return kExitDriverInit;
    }
    run.held = kHeldInitialised;
    printText(stdout, "ASIO Driver correctly initialized: %s\n",
              ansiToUtf8(duplexState.driverInfo.name).c_str());
    return kNextStep;
}

int checkChannels(Run& run) {
    ASIOGetChannels(&duplexState.inputChannelCount, &duplexState.outputChannelCount);
    printText(stdout, "Available driver channel: %d inputs; %d outputs\n",
              duplexState.inputChannelCount, duplexState.outputChannelCount);
    if (!channelsFit(run.channels)) {
        printText(stdout, "Error: Wrong input/output channel settings!");
        noteChannels(run.channels);
        return kExitChannels;
    }
    return kNextStep;
}

int checkBufferLength(Run& run) {
    ASIOGetBufferSize(&duplexState.minBufferSize, &duplexState.maxBufferSize,
                      &duplexState.preferredBufferSize, &duplexState.bufferGranularity);
    printText(stdout, "Permitted buffer size: %d to %d\n", duplexState.minBufferSize,
              duplexState.maxBufferSize);
    if (!bufferLengthFits()) {
        printText(stdout, "Error: Unable to set ASIO buffer size to %d!", asSigned(bufferFrames));
        noteBufferLimits(run.bufferText, bufferFrames, duplexState.minBufferSize,
                         duplexState.maxBufferSize);
        return kExitBufferSize;
    }
    printText(stdout, "Buffer Size set to %d sample\n", asSigned(bufferFrames));
    if (!isWholeNumber(run.bufferText)) {
        noteBufferRead(run.bufferText, bufferFrames);
    }
    if (!recordingFitsWav(run.channels.inputCount)) {
        printText(stdout, "Error: Recording exceeds the 4 GiB limit of a WAV file!\n");
        return kExitTooLong;
    }
    return kNextStep;
}

int setSampleRate(Run&) {
    const ASIOSampleRate rate = static_cast<ASIOSampleRate>(playSampleRate);
    if (ASIOCanSampleRate(rate) != ASE_OK || ASIOSetSampleRate(rate) != ASE_OK) {
        printText(stdout,
                  "Error: Failed to set sample rate as recquested to WAV input file!\n"
                  "This driver cannot run to %d Hz\n",
                  asSigned(playSampleRate));
        return kExitSampleRate;
    }
    ASIOGetSampleRate(&duplexState.sampleRate);
    printText(stdout, "SampleRate set to %0.0f\n", duplexState.sampleRate);
    return kNextStep;
}

int createBuffers(Run& run) {
    hostCallbacks.bufferSwitch = bufferSwitch;
    hostCallbacks.sampleRateDidChange = sampleRateDidChange;
    hostCallbacks.asioMessage = asioMessage;
    hostCallbacks.bufferSwitchTimeInfo = bufferSwitchTimeInfo;
    if (createDuplexBuffers(&duplexState, bufferFrames, run.channels.inputCount,
                            run.channels.firstInput, static_cast<int32_t>(playChannels),
                            run.channels.firstOutput) != ASE_OK) {
        printText(stdout, "Error: Failed to create ASIO buffer for selected input!");
        return kExitCreateBuffers;
    }
    run.held = kHeldBuffers;
    return kNextStep;
}

int decideNativeFormat(Run&) {
    ASIOGetLatencies(&duplexState.inputLatency, &duplexState.outputLatency);
    printText(stdout, "ASIO driver latency: input: %d, output: %d\n", duplexState.inputLatency,
              duplexState.outputLatency);
    bytesPerSample = nativeSampleBytes();
    if (bytesPerSample == 0) {
        printText(stdout, "Error: ASIO native format not supported!\n\n");
        return kExitNativeFormat;
    }
    printText(stdout, "ASIO native data fomat: LSB Integer %dbits\n", bytesPerSample * 8);
    return kNextStep;
}

// The loader frees what it allocated when it fails.
int loadPlayback(Run& run) {
    const int loaded = loadPlayFile(run.playPath);
    if (loaded == kWavNoMemory) {
        printText(stdout, "Error: Not enough memory for the audio data!\n");
        return kExitNoMemory;
    }
    if (loaded != kWavOk) {
        // Changed or removed since the probe.
        printText(stdout, "Error: Unable to load input WAV file %s!", run.playPath);
        return kExitPlayFile;
    }
    run.held = kHeldStores;
    return kNextStep;
}

int allocateRecording(Run& run) {
    recordChannels = static_cast<uint32_t>(run.channels.inputCount);
    recordFrames = playFramesLeft;
    if (!allocateRecordStore()) {
        printText(stdout, "Error: Not enough memory for the audio data!\n");
        return kExitNoMemory;
    }
    return kNextStep;
}

// The device never starts without both stores complete.
int startDevice(Run&) {
    duplexState.streaming.store(true, std::memory_order_release);
    if (ASIOStart() != ASE_OK) {
        duplexState.streaming.store(false, std::memory_order_release);
        printText(stdout, "Error: Failed to start ASIO driver!\n\n");
        return kExitStart;
    }
    printText(stdout, "\n\nPlay & Record Started!\n\n");
    return kNextStep;
}

using Step = int (*)(Run&);
constexpr Step kSetUp[] = {probePlayFile,      checkRecordPath,   loadDriver,        initDriver,
                           checkChannels,      checkBufferLength, setSampleRate,     createBuffers,
                           decideNativeFormat, loadPlayback,      allocateRecording, startDevice};

// Each step either passes or prints its refusal; then what is held is released. An
// interrupt before the device has started ends the run before the next step.
int setUp(Run& run) {
    for (const Step step : kSetUp) {
        int code = kNextStep;
        if (interruptRequested()) {
            printText(stdout, "Interrupted before Play & Record started: no recording written.\n");
            code = kExitInterrupted;
        } else {
            code = step(run);
        }
        if (code != kNextStep) {
            releaseHeld(run.held);
            return code;
        }
    }
    return kNextStep;
}

bool streamEnded() {
    return duplexState.stopped.load(std::memory_order_acquire) || interruptRequested() ||
           duplexState.resetRequested.load(std::memory_order_acquire);
}

// A device lost mid-run ends the run as an interrupt does, with what was recorded: one that
// stops calling back would hold a script's run for ever (after the longer of 2 s and 20
// buffer periods without a switch it counts as lost), and one whose driver asks for a reset
// is gone or changed, whatever the driver's own clock goes on delivering.
enum class Loss { kNone, kSilent, kReset };
struct Stall {
    Loss loss;
    DWORD silentMs;    // how long no switch came
    uint32_t switches; // switches before that
    char why[256];     // the driver's text on a reset, asked while it is still there
};

DWORD stallLimitMs() {
    constexpr double kLeastMs = 2000;
    constexpr double kPeriods = 20;
    const double rate = duplexState.sampleRate > 0 ? duplexState.sampleRate : 1;
    return static_cast<DWORD>(std::fmax(kLeastMs, kPeriods * bufferFrames * 1000.0 / rate));
}

// Whether the device has gone silent: the switch count has not moved for the limit.
bool stalledSince(uint32_t* seen, DWORD* since, Stall* stall) {
    const uint32_t count = duplexState.switchCount.load(std::memory_order_relaxed);
    const DWORD now = timeGetTime();
    if (count != *seen) {
        *seen = count;
        *since = now;
        return false;
    }
    if (now - *since < stallLimitMs()) {
        return false;
    }
    stall->loss = Loss::kSilent;
    stall->silentMs = now - *since;
    stall->switches = count;
    return true;
}

// One progress line every 100 ms. The end is looked for every few milliseconds in between:
// the device is stopped and the recording written that much sooner, and a driver that goes
// on calling back until it is stopped spins for that much less.
Stall showProgressUntilStopped() {
    constexpr DWORD kLineMs = 100;
    constexpr DWORD kLookMs = 5;
    Stall stall{Loss::kNone, 0, 0, ""};
    uint32_t seen = duplexState.switchCount.load(std::memory_order_relaxed);
    DWORD since = timeGetTime();
    while (!streamEnded()) {
        const DWORD start = timeGetTime();
        do {
            Sleep(kLookMs);
            if (stalledSince(&seen, &since, &stall)) {
                return stall;
            }
        } while (timeGetTime() - start < kLineMs && !streamEnded());
        printText(stdout, "%d ms / %d samples",
                  asSigned(duplexState.lastSwitchTimeMs.load(std::memory_order_relaxed)),
                  progressSampleCount(duplexState.samplePosition.load(std::memory_order_relaxed)));
        printText(stdout, "     \r");
        std::fflush(stdout);
    }
    if (!duplexState.stopped.load(std::memory_order_acquire) && !interruptRequested() &&
        duplexState.resetRequested.load(std::memory_order_acquire)) {
        stall.loss = Loss::kReset;
        ASIOGetErrorMessage(stall.why, sizeof stall.why);
    }
    return stall;
}

// Which it was: korvane's own blocks out of step, or the device's events elsewhere (another
// client's xrun on a shared server) while every block of korvane's came in step.
void noteOutOfStep(uint32_t lost, uint32_t notices) {
    std::fflush(stdout);
    if (lost != 0) {
        printText(stderr,
                  "korvane: %u of korvane's own blocks came late or not at all (the sample "
                  "position skipped)\n",
                  static_cast<unsigned>(lost));
    }
    if (notices != 0) {
        printText(stderr,
                  "korvane: the driver reported %u %s on the device (resync or reset "
                  "requests)%s\n",
                  static_cast<unsigned>(notices),
                  notices == 1 ? "xrun or change" : "xruns or changes",
                  lost == 0 ? "; korvane's own blocks all came in step" : "");
    }
}

// Why the device was lost, on standard error after the run's own texts.
void noteLoss(const Stall& stall) {
    std::fflush(stdout);
    if (stall.loss == Loss::kSilent) {
        printText(stderr,
                  "korvane: no buffer switch came for %.1f s after %u blocks: the device "
                  "stopped calling back\n",
                  stall.silentMs / 1000.0, static_cast<unsigned>(stall.switches));
        return;
    }
    printText(stderr,
              "korvane: the driver asked for a reset: %s; the recording holds what came "
              "before\n",
              stall.why[0] != '\0' ? ansiToUtf8(stall.why).c_str()
                                   : "its device is gone or has changed");
}

// Frames every recorded channel holds once the device is stopped. While the material lasts,
// each switch that moves blocks records one buffer and takes one buffer off playFramesLeft
// (a switch that moves nothing takes nothing off), so the difference counts exactly the
// recorded frames, with or without recorded channels. Once stopped is up, playFramesLeft
// wraps past 0 and the store is full.
uint32_t framesRecorded(bool complete) {
    if (complete || playFramesLeft > recordFrames) {
        return recordFrames;
    }
    return recordFrames - playFramesLeft;
}

int finish(const Run& run, const Stall& stall) {
    ASIOStop();
    duplexState.streaming.store(false, std::memory_order_release);
    // No switch comes after the stop, so both values are final. An interrupt that came
    // after the last block of material still leaves a complete recording: a normal end.
    const bool complete = duplexState.stopped.load(std::memory_order_acquire);
    const uint32_t frames = framesRecorded(complete);
    // After an interrupt the handler stays until the recording is written, so that another
    // Ctrl+C, or a closed console held by the handler, does not lose it.
    if (!interruptRequested()) {
        removeInterruptHandler();
    }
    releaseHeld(kHeldBuffers); // the stores stay for the recording
    printText(stdout,
              complete ? "\n\nPlay & Record Stopped!\n\n" : "\n\nPlay & Record Interrupted!\n\n");

    const uint32_t lost = duplexState.lostSwitches.load();
    const uint32_t notices = duplexState.streamNotices.load();
    const uint32_t outOfStep = lost + notices;
    if (outOfStep != 0) {
        printText(stdout,
                  "Warning: %u buffer switches lost or out of step; the recording may not be "
                  "aligned!\n",
                  static_cast<unsigned>(outOfStep));
        noteOutOfStep(lost, notices);
    }
    releasePlayStore();
    printText(stdout, "Converting and storing recorded data...\n");
    const int written = writeRecordFileFrames(run.recordPath, frames);
    const uint32_t framesWanted = recordFrames;
    releaseRecordStore();
    if (written != kRecordWritten) {
        printText(stdout, "Error: Unable to write output WAV file %s!\n", run.recordPath);
        return kExitRecordFile;
    }
    if (!complete) {
        printText(stdout, "Recording cut short: %u of %u frames.\n", static_cast<unsigned>(frames),
                  static_cast<unsigned>(framesWanted));
        if (stall.loss != Loss::kNone) {
            noteLoss(stall);
            return kExitLostBlocks;
        }
        return kExitInterrupted;
    }
    printText(stdout, "Done!\n");
    return outOfStep != 0 ? kExitLostBlocks : kExitDone;
}

int playRecord(int argc, char** argv) {
    printBanner(stdout);
    if (argc != kArgumentCount) {
        printUsage(stdout);
        return kExitUsage;
    }
    Run run{};
    run.driverName = argv[1];
    run.bufferText = argv[2];
    bufferFrames = static_cast<uint32_t>(convertDecimal(argv[2]));
    run.playPath = argv[kPlayFileArgument];
    run.channels.firstOutput = convertDecimal(argv[4]);
    run.recordPath = argv[kRecordFileArgument];
    run.channels.inputCount = convertDecimal(argv[6]);
    run.channels.firstInput = convertDecimal(argv[7]);
    run.held = kHeldNothing;

    const int code = setUp(run);
    if (code != kNextStep) {
        return code;
    }
    const Stall stall = showProgressUntilStopped();
    return finish(run, stall);
}

} // namespace

int32_t progressSampleCount(double position) {
    double wrapped = std::fmod(std::trunc(position), 4294967296.0);
    if (wrapped < 0.0) {
        wrapped += 4294967296.0;
    }
    if (!(wrapped >= 0.0 && wrapped < 4294967296.0)) {
        return 0; // not a number
    }
    return asSigned(static_cast<uint32_t>(wrapped));
}

int runPlayRecord(int argc, char** argv) {
    // From the start, so that Ctrl+C and its kin during set-up end the run at its next
    // step, with what exists released and what was printed flushed, instead of killing it.
    installInterruptHandler();
    const int code = playRecord(argc, argv);
    std::fflush(stdout);
    removeInterruptHandler();
    return code;
}
