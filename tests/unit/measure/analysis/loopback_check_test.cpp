#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/run_state.h"
#include "measure/analysis/loopback_check.h"
#include "measure/signals/signal_gen.h"
#include "support/measure_test_files.h"
#include "support/run_state_reset.h"
#include "wav/play_loader.h"
#include "wav/record_writer.h"
#include "wav/wav_format.h"

namespace {

std::vector<float> noise(size_t frames, uint64_t seed, double level = 0.5) {
    SignalSpec spec = signalSpec(kSignalNoise, 1, 1000, double(frames) / 1000);
    spec.seed = seed;
    spec.level = level;
    SignalPlan plan;
    std::string error;
    EXPECT_TRUE(planSignal(spec, &plan, &error)) << error;
    SignalGenerator generator;
    startSignal(&generator, spec, plan);
    std::vector<float> samples(frames);
    generateFrames(&generator, samples.data(), uint32_t(frames));
    return samples;
}

// What the loopback records: silence, the round trip of played from delay on, silence.
std::vector<float> loopback(const std::vector<float>& played, uint32_t delay, size_t frames,
                            int width) {
    std::vector<float> recorded(frames, 0.0f);
    for (size_t n = delay; n < frames && n - delay < played.size(); ++n) {
        recorded[n] = roundTrip(played[n - delay], width);
    }
    return recorded;
}

// Every lag from -max to max where the two overlap, the nearest to 0 of equals and of two as
// near the later.
int64_t bruteForceDelay(const std::vector<float>& p, const std::vector<float>& r, int64_t max) {
    double best = -1;
    int64_t at = 0;
    for (int64_t k = 0; k <= max; ++k) {
        for (int64_t d : {k, -k}) {
            if (d >= int64_t(r.size()) || -d >= int64_t(p.size())) {
                continue;
            }
            double sum = 0;
            for (int64_t n = std::max<int64_t>(0, -d);
                 n < int64_t(p.size()) && n + d < int64_t(r.size()); ++n) {
                sum += double(p[size_t(n)]) * r[size_t(n + d)];
            }
            if (std::fabs(sum) > best) {
                best = std::fabs(sum);
                at = d;
            }
        }
    }
    return at;
}

} // namespace

TEST(RoundTrip, LoaderTruncatesClipsAndZeroesNaNWriterDividesByTheWidthsScale) {
    EXPECT_EQ(loaderNative(0.5f, 2), 16383);
    EXPECT_EQ(loaderNative(-0.5f, 2), -16383);
    EXPECT_EQ(loaderNative(1.0f, 2), 32767);
    EXPECT_EQ(loaderNative(-1.0f, 2), -32767);
    EXPECT_EQ(loaderNative(1.5f, 2), 32767); // clipped, not wrapped
    EXPECT_EQ(loaderNative(-1.5f, 2), -32768);
    EXPECT_EQ(loaderNative(0.00001f, 2), 0);
    EXPECT_EQ(loaderNative(0.00001f, 3), 83);
    EXPECT_EQ(loaderNative(1.0f, 3), 8388607);
    EXPECT_EQ(loaderNative(-1.0f, 3), -8388607);
    EXPECT_EQ(loaderNative(-1.0f, 4), INT32_MIN);
    EXPECT_EQ(loaderNative(0.5f, 4), 1073741824);
    EXPECT_EQ(loaderNative(1.0f, 4), INT32_MAX);
    EXPECT_EQ(loaderNative(std::numeric_limits<float>::quiet_NaN(), 3), 0);
    EXPECT_EQ(loaderNative(INFINITY, 3), 8388607);
    EXPECT_EQ(loaderNative(-INFINITY, 4), INT32_MIN);

    EXPECT_EQ(writerFloat(32767, 2), 0.999969482421875f);
    EXPECT_EQ(writerFloat(-32768, 2), -1.0f);
    EXPECT_EQ(writerFloat(8388607, 3), 0.99999988079071044921875f);
    EXPECT_EQ(writerFloat(INT32_MAX, 4), 1.0f);
    EXPECT_EQ(writerFloat(INT32_MIN, 4), -1.0f);
    EXPECT_EQ(roundTrip(1.0f, 2), 0.999969482421875f);
    EXPECT_EQ(roundTrip(0.5f, 4), 0.5f);
}

