#include "engine/run_state.h"
#include "wav/play_loader.h"
#include "wav/record_writer.h"
#include "wav/wav_format.h"
#include "wav/wav_io.h"
#include "wav_test_files.h"

namespace {

class RecordWriterTest : public WavFileTest {
protected:
    // A recording store holding the given native samples, channel after channel.
    void fillStore(int width, uint32_t channels, const std::vector<Bytes>& blocks) {
        bytesPerSample = width;
        recordChannels = channels;
        recordFrames = channels == 0 ? 0 : uint32_t(blocks[0].size() / size_t(width));
        ASSERT_TRUE(allocateRecordStore());
        for (uint32_t c = 0; c < channels; ++c) {
            std::memcpy(recordBuffers[c], blocks[c].data(), blocks[c].size());
        }
    }

    static uint32_t field(const Bytes& file, size_t offset, int bytes) {
        return getLe(file.data() + offset, bytes);
    }

    static float sample(const Bytes& file, size_t index) {
        return bitsFloat(field(file, kWavHeaderBytes + 4 * index, 4));
    }
};

Bytes randomBytes(std::mt19937& random, size_t count) {
    Bytes out(count);
    for (auto& b : out) {
        b = uint8_t(random());
    }
    return out;
}

TEST_F(RecordWriterTest, WritesTheCanonicalHeader) {
    playSampleRate = 48000;
    std::mt19937 random(7);
    fillStore(3, 2, {randomBytes(random, 3 * 1024), randomBytes(random, 3 * 1024)});
    const std::string p = path("rec.wav");
    ASSERT_EQ(writeRecordFile(p.c_str()), kRecordWritten);
    const Bytes file = readBytes(p);
    ASSERT_EQ(file.size(), 8236u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{'R', 'I', 'F', 'F'}));
    EXPECT_EQ(field(file, 4, 4), 8228u);
    EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 16),
              (Bytes{'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}));
    EXPECT_EQ(field(file, 16, 4), 16u);
    EXPECT_EQ(field(file, 20, 2), 3u);
    EXPECT_EQ(field(file, 22, 2), 2u);
    EXPECT_EQ(field(file, 24, 4), 48000u);
    EXPECT_EQ(field(file, 28, 4), 384000u);
    EXPECT_EQ(field(file, 32, 2), 8u);
    EXPECT_EQ(field(file, 34, 2), 32u);
    EXPECT_EQ(Bytes(file.begin() + 36, file.begin() + 40), (Bytes{'d', 'a', 't', 'a'}));
    EXPECT_EQ(field(file, 40, 4), 8192u);
    for (uint32_t c = 0; c < 2; ++c) {
        EXPECT_EQ(recordCursors[c], recordBuffers[c] + 3 * 1024) << c;
    }

    // No channels: the header alone.
    resetRunState();
    playSampleRate = 44100;
    fillStore(2, 0, {});
    ASSERT_EQ(writeRecordFile(p.c_str()), kRecordWritten);
    const Bytes empty = readBytes(p);
    ASSERT_EQ(empty.size(), 44u);
    EXPECT_EQ(field(empty, 22, 2), 0u);
    EXPECT_EQ(field(empty, 40, 4), 0u);
    EXPECT_EQ(field(empty, 4, 4), 36u);
}

TEST_F(RecordWriterTest, ConvertsEdgeValuesByteForByteAtEveryWidth) {
    const struct {
        int width;
        Bytes native;
        uint32_t bits;
    } cases[] = {
        {2, {0xFF, 0x7F}, 0x3F7FFE00},       // 0.999969482421875
        {2, {0x00, 0x80}, 0xBF800000},       // -1.0
        {2, {0xFF, 0x3F}, 0x3EFFFC00},       // 0.499969482421875
        {2, {0x01, 0x00}, 0x38000000},       // 2^-15
        {3, {0xFF, 0xFF, 0x7F}, 0x3F7FFFFE}, // 0.99999988079071044921875
        {3, {0x00, 0x00, 0x80}, 0xBF800000},
        {3, {0xFF, 0xFF, 0xFF}, 0xB4000000},       // -2^-23
        {4, {0xFF, 0xFF, 0xFF, 0x7F}, 0x3F800000}, // rounds to 1.0
        {4, {0x00, 0x00, 0x00, 0x80}, 0xBF800000},
        {4, {0xC0, 0xFF, 0xFF, 0x7F}, 0x3F800000}, // 2^31 - 64: a tie, to even
        {4, {0x7F, 0xFF, 0xFF, 0x7F}, 0x3F7FFFFF}, // 2^31 - 129: below the tie
        {4, {0x00, 0x00, 0x00, 0x00}, 0x00000000},
    };
    const std::string p = path("edge.wav");
    for (const auto& c : cases) {
        resetRunState();
        fillStore(c.width, 1, {c.native});
        ASSERT_EQ(writeRecordFile(p.c_str()), kRecordWritten);
        const Bytes file = readBytes(p);
        ASSERT_EQ(file.size(), 48u);
        EXPECT_EQ(field(file, 44, 4), c.bits) << c.width << " " << int(c.native[0]);
        EXPECT_EQ(floatBits(referenceFloat(c.native.data(), c.width)), c.bits);
    }
}

// Random native samples over several work blocks, against the one-at-a-time rule.
TEST_F(RecordWriterTest, MatchesTheReferenceConversionOnRandomData) {
    std::mt19937 random(99);
    const uint32_t channels = 3;
    const uint32_t frames = uint32_t(kWavWorkBytes / (4 * channels)) * 2 + 55;
    const std::string p = path("random.wav");
    for (int width = 2; width <= 4; ++width) {
        resetRunState();
        std::vector<Bytes> blocks;
        for (uint32_t c = 0; c < channels; ++c) {
            blocks.push_back(randomBytes(random, size_t(frames) * size_t(width)));
        }
        fillStore(width, channels, blocks);
        ASSERT_EQ(writeRecordFile(p.c_str()), kRecordWritten);
        const Bytes file = readBytes(p);
        ASSERT_EQ(file.size(), 44 + size_t(frames) * channels * 4);
        size_t mismatches = 0;
        for (uint32_t f = 0; f < frames; ++f) {
            for (uint32_t c = 0; c < channels; ++c) {
                const float expected = referenceFloat(&blocks[c][size_t(f) * size_t(width)], width);
                mismatches +=
                    floatBits(sample(file, size_t(f) * channels + c)) != floatBits(expected);
            }
        }
        EXPECT_EQ(mismatches, 0u) << "width " << width;
    }
}

// From one channel to frames wider than the writer interleaves at a time, with frame
// counts that end its chunks anywhere and channel counts that end its groups anywhere.
TEST_F(RecordWriterTest, MatchesTheReferenceAtAnyChannelAndFrameCount) {
    std::mt19937 random(31);
    const struct {
        uint32_t channels;
        uint32_t frames;
    } shapes[] = {{1, 1}, {1, 2},   {1, 4099}, {3, 1},    {5, 1031},
                  {7, 3}, {8, 517}, {64, 67},  {100, 45}, {4097, 2}};
    const std::string p = path("shape.wav");
    for (const auto& shape : shapes) {
        for (int width = 2; width <= 4; ++width) {
            resetRunState();
            std::vector<Bytes> blocks;
            for (uint32_t c = 0; c < shape.channels; ++c) {
                blocks.push_back(randomBytes(random, size_t(shape.frames) * size_t(width)));
            }
            fillStore(width, shape.channels, blocks);
            ASSERT_EQ(writeRecordFile(p.c_str()), kRecordWritten);
            const Bytes file = readBytes(p);
            ASSERT_EQ(file.size(), 44 + size_t(shape.frames) * shape.channels * 4);
            size_t mismatches = 0;
            for (uint32_t f = 0; f < shape.frames; ++f) {
                for (uint32_t c = 0; c < shape.channels; ++c) {
                    const float expected =
                        referenceFloat(&blocks[c][size_t(f) * size_t(width)], width);
                    mismatches += floatBits(sample(file, size_t(f) * shape.channels + c)) !=
                                  floatBits(expected);
                }
            }
            EXPECT_EQ(mismatches, 0u)
                << shape.channels << " x " << shape.frames << " at width " << width;
        }
    }
}

TEST_F(RecordWriterTest, WritesOnlyTheFramesAskedFor) {
    playSampleRate = 8000;
    fillStore(2, 2, {{1, 0, 2, 0, 3, 0, 4, 0}, {5, 0, 6, 0, 7, 0, 8, 0}});
    const std::string p = path("cut.wav");
    ASSERT_EQ(writeRecordFileFrames(p.c_str(), 3), kRecordWritten);
    Bytes file = readBytes(p);
    ASSERT_EQ(file.size(), 44u + 3 * 8);
    EXPECT_EQ(field(file, 4, 4), 36u + 24);
    EXPECT_EQ(field(file, 40, 4), 24u);
    const float expected[] = {1, 5, 2, 6, 3, 7};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(sample(file, i), expected[i] / 32768.0f) << i;
    }
    EXPECT_EQ(recordCursors[1], recordBuffers[1] + 6);

    // Never beyond the store.
    ASSERT_EQ(writeRecordFileFrames(p.c_str(), 1000), kRecordWritten);
    file = readBytes(p);
    EXPECT_EQ(file.size(), 44u + 4 * 8);
    EXPECT_EQ(field(file, 40, 4), 32u);
}

