#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "measure/maths.h"
#include "measure/signals/signal_gen.h"
#include "measure/signals/sweep.h"
#include "measure/signals/sweep_match.h"
#include "support/measure_test_files.h"

namespace {}

TEST(SyncSweep, LastsAboutTheSecondsAskedWithAWholeNumberOfTurnsAtTheStart) {
    SyncSweep sweep;
    std::string error;
    ASSERT_TRUE(planSyncSweep(16, 16000, 10, 96000, &sweep, &error)) << error;
    // 16 x 10 / ln 1000 = 23.16, so L = 23 / 16.
    EXPECT_EQ(sweep.rateConstant, 23.0 / 16);
    EXPECT_EQ(sweep.frames, uint64_t(std::llround(23.0 / 16 * std::log(1000.0) * 96000)));
    // The fades last 1/24 octave of the sweep each.
    EXPECT_EQ(sweep.fadeInFrames, uint64_t(std::llround(23.0 / 16 * std::log(2.0) / 24 * 96000)));
    EXPECT_EQ(sweep.fadeOutFrames, sweep.fadeInFrames);

    // Between the fades the sweep is sin(2 pi f1 L e^(t / L)): at the frame nearest to where
    // the phase reaches k turns + 1/4 it all but peaks.
    for (double turns : {500.25, 2000.25, 5000.25}) {
        const double t = sweep.rateConstant * std::log(turns / 23);
        const double frame = t * 96000;
        const uint64_t at = uint64_t(std::llround(frame));
        const double phase = 2 * kPi * 23 * std::exp(double(at) / 96000 / sweep.rateConstant);
        EXPECT_NEAR(syncSweepValue(sweep, at), std::sin(phase), 1e-9);
        EXPECT_GT(syncSweepValue(sweep, at), 0.99);
    }
    EXPECT_EQ(syncSweepValue(sweep, 0), 0.0);
    EXPECT_EQ(syncSweepValue(sweep, sweep.frames), 0.0);
    EXPECT_NEAR(syncSweepValue(sweep, sweep.frames - 1), 0.0, 1e-6);

    EXPECT_FALSE(planSyncSweep(1000, 100, 1, 48000, &sweep, &error)); // falling
    EXPECT_NE(error.find("from below to"), std::string::npos) << error;
    EXPECT_FALSE(planSyncSweep(20, 24000, 1, 48000, &sweep, &error));   // at half the rate
    EXPECT_FALSE(planSyncSweep(20, 20000, 0.1, 48000, &sweep, &error)); // 0.29 turns
    EXPECT_NE(error.find("too short"), std::string::npos) << error;
}

TEST(SyncSweep, GenWritesItAndItsSidecarWhichReadsBackExactly) {
    SignalSpec spec = signalSpec(kSignalSweep, 2, 48000, 2);
    spec.synchronized = true;
    spec.from = 50;
    spec.to = 15000;
    spec.stagger = 0.01;
    spec.padSeconds = 0.25;
    const std::string path = tempPath("sync-sweep.WAV");
    SignalPlan plan;
    std::string error;
    ASSERT_EQ(generateWav(spec, path.c_str(), &plan, &error), 0) << error;
    EXPECT_EQ(sweepSidecarPath(path), tempPath("sync-sweep.sweep"));
    EXPECT_EQ(sweepSidecarPath("a.b"), "a.b.sweep");
    EXPECT_EQ(plan.signalFrames, plan.sweep.frames);
    EXPECT_EQ(plan.totalFrames, plan.sweep.frames + 480 + 12000);

    SyncSweep read;
    ASSERT_TRUE(readSweepSidecar(sweepSidecarPath(path), &read, &error)) << error;
    EXPECT_EQ(read.rate, 48000u);
    EXPECT_EQ(read.from, 50.0);
    EXPECT_EQ(read.to, 15000.0);
    EXPECT_EQ(read.rateConstant, plan.sweep.rateConstant);
    EXPECT_EQ(read.frames, plan.sweep.frames);
    EXPECT_EQ(read.fadeInFrames, plan.sweep.fadeInFrames);
    EXPECT_EQ(read.level, 0.5);
    EXPECT_EQ(read.staggerFrames, 480u);

    // Channel 2 is channel 1 a stagger later, at the level asked.
    const std::vector<float> samples = canonicalSamples(path);
    auto sample = [&](size_t frame, int channel) { return samples[2 * frame + size_t(channel)]; };
    for (size_t frame : {size_t(0), size_t(5000), size_t(60000)}) {
        EXPECT_EQ(sample(frame, 0), float(0.5 * syncSweepValue(plan.sweep, frame)));
        EXPECT_EQ(sample(frame + 480, 1), sample(frame, 0));
    }

    spec.kind = kSignalNoise;
    EXPECT_NE(generateWav(spec, path.c_str(), &plan, &error), 0);
    EXPECT_EQ(error, "only a sweep is synchronized");
}