// The model above against korvane's own loader and writer, through a digital loopback
// that copies each played block to the recording store.
TEST(RoundTrip, ModelEqualsKorvanesLoaderAndWriter) {
    std::vector<float> values = noise(500, 7, 1.0);
    const float special[] = {1.0f,
                             -1.0f,
                             0.5f,
                             -0.5f,
                             1.5f,
                             -1.5f,
                             3e9f,
                             -3e9f,
                             1e-7f,
                             0.0f,
                             -0.0f,
                             1e-40f,
                             INFINITY,
                             -INFINITY,
                             0.99999f,
                             -0.999999f,
                             std::numeric_limits<float>::quiet_NaN()};
    values.insert(values.end(), std::begin(special), std::end(special));
    const std::string playPath = tempPath("model-play.wav");
    const std::string recordPath = tempPath("model-record.wav");
    RiffFile file;
    file.chunk("fmt ", formatBody(3, 1, 48000, 32)).chunk("data", floatBytes(values));
    EXPECT_TRUE(writeBytes(playPath, file.bytes()));
    for (int width = 2; width <= 4; ++width) {
        SCOPED_TRACE(width);
        resetRunState();
        uint32_t tag = 0;
        uint32_t bits = 0;
        ASSERT_EQ(probeWavFile(playPath.c_str(), &tag, &playSampleRate, &bits, &playChannels,
                               &playFramesLeft),
                  kWavOk);
        bytesPerSample = width;
        bufferFrames = 64;
        ASSERT_EQ(loadPlayFile(playPath.c_str()), kWavOk);
        recordChannels = playChannels;
        recordFrames = playFramesLeft;
        ASSERT_TRUE(allocateRecordStore());
        std::memcpy(recordBuffers[0], playBuffers[0], size_t(recordFrames) * size_t(width));
        ASSERT_EQ(writeRecordFile(recordPath.c_str()), kRecordWritten);
        const std::vector<float> recorded = canonicalSamples(recordPath);
        ASSERT_EQ(recorded.size(), 576u); // whole buffers
        const std::vector<float> model = loopback(values, 0, recorded.size(), width);
        for (size_t i = 0; i < recorded.size(); ++i) {
            EXPECT_EQ(floatBits(recorded[i]), floatBits(model[i])) << i;
        }
    }
    resetRunState();
    std::remove(playPath.c_str());
    std::remove(recordPath.c_str());
}

TEST(FindDelay, FindsTheLagOfLargestCorrelationAsABruteForceSearchDoes) {
    const std::vector<float> played = noise(3000, 1);
    for (uint32_t delay : {0u, 1u, 777u, 2999u}) {
        SCOPED_TRACE(delay);
        // Longer than needed, and cut short before the played signal ends.
        for (size_t frames : {size_t(delay) + 3500, size_t(delay) + 1000}) {
            const DelayMatch match = findDelay(played, loopback(played, delay, frames, 3), 4000);
            EXPECT_TRUE(match.found);
            EXPECT_EQ(match.delay, delay);
            EXPECT_NEAR(match.correlation, 1.0, 1e-6);
        }
    }
    // Inverted polarity is found, with a negative correlation.
    std::vector<float> inverted = loopback(played, 40, 3100, 0);
    for (float& v : inverted) {
        v = -v;
    }
    const DelayMatch match = findDelay(played, inverted, 100);
    EXPECT_EQ(match.delay, 40);
    EXPECT_NEAR(match.correlation, -1.0, 1e-6);
    // A recording that started late: the played channel's start is missing from it.
    const std::vector<float> late(played.begin() + 56, played.end());
    EXPECT_EQ(findDelay(played, late, 100).delay, -56);
    EXPECT_NEAR(findDelay(played, late, 100).correlation, 1.0, 1e-6);
    // A delay beyond the search is not found there.
    EXPECT_NE(findDelay(played, loopback(played, 500, 4000, 0), 100).delay, 500);

    // Noisy, mixed recordings: the same answer as the exact search over every lag.
    for (uint64_t seed = 2; seed < 8; ++seed) {
        const std::vector<float> p = noise(200 + 37 * seed, seed);
        std::vector<float> r = noise(700, seed + 100, 0.3);
        const uint32_t at = uint32_t(13 * seed);
        for (size_t n = 0; n < p.size() && n + at < r.size(); ++n) {
            r[n + at] += 0.2f * p[n];
        }
        EXPECT_EQ(findDelay(p, r, 300).delay, bruteForceDelay(p, r, 300)) << seed;
    }
    // Silence on either side has no delay.
    EXPECT_FALSE(findDelay(std::vector<float>(100, 0.0f), played, 50).found);
    EXPECT_FALSE(findDelay(played, std::vector<float>(100, 0.0f), 50).found);
    EXPECT_FALSE(findDelay(played, {}, 50).found);
}

