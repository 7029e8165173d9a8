#include <gtest/gtest.h>

#include <cmath>

#include "measure/exit_codes.h"
#include "measure/signals/signal_gen.h"
#include "support/measure_test_files.h"
#include "wav/wav_format.h"

namespace {

// The whole file as one vector per channel.
std::vector<std::vector<float>> render(const SignalSpec& spec) {
    SignalPlan plan;
    std::string error;
    EXPECT_TRUE(planSignal(spec, &plan, &error)) << error;
    SignalGenerator generator;
    startSignal(&generator, spec, plan);
    std::vector<float> interleaved(size_t(plan.totalFrames) * spec.channels);
    // In two uneven pieces, as the writer's blocks would cut it.
    const uint32_t first = uint32_t(plan.totalFrames / 3);
    generateFrames(&generator, interleaved.data(), first);
    generateFrames(&generator, interleaved.data() + size_t(first) * spec.channels,
                   uint32_t(plan.totalFrames) - first);
    std::vector<std::vector<float>> channels(spec.channels);
    for (size_t i = 0; i < interleaved.size(); ++i) {
        channels[i % spec.channels].push_back(interleaved[i]);
    }
    return channels;
}

float peak(const std::vector<float>& samples, size_t begin = 0, size_t end = SIZE_MAX) {
    float top = 0;
    for (size_t i = begin; i < samples.size() && i < end; ++i) {
        top = std::max(top, std::fabs(samples[i]));
    }
    return top;
}

int signChanges(const std::vector<float>& samples, size_t begin, size_t end) {
    int changes = 0;
    for (size_t i = begin + 1; i < end; ++i) {
        changes += (samples[i - 1] < 0) != (samples[i] < 0);
    }
    return changes;
}

} // namespace

TEST(SignalGen, LengthsCountSignalStaggerAndPadInWholeFrames) {
    SignalSpec spec = signalSpec(kSignalSine, 3, 8000, 0.25);
    spec.stagger = 0.01;
    spec.padSeconds = 0.1;
    SignalPlan plan;
    std::string error;
    ASSERT_TRUE(planSignal(spec, &plan, &error)) << error;
    EXPECT_EQ(plan.signalFrames, 2000u);
    EXPECT_EQ(plan.staggerFrames, 80u);
    EXPECT_EQ(plan.padFrames, 800u);
    EXPECT_EQ(plan.totalFrames, 2000u + 2 * 80 + 800);

    const auto channels = render(spec);
    // Channel c is silent before c x stagger and after its 2000 frames.
    for (uint32_t c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(peak(channels[c], 0, 80 * c + 1), 0.0f);
        EXPECT_GT(peak(channels[c], 80 * c, 80 * c + 2000), 0.49f);
        EXPECT_EQ(peak(channels[c], 80 * c + 2000), 0.0f);
    }

    const std::string path = tempPath("gen.wav");
    ASSERT_EQ(generateWav(spec, path.c_str(), &plan, &error), kToolOk) << error;
    uint32_t tag = 0, rate = 0, bits = 0, count = 0, frames = 0;
    EXPECT_EQ(probeWavFile(path.c_str(), &tag, &rate, &bits, &count, &frames), kWavOk);
    EXPECT_EQ(tag, 3u);
    EXPECT_EQ(bits, 32u);
    EXPECT_EQ(rate, 8000u);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(frames, plan.totalFrames);
    const std::vector<float> written = canonicalSamples(path);
    ASSERT_EQ(written.size(), size_t(plan.totalFrames) * 3);
    EXPECT_EQ(written[3 * 100 + 1], channels[1][100]);
    std::remove(path.c_str());
}

TEST(SignalGen, SinesReachTheLevelAtTheirOwnFrequencyPerChannel) {
    SignalSpec spec = signalSpec(kSignalSine, 2, 48000);
    spec.level = 0.25;
    const auto channels = render(spec);
    // 1000 Hz at 48000 Hz hits its crest exactly; 1100 Hz comes within 0.1 %.
    EXPECT_EQ(peak(channels[0]), 0.25f);
    EXPECT_NEAR(peak(channels[1]), 0.25f, 0.00025);
    EXPECT_EQ(channels[0][0], 0.0f);
    EXPECT_NEAR(signChanges(channels[0], 0, 48000), 2000, 2);
    EXPECT_NEAR(signChanges(channels[1], 0, 48000), 2200, 2);
}

TEST(SignalGen, SweepRisesFromItsStartToItsEndFrequency) {
    SignalSpec spec = signalSpec(kSignalSweep, 1, 48000, 2);
    spec.from = 100;
    spec.to = 10000;
    const auto channels = render(spec);
    const std::vector<float>& s = channels[0];
    EXPECT_EQ(s[0], 0.0f);
    EXPECT_LE(peak(s), 0.5f);
    EXPECT_GT(peak(s), 0.499f);
    // Instantaneous frequency f1 (f2/f1)^(t/T), two sign changes per period: about 112 Hz
    // over the first 0.1 s, 9886 Hz over the last 0.01 s.
    EXPECT_NEAR(signChanges(s, 0, 4800) * 5, 112, 6);
    EXPECT_NEAR(signChanges(s, 96000 - 480, 96000) * 50, 9886, 100);
}

