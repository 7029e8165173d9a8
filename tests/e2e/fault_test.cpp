// Faults of the system around the run: memory that cannot be had for the stores, and a
// recording that cannot be written once everything has been played.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace {

// Room for the program, the driver and the small stores, not for a gibibyte.
constexpr uint64_t kAddressSpace = uint64_t{256} << 20;

using Lines = std::vector<std::string>;

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Lines createdCalls(int inputs) {
    Lines calls = {"init",
                   "getDriverName",
                   "getDriverVersion",
                   "getChannels",
                   "getBufferSize",
                   "canSampleRate 44100",
                   "setSampleRate 44100",
                   "getSampleRate",
                   "createBuffers " + std::to_string(inputs + 1) + " 256"};
    for (int i = 0; i < inputs; ++i) {
        calls.push_back("getChannelInfo in " + std::to_string(i));
    }
    calls.push_back("getChannelInfo out 0");
    calls.push_back("getLatencies");
    return calls;
}

class Faults : public E2eTest {};

TEST_F(Faults, StoresThatDoNotFitInMemoryAreRefusedBeforeTheStart) {
    if (!addressSpaceLimitUsable()) {
        GTEST_SKIP() << "needs an address-space limit: Linux, no sanitizer, no child wrapper";
    }
    // The limit itself lets an ordinary run through.
    const ChildResult control = run(args("256", "1", "1", "1"), "", kAddressSpace);
    ASSERT_EQ(control.exitCode, 0) << control.out << control.err;
    std::remove(recordPath.c_str());

    // The data size is trusted: headers alone announce the material.
    const std::string gib = dir.file("gib.wav");
    ASSERT_TRUE(writeBytes(gib, wavHeader(3, 1, 44100, 32, 1u << 30)));
    const std::string quarterGib = dir.file("quarter.wav");
    ASSERT_TRUE(writeBytes(quarterGib, wavHeader(3, 1, 44100, 32, 1u << 26)));
    const std::string refused =
        bannerText() + setupText(SetupReport{}) + "Error: Not enough memory for the audio data!\n";
    struct {
        const char* what;
        std::string play;
        int inputs;
    } cases[] = {
        {"playback store of 1 GiB", gib, 1},
        {"recording store of 8 x 64 MiB", quarterGib, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ChildResult result = run(
            args("256", c.play, "1", recordPath, std::to_string(c.inputs), "1"), "", kAddressSpace);
        EXPECT_EQ(result.exitCode, 13);
        EXPECT_EQ(result.out, refused);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(trace(), createdCalls(c.inputs) + Lines({"disposeBuffers", "Release"}));
        EXPECT_FALSE(fileExists(recordPath));
    }
}

TEST_F(Faults, RecordingThatCannotBeWrittenFailsAfterTheWholeTeardown) {
    if (windowsBuild()) {
        GTEST_SKIP() << "needs /dev/full";
    }
    const std::string stopped =
        bannerText() + setupText(SetupReport{}) + "\n\nPlay & Record Started!\n\n" +
        "\n\nPlay & Record Stopped!\n\n" + "Converting and storing recorded data...\n" +
        "Error: Unable to write output WAV file /dev/full!\n";
    for (const char* inputs : {"1", "0"}) {
        SCOPED_TRACE(std::string(inputs) + " recorded channels");
        const ChildResult result = run(args("256", playPath, "1", "/dev/full", inputs, "1"));
        EXPECT_EQ(result.exitCode, 12);
        EXPECT_EQ(withoutProgress(result.out), stopped);
        EXPECT_EQ(result.err, "");
        // The driver is gone before the recording is written.
        const Lines calls = callNames(trace());
        ASSERT_GE(calls.size(), 5u);
        EXPECT_EQ(Lines(calls.end() - 5, calls.end()),
                  (Lines{"start", "stop", "stats", "disposeBuffers", "Release"}));
    }
}

} // namespace