TEST(FirstMismatch, RequiresSilenceThenTheRoundTripThenSilence) {
    const std::vector<float> played = noise(100, 3);
    uint32_t frame = 0;
    float expected = 0;
    float got = 0;
    for (int width = 2; width <= 4; ++width) {
        for (size_t frames : {size_t(120), size_t(300)}) {
            EXPECT_FALSE(firstMismatch(&played, loopback(played, 20, frames, width), 20, width,
                                       &frame, &expected, &got));
        }
        // Cut short before the played material ends: what was never recorded is missing.
        ASSERT_TRUE(firstMismatch(&played, loopback(played, 20, 50, width), 20, width, &frame,
                                  &expected, &got));
        EXPECT_EQ(frame, 50u);
        EXPECT_EQ(expected, roundTrip(played[30], width));
    }
    // Silence after the material may be cut off.
    std::vector<float> tailed = played;
    tailed.resize(150, 0.0f);
    EXPECT_FALSE(
        firstMismatch(&tailed, loopback(played, 20, 120, 3), 20, 3, &frame, &expected, &got));
    std::vector<float> recorded = loopback(played, 20, 256, 3);
    // The unconverted played value is not the round trip.
    recorded[70] = played[50];
    ASSERT_TRUE(firstMismatch(&played, recorded, 20, 3, &frame, &expected, &got));
    EXPECT_EQ(frame, 70u);
    EXPECT_EQ(expected, roundTrip(played[50], 3));
    EXPECT_EQ(got, played[50]);
    // Anything before the delay, or after the played material, is a mismatch too.
    recorded = loopback(played, 20, 256, 3);
    recorded[3] = 1.0f / 8388608;
    ASSERT_TRUE(firstMismatch(&played, recorded, 20, 3, &frame, &expected, &got));
    EXPECT_EQ(frame, 3u);
    EXPECT_EQ(expected, 0.0f);
    recorded = loopback(played, 20, 256, 3);
    recorded[200] = -0.0f;
    ASSERT_TRUE(firstMismatch(&played, recorded, 20, 3, &frame, &expected, &got));
    EXPECT_EQ(frame, 200u);
    // The wrong width does not pass, and a wrong delay fails where the material starts.
    EXPECT_TRUE(
        firstMismatch(&played, loopback(played, 20, 256, 3), 20, 2, &frame, &expected, &got));
    EXPECT_TRUE(
        firstMismatch(&played, loopback(played, 20, 256, 3), 21, 3, &frame, &expected, &got));
    EXPECT_EQ(frame, 20u);
    // No played channel: only silence passes.
    EXPECT_FALSE(
        firstMismatch(nullptr, std::vector<float>(10, 0.0f), 0, 2, &frame, &expected, &got));
    EXPECT_TRUE(firstMismatch(nullptr, recorded, 0, 2, &frame, &expected, &got));
}

TEST(CheckRecording, MapsChannelsAsKorvanesFirstChannelArgumentsDo) {
    CheckOptions options;
    EXPECT_EQ(playedChannelFor(0, 2, options), 0);
    EXPECT_EQ(playedChannelFor(1, 2, options), 1);
    EXPECT_EQ(playedChannelFor(2, 2, options), -1);
    // korvane DRIVER BUF played.wav 3 rec.wav 4 1: outputs 3 and 4 feed inputs 3 and 4.
    options.playStart = 3;
    options.recStart = 1;
    EXPECT_EQ(playedChannelFor(0, 2, options), -1);
    EXPECT_EQ(playedChannelFor(1, 2, options), -1);
    EXPECT_EQ(playedChannelFor(2, 2, options), 0);
    EXPECT_EQ(playedChannelFor(3, 2, options), 1);
    // ... played.wav 1 rec.wav 1 2: input 2 records output 2, the file's second channel.
    options.playStart = 1;
    options.recStart = 2;
    EXPECT_EQ(playedChannelFor(0, 2, options), 1);
    EXPECT_EQ(playedChannelFor(1, 2, options), -1);
}

