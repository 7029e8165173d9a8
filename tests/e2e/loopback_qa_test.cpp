// Complete runs through the loopback: known signals are played, and what comes back must
// be the playback, delayed by the loopback, taken through the native sample width and
// back, sample for sample, with the whole standard output and the driver's calls as they
// should be.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

// Channel c of frame f: a distinct tone per channel, with the values the conversions treat
// specially dropped in at fixed frames: full scale, beyond it, infinities, not-a-number,
// values below one step of 16 bits, the extremes of single precision.
std::vector<float> testSignal(uint32_t channels, uint32_t frames) {
    const float inf = std::numeric_limits<float>::infinity();
    const float special[] = {1.0f,   -1.0f,    1.5f,      -1.5f,         0.5f,    -0.5f,    2.0f,
                             -3.0f,  inf,      -inf,      std::nanf(""), 1e-5f,   -1e-5f,   1e30f,
                             -1e30f, 0.99999f, -0.99999f, 65539.0f,      -300.0f, 3.0e-39f, -0.0f};
    const size_t specials = sizeof special / sizeof special[0];
    std::vector<float> samples(static_cast<size_t>(channels) * frames);
    for (uint32_t f = 0; f < frames; ++f) {
        for (uint32_t c = 0; c < channels; ++c) {
            float x = 0.9f * static_cast<float>(std::sin(0.013 * (c + 1) * f + c)) /
                      static_cast<float>(c + 1);
            if (f % 37 == c + 3) {
                x = special[(f / 37 + c) % specials];
            }
            samples[static_cast<size_t>(f) * channels + c] = x;
        }
    }
    return samples;
}

// The "stats ..." line the loopback writes at stop, as key/value pairs.
long long statValue(const std::vector<std::string>& lines, const std::string& key) {
    for (const std::string& line : lines) {
        if (line.rfind("stats ", 0) != 0) {
            continue;
        }
        const size_t at = line.find(" " + key + "=");
        if (at == std::string::npos) {
            return -1;
        }
        return std::stoll(line.substr(at + key.size() + 2));
    }
    return -1;
}

struct Case {
    Case(const char* what, const LoopbackRun& run, std::string loopback, const SetupReport& report,
         int code = 0, std::string warning = "", std::string err = "")
        : what(what), run(run), loopback(std::move(loopback)), report(report), code(code),
          warning(std::move(warning)), err(std::move(err)) {}

    const char* what;
    LoopbackRun run;
    std::string loopback;
    SetupReport report;
    int code;
    std::string warning; // printed between "Stopped" and "Converting"
    std::string err;     // korvane's line on it
};

class LoopbackQa : public E2eTest {
protected:
    // Plays `play` as described, and checks output, trace, header and every sample.
    ChildResult expectRoundTrip(const Case& c, const std::vector<float>& play) {
        SCOPED_TRACE(c.what);
        const LoopbackRun& g = c.run;
        const std::string path = dir.file("qa.wav");
        EXPECT_TRUE(writeBytes(path, floatWav(static_cast<uint16_t>(g.channels), play, 44100)));
        const ChildResult result =
            run(args(std::to_string(g.buffer), path, std::to_string(g.playStart), recordPath,
                     std::to_string(g.recordCount), std::to_string(g.recordStart)),
                c.loopback);
        EXPECT_EQ(result.exitCode, c.code);
        std::string expected = completeRunText(c.report);
        if (!c.warning.empty()) {
            const std::string stopped = "\n\nPlay & Record Stopped!\n\n";
            expected.insert(expected.find(stopped) + stopped.size(), c.warning);
        }
        EXPECT_EQ(withoutProgress(result.out), expected);
        EXPECT_EQ(result.err, c.err);
        expectCalls(c);
        expectRecording(g, expectedRecording(g, play));
        return result;
    }

