// Faults of the system around the run: memory that cannot be had for the stores, and a
// recording that cannot be written once everything has been played.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
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

// A named pipe, made by the system's own tool so that no platform call is needed here.
bool makePipe(const std::string& path) {
    return !windowsBuild() && runChild({"mkfifo", path}).exitCode == 0;
}

// Opening a pipe for writing waits for its reader: the child's open of the playback file.
void feedPipe(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
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
    ASSERT_TRUE(writeBytes(gib, canonicalHeader({3, 1, 44100, 32, 1u << 30})));
    const std::string quarterGib = dir.file("quarter.wav");
    ASSERT_TRUE(writeBytes(quarterGib, canonicalHeader({3, 1, 44100, 32, 1u << 26})));
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
        EXPECT_EQ(trace(), setUpCalls(c.inputs, 1) + Lines({"disposeBuffers", "Release"}));
        EXPECT_FALSE(fileExists(recordPath));
    }
}

TEST_F(Faults, PlaybackFileChangedAfterTheProbeIsRefusedOnceTheBuffersAreGone) {
    // The playback "file" is a pipe: the probe reads one header, the loader another.
    const std::string pipe = dir.file("play.fifo");
    if (!makePipe(pipe)) {
        GTEST_SKIP() << "needs named pipes";
    }
    const std::vector<uint8_t> probed = canonicalHeader({3, 1, 44100, 32, 4000});
    const std::string refused = bannerText() + setupText(SetupReport{}) +
                                "Error: Unable to load input WAV file " + pipe + "!";
    const struct {
        const char* what;
        std::vector<uint8_t> loaded;
    } cases[] = {
        {"another channel count", canonicalHeader({3, 2, 44100, 32, 4000})},
        {"another rate", canonicalHeader({3, 1, 48000, 32, 4000})},
        {"another length", canonicalHeader({3, 1, 44100, 32, 8000})},
        {"emptied", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> childDone{false};
        std::thread feeder([&] {
            feedPipe(pipe, probed);
            // The driver is created only after the probe has closed the file.
            while (!childDone.load() && !fileExists(tracePath)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (!childDone.load()) {
                feedPipe(pipe, c.loaded);
            }
        });
        const ChildResult result = run(args("256", pipe, "1", recordPath, "1", "1"));
        childDone.store(true);
        {
            // Reading and writing, the open does not wait, and it lets a feeder go whose
            // reader never came; it stays open until the feeder has written.
            std::fstream release(pipe, std::ios::in | std::ios::out | std::ios::binary);
            feeder.join();
        }
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.out, refused);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(trace(), setUpCalls(1, 1) + Lines({"disposeBuffers", "Release"}));
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
