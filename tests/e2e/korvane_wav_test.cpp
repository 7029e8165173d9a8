// korvane-wav as a user runs it: its exit codes and messages for convert, gen, check and
// ir, check against recordings korvane made through the loopback driver, and ir against the
// analytic responses of the loopback's devices under test.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "korvane_version.h"
#include "measure/maths.h"
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
    EXPECT_TRUE(has(r.out,
                    "Exit codes: 0 ok, 1 usage error, 2 input file problem, 3 output "
                    "problem,\n4 check mismatch, 5 result not to be trusted, 6 ir limits failed, 7 "
                    "measured but\nnot logged (the record waits in the spool), 8 measured but the "
                    "record is lost\n(measure the unit again)."))
        << r.out;
    for (const char* command : {"convert", "gen", "check", "ir", "log", "report"}) {
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
        {{"check", "a.wav", "b.wav", "--serial", "7"}, "--serial, --station and --spool go with"},
        {{"ir", "a.wav", "b.wav", "--log", "l.db"}, "--log needs the unit's --serial"},
        {{"log", "send", "l.db"}, "korvane-wav log: needs flush DB"},
        {{"report", "l.db"}, "needs --html FILE or --csv FILE"},
        {{"report", "l.db", "--csv", "o.csv", "--since", "2026-02-30"}, "--since needs a date"},
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
        const ChildResult k = runKorvane(
            {kLoopbackName, "256", run.first, "1", run.second, "1", "1"}, "clock=fast,delay=700");
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

// ir on recordings korvane makes through Korvane Loopback and a device under test on its
// path, against the device's analytic responses: at 32 bits and 96 kHz, one synchronized
// sweep of 10 s from 16 Hz to 16 kHz at a = 0.5, made once for every case.
namespace {

constexpr double kRate = 96000;
constexpr double kLevel = 0.5;
constexpr int kDelay = 512;

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The band the analytic checks cover: beyond it the windows blur the sweep's own ends.
bool inBand(const JsonValue& point, double top = 15000) {
    const double f = point["frequencyHz"].number;
    return f >= 20 && f <= top;
}

double level(double linear) {
    return 20 * std::log10(linear);
}

// The audio-EQ-cookbook peaking filter at 1 kHz, Q 1, +6 dB, at 96 kHz.
std::complex<double> peakResponse(double f) {
    const double gain = std::pow(10.0, 6.0 / 40), w0 = 2 * kPi * 1000 / kRate;
    const double alpha = std::sin(w0) / 2;
    const double b[3] = {1 + alpha * gain, -2 * std::cos(w0), 1 - alpha * gain};
    const double a[3] = {1 + alpha / gain, -2 * std::cos(w0), 1 - alpha / gain};
    const std::complex<double> z = std::polar(1.0, -2 * kPi * f / kRate);
    return (b[0] + b[1] * z + b[2] * z * z) / (a[0] + a[1] * z + a[2] * z * z);
}

class KorvaneWavIr : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new ScratchDir;
        play = dir->file("sweep.wav");
        const ChildResult r =
            tool({"gen", "sweep", play, "--synchronized", "--rate", "96000", "--seconds", "10",
                  "--from", "16", "--to", "16000", "--level", "0.5", "--pad", "0.5"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
        recordings.clear();
    }

    // korvane's recording of the sweep through the loopback with `loopback` added to its
    // configuration, made on first use.
    static std::string recording(const std::string& name, const std::string& loopback) {
        auto found = recordings.find(name);
        if (found != recordings.end()) {
            return found->second;
        }
        const std::string path = dir->file(name + ".wav");
        const ChildResult k = runKorvane({kLoopbackName, "256", play, "1", path, "1", "1"},
                                         "clock=fast,type=18,delay=" + std::to_string(kDelay) +
                                             (loopback.empty() ? "" : "," + loopback));
        EXPECT_EQ(k.exitCode, 0) << k.out << k.err;
        recordings[name] = path;
        return path;
    }

    // ir --json on the recording; the first channel's report.
    static JsonValue measure(const std::string& recorded, std::vector<std::string> options = {},
                             int exitCode = 0) {
        std::vector<std::string> args{"ir", play, recorded, "--json", "--no-plots"};
        args.insert(args.end(), options.begin(), options.end());
        const ChildResult r = tool(args);
        EXPECT_EQ(r.exitCode, exitCode) << r.err;
        JsonValue document;
        std::string error;
        EXPECT_TRUE(parseJson(r.out, document, &error)) << error << "\n" << r.out;
        return document;
    }

    static ScratchDir* dir;
    static std::string play;
    static std::map<std::string, std::string> recordings;
};

ScratchDir* KorvaneWavIr::dir = nullptr;
std::string KorvaneWavIr::play;
std::map<std::string, std::string> KorvaneWavIr::recordings;

} // namespace

TEST_F(KorvaneWavIr, WithNoDeviceTheDelayIsTheLoopbacksAndTheResponseFlat) {
    const JsonValue document = measure(recording("none", ""));
    EXPECT_EQ(document["sweep"]["L"].number, 23.0 / 16);
    const JsonValue& c = document["channels"][0];
    EXPECT_EQ(c["delayFrames"].number, kDelay);
    EXPECT_NEAR(c["delayMs"].number, kDelay / kRate * 1000, 1e-9);
    EXPECT_TRUE(c["trusted"].boolean);
    EXPECT_EQ(c["problems"].size(), 0u);
    int checked = 0;
    for (const JsonValue& p : c["points"].items) {
        if (!inBand(p)) {
            continue;
        }
        ASSERT_NEAR(p["magnitudeDb"].number, 0, 0.01) << p["frequencyHz"].number;
        ASSERT_NEAR(p["phaseDeg"].number, 0, 0.1) << p["frequencyHz"].number;
        ++checked;
    }
    EXPECT_GT(checked, 450); // 48 points per octave over nearly ten octaves
}

TEST_F(KorvaneWavIr, APolynomialDeviceGivesItsHarmonicsLevelsPhasesAndThd) {
    // y = x + A2 x^2 + A3 x^3 on x = a sin: |H1| = 1 + 3 A3 a^2 / 4; relative to a,
    // |H2| = A2 a / 2 at -90 degrees, |H3| = A3 a^2 / 4 at 180 degrees.
    const double a2 = 0.25, a3 = 0.125, a = kLevel;
    const double h1 = 1 + 3 * a3 * a * a / 4, h2 = a2 * a / 2, h3 = a3 * a * a / 4;
    const double thd = 100 * std::sqrt(h2 * h2 + h3 * h3) / h1;
    const JsonValue document = measure(recording("poly", "dut=poly:0.25:0.125"));
    const JsonValue& c = document["channels"][0];
    EXPECT_EQ(c["delayFrames"].number, kDelay);
    // The harmonics are given from where their windows leave the fade-in.
    const double distortionFrom = document["sweep"]["distortionFromHz"].number;
    EXPECT_GT(distortionFrom, 16.5);
    EXPECT_LT(distortionFrom, 23);
    int checked[4] = {};
    for (const JsonValue& p : c["points"].items) {
        if (!inBand(p)) {
            continue;
        }
        const double f = p["frequencyHz"].number;
        const double h1Db = p["magnitudeDb"].number;
        ASSERT_NEAR(h1Db, level(h1), 0.05) << f;
        // The orders come relative to the fundamental; the analytic values relative to a.
        const JsonValue& second = p["orders"][0];
        const JsonValue& third = p["orders"][1];
        if (f < distortionFrom) {
            ASSERT_TRUE(second["levelDb"].isNull()) << f;
            continue;
        }
        if (2 * f <= 15000) {
            ASSERT_NEAR(second["levelDb"].number + h1Db, level(h2), 0.1) << f;
            ASSERT_NEAR(second["phaseDeg"].number, -90, 2) << f;
            ++checked[2];
        }
        if (3 * f <= 15000) {
            ASSERT_NEAR(third["levelDb"].number + h1Db, level(h3), 0.1) << f;
            ASSERT_NEAR(std::remainder(third["phaseDeg"].number - 180, 360), 0, 2) << f;
            ASSERT_NEAR(p["thdPercent"].number / thd, 1, 0.02) << f;
            ++checked[3];
        }
        ++checked[1];
    }
    EXPECT_GT(checked[3], 350);
    EXPECT_GT(checked[2], checked[3]);
    EXPECT_NEAR(c["summary"]["thdPercent"].number, thd, thd * 0.001); // at 1 kHz
}

TEST_F(KorvaneWavIr, APeakingBiquadGivesItsOwnResponse) {
    const JsonValue document = measure(recording("peak", "dut=peak:1000:1:6"));
    const JsonValue& c = document["channels"][0];
    EXPECT_EQ(c["delayFrames"].number, kDelay);
    int checked = 0;
    for (const JsonValue& p : c["points"].items) {
        if (!inBand(p)) {
            continue;
        }
        const double f = p["frequencyHz"].number;
        ASSERT_NEAR(p["magnitudeDb"].number, level(std::abs(peakResponse(f))), 0.05) << f;
        ++checked;
    }
    EXPECT_GT(checked, 450);
    EXPECT_NEAR(c["summary"]["magnitudeDb"].number, 6, 0.05);
}

TEST_F(KorvaneWavIr, LimitsPassOrFailWithTheirOwnExitCode) {
    const std::string poly = recording("poly", "dut=poly:0.25:0.125");
    // The response is flat (0 dB against 1 kHz), THD 6.15 %, H3 -42.3 dB.
    const std::string passes = dir->file("passes.txt");
    const std::string fails = dir->file("fails.txt");
    {
        std::ofstream(passes) << "# the device's own line\nreference 1000\n"
                                 "20 -2 0 2\n15000 -2 0 2\n"
                                 "thd 100 7\nthd 5000 7\nh3 25 -40\nh3 5000 -40\n";
        std::ofstream(fails) << "20 -1 0 1\n1000 -1 0 1\n1000 -3 0 -\n15000 -3 0 -\n"
                                "thd 25 7\nthd 5000 6\n";
    }
    JsonValue document = measure(poly, {"--limits", passes});
    const JsonValue& pass = document["channels"][0]["limits"];
    EXPECT_TRUE(pass["pass"].boolean);
    EXPECT_TRUE(document["limits"]["pass"].boolean);
    // The least margin: the THD of 6.15 % against 7 %.
    EXPECT_NEAR(pass["worstMarginDb"].number, 20 * std::log10(7 / 6.1544), 0.01);
    EXPECT_EQ(pass["worstLimit"].text, "thd");

    document = measure(poly, {"--limits", fails}, 6);
    const JsonValue& fail = document["channels"][0]["limits"];
    EXPECT_FALSE(fail["pass"].boolean);
    EXPECT_FALSE(document["limits"]["pass"].boolean);
    EXPECT_NEAR(fail["worstMarginDb"].number, 20 * std::log10(6 / 6.1544), 0.01);
    EXPECT_EQ(fail["worstFrequencyHz"].number, 5000);

    const ChildResult r = tool({"ir", play, poly, "--no-plots", "--limits", fails});
    EXPECT_EQ(r.exitCode, 6);
    EXPECT_TRUE(has(r.out, "  limits: FAIL, worst margin -0.22 dB at 5000.0 Hz (thd)\n")) << r.out;
    EXPECT_TRUE(has(r.out, "limits " + fails + ": FAIL\n")) << r.out;
}

TEST_F(KorvaneWavIr, ARecordingThatMayHaveClippedOrIsCutShortNeverPasses) {
    const std::string limits = dir->file("wide.txt");
    std::ofstream(limits) << "20 -60 0 60\n15000 -60 0 60\n";
    // x + 2 x^2 reaches full scale at x = 0.5.
    const JsonValue loud = measure(recording("loud", "dut=poly:2:0"), {"--limits", limits}, 6);
    EXPECT_FALSE(loud["channels"][0]["trusted"].boolean);
    EXPECT_EQ(loud["channels"][0]["problems"][0]["kind"].text, "may-have-clipped");
    EXPECT_FALSE(loud["channels"][0]["limits"]["pass"].boolean);
    // Delayed past the padding, the end of the sweep never comes back.
    const std::string late = dir->file("late.wav");
    const ChildResult k = runKorvane({kLoopbackName, "256", play, "1", late, "1", "1"},
                                     "clock=fast,type=18,delay=60000");
    ASSERT_EQ(k.exitCode, 0) << k.out;
    const ChildResult r = tool({"ir", play, late, "--no-plots", "--limits", limits});
    EXPECT_EQ(r.exitCode, 6);
    // 60000 + 953269 (the sweep's last sound) - 1001472 (the file in whole buffers of 256)
    EXPECT_TRUE(has(r.out, "  not trusted: the recording ends at frame 1001472, before the delayed "
                           "playback does at frame 1013269: pad the played file with at least "
                           "11797 frames"))
        << r.out;
    EXPECT_TRUE(has(r.out, "  limits: FAIL: the recording cannot be trusted\n")) << r.out;
    // A device that stays silent on the second channel: it fails, the first passes.
    const WavFile sweep = readWav(play);
    const WavFile once = readWav(recording("none", ""));
    std::vector<float> twice;
    std::vector<float> half;
    for (size_t i = 0; i < once.samples.size(); ++i) {
        const float played = i < sweep.samples.size() ? sweep.samples[i] : 0.0f;
        twice.insert(twice.end(), {played, played});
        half.insert(half.end(), {once.samples[i], 0.0f});
    }
    const std::string pair = dir->file("pair.wav");
    const std::string pairRec = dir->file("pair-rec.wav");
    ASSERT_TRUE(writeBytes(pair, floatWav(2, twice, 96000)));
    ASSERT_TRUE(writeBytes(pairRec, floatWav(2, half, 96000)));
    std::ofstream(dir->file("pair.sweep")) << fileText(dir->file("sweep.sweep"));
    const ChildResult both = tool({"ir", pair, pairRec, "--no-plots", "--limits", limits});
    EXPECT_EQ(both.exitCode, 6);
    EXPECT_TRUE(has(both.out, "  limits: pass, worst margin ")) << both.out;
    EXPECT_TRUE(has(both.out, "channel 2 (played 2): nothing to analyse\n"
                              "  not trusted: the recording is silent where played channel 2 "
                              "should arrive\n"
                              "  limits: FAIL: the recording cannot be trusted\n"))
        << both.out;
    EXPECT_TRUE(has(both.out, "not trusted: the delay or level of channel 2 cannot be trusted\n"))
        << both.out;
}

TEST_F(KorvaneWavIr, FilesPlotsAndUsage) {
    const std::string recorded = recording("peak", "dut=peak:1000:1:6");
    const std::string out = dir->file("run1");
    ChildResult r = tool({"ir", play, recorded, "--out", out, "--smooth", "6"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "channel 1 (played 1): delay 512 frames (5.333 ms), drift 0.00 ppm; at "
                           "1000 Hz "))
        << r.out;
    EXPECT_TRUE(has(r.out, "  impulse response: " + out +
                               "-ch1-ir.wav (from 47827 frames before "
                               "the delay)\n"))
        << r.out;
    // The impulse response is a file korvane plays, its peak at the delay.
    const WavFile ir = readWav(out + "-ch1-ir.wav");
    EXPECT_EQ(ir.formatTag, 3);
    EXPECT_EQ(ir.channels, 1);
    EXPECT_EQ(ir.rate, 96000u);
    // The window follows the filter's decay past the part before the delay.
    ASSERT_GE(ir.samples.size(), 2u * 47827);
    const std::string csv = fileText(out + "-ch1.csv");
    EXPECT_EQ(csv.rfind("frequency_hz,magnitude_db,phase_deg,thd_percent,h2_db,h2_phase_deg,h3_db,"
                        "h3_phase_deg,h4_db,h4_phase_deg,h5_db,h5_phase_deg,noise_db,rb_peak_db,"
                        "rb_rms_db,rb_crest_db\n",
                        0),
              0u);
    // Smoothed over 1/6 octave: the power mean of the filter's |H|^2 over the band.
    const size_t row = csv.find("\n1000.000,");
    ASSERT_NE(row, std::string::npos);
    double mean = 0;
    const double lo = 1000 * std::pow(2.0, -1.0 / 12), hi = 1000 * std::pow(2.0, 1.0 / 12);
    for (int i = 0; i < 10000; ++i) {
        const double f = lo + (hi - lo) * (i + 0.5) / 10000;
        mean += std::norm(peakResponse(f)) / 10000;
    }
    EXPECT_NEAR(std::stod(csv.substr(row + 10)), 10 * std::log10(mean), 0.01);
    // The plots are the same bytes on every run, and say what they show.
    const std::string again = dir->file("run2");
    ASSERT_EQ(tool({"ir", play, recorded, "--out", again, "--smooth", "6"}).exitCode, 0);
    for (const char* plot : {"-ch1-response", "-ch1-distortion", "-ch1-ir"}) {
        const std::string svg = fileText(out + plot + ".svg");
        EXPECT_EQ(svg, fileText(again + plot + ".svg")) << plot;
        EXPECT_TRUE(has(svg, "peak.wav channel 1 (sweep.wav channel 1)")) << plot;
        // A PNG of each, or a note that there is no renderer.
        EXPECT_TRUE(fileExists(out + plot + ".png") ||
                    has(r.out, "note: rsvg-convert is not installed: no PNG files"))
            << plot;
    }
    EXPECT_TRUE(has(fileText(out + "-ch1-response.svg"), ">frequency (Hz)</text>"));
    EXPECT_TRUE(has(fileText(out + "-ch1-response.svg"), ">magnitude (dB)</text>"));

    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    } wrong[] = {
        {{"ir", play}, 1, "korvane-wav ir: needs PLAYED and RECORDED"},
        {{"ir", play, recorded, "--orders", "11"}, 1, "--orders needs an order from 1 to 10"},
        {{"ir", play, recorded, "--smooth", "0.5"}, 1, "--smooth needs N from 1 to 96"},
        {{"ir", play, recorded, "--from", "16"}, 1, "give the sweep with all of --from"},
        {{"ir", recorded, recorded},
         2,
         "peak.sweep: the file cannot be opened (give the sweep with"},
        {{"ir", play, recorded, "--limits", dir->file("none.txt")},
         2,
         "none.txt: the file cannot be opened"},
        // The report is still printed, naming no file.
        {{"ir", play, recorded, "--out", dir->file("missing/run")},
         3,
         "missing/run-ch1-ir.wav: it cannot be created"},
    };
    for (const auto& w : wrong) {
        r = tool(w.args);
        EXPECT_EQ(r.exitCode, w.exitCode) << w.message;
        EXPECT_TRUE(has(r.err, w.message)) << r.err;
        EXPECT_EQ(w.exitCode == 3, has(r.out, "channel 1 (played 1): delay 512 frames")) << r.out;
    }
    r = tool({"ir", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(has(r.out, "5 a channel's result\ncannot be trusted (without --limits), 6 --limits "
                           "and a channel fails them, 7 measured\nbut not logged"))
        << r.out;
}

// A unit's record goes to the database, or, when it cannot, to the spool with exit 7
// (a failed check keeps its own code); a flush sends it once; report reads it back.
TEST(KorvaneWav, LogsEachUnitOrSpoolsItAndSaysSo) {
    ScratchDir dir;
    const std::string played = dir.file("noise.wav");
    ASSERT_EQ(tool({"gen", "noise", played, "--seconds", "0.2", "--pad", "0.1"}).exitCode, 0);
    const std::string db = dir.file("line.db");
    const std::string away = dir.file("later") + "/line.db";
    const std::string spool = dir.file("spool");
    ChildResult r =
        tool({"check", played, played, "--log", db, "--serial", "U1", "--station", "st"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Logged: unit U1, record ")) << r.out;
    r = tool({"check", played, played, "--log", away, "--serial", "U2", "--spool", spool});
    EXPECT_EQ(r.exitCode, 7);
    EXPECT_TRUE(has(r.err, "not logged: ")) << r.err;
    EXPECT_TRUE(has(r.err, "(send it with: korvane-wav log flush " + away)) << r.err;
    r = tool({"check", played, played, "--exact", "--width", "2", "--log", away, "--serial", "U3",
              "--spool", spool});
    EXPECT_EQ(r.exitCode, 4) << r.err; // 16-bit rounding: not exact
    std::filesystem::create_directories(dir.file("later"));
    r = tool({"log", "flush", away, "--spool", spool});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "2 sent, 0 already in " + away + ", 0 left in " + spool + "\n");
    r = tool({"report", away, "--csv", dir.file("units.csv")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string csv = fileText(dir.file("units.csv"));
    EXPECT_TRUE(has(csv, ",\"U2\",\"measured\",,,\"\"\n")) << csv;
    EXPECT_TRUE(has(csv, ",\"U3\",\"fail\",,,\"ch1: differs from the played file at frame "))
        << csv;
    r = tool({"report", dir.file("none.db"), "--csv", dir.file("x.csv")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(has(r.err, "none.db: no such database")) << r.err;
}

// The record is the verdict and nothing is lost in silence, through the real program: each
// row a unit as a line meets it, its exit code, what it says, and what the report then shows.
TEST(KorvaneWav, ARecordHoldsTheUnitsVerdictOrTheExitCodeSaysItIsLost) {
    ScratchDir dir;
    const std::string played = dir.file("noise.wav");
    ASSERT_EQ(tool({"gen", "noise", played, "--seconds", "0.2", "--pad", "0.1"}).exitCode, 0);
    // The same samples under a 44100-Hz header.
    const std::string slow = dir.file("slow.wav");
    std::string bytes = fileText(played);
    for (int i = 0; i < 4; ++i) {
        bytes[size_t(24 + i)] = char((44100u >> (8 * i)) & 0xFF);
        bytes[size_t(28 + i)] = char(((44100u * 4) >> (8 * i)) & 0xFF);
    }
    std::ofstream(slow, std::ios::binary) << bytes;
    const std::string latin1 = dir.file("caf\xe9.wav"); // a name a Linux file may have
    std::filesystem::copy_file(played, latin1);
    std::ofstream(dir.file("a-file")) << "not a folder";
    const std::string db = dir.file("line.db");
    const std::string away = dir.file("gone") + "/line.db";
    const struct {
        const char* name;
        std::vector<std::string> args; // after check PLAYED RECORDED
        int exitCode;
        const char* says;   // on standard error, or standard output for 0
        const char* stored; // the report's CSV row's serial, verdict and reason; null: none
    } rows[] = {
        {"another rate",
         {slow, "--exact", "--width", "4", "--log", db, "--serial", "R1"},
         4,
         "not exact",
         "\"R1\",\"fail\",,,\"ch1: recorded at 44100 Hz, played at 48000 Hz\""},
        {"a name not UTF-8",
         {latin1, "--log", db, "--serial", "L1"},
         0,
         "Logged: unit L1",
         "\"L1\",\"measured\""},
        {"a name not UTF-8, the database away",
         {latin1, "--log", away, "--serial", "L2", "--spool", dir.file("spool")},
         7,
         "the record of unit L2 waits in",
         nullptr},
        {"lost: no database, no spool",
         {played, "--log", away, "--serial", "X1", "--spool", dir.file("a-file") + "/spool"},
         8,
         "NOT logged and could not be spooled",
         nullptr},
        {"a forged line",
         {played, "--log", db, "--serial", "A\nLogged: unit B"},
         1,
         "--serial holds a control character",
         nullptr},
        {"a reversed serial",
         {played, "--log", db, "--serial",
          "A\xe2\x80\xae"
          "B"},
         1,
         "--serial holds a bidirectional control character",
         nullptr},
        {"an endless serial",
         {played, "--log", db, "--serial", std::string(129, '7')},
         1,
         "--serial is longer than 128 characters",
         nullptr},
        {"an empty station",
         {played, "--log", db, "--serial", "E1", "--station", ""},
         1,
         "--station is empty",
         nullptr},
        {"a formula",
         {played, "--log", db, "--serial", "=HYPERLINK(\"x\")"},
         0,
         "Logged",
         "\"'=HYPERLINK(\"\"x\"\")\",\"measured\""},
    };
    // Windows names files in UTF-16: no name there is not UTF-8.
    auto skipped = [&](const auto& row) { return windowsBuild() && row.args[0] == latin1; };
    for (const auto& row : rows) {
        if (skipped(row)) {
            continue;
        }
        SCOPED_TRACE(row.name);
        std::vector<std::string> args{"check", played};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const ChildResult r = tool(args);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.out << r.err;
        EXPECT_TRUE(has(row.exitCode == 0 ? r.out : r.err + r.out, row.says)) << r.out << r.err;
    }
    ASSERT_EQ(tool({"report", db, "--csv", dir.file("units.csv")}).exitCode, 0);
    const std::string csv = fileText(dir.file("units.csv"));
    for (const auto& row : rows) {
        if (row.stored != nullptr && !skipped(row)) {
            EXPECT_TRUE(has(csv, row.stored)) << row.name << "\n" << csv;
        }
    }
    EXPECT_FALSE(has(csv, "\"A")) << csv;
    // The report reads: a file that is no database stays as it was.
    const std::string empty = dir.file("empty.db");
    std::ofstream(empty).close();
    EXPECT_EQ(tool({"report", empty, "--csv", dir.file("x.csv")}).exitCode, 2);
    EXPECT_EQ(std::filesystem::file_size(empty), 0u);
    EXPECT_FALSE(std::filesystem::exists(empty + "-wal"));
}