TEST(SignalGen, NoiseIsDeterministicPerSeedIndependentPerChannelAndWithinTheLevel) {
    SignalSpec spec = signalSpec(kSignalNoise, 2, 8000);
    spec.level = 0.5;
    const auto a = render(spec);
    const auto b = render(spec);
    EXPECT_EQ(a, b);
    spec.seed = 2;
    const auto c = render(spec);
    EXPECT_NE(a[0], c[0]);
    // Seed 2's first channel is not seed 1's second: channel streams are not shifted seeds.
    EXPECT_NE(c[0], a[1]);
    EXPECT_LE(peak(a[0]), 0.5f);
    EXPECT_GT(peak(a[0]), 0.49f);
    double mean = 0;
    double cross = 0;
    double power = 0;
    for (size_t i = 0; i < a[0].size(); ++i) {
        mean += a[0][i];
        cross += double(a[0][i]) * a[1][i];
        power += double(a[0][i]) * a[0][i];
    }
    EXPECT_NEAR(mean / 8000, 0, 0.02);
    EXPECT_NEAR(power / 8000, 0.25 / 3, 0.005); // uniform on [-L, L): L^2 / 3
    EXPECT_LT(std::fabs(cross / power), 0.05);
}

TEST(SignalGen, ImpulseIsOneSampleAtItsPositionAndSilenceIsZero) {
    SignalSpec spec = signalSpec(kSignalImpulse, 2, 1000, 0.1);
    spec.at = 0.005;
    spec.stagger = 0.02;
    const auto channels = render(spec);
    for (uint32_t c = 0; c < 2; ++c) {
        for (size_t i = 0; i < channels[c].size(); ++i) {
            EXPECT_EQ(channels[c][i], i == 5 + 20 * c ? 1.0f : 0.0f) << c << " " << i;
        }
    }
    spec.kind = kSignalSilence;
    EXPECT_EQ(peak(render(spec)[1]), 0.0f);
}

TEST(SignalGen, RefusesCombinationsThatCannotBeMade) {
    auto refused = [](SignalSpec spec) {
        SignalPlan plan;
        std::string error;
        EXPECT_FALSE(planSignal(spec, &plan, &error));
        return error;
    };
    const struct {
        void (*set)(SignalSpec& spec);
        const char* error;
    } cases[] = {
        // The second channel's 4000 Hz is at half the rate.
        {[](SignalSpec& s) {
             s = signalSpec(kSignalSine, 2, 8000);
             s.frequency = 3900;
         },
         "channel 2's frequency 4000 Hz"},
        {[](SignalSpec& s) { s.channels = 65; }, "1 to 64"},
        {[](SignalSpec& s) { s.level = 1.01; }, "at most 1"},
        // Under half a frame at 48000 Hz.
        {[](SignalSpec& s) { s.seconds = 0.00001; }, "at least one frame"},
        {[](SignalSpec& s) {
             s.kind = kSignalImpulse;
             s.at = 1.0;
         },
         "inside the signal"},
        {[](SignalSpec& s) {
             s = signalSpec(kSignalSweep, 1, 8000);
             s.to = 5000;
         },
         "sweep's limits 20 Hz and 5000 Hz"},
        {[](SignalSpec& s) {
             s.seconds = 30000;
             s.channels = 64;
         },
         "4 GiB"},
    };
    for (const auto& c : cases) {
        SignalSpec spec;
        c.set(spec);
        EXPECT_NE(refused(spec).find(c.error), std::string::npos) << c.error;
    }
    // Without --to, a sweep at a low rate ends at 0.45 of it.
    SignalSpec spec = signalSpec(kSignalSweep, 1, 8000);
    SignalPlan plan;
    std::string error;
    EXPECT_TRUE(planSignal(spec, &plan, &error));
    EXPECT_EQ(plan.to, 3600);
    // Too long says the limit it passed, whether the length alone passes it or the whole.
    spec = SignalSpec();
    spec.seconds = 1e6;
    error = refused(spec);
    EXPECT_EQ(error.find("at least one frame"), std::string::npos) << error;
    EXPECT_NE(error.find("at most 1073741814 frames"), std::string::npos) << error;
    spec = SignalSpec();
    spec.channels = 2;
    spec.seconds = 10000;
    spec.padSeconds = 1.2e4;
    error = refused(spec);
    EXPECT_NE(error.find("1056000000 frames"), std::string::npos) << error;
    EXPECT_NE(error.find("at most 536870907 frames"), std::string::npos) << error;
}
