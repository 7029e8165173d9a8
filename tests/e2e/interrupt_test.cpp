// Runs ended from outside while streaming: Ctrl+C (SIGINT), SIGTERM, a driver that never
// switches. The device must be stopped and torn down as after a normal end, and what was
// recorded up to the stop kept, its header describing exactly those frames.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/child_interrupt.h"
#include "support/fifo.h"

namespace {

const std::string kStarted = "\n\nPlay & Record Started!\n\n";
const std::string kStopped = "\n\nPlay & Record Stopped!\n\n";
const std::string kInterrupted = "\n\nPlay & Record Interrupted!\n\n";
const std::string kConverting = "Converting and storing recorded data...\n";

// Long enough that no test sees its end: 60 s, 2 channels.
constexpr uint32_t kRate = 44100;
constexpr uint32_t kChannels = 2;
constexpr uint32_t kFrames = 60 * kRate;
constexpr uint32_t kBuffer = 256;
constexpr int kWaitLimitMs = 60000;

std::vector<float> longSignal() {
    std::vector<float> samples(static_cast<size_t>(kFrames) * kChannels);
    for (uint32_t f = 0; f < kFrames; ++f) {
        for (uint32_t c = 0; c < kChannels; ++c) {
            samples[static_cast<size_t>(f) * kChannels + c] =
                0.8f * static_cast<float>(std::sin(0.01 * (c + 1) * f + c)) +
                static_cast<float>((f * 7 + c) % 64) / 8192.0f;
        }
    }
    return samples;
}

// The sample position of the last whole progress line; -1 before the first.
long long lastProgressSamples(const std::string& out) {
    const size_t end = out.rfind(" samples     \r");
    if (end == std::string::npos) {
        return -1;
    }
    size_t begin = end;
    while (begin > 0 && (std::isdigit(static_cast<unsigned char>(out[begin - 1])) != 0 ||
                         out[begin - 1] == '-')) {
        --begin;
    }
    return begin == end ? -1 : std::stoll(out.substr(begin, end - begin));
}

long long statValue(const std::vector<std::string>& lines, const std::string& key) {
    for (const std::string& line : lines) {
        const size_t at = line.find(" " + key + "=");
        if (line.rfind("stats ", 0) == 0 && at != std::string::npos) {
            return std::stoll(line.substr(at + key.size() + 2));
        }
    }
    return -1;
}

class Interrupts : public E2eTest {
protected:
    void SetUp() override {
        if (const char* why = childInterruptUnavailable()) {
            GTEST_SKIP() << why;
        }
        E2eTest::SetUp();
        longPath = dir.file("long.wav");
        longPlay = longSignal();
        ASSERT_TRUE(writeBytes(longPath, floatWav(kChannels, longPlay, kRate)));
        geometry.channels = kChannels;
        geometry.frames = kFrames;
        geometry.buffer = kBuffer;
        geometry.bytes = 4;
        geometry.recordCount = 3; // the third input has no output playing into it
        geometry.delay = 2 * kBuffer;
    }

    std::vector<std::string> longArgs(const std::string& recording) const {
        return args(std::to_string(kBuffer), longPath, "1", recording,
                    std::to_string(geometry.recordCount), "1");
    }

