// Wrong calls, each with the one message and exit code it must give, and the driver calls
// its teardown must make: what was set up is released, in reverse order, and nothing else.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The driver calls of a set-up that got that far, as the loopback traces them.
const Lines kInitialised = {"init", "getDriverName", "getDriverVersion", "getChannels"};
const Lines kSized = kInitialised + Lines{"getBufferSize"};
const Lines kRated = kSized + Lines{"canSampleRate 44100", "setSampleRate 44100", "getSampleRate"};
// One input and one output of channel 1 at 256 frames: the default geometry here.
const Lines kCreated = setUpCalls(1, 1);

const std::string kChannelError = "Error: Wrong input/output channel settings!";
const std::string kRateError = "Error: Failed to set sample rate as recquested to WAV input "
                               "file!\nThis driver cannot run to 44100 Hz\n";

struct Refusal {
    Refusal(const char* what, std::vector<std::string> args, std::string loopback, int code,
            std::string out, Lines calls, bool driverMayComplain = false)
        : what(what), args(std::move(args)), loopback(std::move(loopback)), code(code),
          out(std::move(out)), calls(std::move(calls)), driverMayComplain(driverMayComplain) {}

    const char* what;
    std::vector<std::string> args;
    std::string loopback; // added to the trace and clock keys
    int code;
    std::string out;        // the whole standard output
    Lines calls;            // the driver's trace; empty: no driver was ever created
    bool driverMayComplain; // the loopback writes its own reason to stderr
};

class Refusals : public E2eTest {
protected:
    void expectRefusal(const Refusal& r) {
        SCOPED_TRACE(r.what);
        const ChildResult result = run(r.args, r.loopback);
        EXPECT_EQ(result.exitCode, r.code);
        EXPECT_EQ(result.out, r.out);
        // At most korvane's own line on what to do (RefusalsSayWhatToDo has their texts).
        if (!r.driverMayComplain) {
            EXPECT_TRUE(result.err.empty() || (result.err.rfind("korvane: ", 0) == 0 &&
                                               result.err.find('\n') == result.err.size() - 1))
                << result.err;
        }
        if (r.calls.empty()) {
            EXPECT_FALSE(fileExists(tracePath)) << "a driver was created";
        } else {
            EXPECT_EQ(trace(), r.calls);
        }
        EXPECT_FALSE(fileExists(recordPath)) << "a refused run left a recording behind";
    }

    void expectAll(const std::vector<Refusal>& refusals) {
        for (const Refusal& r : refusals) {
            expectRefusal(r);
        }
    }

    // Writes a playback file and returns its path.
    std::string playFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir.file(name);
        EXPECT_TRUE(writeBytes(path, bytes));
        return path;
    }

    // A playback file refused with `code` and `out` before any driver is created.
    Refusal playbackRefusal(const char* what, const std::string& play, int code, std::string out) {
        return {what, args("256", play, "1", recordPath, "1", "1"), "", code, std::move(out), {}};
    }

    SetupReport report;
};

TEST_F(Refusals, WrongArgumentCountPrintsTheUsage) {
    const std::string usage = bannerText() + usageText();
    ChildResult none = runKorvane({}, "");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, usage);
    EXPECT_EQ(none.err, "");
    std::vector<std::string> six = args("256", "1", "1", "1");
    six.pop_back();
    std::vector<std::string> eight = args("256", "1", "1", "1");
    eight.push_back("1");
    expectAll({
        {"six arguments", six, "", 1, usage, {}},
        {"eight arguments", eight, "", 1, usage, {}},
    });
}

TEST_F(Refusals, UnreadablePlaybackFileIsRefusedBeforeAnyDriver) {
    auto refused = [&](const std::string& path) {
        return bannerText() + "Error: Unable to load input WAV file " + path + "!";
    };
    const std::string missing = dir.file("missing.wav");
    const std::string empty = playFile("empty.wav", {});
    std::vector<uint8_t> lowerRiff = canonicalHeader({3, 1, 44100, 32, 8});
    lowerRiff[0] = 'r';
    const std::string notRiff = playFile("lower.wav", lowerRiff);
    std::vector<uint8_t> longFormat = canonicalHeader({3, 1, 44100, 32, 8});
    longFormat[16] = 18; // an 18-byte format chunk is not the canonical header
    const std::string extended = playFile("fmt18.wav", longFormat);
    const std::string noFrame = playFile("noframe.wav", canonicalHeader({3, 2, 44100, 32, 4}));
    const std::string noChannels =
        playFile("nochannels.wav", canonicalHeader({3, 0, 44100, 32, 8}));
    const std::string noData = playFile("nodata.wav", canonicalHeader({3, 1, 44100, 32, 0}));
    const std::pair<const char*, std::string> files[] = {
        {"missing file", missing},
        {"empty file", empty},
        {"RIFF tag in lower case", notRiff},
        {"18-byte format chunk", extended},
        {"data without a whole frame", noFrame},
        {"no data at all", noData},
        {"no channels", noChannels},
    };
    for (const auto& file : files) {
        expectRefusal(playbackRefusal(file.first, file.second, 2, refused(file.second)));
    }
}

