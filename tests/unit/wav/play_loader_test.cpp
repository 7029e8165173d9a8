#include "engine/run_state.h"
#include "support/nothrow_new_fault.h"
#include "support/sanitizer_build.h"
#include "wav/play_loader.h"
#include "wav/wav_format.h"
#include "wav/wav_io.h"
#include "wav_test_files.h"

namespace {

class PlayLoaderTest : public WavFileTest {
protected:
    void TearDown() override {
        clearNothrowArrayNewFault();
        WavFileTest::TearDown();
    }

    // The run's order: probe into the globals, then load at the native width.
    int probeAndLoad(const std::string& path, int width, uint32_t frames) {
        bytesPerSample = width;
        bufferFrames = frames;
        uint32_t tag = 0;
        uint32_t bits = 0;
        const int probed = probeWavFile(path.c_str(), &tag, &playSampleRate, &bits, &playChannels,
                                        &playFramesLeft);
        EXPECT_EQ(probed, kWavOk);
        return loadPlayFile(path.c_str());
    }

    Bytes block(uint32_t c) const {
        const uint8_t* start = playBuffers[c];
        return Bytes(start, start + size_t(bytesPerSample) * playFramesLeft);
    }

    void expectCursorsAtBlockStarts() const {
        for (uint32_t c = 0; c < playChannels; ++c) {
            EXPECT_EQ(playCursors[c], playBuffers[c]) << c;
        }
    }
};

TEST_F(PlayLoaderTest, PadsEveryChannelToWholeBuffers) {
    const struct {
        uint32_t frames;
        uint32_t buffer;
        uint32_t padded;
    } cases[] = {{1000, 256, 1024}, {1024, 256, 1024}, {1, 512, 512}};
    for (const auto& c : cases) {
        resetRunState();
        std::vector<float> samples(size_t(c.frames) * 2, 0.25f);
        ASSERT_EQ(probeAndLoad(writeFile("pad.wav", floatWav(2, samples)), 2, c.buffer), kWavOk);
        EXPECT_EQ(playFramesLeft, c.padded);
        EXPECT_EQ(playChannels, 2u);
        for (uint32_t ch = 0; ch < 2; ++ch) {
            const Bytes b = block(ch);
            const Bytes quarter = referenceNativeBytes(0.25f, 2);
            for (uint32_t f = 0; f < c.padded; ++f) {
                const Bytes expected = f < c.frames ? quarter : Bytes{0, 0};
                ASSERT_EQ(Bytes(b.begin() + 2 * f, b.begin() + 2 * f + 2), expected)
                    << c.frames << " frame " << f;
            }
        }
        expectCursorsAtBlockStarts();
    }
}

TEST_F(PlayLoaderTest, SplitsInterleavedFramesIntoChannelBlocks) {
    const std::vector<float> samples = {0.5f, -0.5f, 0.25f, -0.25f};
    ASSERT_EQ(probeAndLoad(writeFile("split.wav", floatWav(2, samples)), 3, 4), kWavOk);
    EXPECT_EQ(block(0), (Bytes{0xFF, 0xFF, 0x3F, 0xFF, 0xFF, 0x1F, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(block(1), (Bytes{0x01, 0x00, 0xC0, 0x01, 0x00, 0xE0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(PlayLoaderTest, ConvertsEdgeValuesByteForByteAtEveryWidth) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float x;
        Bytes at2;
        Bytes at3;
        Bytes at4;
    } cases[] = {
        {0.5f, {0xFF, 0x3F}, {0xFF, 0xFF, 0x3F}, {0x00, 0x00, 0x00, 0x40}},
        {-0.5f, {0x01, 0xC0}, {0x01, 0x00, 0xC0}, {0x00, 0x00, 0x00, 0xC0}},
        {1.0f, {0xFF, 0x7F}, {0xFF, 0xFF, 0x7F}, {0xFF, 0xFF, 0xFF, 0x7F}},
        {-1.0f, {0x01, 0x80}, {0x01, 0x00, 0x80}, {0x00, 0x00, 0x00, 0x80}},
        {0.00001f, {0x00, 0x00}, {0x53, 0x00, 0x00}, {0xE2, 0x53, 0x00, 0x00}},
        {1.5f, {0xFF, 0x7F}, {0xFF, 0xFF, 0x7F}, {0xFF, 0xFF, 0xFF, 0x7F}},
        {-1.5f, {0x00, 0x80}, {0x00, 0x00, 0x80}, {0x00, 0x00, 0x00, 0x80}},
        {70000.0f, {0xFF, 0x7F}, {0xFF, 0xFF, 0x7F}, {0xFF, 0xFF, 0xFF, 0x7F}},
        {inf, {0xFF, 0x7F}, {0xFF, 0xFF, 0x7F}, {0xFF, 0xFF, 0xFF, 0x7F}},
        {-inf, {0x00, 0x80}, {0x00, 0x00, 0x80}, {0x00, 0x00, 0x00, 0x80}},
        {nan, {0x00, 0x00}, {0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x00}},
    };
    for (int width = 2; width <= 4; ++width) {
        std::vector<float> samples;
        for (const auto& c : cases) {
            samples.push_back(c.x);
        }
        resetRunState();
        ASSERT_EQ(probeAndLoad(writeFile("edge.wav", floatWav(1, samples)), width, 1), kWavOk);
        const Bytes b = block(0);
        for (size_t i = 0; i < samples.size(); ++i) {
            const Bytes& expected = width == 2   ? cases[i].at2
                                    : width == 3 ? cases[i].at3
                                                 : cases[i].at4;
            const Bytes got(b.begin() + long(i) * width, b.begin() + long(i + 1) * width);
            EXPECT_EQ(got, expected) << "width " << width << " x " << samples[i];
            EXPECT_EQ(got, referenceNativeBytes(samples[i], width)) << width << " " << i;
        }
    }
}

// Random values and bit patterns over several work blocks, against the one-at-a-time rule.
TEST_F(PlayLoaderTest, MatchesTheReferenceConversionOnRandomData) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<float> around(-1.25f, 1.25f);
    const uint32_t channels = 3;
    const uint32_t frames = uint32_t(kWavWorkBytes / (4 * channels)) * 2 + 77;
    std::vector<float> samples(size_t(frames) * channels);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = i % 4 == 3 ? bitsFloat(uint32_t(random())) : around(random);
    }
    const std::string file = writeFile("random.wav", floatWav(channels, samples));
    for (int width = 2; width <= 4; ++width) {
        resetRunState();
        ASSERT_EQ(probeAndLoad(file, width, 1000), kWavOk);
        ASSERT_EQ(playFramesLeft, (frames + 999) / 1000 * 1000);
        size_t mismatches = 0;
        for (uint32_t c = 0; c < channels; ++c) {
            const Bytes b = block(c);
            for (uint32_t f = 0; f < playFramesLeft; ++f) {
                const Bytes expected = f < frames
                                           ? referenceNativeBytes(samples[f * channels + c], width)
                                           : Bytes(size_t(width), 0);
                mismatches +=
                    !std::equal(expected.begin(), expected.end(), b.begin() + long(f) * width);
            }
        }
        EXPECT_EQ(mismatches, 0u) << "width " << width;
        expectCursorsAtBlockStarts();
    }
}

// From one channel to frames wider than the loader converts at a time, with frame counts
// that end its chunks and its groups of samples anywhere, and no padding after the last.
TEST_F(PlayLoaderTest, MatchesTheReferenceAtAnyChannelAndFrameCount) {
    std::mt19937 random(77);
    std::uniform_real_distribution<float> around(-1.1f, 1.1f);
    const struct {
        uint32_t channels;
        uint32_t frames;
    } shapes[] = {{1, 1},    {1, 3},    {1, 8197}, {2, 5},    {5, 2459},
                  {8, 1031}, {64, 133}, {100, 43}, {4097, 3}, {8193, 2}};
    for (const auto& shape : shapes) {
        std::vector<float> samples(size_t(shape.channels) * shape.frames);
        for (float& x : samples) {
            x = around(random);
        }
        const std::string file = writeFile("shape.wav", floatWav(shape.channels, samples));
        for (int width = 2; width <= 4; ++width) {
            resetRunState();
            ASSERT_EQ(probeAndLoad(file, width, 1), kWavOk);
            ASSERT_EQ(playFramesLeft, shape.frames);
            size_t mismatches = 0;
            for (uint32_t c = 0; c < shape.channels; ++c) {
                const uint8_t* b = playBuffers[c];
                for (uint32_t f = 0; f < shape.frames; ++f) {
                    const Bytes expected =
                        referenceNativeBytes(samples[size_t(f) * shape.channels + c], width);
                    mismatches += !std::equal(expected.begin(), expected.end(), b + f * width);
                }
            }
            EXPECT_EQ(mismatches, 0u)
                << shape.channels << " x " << shape.frames << " at width " << width;
            expectCursorsAtBlockStarts();
        }
    }
}

TEST_F(PlayLoaderTest, TreatsSamplesMissingFromAShortDataChunkAsSilence) {
    const uint32_t channels = 2;
    // A small store, likely to reuse the blocks just freed, and one over several work blocks.
    for (const uint32_t frames : {3000u, uint32_t(kWavWorkBytes / 8) + 500}) {
        // First a store of the same size full of material, freed again.
        const uint32_t padded = (frames + 255) / 256 * 256;
        std::vector<float> samples(size_t(padded) * channels, -0.75f);
        ASSERT_EQ(probeAndLoad(writeFile("full.wav", floatWav(channels, samples)), 4, 256), kWavOk);
        releasePlayStore();
        samples.resize(size_t(frames) * channels);
        Bytes file = floatWav(channels, samples);
        const size_t present = size_t(frames - 700) * channels + 1; // ends within a frame
        file.resize(kWavHeaderBytes + present * 4 + 2);             // and within a sample
        ASSERT_EQ(probeAndLoad(writeFile("short.wav", file), 4, 256), kWavOk);
        const Bytes value = referenceNativeBytes(-0.75f, 4);
        const Bytes zero(4, 0);
        for (uint32_t c = 0; c < channels; ++c) {
            const Bytes b = block(c);
            size_t wrong = 0;
            for (uint32_t f = 0; f < playFramesLeft; ++f) {
                const bool there = size_t(f) * channels + c < present;
                wrong += !std::equal(b.begin() + 4 * f, b.begin() + 4 * f + 4,
                                     there ? value.begin() : zero.begin());
            }
            EXPECT_EQ(wrong, 0u) << frames << " channel " << c;
        }
        releasePlayStore();
    }
}

TEST_F(PlayLoaderTest, RefusesAFileChangedSinceTheProbe) {
    const std::string p = path("changed.wav");
    const std::vector<float> samples(8, 0.5f);
    HeaderFields h;
    h.channels = 2;
    h.dataBytes = 32;
    struct Change {
        const char* name;
        Bytes bytes;
    };
    HeaderFields rate = h, channels = h, size = h, tag = h, bits = h;
    rate.sampleRate = 44100;
    channels.channels = 1;
    size.dataBytes = 40;
    tag.formatTag = 1;
    bits.bitsPerSample = 16;
    bits.dataBytes = 16; // the same frame count at 16 bits
    Bytes notRiff = floatWav(2, samples);
    notRiff[3] = 'X';
    const Change changes[] = {
        {"sample rate", canonicalHeader(rate)},     {"channels", canonicalHeader(channels)},
        {"frame count", canonicalHeader(size)},     {"format tag", canonicalHeader(tag)},
        {"bits per sample", canonicalHeader(bits)}, {"not RIFF", notRiff},
    };
    for (const auto& change : changes) {
        resetRunState();
        writeFile("changed.wav", floatWav(2, samples));
        bytesPerSample = 2;
        bufferFrames = 16;
        uint32_t t, b;
        ASSERT_EQ(probeWavFile(p.c_str(), &t, &playSampleRate, &b, &playChannels, &playFramesLeft),
                  kWavOk);
        Bytes file = change.bytes;
        file.resize(kWavHeaderBytes + 64, 0);
        writeFile("changed.wav", file);
        EXPECT_EQ(loadPlayFile(p.c_str()),
                  change.bytes == notRiff ? kWavNotRiffWave : kWavNotCanonical)
            << change.name;
        EXPECT_EQ(playBuffers, nullptr) << change.name;
        EXPECT_EQ(playCursors, nullptr) << change.name;
        EXPECT_EQ(playFramesLeft, 4u) << change.name;
        EXPECT_EQ(playChannels, 2u) << change.name;
    }
    std::remove(p.c_str());
    EXPECT_EQ(loadPlayFile(p.c_str()), kWavCannotOpen);

    // A file without one whole frame never reaches the store.
    resetRunState();
    h.dataBytes = 4;
    bytesPerSample = 2;
    bufferFrames = 16;
    playChannels = 2;
    playSampleRate = 48000;
    EXPECT_EQ(loadPlayFile(writeFile("noframe.wav", canonicalHeader(h)).c_str()), kWavNotCanonical);
    EXPECT_EQ(playBuffers, nullptr);
    EXPECT_EQ(playFramesLeft, 0u);
}

TEST_F(PlayLoaderTest, LeavesNothingAllocatedWhenMemoryRunsOut) {
    SKIP_WITHOUT_ALLOCATION_FAULTS();
    const std::string p = writeFile("mem.wav", floatWav(3, std::vector<float>(30, 0.5f)));
    long failing = 0;
    for (;; ++failing) {
        resetRunState();
        bytesPerSample = 4;
        bufferFrames = 8;
        uint32_t t, b;
        ASSERT_EQ(probeWavFile(p.c_str(), &t, &playSampleRate, &b, &playChannels, &playFramesLeft),
                  kWavOk);
        failNthNothrowArrayNew(failing);
        const int result = loadPlayFile(p.c_str());
        const long calls = nothrowArrayNewCalls();
        clearNothrowArrayNewFault();
        if (result == kWavOk) {
            EXPECT_GT(calls, 0);
            EXPECT_LE(calls, failing);
            break;
        }
        EXPECT_EQ(result, kWavNoMemory) << failing;
        EXPECT_EQ(playBuffers, nullptr) << failing;
        EXPECT_EQ(playCursors, nullptr) << failing;
        EXPECT_EQ(playFramesLeft, 10u) << failing;
    }
    EXPECT_GE(failing, 2 + 3); // both arrays and every block were tried
    EXPECT_EQ(playFramesLeft, 16u);

    // 2^30 - 4 frames padded to 2^30: a block of 2^32 bytes, asked for in full.
    resetRunState();
    HeaderFields huge;
    huge.dataBytes = 0xFFFFFFF0u;
    const std::string big = writeFile("huge.wav", canonicalHeader(huge));
    bytesPerSample = 4;
    bufferFrames = 256;
    uint32_t t, b;
    ASSERT_EQ(probeWavFile(big.c_str(), &t, &playSampleRate, &b, &playChannels, &playFramesLeft),
              kWavOk);
    failNothrowArrayNewAbove(size_t(64) << 20);
    EXPECT_EQ(loadPlayFile(big.c_str()), kWavNoMemory);
    EXPECT_EQ(largestNothrowArrayNewRequest(), uint64_t(1) << 32);
    EXPECT_EQ(playBuffers, nullptr);
    EXPECT_EQ(playCursors, nullptr);
}

} // namespace