    // korvane on the real-time clock with the driver's trace on; `loopback` is added.
    bool start(ChildProcess& child, const std::vector<std::string>& arguments,
               const std::string& loopback, const std::string& trace) {
        std::vector<std::string> argv{programPath("korvane")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        ChildOptions options;
        std::string config = "trace=" + trace + ",clock=realtime";
        if (!loopback.empty()) {
            config += "," + loopback;
        }
        options.environment.push_back({"KORVANE_LOOPBACK", config});
        options.unset.push_back("KORVANE_REGISTRY");
        return child.start(argv, options);
    }

    // Steps the child through the trace written into `pipe`, one held call at a time, and
    // interrupts it while it is held at the first call named `interruptAt`. The calls.
    static std::vector<std::string> stepThrough(ChildProcess& child, const std::string& pipe,
                                                const std::string& interruptAt) {
        std::vector<std::string> calls;
        TraceLock lock(pipe);
        bool interrupted = false;
        for (std::string line; lock.next(child, &line);) {
            calls.push_back(line);
            if (!interrupted && line == interruptAt) {
                EXPECT_TRUE(child.interrupt());
                interrupted = true;
            }
            lock.release();
        }
        EXPECT_TRUE(interrupted) << "never held at " << interruptAt;
        return calls;
    }

    // Waits until the progress line shows at least `samples` (0: until it shows at all).
    static bool waitForProgress(const ChildProcess& child, long long samples) {
        for (int waited = 0; waited < kWaitLimitMs; waited += 10) {
            const std::string out = child.outputSoFar();
            if (out.find(kStarted) != std::string::npos && lastProgressSamples(out) >= samples) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Plays the long file into `record` with the `loopback` keys and, once `samples` have
    // played, interrupts korvane (or terminates it) and waits for its end.
    testing::AssertionResult stopLongRun(const std::string& record, const std::string& loopback,
                                         long long samples, bool terminate, ChildResult* result) {
        ChildProcess child;
        if (!start(child, longArgs(record), loopback, tracePath)) {
            return testing::AssertionFailure() << "korvane did not start";
        }
        if (!waitForProgress(child, samples)) {
            return testing::AssertionFailure() << child.outputSoFar();
        }
        if (!(terminate ? child.terminate() : child.interrupt())) {
            return testing::AssertionFailure() << "korvane could not be stopped";
        }
        *result = child.wait();
        return testing::AssertionSuccess();
    }

    // The output with the progress lines between the start and the interrupt taken out,
    // or unchanged when anything else is among them.
    static std::string withoutProgressBeforeInterrupt(const std::string& out) {
        const size_t from = out.find(kStarted);
        const size_t to = out.find(kInterrupted);
        if (from == std::string::npos || to == std::string::npos || to < from) {
            return out;
        }
        const size_t spanStart = from + kStarted.size();
        const std::string span = out.substr(spanStart, to - spanStart);
        if (withoutProgress(kStarted + span + kStopped) != kStarted + kStopped) {
            return out;
        }
        return out.substr(0, spanStart) + out.substr(to);
    }

    // Parses "Recording cut short: N of M frames.\n" at the end of the output; -1: missing.
    static long long cutShortFrames(const std::string& out, uint32_t of) {
        const std::string prefix = "Recording cut short: ";
        const std::string suffix = " of " + std::to_string(of) + " frames.\n";
        const size_t at = out.rfind(prefix);
        if (at == std::string::npos || out.size() < suffix.size() ||
            out.compare(out.size() - suffix.size(), suffix.size(), suffix) != 0) {
            return -1;
        }
        const size_t digits = at + prefix.size();
        const std::string number = out.substr(digits, out.size() - suffix.size() - digits);
        if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
            return -1;
        }
        return std::stoll(number);
    }

    static std::string interruptedText(const std::string& warning, long long frames, uint32_t of) {
        return bannerText() + setupText(SetupReport{}) + kStarted + kInterrupted + warning +
               kConverting + "Recording cut short: " + std::to_string(frames) + " of " +
               std::to_string(of) + " frames.\n";
    }

    // Header of exactly `frames` frames, and samples that are the loopback's delayed
    // playback up to there.
    void expectRecordedPrefix(const std::vector<uint8_t>& file, uint32_t frames) {
        ASSERT_TRUE(writeBytes(recordPath, file));
        expectRecordedPrefix(frames);
    }
    void expectRecordedPrefix(uint32_t frames) {
        const WavFile wav = readWav(recordPath);
        ASSERT_TRUE(wav.read);
        const uint32_t dataSize = frames * geometry.recordCount * 4;
        EXPECT_EQ(wav.riff, "RIFF");
        EXPECT_EQ(wav.riffSize, dataSize + 36);
        EXPECT_EQ(wav.formatTag, 3);
        EXPECT_EQ(wav.channels, geometry.recordCount);
        EXPECT_EQ(wav.rate, kRate);
        EXPECT_EQ(wav.byteRate, kRate * geometry.recordCount * 4);
        EXPECT_EQ(wav.blockAlign, geometry.recordCount * 4);
        EXPECT_EQ(wav.bits, 32);
        EXPECT_EQ(wav.dataSize, dataSize);
        EXPECT_EQ(wav.fileSize, 44u + dataSize);
        ASSERT_EQ(wav.samples.size(), static_cast<size_t>(frames) * geometry.recordCount);
        const std::vector<float> expected = expectedRecording(geometry, longPlay);
        int mismatches = 0;
        for (size_t i = 0; i < wav.samples.size() && mismatches < 5; ++i) {
            if (floatBits(wav.samples[i]) != floatBits(expected[i])) {
                ADD_FAILURE() << "frame " << i / geometry.recordCount << " channel "
                              << i % geometry.recordCount << ": recorded " << wav.samples[i]
                              << ", expected " << expected[i];
                ++mismatches;
            }
        }
    }

    // The driver saw the calls of a complete run, in order.
    void expectFullTeardown() {
        const std::vector<std::string> calls = callNames(trace());
        ASSERT_GE(calls.size(), 5u);
        EXPECT_EQ(
            std::vector<std::string>(calls.end() - 5, calls.end()),
            (std::vector<std::string>{"start", "stop", "stats", "disposeBuffers", "Release"}));
    }

    std::string longPath;
    std::vector<float> longPlay;
    LoopbackRun geometry;
};

TEST_F(Interrupts, InterruptWhileStreamingStopsTheDeviceAndKeepsWhatWasRecorded) {
    ChildResult result;
    ASSERT_TRUE(stopLongRun(recordPath, "", 4 * kBuffer, false, &result));

    EXPECT_EQ(result.exitCode, 14);
    EXPECT_EQ(result.err, "");
    const uint32_t padded = paddedFrames(geometry);
    const long long frames = cutShortFrames(result.out, padded);
    ASSERT_GT(frames, 0) << result.out;
    EXPECT_LT(frames, padded);
    EXPECT_EQ(withoutProgressBeforeInterrupt(result.out), interruptedText("", frames, padded));
    // Every switch before the stop recorded one buffer, and nothing else was recorded.
    EXPECT_EQ(frames, statValue(trace(), "switches") * kBuffer);
    expectFullTeardown();
    expectRecordedPrefix(static_cast<uint32_t>(frames));
}

TEST_F(Interrupts, TerminateAfterALostPeriodWarnsAndStillEndsAsInterrupted) {
    geometry.dropSwitch = 3;
    ChildResult result;
    // The lost period shows as a position one buffer further on, after switch 3.
    ASSERT_TRUE(stopLongRun(recordPath, "drop=3", 6 * kBuffer, true, &result));

    EXPECT_EQ(result.exitCode, 14);
    const uint32_t padded = paddedFrames(geometry);
    const long long frames = cutShortFrames(result.out, padded);
    ASSERT_GT(frames, 0) << result.out;
    const std::string warning = "Warning: 1 buffer switches lost or out of step; the recording "
                                "may not be aligned!\n";
    EXPECT_EQ(withoutProgressBeforeInterrupt(result.out), interruptedText(warning, frames, padded));
    EXPECT_EQ(frames, statValue(trace(), "switches") * kBuffer);
    expectFullTeardown();
    expectRecordedPrefix(static_cast<uint32_t>(frames));
}

// A device that stops calling back, before its first switch or in the middle, ends the run
// by itself as an interrupt would, with what was recorded, a line on how long no block came
// after how many, and 16.
TEST_F(Interrupts, DeviceThatStopsCallingBackEndsTheRunWithWhatWasRecorded) {
    for (const long long blocks : {0LL, 10LL}) {
        SCOPED_TRACE(std::to_string(blocks) + " blocks");
        std::remove(tracePath.c_str()); // the trace is appended to
        ChildProcess child;
        ASSERT_TRUE(
            start(child, longArgs(recordPath), "switches=" + std::to_string(blocks), tracePath));
        const ChildResult result = child.wait();

        EXPECT_EQ(result.exitCode, 16);
        const uint32_t padded = paddedFrames(geometry);
        EXPECT_EQ(withoutProgressBeforeInterrupt(result.out),
                  interruptedText("", blocks * kBuffer, padded));
        const std::string prefix = "korvane: no buffer switch came for ";
        const std::string suffix =
            " s after " + std::to_string(blocks) + " blocks: the device stopped calling back\n";
        EXPECT_EQ(result.err.rfind(prefix, 0), 0u) << result.err;
        ASSERT_GE(result.err.size(), suffix.size());
        EXPECT_EQ(result.err.substr(result.err.size() - suffix.size()), suffix);
        EXPECT_EQ(statValue(trace(), "switches"), blocks);
        expectFullTeardown();
        expectRecordedPrefix(static_cast<uint32_t>(blocks * kBuffer));
    }
}

TEST_F(Interrupts, RecordingThatCannotBeWrittenAfterAnInterruptFailsWithItsOwnCode) {
    if (windowsBuild()) {
        GTEST_SKIP() << "needs /dev/full";
    }
    ChildResult result;
    ASSERT_TRUE(stopLongRun("/dev/full", "", 4 * kBuffer, false, &result));

    EXPECT_EQ(result.exitCode, 12);
    EXPECT_EQ(withoutProgressBeforeInterrupt(result.out),
              bannerText() + setupText(SetupReport{}) + kStarted + kInterrupted + kConverting +
                  "Error: Unable to write output WAV file /dev/full!\n");
    expectFullTeardown();
}

// The recording is a pipe that the test drains only after a second and a third interrupt,
// so both certainly arrive while the recording is being written.
TEST_F(Interrupts, FurtherInterruptsDuringTheWritingAreAbsorbed) {
    if (!fifosSupported()) {
        GTEST_SKIP() << "holds the writer at a named pipe, which Windows has not at a file path";
    }
    const std::string pipe = dir.file("rec.pipe");
    ASSERT_TRUE(makeFifo(pipe));
    FifoReader reader;
    ASSERT_TRUE(reader.open(pipe));
    ChildProcess child;
    ASSERT_TRUE(start(child, longArgs(pipe), "", tracePath));
    // Far more than a pipe holds (64 KiB): 12 bytes a frame.
    ASSERT_TRUE(waitForProgress(child, kRate)) << child.outputSoFar();
    ASSERT_TRUE(child.interrupt());

    // The check before the start opened and closed the pipe without writing. A small first
    // read: with more than the pipe holds still to come, the writer stays blocked in its
    // write until both signals have been taken.
    std::string file;
    for (int waited = 0; file.empty() && waited < kWaitLimitMs; waited += 5) {
        const FifoReader::Status status = reader.read(&file, 5, 4096);
        ASSERT_NE(status, FifoReader::kError);
        if (status == FifoReader::kNoWriter) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ASSERT_FALSE(file.empty()) << "the recording was never written";
    ASSERT_TRUE(child.interrupt());
    ASSERT_TRUE(child.terminate());
    for (int waited = 0; child.signalsPending() && !child.ended() && waited < kWaitLimitMs;
         ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(child.signalsPending()) << "the signals were never taken";
    bool ended = false;
    for (int waited = 0; !ended && waited < kWaitLimitMs; waited += 50) {
        const FifoReader::Status status = reader.read(&file, 50);
        ASSERT_NE(status, FifoReader::kError);
        ended = status == FifoReader::kNoWriter;
    }
    ASSERT_TRUE(ended) << "the writer never closed the recording";
    const ChildResult result = child.wait();

    EXPECT_EQ(result.exitCode, 14);
    const uint32_t padded = paddedFrames(geometry);
    const long long frames = cutShortFrames(result.out, padded);
    ASSERT_GT(frames, 0) << result.out;
    EXPECT_GT(file.size(), size_t{4} << 16) << "too short to have filled the pipe";
    EXPECT_EQ(withoutProgressBeforeInterrupt(result.out), interruptedText("", frames, padded));
    expectFullTeardown();
    expectRecordedPrefix(std::vector<uint8_t>(file.begin(), file.end()),
                         static_cast<uint32_t>(frames));
}

// The trace is a pipe, and the driver is held at its start, before the one buffer of
// material is played inside it (startswitch=1): the run looks at the interrupt only once
// the last block is through.
TEST_F(Interrupts, InterruptAfterTheLastBlockIsANormalEnd) {
    if (!fifosSupported()) {
        GTEST_SKIP() << "holds the driver at a named pipe, which Windows has not at a file path";
    }
    const std::string pipe = dir.file("trace.pipe");
    ASSERT_TRUE(makeFifo(pipe));
    geometry.frames = kBuffer;
    const std::string shortPath = dir.file("short.wav");
    const std::vector<float> shortPlay(longPlay.begin(), longPlay.begin() + kBuffer * kChannels);
    ASSERT_TRUE(writeBytes(shortPath, floatWav(kChannels, shortPlay, kRate)));
    ChildProcess child;
    ASSERT_TRUE(start(child,
                      args(std::to_string(kBuffer), shortPath, "1", recordPath,
                           std::to_string(geometry.recordCount), "1"),
                      "startswitch=1", pipe));
    const std::vector<std::string> calls = callNames(stepThrough(child, pipe, "start"));
    const ChildResult result = child.wait();

    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(withoutProgress(result.out), completeRunText(SetupReport{}));
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 5, calls.end()),
              (std::vector<std::string>{"start", "stop", "stats", "disposeBuffers", "Release"}));
    expectRecordedPrefix(kBuffer);
}

// Before the device has started, an interrupt ends the run at its next step: what exists is
// released, what was printed is kept, nothing is recorded and an existing recording stays.
// The child is held at a known step, the trace pipe's or the playback pipe's, while the
// interrupt arrives.
class InterruptsBeforeTheStart : public Interrupts {
protected:
    void SetUp() override {
        Interrupts::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (!fifosSupported()) {
            GTEST_SKIP() << "holds the child at named pipes, which Windows has not at a path";
        }
        ASSERT_TRUE(writeBytes(recordPath, kept));
    }

    void expectInterrupted(const ChildResult& result, const std::string& printed) {
        EXPECT_EQ(result.exitCode, 14);
        EXPECT_EQ(result.out,
                  bannerText() + printed +
                      "Interrupted before Play & Record started: no recording written.\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(readBytes(recordPath), kept);
    }

    const std::vector<uint8_t> kept = {'k', 'e', 'e', 'p'};
};

TEST_F(InterruptsBeforeTheStart, DuringTheDriverSetUpReleaseWhatWasSetUp) {
    const std::string pipe = dir.file("trace.pipe");
    ASSERT_TRUE(makeFifo(pipe));
    using Lines = std::vector<std::string>;
    const SetupReport report;
    const Lines created = setUpCalls(1, 1);
    const struct {
        const char* heldAt;
        std::string printed;
        Lines calls;
    } cases[] = {
        {"getDriverVersion",
         "ASIO Driver correctly initialized: Korvane Loopback\n",
         {"init", "getDriverName", "getDriverVersion", "Release"}},
        {"getChannels",
         initText(report),
         {"init", "getDriverName", "getDriverVersion", "getChannels", "Release"}},
        {"getLatencies", setupText(report),
         [&] {
             Lines calls = created;
             calls.insert(calls.end(), {"disposeBuffers", "Release"});
             return calls;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.heldAt);
        ChildProcess child;
        ASSERT_TRUE(start(child, args("256", "1", "1", "1"), "", pipe));
        const Lines calls = stepThrough(child, pipe, c.heldAt);
        const ChildResult result = child.wait();
        expectInterrupted(result, c.printed);
        EXPECT_EQ(calls, c.calls);
    }
}

TEST_F(InterruptsBeforeTheStart, WhileThePlaybackFileIsProbedNoDriverIsLoaded) {
    const std::string pipe = dir.file("play.pipe");
    ASSERT_TRUE(makeFifo(pipe));
    ChildProcess child;
    ASSERT_TRUE(start(child, args("256", pipe, "1", recordPath, "1", "1"), "", tracePath));
    FifoWriter probed;
    ASSERT_TRUE(probed.openOnceRead(pipe, child));
    EXPECT_TRUE(child.interrupt());
    EXPECT_TRUE(probed.write(canonicalHeader({3, 1, 44100, 32, 4000})));
    probed.close();
    const ChildResult result = child.wait();

    expectInterrupted(result, "");
    EXPECT_FALSE(fileExists(tracePath)) << "a driver was created";
}

TEST_F(InterruptsBeforeTheStart, WhileThePlaybackIsLoadedReleaseTheStoresToo) {
    const std::string pipe = dir.file("play.pipe");
    ASSERT_TRUE(makeFifo(pipe));
    const std::vector<uint8_t> header = canonicalHeader({3, 1, 44100, 32, 4000});
    std::vector<uint8_t> file = header;
    file.resize(header.size() + 4000, 0);
    ChildProcess child;
    ASSERT_TRUE(start(child, args("256", pipe, "1", recordPath, "1", "1"), "", tracePath));
    FifoWriter probed;
    ASSERT_TRUE(probed.openOnceRead(pipe, child));
    EXPECT_TRUE(probed.write(header));
    probed.close();
    // The driver is created only once the probe has closed the pipe; the loader opens it next.
    ASSERT_TRUE(waitUntil(child, [&] { return fileExists(tracePath); }));
    FifoWriter loaded;
    ASSERT_TRUE(loaded.openOnceRead(pipe, child));
    EXPECT_TRUE(child.interrupt());
    EXPECT_TRUE(loaded.write(file));
    loaded.close();
    const ChildResult result = child.wait();

    expectInterrupted(result, setupText(SetupReport{}));
    std::vector<std::string> calls = setUpCalls(1, 1);
    calls.insert(calls.end(), {"disposeBuffers", "Release"});
    EXPECT_EQ(trace(), calls);
}

} // namespace