TEST_F(Refusals, AnythingButFloat32IsRefusedBeforeAnyDriver) {
    const std::string refused =
        bannerText() +
        "Error: Unsupported WAV file format! (This application support only 32bit float WAV "
        "file)";
    const std::string pcm16 = playFile("pcm16.wav", canonicalHeader({1, 1, 44100, 16, 2000}));
    const std::string pcm32 = playFile("pcm32.wav", canonicalHeader({1, 1, 44100, 32, 4000}));
    const std::string float64 = playFile("float64.wav", canonicalHeader({3, 1, 44100, 64, 8000}));
    const std::string extensible =
        playFile("extensible.wav", canonicalHeader({0xFFFE, 1, 44100, 32, 4000}));
    expectAll({
        playbackRefusal("16-bit PCM", pcm16, 3, refused),
        playbackRefusal("32-bit PCM", pcm32, 3, refused),
        playbackRefusal("64-bit float", float64, 3, refused),
        playbackRefusal("extensible tag", extensible, 3, refused),
    });
}

TEST_F(Refusals, RecordingPathThatCannotBeCreatedIsRefusedBeforeAnyDriver) {
    auto refused = [&](const std::string& path) {
        return bannerText() + "Error: Unable to write output WAV file " + path + "!\n";
    };
    const std::string noFolder = dir.file("no-such-folder") + "/rec.wav";
    const std::string folder = dir.file("");
    expectAll({
        {"missing folder",
         args("256", playPath, "1", noFolder, "1", "1"),
         "",
         12,
         refused(noFolder),
         {}},
        {"a folder", args("256", playPath, "1", folder, "1", "1"), "", 12, refused(folder), {}},
    });
    EXPECT_FALSE(fileExists(noFolder));

    // The playback file is looked at first.
    const std::string missing = dir.file("missing.wav");
    expectRefusal({"missing playback file too",
                   args("256", missing, "1", noFolder, "1", "1"),
                   "",
                   2,
                   bannerText() + "Error: Unable to load input WAV file " + missing + "!",
                   {}});
}

// Recording over the playback file would destroy it; the file system, not the name, tells.
TEST_F(Refusals, RecordingPathNamingThePlaybackFileIsRefusedUnderAnySpelling) {
    const std::vector<uint8_t> played = readBytes(playPath);
    auto refused = [&](const std::string& path) {
        return bannerText() + "Error: Unable to write output WAV file " + path + "!\n";
    };
    std::error_code failed;
    fs::create_directory(dir.file("sub"), failed);
    std::vector<std::pair<std::string, std::string>> spellings = {
        {"the same path", playPath},
        {"through a folder and back", dir.file("sub") + "/../play.wav"},
        {"through the dot folder", dir.file(".") + "/play.wav"},
    };
    const std::string relative = fs::relative(playPath, fs::current_path(), failed).string();
    if (!failed && !relative.empty()) {
        spellings.push_back({"relative to the working folder", relative});
    }
    // Links: Wine may not make them; Linux always does.
    auto linked = [&](const char* what, const std::string& path) {
        if (!failed) {
            spellings.push_back({what, path});
        } else if (!windowsBuild()) {
            ADD_FAILURE() << what << ": " << failed.message();
        }
    };
    fs::create_hard_link(playPath, dir.file("hard.wav"), failed);
    linked("a hard link", dir.file("hard.wav"));
    fs::create_symlink(playPath, dir.file("soft.wav"), failed);
    linked("a symbolic link", dir.file("soft.wav"));
    if (windowsBuild()) {
        spellings.push_back({"in other letter case", dir.file("PLAY.WAV")});
    }
    for (const auto& [what, path] : spellings) {
        expectRefusal(
            {what.c_str(), args("256", playPath, "1", path, "1", "1"), "", 12, refused(path), {}});
        EXPECT_EQ(readBytes(playPath), played) << what;
    }
}

