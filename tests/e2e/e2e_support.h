// Shared pieces of the end-to-end tests: the program run as a child against the loopback
// driver, canonical WAV files written and read back, the driver's trace, and the recording
// the loopback must give back, computed through the native sample conversions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/text_lines.h"
#include "support/wav_bytes.h"

constexpr const char* kLoopbackName = "Korvane Loopback";

// A fresh folder of the system's temporary directory, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Full path of a file inside the folder.
    std::string file(const std::string& name) const;

private:
    std::string root;
};

// True when the programs under test are the Windows build (run under Wine here).
bool windowsBuild();
// True when child processes run under a wrapper (KORVANE_CHILD_WRAPPER) or the binaries are
// built with a sanitizer that reserves a huge address space: no address-space limit then.
bool addressSpaceLimitUsable();

// The program with seven arguments and the loopback configured by `loopback`
// (KORVANE_LOOPBACK; empty: the driver's defaults). The Linux build reads the registry file
// that the build writes beside the program.
ChildResult runKorvane(const std::vector<std::string>& args, const std::string& loopback,
                       uint64_t addressSpaceLimit = 0);

// The three banner lines every invocation starts with.
std::string bannerText();
// What korvane prints after the banner when the arguments are not seven.
std::string usageText();

// What the run prints from the driver's initialisation to the native format line, for a
// driver that reports these values.
struct SetupReport {
    std::string driverName = kLoopbackName;
    int inputs = 8;
    int outputs = 8;
    int minBuffer = 16;
    int maxBuffer = 8192;
    int buffer = 256;
    int rate = 44100;
    int inputLatency = 256;
    int outputLatency = 256;
    int bits = 32;
};
std::string initText(const SetupReport& r);        // up to the channel counts
std::string bufferText(const SetupReport& r);      // the permitted sizes and the size set
std::string rateText(const SetupReport& r);        // the rate read back and the latencies
std::string formatText(const SetupReport& r);      // the native format line
std::string setupText(const SetupReport& r);       // all four above
std::string completeRunText(const SetupReport& r); // banner to "Done!\n", progress removed

// Replaces the progress span between "Play & Record Started!" and "Play & Record Stopped!"
// by nothing when it is made only of "%d ms / %d samples     \r" lines; otherwise the text
// is returned unchanged, so that a comparison with the expected text shows the difference.
// `samples`, when given, receives the sample position of every progress line removed.
std::string withoutProgress(const std::string& out, std::vector<long long>* samples = nullptr);

struct WavFile {
    bool read = false; // the file exists and holds at least a whole header
    uint64_t fileSize = 0;
    std::string riff, wave, fmt, data;
    uint32_t riffSize = 0, fmtSize = 0, rate = 0, byteRate = 0, dataSize = 0;
    uint16_t formatTag = 0, channels = 0, blockAlign = 0, bits = 0;
    std::vector<float> samples; // whatever whole samples follow the header
};
WavFile readWav(const std::string& path);

// Native conversions: the loader's float to native (x times the width's factor, truncated
// toward zero, clipped to the native range, NaN to 0) and the writer's native to float.
int32_t toNative(float x, int bytes);
float fromNative(int32_t n, int bytes);

// The geometry of one run through the loopback.
struct LoopbackRun {
    uint32_t channels = 1; // channels of the playback file
    uint32_t frames = 0;   // frames of the playback file
    uint32_t buffer = 256;
    int bytes = 4;          // native width
    uint32_t playStart = 1; // 1-based, as typed
    uint32_t recordCount = 1;
    uint32_t recordStart = 1; // 1-based, as typed
    uint32_t outputs = 8;     // output channels of the device
    uint32_t delay = 512;     // loopback delay in frames
    uint32_t dropSwitch = 0;  // the switch (from 1) at which the device loses a period
};
// Frames of the recording: the playback length padded to whole buffers.
uint32_t paddedFrames(const LoopbackRun& run);
// The interleaved recording the loopback gives back for the interleaved playback samples:
// input i records output i `delay` frames later, silence before, silence on inputs without
// a played output. A lost period leaves a gap in device time: what was played in it is
// never heard, and the inputs of the switches after it hear device time one buffer on.
std::vector<float> expectedRecording(const LoopbackRun& run, const std::vector<float>& play);

// The loopback's trace of getChannelInfo, inputs first; first channels counted from 1.
std::vector<std::string> channelInfoCalls(int inputs, int outputs, int firstInput = 1,
                                          int firstOutput = 1);
// The loopback's trace of a set-up at 44100 Hz from init to getLatencies.
std::vector<std::string> setUpCalls(int inputs, int outputs, int buffer = 256, int firstInput = 1,
                                    int firstOutput = 1);
// The first word of each line (the call's name).
std::vector<std::string> callNames(const std::vector<std::string>& lines);

// Checks `condition` until it holds; false if the child ends first, or after a minute.
bool waitUntil(ChildProcess& child, const std::function<bool()>& condition);

// Every test gets a scratch folder with a playback file (1 channel, 44100 Hz, 1000 frames
// of a ramp), a recording path and a trace path, and runs the program on the fast clock
// with the driver's trace on.
class E2eTest : public ::testing::Test {
protected:
    void SetUp() override;

    // The seven arguments: driver name, buffer length, playback path, first output,
    // recording path, input count, first input.
    std::vector<std::string> args(const std::string& buffer, const std::string& playPath,
                                  const std::string& firstOutput, const std::string& recordPath,
                                  const std::string& inputCount,
                                  const std::string& firstInput) const;
    // The loopback by its name with the default playback and recording paths.
    std::vector<std::string> args(const std::string& buffer, const std::string& firstOutput,
                                  const std::string& inputCount,
                                  const std::string& firstInput) const;
    // `loopback` is added to "trace=...,clock=fast"; a later clock= overrides it.
    ChildResult run(const std::vector<std::string>& args, const std::string& loopback = "",
                    uint64_t addressSpaceLimit = 0);
    std::vector<std::string> trace() const { return readLines(tracePath); }

    ScratchDir dir;
    std::string playPath;
    std::string recordPath;
    std::string tracePath;
    std::vector<float> playSamples;
};
