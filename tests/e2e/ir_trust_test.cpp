// korvane-wav ir on the files that real rooms, cables and other recorders give: a result
// within its tolerance, or "not trusted" with its reason, never anything between. The
// devices under test are SoX's effects, independent of korvane-wav; without SoX (and under
// Wine) these tests skip.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/json_reader.h"

namespace {

ChildResult run(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), program);
    return runChild(args);
}

ChildResult wav(std::vector<std::string> args) {
    return run(programPath("korvane-wav"), std::move(args));
}

bool soxAround() {
    static const bool around = !windowsBuild() && run("sox", {"--version"}).exitCode == 0;
    return around;
}

// SoX's output in korvane's float layout.
void sox(const std::vector<std::string>& in, const std::string& out,
         const std::vector<std::string>& effects) {
    std::vector<std::string> args = in;
    args.insert(args.end(), {"-e", "floating-point", "-b", "32", out});
    args.insert(args.end(), effects.begin(), effects.end());
    const ChildResult r = run("sox", args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

JsonValue channelOf(const ChildResult& r) {
    JsonValue document;
    std::string error;
    EXPECT_TRUE(parseJson(r.out, document, &error)) << error << r.err;
    return document["channels"][0];
}

// The largest |magnitude| and |phase| of the points up to `top` Hz.
void worstPoint(const JsonValue& channel, double top, double* db, double* degrees) {
    *db = 0;
    *degrees = 0;
    for (const JsonValue& p : channel["points"].items) {
        if (p["frequencyHz"].number <= top) {
            *db = std::max(*db, std::fabs(p["magnitudeDb"].number));
            *degrees = std::max(*degrees, std::fabs(p["phaseDeg"].number));
        }
    }
}

class IrTrust : public ::testing::Test {
protected:
    void SetUp() override {
        if (!soxAround()) {
            GTEST_SKIP() << "SoX is not installed (or the programs are the Windows build)";
        }
    }
    // A synchronized sweep of `seconds` at 48 kHz, padded, made once per name.
    std::string sweep(const std::string& name, const std::string& seconds) {
        const std::string path = dir.file(name + ".wav");
        std::ifstream exists(path);
        if (!exists) {
            const ChildResult r =
                wav({"gen", "sweep", path, "--synchronized", "--seconds", seconds, "--pad", "1"});
            EXPECT_EQ(r.exitCode, 0) << r.err;
        }
        return path;
    }
    ScratchDir dir;
};

} // namespace

// A wire, a recorder that started late, another clock and minimum-phase devices: each row's
// recording made by SoX from the sweep, ir's verdict on it and the tolerance it keeps.
TEST_F(IrTrust, EachRecordingGivesItsVerdictWithinItsTolerance) {
    struct Row {
        const char* name;
        const char* seconds;
        std::vector<std::string> effects; // SoX's, on the sweep
        std::vector<std::string> options; // ir's
        int exitCode;
        const char* problem; // the first problem's kind, or ""
        double delay;
        double ppm; // the drift measured, within 1 ppm
        double db;  // the magnitude and phase within these of 0 up to 16 kHz; < 0: not checked
        double degrees;
    };
    const Row rows[] = {
        {"wire, 0.5 s", "0.5", {}, {}, 0, "", 0, 0, 0.01, 0.1},
        {"wire, 1 s", "1", {}, {}, 0, "", 0, 0, 0.01, 0.1},
        {"wire, 8 s", "8", {}, {}, 0, "", 0, 0, 0.01, 0.1},
        {"started 56 frames late", "1", {"trim", "56s"}, {}, 0, "", -56, 0, 0.01, 0.1},
        {"100 ppm fast", "8", {"speed", "1.0001"}, {}, 5, "clock-drift", -40, 100, -1, -1},
        {"10 ppm slow", "8", {"speed", "0.99999"}, {}, 5, "clock-drift", 4, -10, -1, -1},
        {"100 ppm, corrected",
         "8",
         {"speed", "1.0001"},
         {"--drift", "correct"},
         0,
         "",
         0,
         100,
         0.05,
         1},
        {"highpass 80 Hz", "8", {"highpass", "80"}, {}, 0, "", 0, 0, -1, -1},
        {"lowpass 12 kHz", "8", {"lowpass", "12000"}, {}, 0, "", 1, 0, -1, -1},
        {"loudspeaker-like", "8", {"highpass", "80", "lowpass", "12000"}, {}, 0, "", 1, 0, -1, -1},
        // Acoustic paths: trusted at their direct sound; a room's phase follows no clock.
        {"loudspeaker, 2-ms echo",
         "8",
         {"gain", "-6", "highpass", "80", "lowpass", "12000", "echo", "1", "1", "2", "0.5"},
         {},
         0,
         "",
         1,
         0,
         -1,
         -1},
        {"room (reverb)", "8", {"gain", "-6", "reverb"}, {}, 0, "", 0, NAN, -1, -1},
        {"room (reverb, 60 %)", "2", {"gain", "-6", "reverb", "60"}, {}, 0, "", 0, NAN, -1, -1},
        // --room: the whole band and every octave of the sweep's band, in JSON and files.
        {"room, --room", "2", {"gain", "-6", "reverb"}, {"--room"}, 0, "", 0, NAN, -1, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string played = sweep(std::string("s") + row.seconds, row.seconds);
        const std::string recorded = dir.file(std::string(row.name) + ".wav");
        sox({played}, recorded, row.effects);
        const bool room = !row.options.empty() && row.options[0] == "--room";
        const std::string out = dir.file(row.name);
        std::vector<std::string> args{"ir", played, recorded, "--json", "--out", out};
        args.insert(args.end(), row.options.begin(), row.options.end());
        if (!room) {
            args.push_back("--no-plots");
        }
        const ChildResult r = wav(args);
        EXPECT_EQ(r.exitCode, row.exitCode) << r.out << r.err;
        const JsonValue c = channelOf(r);
        if (room) {
            const JsonValue bands = c["room"];
            ASSERT_EQ(bands.size(), 9u);
            EXPECT_TRUE(bands[0]["bandHz"].isNull());
            EXPECT_EQ(bands[1]["bandHz"].number, 63);
            EXPECT_GT(bands[0]["c80Db"].number, 0); // SoX's reverb keeps the dry sound
            std::ifstream csv(out + "-ch1-room.csv");
            std::string header;
            std::getline(csv, header);
            EXPECT_EQ(header, "band_hz,edt_s,t20_s,t30_s,c50_db,c80_db,d50_percent,range_db,edt_r,"
                              "t20_r,t30_r,curvature_percent,edt_withheld,t20_withheld,"
                              "t30_withheld");
            EXPECT_NE(r.out.find(out + "-ch1-decay.svg"), std::string::npos);
        }
        EXPECT_EQ(c["problems"][0]["kind"].text, row.problem);
        EXPECT_EQ(c["delayFrames"].number, row.delay);
        if (std::isnan(row.ppm)) {
            EXPECT_TRUE(c["driftPpm"].isNull());
        } else {
            EXPECT_NEAR(c["driftPpm"].number + c["driftCorrectedPpm"].number, row.ppm, 1);
        }
        if (row.db >= 0) {
            double db = 0;
            double degrees = 0;
            worstPoint(c, 16000, &db, &degrees);
            EXPECT_LT(db, row.db);
            EXPECT_LT(degrees, row.degrees);
            EXPECT_TRUE(std::isnan(c["summary"]["maxThdPercent"].number) ||
                        c["summary"]["maxThdPercent"].number < 0.01);
        }
    }
}

// What was played must be the sweep the analysis assumes; what was recorded must hold it.
TEST_F(IrTrust, AnotherSweepOrAContradictionIsRefusedNamingBoth) {
    const std::string played = sweep("s1", "1");
    const std::string plain = dir.file("plain.wav");
    ASSERT_EQ(wav({"gen", "sweep", plain, "--seconds", "1"}).exitCode, 0);
    ChildResult r = wav(
        {"ir", played, played, "--no-plots", "--seconds", "6", "--from", "20", "--to", "20000"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("L = 0.85 s, but"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("says from 20 Hz to 20000 Hz, L = 0.15 s"), std::string::npos) << r.err;
    r = wav({"ir", plain, plain, "--no-plots", "--seconds", "1", "--from", "20", "--to", "20000"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("it is not the synchronized sweep --from, --to and --seconds give"),
              std::string::npos)
        << r.err;
    r = wav({"ir", played, plain, "--no-plots", "--json"});
    EXPECT_EQ(r.exitCode, 5);
    bool named = false;
    const JsonValue channel = channelOf(r);
    for (const JsonValue& problem : channel["problems"].items) {
        named = named || problem["kind"].text == "not-the-sweep";
    }
    EXPECT_TRUE(named) << r.out;
}

// Noise read as noise: harmonics below the floor are said to be, the floor is measured, and
// N sweeps averaged lower it by 10 log10 N dB.
TEST_F(IrTrust, NoiseIsMeasuredNotReadAsDistortionAndAveragingLowersIt) {
    auto noisy = [&](const std::string& played, const std::string& name, const char* seconds) {
        const std::string noise = dir.file(name + "-noise.wav");
        sox({"-R", "-n", "-r", "48000", "-c", "1"}, noise,
            {"synth", seconds, "whitenoise", "vol", "0.01"});
        const std::string recorded = dir.file(name + "-recorded.wav");
        sox({"-m", "-v", "1", played, "-v", "1", noise}, recorded, {});
        return recorded;
    };
    auto meanNoise = [](const JsonValue& c) {
        double sum = 0;
        int count = 0;
        for (const JsonValue& p : c["points"].items) {
            if (p["frequencyHz"].number > 500 && p["frequencyHz"].number < 5000) {
                sum += p["noiseDb"].number;
                ++count;
            }
        }
        return sum / count;
    };
    const std::string once = sweep("s2", "2");
    ChildResult r = wav({"ir", once, noisy(once, "once", "3"), "--json", "--no-plots"});
    const JsonValue single = channelOf(r);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(single["summary"]["thdPercent"].isNull());
    EXPECT_TRUE(single["points"][200]["thdBelowNoise"].boolean);
    // Where the floor lies 6 dB below what allows 0.1 dB, the magnitude keeps to it.
    for (const JsonValue& p : single["points"].items) {
        if (p["magnitudeDb"].number - p["noiseDb"].number > 38.7 + 6) {
            ASSERT_NEAR(p["magnitudeDb"].number, 0, 0.1) << p["frequencyHz"].number;
        }
    }
    const std::string four = dir.file("four.wav");
    ASSERT_EQ(wav({"gen", "sweep", four, "--synchronized", "--seconds", "2", "--repeat", "4",
                   "--gap", "0.5", "--pad", "1"})
                  .exitCode,
              0);
    r = wav({"ir", four, noisy(four, "four", "12"), "--json", "--no-plots"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NEAR(meanNoise(single) - meanNoise(channelOf(r)), 10 * std::log10(4.0), 1.5);
}

// A gate 1.5 ms after the direct sound leaves out an echo 2 ms after it: the loudspeaker
// with the echo, gated, measures as the loudspeaker alone from 2 to 12 kHz.
TEST_F(IrTrust, AGateLeavesOutAReflection) {
    const std::string played = sweep("s8", "8");
    const std::string alone = dir.file("speaker.wav");
    const std::string echoed = dir.file("speaker-echo.wav");
    sox({played}, alone, {"gain", "-6", "highpass", "80", "lowpass", "12000"});
    sox({played}, echoed,
        {"gain", "-6", "highpass", "80", "lowpass", "12000", "echo", "1", "1", "2", "0.5"});
    const ChildResult a = wav({"ir", played, alone, "--json", "--no-plots", "--smooth", "6"});
    const ChildResult g =
        wav({"ir", played, echoed, "--json", "--no-plots", "--smooth", "6", "--gate", "1.5"});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(g.exitCode, 0) << g.err;
    const JsonValue reference = channelOf(a);
    const JsonValue gated = channelOf(g);
    EXPECT_NEAR(gated["window"]["gateLowestHz"].number, 666.7, 0.1);
    const std::vector<JsonValue>& points = gated["points"].items;
    ASSERT_EQ(points.size(), reference["points"].items.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const double f = points[i]["frequencyHz"].number;
        if (f >= 2000 && f <= 12000) {
            ASSERT_NEAR(points[i]["magnitudeDb"].number,
                        reference["points"][i]["magnitudeDb"].number, 0.25)
                << f;
        }
    }
    // A gate and a length both end the window, and a room needs the whole decay: refused.
    EXPECT_EQ(wav({"ir", played, echoed, "--no-plots", "--gate", "1", "--ir-length", "1"}).exitCode,
              1);
    EXPECT_EQ(wav({"ir", played, echoed, "--room", "--gate", "2"}).exitCode, 1);
}