TEST_F(Refusals, UnlistedDriverNameIsRefused) {
    auto refused = [&](const std::string& name) {
        return bannerText() + "Error: Failed to load ASIO driver " + name + "!";
    };
    auto named = [&](const std::string& name) {
        std::vector<std::string> a = args("256", "1", "1", "1");
        a[0] = name;
        return a;
    };
    expectAll({
        {"unknown name", named("No Such Driver"), "", 4, refused("No Such Driver"), {}},
        {"letter case differs", named("korvane loopback"), "", 4, refused("korvane loopback"), {}},
        {"trailing blank", named("Korvane Loopback "), "", 4, refused("Korvane Loopback "), {}},
        {"empty name", named(""), "", 4, refused(""), {}},
    });
}

TEST_F(Refusals, FailedInitReleasesTheDriverObject) {
    const std::string refused = bannerText() + "Error: Failed to initialize ASIO driver!";
    const Lines calls = {"init", "getErrorMessage", "Release"};
    expectAll({
        {"init fails", args("256", "1", "1", "1"), "fail=init,errortext=broken", 5, refused, calls},
        // The driver's own text names the fault; the program never quotes it.
        {"unknown configuration key", args("256", "1", "1", "1"), "bogus=1", 5, refused, calls,
         true},
        {"bad configuration value", args("256", "1", "1", "1"), "inputs=many", 5, refused, calls,
         true},
    });
}

TEST_F(Refusals, ChannelsOutsideTheDeviceOrTheLimitsAreRefused) {
    const std::string two = dir.file("two.wav");
    ASSERT_TRUE(writeBytes(two, floatWav(2, std::vector<float>(200, 0.25f), 44100)));
    const std::string refused = bannerText() + initText(report) + kChannelError;
    SetupReport wide;
    wide.inputs = 70;
    wide.outputs = 70;
    const std::string refusedWide = bannerText() + initText(wide) + kChannelError;
    SetupReport none;
    none.inputs = 0;
    none.outputs = 0;
    const Lines calls = kInitialised + Lines{"Release"};
    const std::string device70 = "inputs=70,outputs=70";
    expectAll({
        {"first input 0", args("256", "1", "1", "0"), "", 6, refused, calls},
        {"first input 0, no inputs", args("256", "1", "0", "0"), "", 6, refused, calls},
        {"first output 0", args("256", "0", "1", "1"), "", 6, refused, calls},
        {"last input beyond the device", args("256", "1", "8", "2"), "", 6, refused, calls},
        {"first input beyond the device", args("256", "1", "1", "9"), "", 6, refused, calls},
        {"last output beyond the device", args("256", two, "8", recordPath, "1", "1"), "", 6,
         refused, calls},
        {"first input negative", args("256", "1", "2", "-1"), "", 6, refused, calls},
        {"first output negative", args("256", two, "-1", recordPath, "1", "1"), "", 6, refused,
         calls},
        {"negative input count", args("256", "1", "-1", "2"), "", 6, refused, calls},
        {"input count wrapping the last input", args("256", "1", "2", "2147483647"), "", 6, refused,
         calls},
        {"65 inputs", args("256", "1", "65", "1"), device70, 6, refusedWide, calls},
        {"last input 65", args("256", "1", "2", "64"), device70, 6, refusedWide, calls},
        {"last output 65", args("256", two, "64", recordPath, "1", "1"), device70, 6, refusedWide,
         calls},
        // Counts the driver failed to report stay 0.
        {"driver reports no channels", args("256", "1", "1", "1"), "fail=channels", 6,
         bannerText() + initText(none) + kChannelError, calls},
    });
}

TEST_F(Refusals, BufferLengthOutsideTheDriverLimitsIsRefused) {
    auto refused = [&](const std::string& limits, const std::string& length) {
        return bannerText() + initText(report) + "Permitted buffer size: " + limits + "\n" +
               "Error: Unable to set ASIO buffer size to " + length + "!";
    };
    const Lines calls = kSized + Lines{"Release"};
    expectAll({
        {"one below the minimum", args("15", "1", "1", "1"), "", 7, refused("16 to 8192", "15"),
         calls},
        {"one above the maximum", args("8193", "1", "1", "1"), "", 7, refused("16 to 8192", "8193"),
         calls},
        {"negative", args("-1", "1", "1", "1"), "", 7, refused("16 to 8192", "-1"), calls},
        {"no digits", args("abc", "1", "1", "1"), "", 7, refused("16 to 8192", "0"), calls},
        {"saturated", args("99999999999", "1", "1", "1"), "", 7,
         refused("16 to 8192", "2147483647"), calls},
        {"0 with a driver minimum of 0", args("0", "1", "1", "1"), "minbuf=0", 7,
         refused("0 to 8192", "0"), calls},
        {"driver reports no sizes", args("256", "1", "1", "1"), "fail=buffersize", 7,
         refused("0 to 0", "256"), calls},
    });
}