TEST(CheckRecording, ReportsDelayLevelAndExactnessPerRecordedChannel) {
    WavData played;
    played.channels = {noise(2000, 11), noise(2000, 12)};
    played.frames = 2000;
    // Inputs 2..4 of a run with PlayStartChannel 2 and RecStartChannel 2: channel 1 and 2
    // of the file, then an input without an output.
    CheckOptions options;
    options.playStart = 2;
    options.recStart = 2;
    options.width = 2;
    WavData recorded;
    // Long enough for the delayed material: a recording cut short is not exact.
    recorded.channels = {loopback(played.channels[0], 300, 2304, 2),
                         loopback(played.channels[1], 300, 2304, 2),
                         std::vector<float>(2304, 0.0f)};
    std::vector<ChannelCheck> checks = checkRecording(played, recorded, options);
    ASSERT_EQ(checks.size(), 3u);
    for (uint32_t r = 0; r < 2; ++r) {
        EXPECT_EQ(checks[r].recorded, r + 1);
        EXPECT_EQ(checks[r].played, r + 1);
        EXPECT_TRUE(checks[r].match.found);
        EXPECT_EQ(checks[r].delay, 300);
        EXPECT_TRUE(checks[r].exactTested);
        EXPECT_TRUE(checks[r].exact);
        EXPECT_NEAR(checks[r].peak, 0.5, 0.01);
    }
    EXPECT_EQ(checks[2].played, 0u);
    EXPECT_FALSE(checks[2].match.found);
    EXPECT_TRUE(checks[2].exact);
    EXPECT_EQ(checks[2].peak, 0.0);

    // Channels swapped: the delay search still finds the best lag, but not an exact match.
    std::swap(recorded.channels[0], recorded.channels[1]);
    recorded.channels[2][1000] = 0.25f;
    checks = checkRecording(played, recorded, options);
    EXPECT_FALSE(checks[0].exact);
    EXPECT_LT(std::fabs(checks[0].match.correlation), 0.2);
    EXPECT_FALSE(checks[2].exact);
    EXPECT_EQ(checks[2].mismatchFrame, 1000u);
    EXPECT_EQ(checks[2].got, 0.25f);

    // A fixed delay is taken as given.
    std::swap(recorded.channels[0], recorded.channels[1]);
    options.delay = 299;
    checks = checkRecording(played, recorded, options);
    EXPECT_EQ(checks[0].delay, 299);
    EXPECT_FALSE(checks[0].exact);
    EXPECT_EQ(checks[0].mismatchFrame, 299u);
}