TEST(SyncSweep, ASidecarWithoutItsKeysOrWithBadValuesIsRefusedByLine) {
    const std::string path = tempPath("bad.sweep");
    const Refusal cases[] = {
        {"rate 48000\nfrom 20\nto 20000\n", "no \"L\" line"},
        {"rate 48000\nfrom 20\n# note\nto x\nL 1\n", "line 4: bad \"to\""},
        {"rate 48000\nfrom 20\nto 20000\nL 1.01\n", "do not make a synchronized sweep"},
        {"rate 48000\nfrom 20\nto 30000\nL 1\n", "do not make a synchronized sweep"},
        {"rate 48000.5\nfrom 20\nto 20000\nL 1\n", "line 1: bad \"rate\""},
        {"rate 48000\nfrom 20\nto 20000\nL 1\nframes -3\n", "line 5: bad \"frames\""},
        // Values out of range or at odds with the rest, which an edited sidecar may hold.
        {"rate 48000\nfrom 20\nto 20000\nL 1\nfade_in 999999999999999\n", "fade_in and fade_out"},
        {"rate 48000\nfrom 1e-300\nto 20000\nL 1e300\n", "more than a WAV file holds"},
        {"rate 48000\nfrom 1e-9\nto 20000\nL 1e9\n", "more than a WAV file holds"},
        {"rate 48000\nfrom 20\nto 20000\nL 1\nframes 331000\n", "frames 331000 do not match"},
        {"rate 48000\nfrom 20\nto 20000\nL 1\nlevel 2\n", "level must lie from 0 to 1"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(writeBytes(path, Bytes(c.input, c.input + std::strlen(c.input))));
        SyncSweep sweep;
        std::string error;
        EXPECT_FALSE(readSweepSidecar(path, &sweep, &error)) << c.input;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    const char good[] = "rate 48000\nfrom 20\nto 20000\nL 1\nlater_key 7\n";
    ASSERT_TRUE(writeBytes(path, Bytes(good, good + sizeof good - 1)));
    SyncSweep sweep;
    std::string error;
    EXPECT_TRUE(readSweepSidecar(path, &sweep, &error)) << error;
}

// A played channel is the sweep only where its sidecar places it, at its level, every
// repetition; one sample off, or the sweep elsewhere, is named by its frame.
TEST(SyncSweep, APlayedChannelHoldsTheSweepOrTheFirstFrameThatDiffersIsNamed) {
    SyncSweep sweep;
    std::string error;
    ASSERT_TRUE(planSyncSweep(20, 20000, 0.2, 48000, &sweep, &error)) << error;
    sweep.level = 0.5;
    sweep.startFrame = 10;
    sweep.staggerFrames = 100;
    sweep.repeat = 2;
    sweep.periodFrames = sweep.frames + 50;
    const size_t frames = 10 + 100 + repeatedSweepFrames(sweep) + 20;
    std::vector<float> channel(frames, 0.0f);
    for (uint64_t t = 0; t < repeatedSweepFrames(sweep); ++t) {
        channel[size_t(110 + t)] = float(0.5 * repeatedSweepValue(sweep, t));
    }
    const std::vector<double> unit = unitSweep(sweep, frames);
    std::string why;
    EXPECT_TRUE(channelHoldsSweep(sweep, true, unit, channel, 1, &why)) << why;
    EXPECT_TRUE(channelHoldsSweep(sweep, false, unit, channel, 0, &why)) << why;
    EXPECT_FALSE(channelHoldsSweep(sweep, true, unit, channel, 0, &why));
    EXPECT_EQ(why.rfind("at frame 11 it holds 0,", 0), 0u) << why;
    channel[size_t(110 + sweep.periodFrames + 7)] += 1e-3f;
    EXPECT_FALSE(channelHoldsSweep(sweep, true, unit, channel, 1, &why));
    EXPECT_EQ(why.rfind("at frame " + std::to_string(110 + sweep.periodFrames + 7), 0), 0u) << why;
}
