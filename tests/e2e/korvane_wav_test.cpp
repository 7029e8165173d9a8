// korvane-wav as a user runs it: its exit codes and messages for convert, gen and check,
// and check against recordings korvane made through the loopback driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "korvane_version.h"
#include "support/json_reader.h"

namespace {

// The fixtures beside this file's folder: tests/e2e/.. /fixtures/wav.
std::string fixture(const std::string& name) {
    std::string folder = __FILE__;
    folder = folder.substr(0, folder.find_last_of("/\\"));
    return folder.substr(0, folder.find_last_of("/\\")) + "/fixtures/wav/" + name;
}

ChildResult tool(std::vector<std::string> args) {
    args.insert(args.begin(), programPath("korvane-wav"));
    ChildResult result = runChild(args);
    EXPECT_TRUE(result.started);
    return result;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(KorvaneWav, HelpAndUsageErrors) {
    ChildResult r = tool({});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "korvane-wav convert IN OUT")) << r.err;
    r = tool({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("korvane-wav ") + KORVANE_VERSION + "\n");
    r = tool({"-h"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(has(r.out, "korvane-wav --version")) << r.out;
    r = tool({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(has(r.out, "Exit codes: 0 ok, 1 usage error, 2 input file problem, 3 output "
                           "problem,\n4 check mismatch, 5 check result not to be trusted."))
        << r.out;
    for (const char* command : {"convert", "gen", "check"}) {
        r = tool({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(has(r.out, std::string("Usage: korvane-wav ") + command)) << r.out;
        EXPECT_TRUE(has(r.out, "Exit codes:")) << r.out;
    }
    const struct {
        std::vector<std::string> args;
        const char* message;
    } usage[] = {
        {{"play"}, "korvane-wav: unknown command play (see korvane-wav --help)"},
        {{"convert", "a.wav"}, "korvane-wav convert: needs IN and OUT"},
        {{"convert", "a.wav", "b.wav", "--pad", "-1"}, "--pad needs a number of seconds"},
        {{"convert", "a.wav", "b.wav", "--speed", "2"}, "unknown option --speed"},
        {{"gen", "square", "o.wav"}, "unknown KIND square"},
        {{"gen", "sine", "o.wav", "--level", "2"}, "--level needs a linear level"},
        {{"gen", "sine", "o.wav", "--level", "+3dB"}, "--level needs a linear level"},
        {{"gen", "sine", "o.wav", "--freq", "30000"}, "channel 1's frequency 30000 Hz"},
        {{"gen", "sine", "o.wav", "--channels"}, "--channels needs a value"},
        {{"check", "a.wav", "b.wav", "--width", "5"}, "--width needs 2, 3 or 4"},
        {{"check", "a.wav", "b.wav", "--exact"}, "--exact needs --width"},
    };
    for (const auto& u : usage) {
        r = tool(u.args);
        EXPECT_EQ(r.exitCode, 1) << u.message;
        EXPECT_TRUE(has(r.err, u.message)) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(KorvaneWav, ConvertWritesTheLayoutKorvanePlaysOrSaysWhatIsWrongWithWhichFile) {
    ScratchDir dir;
    const std::string out = dir.file("out.wav");
    ChildResult r = tool({"convert", fixture("ffmpeg-int24.wav"), out, "--pad", "0.1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "24-bit integer PCM (extensible), 2 channels, 8000 Hz, 400 frames; "
                           "passed over: \"LIST\""))
        << r.out;
    EXPECT_TRUE(has(r.out, out + ": 32-bit float, 1200 frames (800 of them padding)")) << r.out;
    const WavFile wav = readWav(out);
    EXPECT_EQ(wav.fmtSize, 16u);
    EXPECT_EQ(wav.formatTag, 3);
    EXPECT_EQ(wav.bits, 32);
    EXPECT_EQ(wav.data, "data");
    EXPECT_EQ(wav.fileSize, 44u + 1200 * 8);

    r = tool({"convert", dir.file("missing.wav"), out});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(has(r.err, dir.file("missing.wav") + ": the file cannot be opened")) << r.err;
    r = tool({"convert", fixture("refused-ffmpeg-adpcm.wav"), dir.file("adpcm.wav")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(
        has(r.err, "refused-ffmpeg-adpcm.wav: format tag 0x0002 (MS ADPCM) is not supported"))
        << r.err;
    EXPECT_FALSE(fileExists(dir.file("adpcm.wav")));
    r = tool({"convert", fixture("sox-int16.wav"), dir.file("no-folder/out.wav")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(has(r.err, dir.file("no-folder/out.wav") + ": it cannot be created")) << r.err;
}

TEST(KorvaneWav, GenWritesEveryKind) {
    ScratchDir dir;
    for (const char* kind : {"sine", "sweep", "noise", "impulse", "silence"}) {
        const std::string out = dir.file(std::string(kind) + ".wav");
        const ChildResult r = tool({"gen", kind, out, "--channels", "2", "--rate", "44100",
                                    "--seconds", "0.1", "--level", "-6dB", "--pad=0.05"});
        EXPECT_EQ(r.exitCode, 0) << kind << r.err;
        EXPECT_TRUE(has(r.out, std::string(kind) + ", 2 channels, 44100 Hz, 6615 frames")) << r.out;
        const WavFile wav = readWav(out);
        EXPECT_EQ(wav.formatTag, 3);
        EXPECT_EQ(wav.channels, 2);
        EXPECT_EQ(wav.samples.size(), 2u * 6615);
    }
    const ChildResult r = tool({"gen", "sine", dir.file("nowhere/x.wav")});
    EXPECT_EQ(r.exitCode, 3);
}

TEST(KorvaneWav, CheckReportsDelayAndTheFirstMismatch) {
    ScratchDir dir;
    const std::string played = dir.file("played.wav");
    // Padded, so that the recording holds the delayed material in full.
    ASSERT_EQ(tool({"gen", "noise", played, "--channels", "2", "--rate", "44100", "--seconds",
                    "0.2", "--pad", "0.01"})
                  .exitCode,
              0);
    const WavFile wav = readWav(played);
    LoopbackRun run;
    run.channels = 2;
    run.frames = 8820 + 441;
    run.buffer = 256;
    run.bytes = 3;
    run.recordCount = 2;
    run.delay = 333;
    std::vector<float> recording = expectedRecording(run, wav.samples);
    const std::string recorded = dir.file("recorded.wav");
    ASSERT_TRUE(writeBytes(recorded, floatWav(2, recording, 44100)));

    ChildResult r = tool({"check", played, recorded, "--width", "3", "--exact"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "channel  played  delay  correlation  peak dBFS  exact (24-bit)\n"
                           "      1       1    333     1.000000      -6.02  yes\n"
                           "      2       2    333     1.000000      -6.02  yes\n"))
        << r.out;

    // One sample changed by one step of 24 bits.
    recording[2 * 5000 + 1] += 1.0f / 8388608;
    ASSERT_TRUE(writeBytes(recorded, floatWav(2, recording, 44100)));
    r = tool({"check", played, recorded, "--width", "3", "--exact"});
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "      2       2    333     1.000000      -6.02  no\n")) << r.out;
    EXPECT_TRUE(has(r.out, "channel 2: first mismatch at frame 5000 (delay 333): expected "))
        << r.out;
    r = tool({"check", played, recorded, "--width", "3"});
    EXPECT_EQ(r.exitCode, 0);
    r = tool({"check", played, recorded, "--width", "3", "--exact", "--json"});
    EXPECT_EQ(r.exitCode, 4);
    JsonValue json;
    std::string error;
    ASSERT_TRUE(parseJson(r.out, json, &error)) << error << r.out;
    EXPECT_EQ(json["channels"][1]["mismatch"]["frame"].number, 5000);
    EXPECT_EQ(json["channels"][1]["mismatch"]["delay"].number, 333);
    EXPECT_FALSE(json["exact"].boolean);
    EXPECT_EQ(json["exact"].kind, JsonValue::Boolean);

    r = tool({"check", played, dir.file("missing.wav")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(has(r.err, dir.file("missing.wav") + ": the file cannot be opened")) << r.err;
}

// Each way a result can look confident and be wrong, through a real run.
TEST(KorvaneWav, CheckSaysWhenItsResultCannotBeTrusted) {
    ScratchDir dir;
    const std::string noise = dir.file("noise.wav");
    const std::string sine = dir.file("sine.wav");
    ASSERT_EQ(tool({"gen", "noise", noise, "--rate", "48000", "--seconds", "0.1"}).exitCode, 0);
    ASSERT_EQ(tool({"gen", "sine", sine, "--rate", "48000", "--seconds", "0.1", "--freq", "1200",
                    "--pad", "0.05"})
                  .exitCode,
              0);
    const std::string noiseRec = dir.file("noise-rec.wav");
    const std::string sineRec = dir.file("sine-rec.wav");
    for (const auto& run : {std::make_pair(noise, noiseRec), std::make_pair(sine, sineRec)}) {
        const ChildResult k = runKorvane({kLoopbackName, "256", run.first, "1", run.second, "1",
                                          "1"},
                                         "clock=fast,delay=700");
        ASSERT_EQ(k.exitCode, 0) << k.out;
    }

    // The noise was not padded: its last 700 frames were never recorded.
    ChildResult r = tool({"check", noise, noiseRec});
    EXPECT_EQ(r.exitCode, 5) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "    700     1.000000      -6.02  not trusted\n")) << r.out;
    EXPECT_TRUE(has(r.out, "channel 1: not trusted: the recording ends at frame 4864, before the "
                           "delayed playback does at frame 5500: pad the played file with at "
                           "least 636 frames (0.01325 s)"))
        << r.out;
    r = tool({"check", noise, noiseRec, "--width", "4", "--exact"});
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "channel 1: the recording ends at frame 4864 (delay 700), before the "
                           "played material does"))
        << r.out;
    r = tool({"check", noise, noiseRec, "--json"});
    EXPECT_EQ(r.exitCode, 5);
    JsonValue json;
    std::string error;
    ASSERT_TRUE(parseJson(r.out, json, &error)) << error << r.out;
    EXPECT_FALSE(json["trusted"].boolean);
    EXPECT_FALSE(json["channels"][0]["trusted"].boolean);
    EXPECT_EQ(json["channels"][0]["problems"][0]["kind"].text, "cut-short");

    // The delay beyond the search finds nothing that stands out.
    r = tool({"check", noise, noiseRec, "--max-delay", "500"});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_TRUE(has(r.out, "not trusted: no correlation peak stands clearly above the rest: the "
                           "delay may lie beyond --max-delay 500"))
        << r.out;

    // A sine matches at every period.
    r = tool({"check", sine, sineRec});
    EXPECT_EQ(r.exitCode, 5) << r.out;
    EXPECT_TRUE(has(r.out, "a periodic signal matches at every period")) << r.out;
}

// korvane through the loopback, then check with the run's own first channels.
TEST(KorvaneWav, CheckFindsTheLoopbackDelayOfARealRunExactly) {
    ScratchDir dir;
    const std::string played = dir.file("played.wav");
    ASSERT_EQ(tool({"gen", "sweep", played, "--channels", "2", "--rate", "48000", "--seconds",
                    "0.3", "--stagger", "0.01", "--pad", "0.05"})
                  .exitCode,
              0);
    const struct {
        const char* type;
        const char* width;
    } widths[] = {{"16", "2"}, {"17", "3"}, {"18", "4"}};
    for (const auto& w : widths) {
        SCOPED_TRACE(w.type);
        const std::string recorded = dir.file(std::string("rec-") + w.type + ".wav");
        // Outputs 3 and 4 play the file; inputs 2 to 5 are recorded.
        const ChildResult k = runKorvane({kLoopbackName, "256", played, "3", recorded, "4", "2"},
                                         std::string("clock=fast,delay=700,type=") + w.type);
        ASSERT_EQ(k.exitCode, 0) << k.out;
        const ChildResult r = tool({"check", played, recorded, "--play-start", "3", "--rec-start",
                                    "2", "--width", w.width, "--exact"});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(has(r.out, "      1       -      -            -       -inf  yes\n"
                               "      2       1    700     1.000000      -6.02  yes\n"
                               "      3       2    700     1.000000      -6.02  yes\n"
                               "      4       -      -            -       -inf  yes\n"))
            << r.out;
    }
    // Without the run's first channels the map is wrong, and check says so.
    const ChildResult r = tool({"check", played, dir.file("rec-18.wav")});
    EXPECT_EQ(r.exitCode, 5) << r.out;
    EXPECT_TRUE(has(r.out, "channel 1: not trusted: the recording is silent where played "
                           "channel 1 should arrive"))
        << r.out;
    EXPECT_TRUE(has(r.out, "channel 3: not trusted: signal up to -6.0 dBFS on a channel that no "
                           "played channel reaches by the channel map: give korvane's "
                           "PlayStartChannel and RecStartChannel as --play-start and --rec-start"))
        << r.out;
}