namespace {

// One played channel and one recording of it, checked alone.
ChannelCheck checkOne(const std::vector<float>& played, const std::vector<float>& recorded,
                      CheckOptions options = CheckOptions()) {
    WavData p;
    p.channels = {played};
    p.frames = uint32_t(played.size());
    WavData r;
    r.channels = {recorded};
    r.frames = uint32_t(recorded.size());
    return checkRecording(p, r, options)[0];
}

// Channels that play the same samples share one transform of them; each still finds its own
// delay, as it does checked alone, whichever order the threads take them in.
TEST(CheckRecording, ChannelsPlayingTheSameSamplesEachFindTheirOwnDelay) {
    const std::vector<float> a = noise(3000, 21);
    const std::vector<float> b = noise(3000, 22);
    std::vector<float> a2 = a; // a but for one sample
    a2[1500] = -a2[1500];
    WavData played;
    played.channels = {a, a, b, a, b, a2};
    played.frames = 3000;
    const uint32_t delays[] = {100, 250, 400, 37, 5, 160};
    WavData recorded;
    for (size_t c = 0; c < played.channels.size(); ++c) {
        recorded.channels.push_back(loopback(played.channels[c], delays[c], 3500, 3));
    }
    const std::vector<ChannelCheck> checks = checkRecording(played, recorded, CheckOptions());
    for (size_t c = 0; c < checks.size(); ++c) {
        const ChannelCheck alone = checkOne(played.channels[c], recorded.channels[c]);
        EXPECT_EQ(checks[c].delay, delays[c]) << c;
        EXPECT_EQ(checks[c].match.correlation, alone.match.correlation) << c;
        EXPECT_EQ(checks[c].match.secondPeak, alone.match.secondPeak) << c;
        EXPECT_EQ(checks[c].match.peakToRest, alone.match.peakToRest) << c;
    }
}

bool mentions(const ChannelCheck& check, const std::string& part) {
    for (const std::string& text : trustProblemTexts(check, CheckOptions(), 1000)) {
        if (text.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(CheckTrust, TrustsAClearPeakOfMaterialRecordedInFull) {
    const std::vector<float> played = noise(2000, 21);
    ChannelCheck check = checkOne(played, loopback(played, 300, 2400, 3));
    EXPECT_EQ(check.problems, 0u);
    EXPECT_GT(check.match.peakToRest, kClearPeakFactor);
    EXPECT_TRUE(recordingTrusted({check}));
    EXPECT_TRUE(trustProblemTexts(check, CheckOptions(), 1000).empty());
    // An impulse has no rest to compare with, and trailing silence need not be recorded.
    std::vector<float> impulse(500, 0.0f);
    impulse[10] = 0.5f;
    EXPECT_EQ(checkOne(impulse, loopback(impulse, 40, 60, 0)).problems, 0u);
    // A played channel of silence gives no delay, and nothing to distrust.
    EXPECT_EQ(checkOne(std::vector<float>(100, 0.0f), noise(100, 3)).problems, 0u);
}

TEST(CheckTrust, NoPeakStandsOutWhenTheDelayIsBeyondTheSearchOrThePlaybackIsNotThere) {
    const std::vector<float> played = noise(2000, 22);
    CheckOptions options;
    options.maxDelay = 1000;
    ChannelCheck check = checkOne(played, loopback(played, 1500, 4000, 0), options);
    EXPECT_EQ(check.problems, uint32_t(kTrustNoClearPeak));
    EXPECT_FALSE(recordingTrusted({check}));
    EXPECT_TRUE(mentions(check, "--max-delay")) << trustProblemTexts(check, options, 1000)[0];
    EXPECT_EQ(checkOne(played, noise(4000, 23)).problems, uint32_t(kTrustNoClearPeak));
    EXPECT_EQ(checkOne(played, std::vector<float>(4000, 0.0f)).problems,
              uint32_t(kTrustNoClearPeak));
}

TEST(CheckTrust, APeriodicSignalIsAmbiguous) {
    std::vector<float> sine(2000);
    for (size_t n = 0; n < sine.size(); ++n) {
        sine[n] = float(0.5 * std::sin(2 * 3.14159265358979 * double(n) / 10));
    }
    const ChannelCheck check = checkOne(sine, loopback(sine, 55, 2200, 3));
    EXPECT_EQ(check.problems, uint32_t(kTrustAmbiguousPeak));
    EXPECT_GT(check.match.secondPeak, 0.9);
    EXPECT_TRUE(mentions(check, "periodic"));
}

TEST(CheckTrust, SignalWhereTheChannelMapPlaysNothingIsSuspect) {
    WavData played;
    played.channels = {noise(1000, 24)};
    played.frames = 1000;
    WavData recorded;
    recorded.channels = {std::vector<float>(1000, 0.0f), noise(1000, 25, 0.0001),
                         loopback(played.channels[0], 10, 1100, 0)};
    // The file played on output 1, inputs 2 to 4 recorded: only input 2 is reached... by
    // the map. The material sits on the third recorded channel instead.
    CheckOptions options;
    options.recStart = 2;
    recorded.channels[0] = loopback(played.channels[0], 0, 1100, 0);
    recorded.channels[1].resize(1100, 0.0f);
    const std::vector<ChannelCheck> checks = checkRecording(played, recorded, options);
    ASSERT_EQ(checks.size(), 3u);
    EXPECT_EQ(checks[1].problems, 0u); // -80 dBFS: noise, not signal
    EXPECT_EQ(checks[2].problems, uint32_t(kTrustUnplayedSignal));
    const std::vector<std::string> texts = trustProblemTexts(checks[2], options, 1000);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("--play-start"), std::string::npos) << texts[0];
}

TEST(CheckTrust, ARecordingThatEndsBeforeTheDelayedPlaybackIsCutShortAndNotExact) {
    const std::vector<float> played = noise(2000, 26);
    CheckOptions options;
    options.width = 3;
    const ChannelCheck check = checkOne(played, loopback(played, 300, 2048, 3), options);
    EXPECT_EQ(check.problems, uint32_t(kTrustCutShort));
    EXPECT_EQ(check.delay, 300);
    EXPECT_EQ(check.materialEnd, 2300u);
    EXPECT_FALSE(check.exact);
    EXPECT_EQ(check.mismatchFrame, 2048u);
    const std::vector<std::string> texts = trustProblemTexts(check, options, 1000);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("pad the played file with at least 252 frames (0.252 s)"),
              std::string::npos)
        << texts[0];
}