    void expectCalls(const Case& c) {
        const LoopbackRun& g = c.run;
        std::vector<std::string> calls =
            setUpCalls(static_cast<int>(g.recordCount), static_cast<int>(g.channels),
                       static_cast<int>(g.buffer), static_cast<int>(g.recordStart),
                       static_cast<int>(g.playStart));
        calls.insert(calls.end(), {"start", "stop", "stats", "disposeBuffers", "Release"});
        const std::vector<std::string> lines = trace();
        std::vector<std::string> seen = lines;
        for (std::string& line : seen) {
            if (line.rfind("stats ", 0) == 0) {
                line = "stats";
            }
        }
        EXPECT_EQ(seen, calls);
        // Every switch, the draining ones too, tells the driver its outputs are ready.
        const long long switches = statValue(lines, "switches");
        EXPECT_GE(switches, static_cast<long long>(paddedFrames(g) / g.buffer));
        EXPECT_EQ(statValue(lines, "outputReady"), switches);
    }

    void expectRecording(const LoopbackRun& g, const std::vector<float>& expected) {
        const WavFile wav = readWav(recordPath);
        ASSERT_TRUE(wav.read);
        const uint32_t frames = paddedFrames(g);
        const uint32_t dataSize = frames * g.recordCount * 4;
        EXPECT_EQ(wav.riff, "RIFF");
        EXPECT_EQ(wav.riffSize, dataSize + 36);
        EXPECT_EQ(wav.wave, "WAVE");
        EXPECT_EQ(wav.fmt, "fmt ");
        EXPECT_EQ(wav.fmtSize, 16u);
        EXPECT_EQ(wav.formatTag, 3);
        EXPECT_EQ(wav.channels, g.recordCount);
        EXPECT_EQ(wav.rate, 44100u);
        EXPECT_EQ(wav.byteRate, 44100u * g.recordCount * 4);
        EXPECT_EQ(wav.blockAlign, g.recordCount * 4);
        EXPECT_EQ(wav.bits, 32);
        EXPECT_EQ(wav.data, "data");
        EXPECT_EQ(wav.dataSize, dataSize);
        EXPECT_EQ(wav.fileSize, 44u + dataSize);
        ASSERT_EQ(wav.samples.size(), expected.size());
        int mismatches = 0;
        for (size_t i = 0; i < expected.size() && mismatches < 5; ++i) {
            if (floatBits(wav.samples[i]) != floatBits(expected[i])) {
                ADD_FAILURE() << "frame " << i / g.recordCount << " channel " << i % g.recordCount
                              << ": recorded " << wav.samples[i] << ", expected " << expected[i];
                ++mismatches;
            }
        }
    }
};

SetupReport reportFor(int bits, int buffer = 256) {
    SetupReport r;
    r.bits = bits;
    r.buffer = buffer;
    r.inputLatency = buffer;
    r.outputLatency = buffer;
    return r;
}

LoopbackRun geometry(uint32_t channels, uint32_t frames, uint32_t buffer, int bytes,
                     uint32_t playStart, uint32_t recordCount, uint32_t recordStart,
                     uint32_t delay) {
    LoopbackRun g;
    g.channels = channels;
    g.frames = frames;
    g.buffer = buffer;
    g.bytes = bytes;
    g.playStart = playStart;
    g.recordCount = recordCount;
    g.recordStart = recordStart;
    g.delay = delay;
    return g;
}

TEST_F(LoopbackQa, EveryWidthGivesBackThePlaybackThroughItsConversions) {
    const Case cases[] = {
        {"16 bits", geometry(1, 1000, 256, 2, 1, 1, 1, 512), "type=16", reportFor(16)},
        {"24 bits", geometry(1, 1000, 256, 3, 1, 1, 1, 512), "type=17", reportFor(24)},
        {"32 bits", geometry(1, 1000, 256, 4, 1, 1, 1, 512), "type=18", reportFor(32)},
    };
    for (const Case& c : cases) {
        expectRoundTrip(c, testSignal(c.run.channels, c.run.frames));
    }
}