TEST_F(Refusals, RecordingBeyondFourGibibytesIsRefusedBeforeTheRate) {
    // Headers alone: the data size is trusted, so no sample need exist.
    const std::string quarter =
        playFile("quarter.wav", canonicalHeader({3, 1, 44100, 32, 1u << 30}));
    const std::string almost =
        playFile("almost.wav", canonicalHeader({3, 1, 44100, 32, 0xFFFFFFFCu}));
    auto refused = [&](const std::string& buffer) {
        SetupReport r = report;
        r.buffer = std::stoi(buffer);
        return bannerText() + initText(r) + bufferText(r) +
               "Error: Recording exceeds the 4 GiB limit of a WAV file!\n";
    };
    const Lines calls = kSized + Lines{"Release"};
    expectAll({
        {"four channels of 2^28 frames", args("256", quarter, "1", recordPath, "4", "1"), "", 15,
         refused("256"), calls},
        // 2^30 - 1 frames pad to 2^30: one channel of them is 4 GiB.
        {"padding reaches 4 GiB", args("1024", almost, "1", recordPath, "1", "1"), "", 15,
         refused("1024"), calls},
    });
}

TEST_F(Refusals, SampleRateTheDriverRefusesIsRefused) {
    const std::string odd = dir.file("odd.wav");
    ASSERT_TRUE(writeBytes(odd, floatWav(1, playSamples, 22050)));
    const std::string huge = dir.file("huge.wav");
    ASSERT_TRUE(writeBytes(huge, floatWav(1, playSamples, 3000000000u)));
    const std::string prefix = bannerText() + initText(report) + bufferText(report);
    const std::string cannot =
        "Error: Failed to set sample rate as recquested to WAV input file!\nThis driver cannot "
        "run to ";
    expectAll({
        {"rate not offered", args("256", "1", "1", "1"), "rates=48000,96000", 8,
         prefix + kRateError, kSized + Lines{"canSampleRate 44100", "Release"}},
        {"canSampleRate fails", args("256", "1", "1", "1"), "fail=cansamplerate", 8,
         prefix + kRateError, kSized + Lines{"canSampleRate 44100", "Release"}},
        {"setSampleRate fails", args("256", "1", "1", "1"), "fail=setsamplerate", 8,
         prefix + kRateError,
         kSized + Lines{"canSampleRate 44100", "setSampleRate 44100", "Release"}},
        {"22050 Hz file", args("256", odd, "1", recordPath, "1", "1"), "", 8,
         prefix + cannot + "22050 Hz\n", kSized + Lines{"canSampleRate 22050", "Release"}},
        // Offered as the unsigned value, printed as a signed one.
        {"rate above 2^31", args("256", huge, "1", recordPath, "1", "1"), "", 8,
         prefix + cannot + "-1294967296 Hz\n",
         kSized + Lines{"canSampleRate 3000000000", "Release"}},
    });
}

TEST_F(Refusals, BufferCreationFailureReleasesTheDriver) {
    const std::string refused = bannerText() + initText(report) + bufferText(report) +
                                "SampleRate set to 44100\n" +
                                "Error: Failed to create ASIO buffer for selected input!";
    expectAll({
        {"createBuffers fails", args("256", "1", "1", "1"), "fail=createbuffers", 9, refused,
         kRated + Lines{"createBuffers 2 256", "Release"}},
        // Buffers that were created are disposed before the driver goes.
        {"first channel info fails", args("256", "1", "1", "1"), "fail=channelinfo:1", 9, refused,
         kRated + Lines{"createBuffers 2 256", "getChannelInfo in 0", "disposeBuffers", "Release"}},
        {"second channel info fails", args("256", "1", "1", "1"), "fail=channelinfo:2", 9, refused,
         kRated + Lines{"createBuffers 2 256", "getChannelInfo in 0", "getChannelInfo out 0",
                        "disposeBuffers", "Release"}},
        // The loopback cannot echo sooner than one buffer after the play.
        {"delay shorter than a buffer", args("256", "1", "1", "1"), "delay=100", 9, refused,
         kRated + Lines{"createBuffers 2 256", "Release"}, true},
    });
}

