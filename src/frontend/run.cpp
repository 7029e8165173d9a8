#include "frontend/run.h"

#include <cmath>
#include <cstdio>

#include "engine/buffer_setup.h"
#include "engine/buffer_switch.h"
#include "frontend/command_line.h"
#include "frontend/exit_codes.h"
#include "frontend/run_state.h"
#include "host/driver_manager.h"
#include "host/host_calls.h"
#include "platform/interrupt.h"
#include "platform/win32.h"
#include "wav/play_loader.h"
#include "wav/record_writer.h"
#include "wav/wav_format.h"

namespace {

// A set-up step that passes returns this; every other value is the exit code.
constexpr int kGoOn = -1;

struct RunArguments {
    const char* driverName;
    const char* playPath;
    const char* recordPath;
    int32_t firstOutput;
    int32_t inputCount;
    int32_t firstInput;
};

// How far set-up got. Each stage holds everything of the stages before it.
enum Held { kHeldNothing, kHeldDriver, kHeldInitialised, kHeldBuffers, kHeldStores };

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

int refuse(Held held, int code) {
    releaseHeld(held);
    return code;
}

// Signed as printed; a value past the 32-bit range is shown wrapped, never converted
// with undefined behaviour.
int32_t asSigned(uint32_t value) {
    return value <= 0x7FFFFFFFu ? static_cast<int32_t>(value)
                                : static_cast<int32_t>(static_cast<int64_t>(value) - 0x100000000);
}

int checkPlayFile(const RunArguments& args) {
    uint32_t formatTag = 0;
    uint32_t bitsPerSample = 0;
    if (probeWavFile(args.playPath, &formatTag, &playSampleRate, &bitsPerSample, &playChannels,
                     &playFramesLeft) != kWavOk) {
        std::printf("Error: Unable to load input WAV file %s!", args.playPath);
        return kExitPlayFile;
    }
    if (formatTag != kWavFormatFloat || bitsPerSample != 32) {
        std::printf("Error: Unsupported WAV file format! (This application support only 32bit "
                    "float WAV file)");
        return kExitFormat;
    }
    // Without one whole frame there is no buffer to play and the stop rule never fires.
    if (playFramesLeft == 0) {
        std::printf("Error: Unable to load input WAV file %s!", args.playPath);
        return kExitPlayFile;
    }
    // Found out now rather than after the whole run has been recorded.
    if (!canCreateRecordFile(args.recordPath)) {
        std::printf("Error: Unable to write output WAV file %s!\n", args.recordPath);
        return kExitRecordFile;
    }
    return kGoOn;
}

int openDriver(const RunArguments& args) {
    if (!loadDriverByName(args.driverName)) {
        std::printf("Error: Failed to load ASIO driver %s!", args.driverName);
        return kExitDriverLoad;
    }
    if (ASIOInit(&duplexState.driverInfo) != ASE_OK) {
        std::printf("Error: Failed to initialize ASIO driver!");
        return refuse(kHeldDriver, kExitDriverInit);
    }
    std::printf("ASIO Driver correctly initialized: %s\n", duplexState.driverInfo.name);
    return kGoOn;
}

// Besides the device's limits: first channels from 1 and at most 64 channels a side, which
// the buffer arrays and the stores rely on.
bool channelsFit(const RunArguments& args) {
    if (args.firstInput < 1 || args.firstOutput < 1 || args.inputCount < 0 ||
        args.inputCount > kMaxChannelsPerSide) {
        return false;
    }
    const uint32_t lastInput =
        static_cast<uint32_t>(args.firstInput) + static_cast<uint32_t>(args.inputCount) - 1u;
    const uint32_t lastOutput = playChannels + static_cast<uint32_t>(args.firstOutput) - 1u;
    return lastInput <= kMaxChannelsPerSide && lastOutput <= kMaxChannelsPerSide &&
           lastInput <= static_cast<uint32_t>(duplexState.inputChannelCount) &&
           lastOutput <= static_cast<uint32_t>(duplexState.outputChannelCount);
}

// The recording's data chunk and RIFF size must fit the header's 32-bit fields.
bool recordingFitsWav(const RunArguments& args) {
    const uint64_t buffers = (uint64_t{playFramesLeft} - 1) / bufferFrames + 1;
    const uint64_t paddedFrames = buffers * bufferFrames;
    const uint64_t riffBytes = paddedFrames * static_cast<uint64_t>(args.inputCount) * 4 + 36;
    return riffBytes <= 0xFFFFFFFFu;
}

int configureDevice(const RunArguments& args) {
    ASIOGetChannels(&duplexState.inputChannelCount, &duplexState.outputChannelCount);
    std::printf("Available driver channel: %d inputs; %d outputs\n", duplexState.inputChannelCount,
                duplexState.outputChannelCount);
    if (!channelsFit(args)) {
        std::printf("Error: Wrong input/output channel settings!");
        return refuse(kHeldInitialised, kExitChannels);
    }

    ASIOGetBufferSize(&duplexState.minBufferSize, &duplexState.maxBufferSize,
                      &duplexState.preferredBufferSize, &duplexState.bufferGranularity);
    std::printf("Permitted buffer size: %d to %d\n", duplexState.minBufferSize,
                duplexState.maxBufferSize);
    // A length of 0 would leave nothing to pad the playback to.
    if (bufferFrames > static_cast<uint32_t>(duplexState.maxBufferSize) ||
        bufferFrames < static_cast<uint32_t>(duplexState.minBufferSize) || bufferFrames == 0) {
        std::printf("Error: Unable to set ASIO buffer size to %d!", asSigned(bufferFrames));
        return refuse(kHeldInitialised, kExitBufferSize);
    }
    std::printf("Buffer Size set to %d sample\n", asSigned(bufferFrames));
    if (!recordingFitsWav(args)) {
        std::printf("Error: Recording exceeds the 4 GiB limit of a WAV file!\n");
        return refuse(kHeldInitialised, kExitTooLong);
    }

    const ASIOSampleRate rate = static_cast<ASIOSampleRate>(playSampleRate);
    if (ASIOCanSampleRate(rate) != ASE_OK || ASIOSetSampleRate(rate) != ASE_OK) {
        std::printf("Error: Failed to set sample rate as recquested to WAV input file!\n"
                    "This driver cannot run to %d Hz\n",
                    asSigned(playSampleRate));
        return refuse(kHeldInitialised, kExitSampleRate);
    }
    ASIOGetSampleRate(&duplexState.sampleRate);
    std::printf("SampleRate set to %0.0f\n", duplexState.sampleRate);
    return kGoOn;
}

int createBuffers(const RunArguments& args) {
    hostCallbacks.bufferSwitch = bufferSwitch;
    hostCallbacks.sampleRateDidChange = sampleRateDidChange;
    hostCallbacks.asioMessage = asioMessage;
    hostCallbacks.bufferSwitchTimeInfo = bufferSwitchTimeInfo;
    if (createDuplexBuffers(&duplexState, bufferFrames, args.inputCount, args.firstInput,
                            static_cast<int32_t>(playChannels), args.firstOutput) != ASE_OK) {
        std::printf("Error: Failed to create ASIO buffer for selected input!");
        return refuse(kHeldInitialised, kExitCreateBuffers);
    }
    ASIOGetLatencies(&duplexState.inputLatency, &duplexState.outputLatency);
    std::printf("ASIO driver latency: input: %d, output: %d\n", duplexState.inputLatency,
                duplexState.outputLatency);
    bytesPerSample = nativeSampleBytes();
    if (bytesPerSample == 0) {
        std::printf("Error: ASIO native format not supported!\n\n");
        return refuse(kHeldBuffers, kExitNativeFormat);
    }
    std::printf("ASIO native data fomat: LSB Integer %dbits\n", bytesPerSample * 8);
    return kGoOn;
}

// The device never starts without both stores complete.
int prepareStores(const RunArguments& args) {
    const int loaded = loadPlayFile(args.playPath);
    if (loaded == kWavNoMemory) {
        releaseHeld(kHeldStores);
        std::printf("Error: Not enough memory for the audio data!\n");
        return kExitNoMemory;
    }
    if (loaded != kWavOk) {
        // Changed or removed since the probe.
        releaseHeld(kHeldBuffers);
        std::printf("Error: Unable to load input WAV file %s!", args.playPath);
        return kExitPlayFile;
    }
    recordChannels = static_cast<uint32_t>(args.inputCount);
    recordFrames = playFramesLeft;
    if (!allocateRecordStore()) {
        releaseHeld(kHeldStores);
        std::printf("Error: Not enough memory for the audio data!\n");
        return kExitNoMemory;
    }
    return kGoOn;
}

int startDevice() {
    duplexState.streaming.store(true, std::memory_order_release);
    // From here to the stop, Ctrl+C and its kin end the stream instead of the process.
    installInterruptHandler();
    if (ASIOStart() != ASE_OK) {
        removeInterruptHandler();
        duplexState.streaming.store(false, std::memory_order_release);
        std::printf("Error: Failed to start ASIO driver!\n\n");
        return refuse(kHeldStores, kExitStart);
    }
    std::printf("\n\nPlay & Record Started!\n\n");
    return kGoOn;
}

void showProgressUntilStopped() {
    while (!duplexState.stopped.load(std::memory_order_acquire) && !interruptRequested()) {
        Sleep(100);
        std::printf(
            "%d ms / %d samples",
            asSigned(duplexState.lastSwitchTimeMs.load(std::memory_order_relaxed)),
            progressSampleCount(duplexState.samplePosition.load(std::memory_order_relaxed)));
        std::printf("     \r");
        std::fflush(stdout);
    }
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

int finish(const RunArguments& args) {
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
    ASIODisposeBuffers();
    ASIOExit();
    driverManager->releaseCurrentDriver();
    std::printf(complete ? "\n\nPlay & Record Stopped!\n\n" : "\n\nPlay & Record Interrupted!\n\n");

    const uint32_t outOfStep = duplexState.lostSwitches.load() + duplexState.streamNotices.load();
    if (outOfStep != 0) {
        std::printf("Warning: %u buffer switches lost or out of step; the recording may not be "
                    "aligned!\n",
                    static_cast<unsigned>(outOfStep));
    }
    releasePlayStore();
    std::printf("Converting and storing recorded data...\n");
    const int written = writeRecordFileFrames(args.recordPath, frames);
    const uint32_t framesWanted = recordFrames;
    releaseRecordStore();
    removeInterruptHandler();
    if (written != kRecordWritten) {
        std::printf("Error: Unable to write output WAV file %s!\n", args.recordPath);
        return kExitRecordFile;
    }
    if (!complete) {
        std::printf("Recording cut short: %u of %u frames.\n", static_cast<unsigned>(frames),
                    static_cast<unsigned>(framesWanted));
        return kExitInterrupted;
    }
    std::printf("Done!\n");
    return outOfStep != 0 ? kExitLostBlocks : kExitDone;
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
    printBanner(stdout);
    if (argc != kArgumentCount) {
        printUsage(stdout);
        return kExitUsage;
    }
    RunArguments args{};
    args.driverName = argv[1];
    bufferFrames = static_cast<uint32_t>(convertDecimal(argv[2]));
    args.playPath = argv[3];
    args.firstOutput = convertDecimal(argv[4]);
    args.recordPath = argv[5];
    args.inputCount = convertDecimal(argv[6]);
    args.firstInput = convertDecimal(argv[7]);

    int code = checkPlayFile(args);
    if (code == kGoOn) {
        code = openDriver(args);
    }
    if (code == kGoOn) {
        code = configureDevice(args);
    }
    if (code == kGoOn) {
        code = createBuffers(args);
    }
    if (code == kGoOn) {
        code = prepareStores(args);
    }
    if (code == kGoOn) {
        code = startDevice();
    }
    if (code != kGoOn) {
        return code;
    }
    showProgressUntilStopped();
    return finish(args);
}