TEST_F(LoopbackQa, ChannelMapsRouteEachFileChannelToItsInput) {
    // Inputs 2 to 5 hear outputs 2 to 5, of which 3 and 4 play the file.
    Case offset{"2 channels at output 3, inputs 2 to 5, delay 300",
                geometry(2, 1500, 256, 3, 3, 4, 2, 300), "type=17,delay=300", reportFor(24)};
    // The shortest delay: the block played at one switch is heard at the next.
    Case full{"3 channels at output 6, inputs 1 to 8, delay of one buffer",
              geometry(3, 700, 128, 2, 6, 8, 1, 128), "type=16,delay=128", reportFor(16, 128)};
    Case deaf{"2 channels at output 1, inputs 7 and 8 hear nothing",
              geometry(2, 600, 256, 4, 1, 2, 7, 512), "", reportFor(32)};
    // Latencies beyond the buffer lengthen the loop; the run prints them as reported.
    Case latency{"extra latencies", geometry(2, 2000, 512, 4, 1, 2, 1, 1054),
                 "inextra=10,outextra=20", reportFor(32, 512)};
    latency.report.inputLatency = 522;
    latency.report.outputLatency = 532;
    // Inputs beyond the outputs of the device hear silence.
    Case lonely{"inputs without outputs", geometry(1, 800, 256, 4, 1, 5, 1, 512),
                "inputs=5,outputs=4", reportFor(32)};
    lonely.run.outputs = 4;
    lonely.report.inputs = 5;
    lonely.report.outputs = 4;
    for (const Case& c : {offset, full, deaf, latency, lonely}) {
        expectRoundTrip(c, testSignal(c.run.channels, c.run.frames));
    }
}

TEST_F(LoopbackQa, PlaybackIsPaddedToWholeBuffers) {
    // 1000 frames at 256 play four buffers and record 1024 frames; 1024 need no padding;
    // a single frame at 512 still plays and records one whole buffer.
    const Case cases[] = {
        {"1000 frames at 256", geometry(1, 1000, 256, 4, 1, 1, 1, 512), "", reportFor(32)},
        {"1024 frames at 256", geometry(1, 1024, 256, 4, 1, 1, 1, 256), "delay=256", reportFor(32)},
        {"1 frame at 512", geometry(1, 1, 512, 4, 1, 1, 1, 512), "delay=512", reportFor(32, 512)},
    };
    for (const Case& c : cases) {
        expectRoundTrip(c, std::vector<float>(c.run.frames, 0.75f));
    }
    const WavFile wav = readWav(recordPath);
    EXPECT_EQ(wav.dataSize, 512u * 4);
}

TEST_F(LoopbackQa, BufferLengthsAtTheDriverLimitsAndTheFirstDigitsOfTheArgument) {
    Case smallest{"minimum buffer", geometry(1, 100, 16, 4, 1, 1, 1, 32), "", reportFor(32, 16)};
    Case largest{"maximum buffer", geometry(1, 9000, 8192, 4, 1, 1, 1, 8192), "delay=8192",
                 reportFor(32, 8192)};
    for (const Case& c : {smallest, largest}) {
        expectRoundTrip(c, testSignal(1, c.run.frames));
    }
    const ChildResult trailing = run(args("256abc", "1", "1", "1"));
    EXPECT_EQ(trailing.exitCode, 0);
    EXPECT_EQ(withoutProgress(trailing.out), completeRunText(reportFor(32)));
}

TEST_F(LoopbackQa, HighestChannelsOfTheLimit) {
    // Output 64 and input 64 are the last the program takes.
    Case top{"2 channels at outputs 63 and 64, input 64", geometry(2, 600, 256, 4, 63, 1, 64, 512),
             "inputs=70,outputs=70", reportFor(32)};
    top.run.outputs = 70;
    top.report.inputs = 70;
    top.report.outputs = 70;
    expectRoundTrip(top, testSignal(2, 600));
}

TEST_F(LoopbackQa, NoRecordedChannelsWritesTheHeaderAlone) {
    Case silent{"no inputs", geometry(2, 1000, 256, 4, 1, 0, 1, 512), "", reportFor(32)};
    expectRoundTrip(silent, testSignal(2, 1000));
    const WavFile wav = readWav(recordPath);
    EXPECT_EQ(wav.fileSize, 44u);
    EXPECT_EQ(wav.channels, 0);
    EXPECT_EQ(wav.dataSize, 0u);
    EXPECT_EQ(wav.riffSize, 36u);
    // korvane-wav says what such a file is rather than how its header is wrong.
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"check", playPath, recordPath},
          std::vector<std::string>{"convert", recordPath, dir.file("out.wav")}}) {
        std::vector<std::string> argv{programPath("korvane-wav")};
        argv.insert(argv.end(), command.begin(), command.end());
        const ChildResult r = runChild(argv);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("has no channels and holds no audio"), std::string::npos) << r.err;
    }
}