TEST_F(RecordWriterTest, ReplacesAnExistingFileOrReportsThatItCannotOpen) {
    fillStore(2, 1, {{0, 0}});
    const std::string p = writeFile("old.wav", Bytes(5000, 0x55));
    ASSERT_EQ(writeRecordFile(p.c_str()), kRecordWritten);
    EXPECT_EQ(readBytes(p).size(), 48u);

    const std::string nowhere = path("missing/rec.wav");
    EXPECT_EQ(writeRecordFile(nowhere.c_str()), kRecordCannotOpen);
    EXPECT_FALSE(std::filesystem::exists(nowhere));
    EXPECT_EQ(writeRecordFile(dir_.string().c_str()), kRecordCannotOpen);
    EXPECT_TRUE(std::filesystem::is_directory(dir_));
}

TEST_F(RecordWriterTest, ChecksThatTheRecordingCanBeCreatedWithoutLeavingTraces) {
    const std::string fresh = path("fresh.wav");
    EXPECT_TRUE(canCreateRecordFile(fresh.c_str()));
    EXPECT_FALSE(std::filesystem::exists(fresh));

    const Bytes content = {'k', 'e', 'e', 'p'};
    const std::string existing = writeFile("existing.wav", content);
    EXPECT_TRUE(canCreateRecordFile(existing.c_str()));
    EXPECT_EQ(readBytes(existing), content);

    EXPECT_FALSE(canCreateRecordFile(path("missing/rec.wav").c_str()));
    EXPECT_FALSE(canCreateRecordFile(dir_.string().c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(dir_));
}

// Through the loader and back out through the writer: each float comes back as its
// native sample over 2^(8w-1), the padding as silence.
TEST_F(RecordWriterTest, TakesAPlaybackFileThroughTheStoreAndBack) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> around(-1.0f, 1.0f);
    std::vector<float> samples = {1.0f, -1.0f, 0.5f, -0.5f, 0.0f, 2.0f};
    while (samples.size() < 2 * 999) {
        samples.push_back(around(random));
    }
    const std::string in = writeFile("in.wav", floatWav(2, samples, 96000));
    const std::string out = path("out.wav");
    for (int width = 2; width <= 4; ++width) {
        resetRunState();
        bytesPerSample = width;
        bufferFrames = 128;
        uint32_t tag, bits;
        ASSERT_EQ(
            probeWavFile(in.c_str(), &tag, &playSampleRate, &bits, &playChannels, &playFramesLeft),
            kWavOk);
        ASSERT_EQ(loadPlayFile(in.c_str()), kWavOk);
        recordChannels = playChannels;
        recordFrames = playFramesLeft;
        ASSERT_TRUE(allocateRecordStore());
        for (uint32_t c = 0; c < recordChannels; ++c) {
            std::memcpy(recordBuffers[c], playBuffers[c], size_t(width) * recordFrames);
        }
        releasePlayStore();
        ASSERT_EQ(writeRecordFile(out.c_str()), kRecordWritten);
        const Bytes file = readBytes(out);
        ASSERT_EQ(file.size(), 44u + 1024 * 8);
        EXPECT_EQ(field(file, 24, 4), 96000u);
        size_t mismatches = 0;
        for (size_t i = 0; i < 2 * 1024; ++i) {
            const float x = i < samples.size() ? samples[i] : 0.0f;
            const Bytes native = referenceNativeBytes(x, width);
            mismatches +=
                floatBits(sample(file, i)) != floatBits(referenceFloat(native.data(), width));
        }
        EXPECT_EQ(mismatches, 0u) << "width " << width;
        if (width == 2) {
            EXPECT_EQ(sample(file, 0), 0.999969482421875f);
            EXPECT_EQ(sample(file, 1), -0.999969482421875f);
            EXPECT_EQ(sample(file, 5), 0.999969482421875f); // 2.0 clipped
        }
        if (width == 4) {
            EXPECT_EQ(sample(file, 0), 1.0f);
            EXPECT_EQ(sample(file, 1), -1.0f);
        }
    }
}

} // namespace