TEST_F(Refusals, UnsupportedNativeFormatDisposesTheBuffers) {
    const std::string refused = bannerText() + initText(report) + bufferText(report) +
                                rateText(report) + "Error: ASIO native format not supported!\n\n";
    const Lines calls = kCreated + Lines{"disposeBuffers", "Release"};
    const Lines outputOnly = kRated + Lines{"createBuffers 1 256", "getChannelInfo out 0",
                                            "getLatencies", "disposeBuffers", "Release"};
    expectAll({
        {"32-bit float", args("256", "1", "1", "1"), "type=19", 10, refused, calls},
        {"16 bits in a 32-bit container", args("256", "1", "1", "1"), "type=24", 10, refused,
         calls},
        {"16-bit big-endian", args("256", "1", "1", "1"), "type=0", 10, refused, calls},
        {"float input decides", args("256", "1", "1", "1"), "intype=19", 10, refused, calls},
        {"float output without inputs", args("256", "1", "0", "1"), "outtype=19", 10, refused,
         outputOnly},
        // One width moves on every channel: any other width or format on a later channel
        // would be played or recorded wrong.
        {"output narrower than the first channel", args("256", "1", "1", "1"),
         "intype=18,outtype=16", 10, refused, calls},
        {"16-bit input, 32-bit output", args("256", "1", "1", "1"), "intype=16,outtype=18", 10,
         refused, calls},
        {"24-bit input, 32-bit output", args("256", "1", "1", "1"), "intype=17,outtype=18", 10,
         refused, calls},
        {"32-bit input, 24-bit output", args("256", "1", "1", "1"), "intype=18,outtype=17", 10,
         refused, calls},
        {"32-bit input, float output", args("256", "1", "1", "1"), "intype=18,outtype=19", 10,
         refused, calls},
    });
}

TEST_F(Refusals, FailedStartReleasesBuffersDriverAndStores) {
    const std::string refused =
        bannerText() + setupText(report) + "Error: Failed to start ASIO driver!\n\n";
    expectAll({
        {"start fails", args("256", "1", "1", "1"), "fail=start", 11, refused,
         kCreated + Lines{"start", "disposeBuffers", "Release"}},
    });
}

TEST_F(Refusals, ExistingRecordingSurvivesARefusedRun) {
    std::ofstream(recordPath, std::ios::binary) << "keep me";
    const ChildResult result = run(args("256", "1", "1", "0"));
    EXPECT_EQ(result.exitCode, 6);
    std::ifstream in(recordPath, std::ios::binary);
    const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "keep me");
}

} // namespace

// Beside each refusal's own text, one line on standard error names the cause and the way
// out; a buffer argument read by its first digits says so even when the run goes on.
TEST_F(Refusals, RefusalsSayWhatToDo) {
    const std::string pcm16 = playFile("pcm16.wav", canonicalHeader({1, 1, 44100, 16, 2000}));
    const std::string missing = dir.file("no-such-folder") + "/rec.wav";
    struct Row {
        const char* what;
        std::vector<std::string> args;
        int code;
        std::string err;
    };
    const Row rows[] = {
        {"recording over the playback", args("256", playPath, "1", playPath, "1", "1"), 12,
         "korvane: \"" + playPath +
             "\" is the file being played: give the recording another name\n"},
        {"recording's folder missing", args("256", playPath, "1", missing, "1", "1"), 12,
         "korvane: cannot create \"" + missing + "\": No such file or directory\n"},
        {"driver name in another letter case",
         {"korvane loopback", "256", playPath, "1", recordPath, "1", "1"},
         4,
         "korvane: no driver is listed as \"korvane loopback\"; did you mean \"Korvane "
         "Loopback\"? Letter case and blanks count\n"},
        {"16-bit playback file", args("256", pcm16, "1", recordPath, "1", "1"), 3,
         "korvane: \"" + pcm16 +
             "\" holds 16-bit integer PCM samples, korvane plays 32-bit float; convert it with: "
             "korvane-wav convert \"" +
             pcm16 + "\" \"" + dir.file("pcm16-float.wav") + "\"\n"},
        {"outputs beyond the device", args("256", playPath, "9", recordPath, "1", "1"), 6,
         "korvane: the file has 1 channel from output 9: outputs 9 to 9, the device has 8\n"},
        {"inputs beyond the device", args("256", playPath, "1", recordPath, "4", "7"), 6,
         "korvane: recording 4 inputs from input 7: inputs 7 to 10, the device has 8\n"},
        {"buffer that is no number", args("abc", playPath, "1", recordPath, "1", "1"), 7,
         "korvane: the buffer length \"abc\" (read as 0) is outside the driver's 16 to 8192 "
         "frames\n"},
        {"buffer read by its first digits", args("256x", playPath, "1", recordPath, "1", "1"), 0,
         "korvane: the buffer length \"256x\" is not a whole number; it is read as 256\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ChildResult r = run(row.args, "clock=fast");
        EXPECT_EQ(r.exitCode, row.code) << r.out;
        EXPECT_EQ(r.err, row.err);
    }
}