TEST_F(LoopbackQa, DriverVariantsKeepTheRecordingAligned) {
    const LoopbackRun g = geometry(2, 1000, 256, 4, 1, 2, 1, 512);
    Case plain{"bufferSwitch without time info", g, "timeinfo=0", reportFor(32)};
    Case noPosition{"no valid sample position", g, "position=0", reportFor(32)};
    Case noPositionPlain{"bufferSwitch without a sample position", g, "timeinfo=0,position=0",
                         reportFor(32)};
    Case firstInStart{"first switch inside start", g, "startswitch=1", reportFor(32)};
    Case notReady{"outputReady unsupported", g, "outputready=0", reportFor(32)};
    // The first switch sets the reference: a device that starts late loses nothing.
    Case lateStart{"period lost before the first switch", g, "drop=1", reportFor(32)};
    // Four switches carry the material; what the device loses after them is not recorded.
    Case afterMaterial{"period lost after the material", g, "drop=5", reportFor(32)};
    Case otherRate{"driver reports another rate", g, "reportrate=48000", reportFor(32)};
    otherRate.report.rate = 48000;
    for (const Case& c : {plain, noPosition, noPositionPlain, firstInStart, notReady, lateStart,
                          afterMaterial, otherRate}) {
        expectRoundTrip(c, testSignal(2, 1000));
    }

    // The plain callback asks the driver for the position at every switch.
    run(args("256", "1", "1", "1"), "timeinfo=0");
    const std::vector<std::string> lines = trace();
    EXPECT_EQ(statValue(lines, "getSamplePosition"), statValue(lines, "switches"));
    run(args("256", "1", "1", "1"));
    EXPECT_EQ(statValue(trace(), "getSamplePosition"), 0);
}

TEST_F(LoopbackQa, LostPeriodIsReportedAndTheRecordingKept) {
    const std::string warning = "Warning: 1 buffer switches lost or out of step; the recording "
                                "may not be aligned!\n";
    // Told apart from a device's events elsewhere: this block was korvane's own.
    const std::string err = "korvane: 1 of korvane's own blocks came late or not at all (the "
                            "sample position skipped)\n";
    LoopbackRun g = geometry(2, 1000, 256, 4, 1, 2, 1, 512);
    for (uint32_t at : {2u, 4u}) {
        g.dropSwitch = at;
        const std::string what = "period lost at switch " + std::to_string(at);
        Case lost{what.c_str(), g, "drop=" + std::to_string(at), reportFor(32), 16, warning, err};
        expectRoundTrip(lost, testSignal(2, 1000));
    }
    g.dropSwitch = 2;
    Case plain{
        "period lost, bufferSwitch", g, "drop=2,timeinfo=0", reportFor(32), 16, warning, err};
    expectRoundTrip(plain, testSignal(2, 1000));
}

TEST_F(LoopbackQa, ShortRunOnTheRealTimeClock) {
    // A quarter of a second: long enough for the progress line to show at least once.
    Case live{"real-time clock", geometry(2, 11025, 512, 4, 1, 2, 1, 1024), "clock=realtime",
              reportFor(32, 512)};
    const ChildResult result = expectRoundTrip(live, testSignal(2, 11025));
    std::vector<long long> positions;
    EXPECT_EQ(withoutProgress(result.out, &positions), completeRunText(live.report));
    EXPECT_FALSE(positions.empty());
    for (long long p : positions) {
        EXPECT_EQ(p % 512, 0) << "a position between switches";
        EXPECT_GE(p, 0);
    }
}

TEST_F(LoopbackQa, ExistingRecordingIsReplaced) {
    std::ofstream(recordPath, std::ios::binary) << std::string(100000, 'x');
    const ChildResult result = run(args("256", "1", "1", "1"));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(readWav(recordPath).fileSize, 44u + 1024 * 4);
}

} // namespace
