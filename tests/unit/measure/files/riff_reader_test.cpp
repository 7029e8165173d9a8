#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measure/files/riff_reader.h"
#include "support/measure_test_files.h"

namespace {

// Loads bytes as a file; on success the one channel's samples.
int load(const Bytes& bytes, WavData* data, std::string* error) {
    const std::string path = tempPath("reader.wav");
    EXPECT_TRUE(writeBytes(path, bytes));
    const int result = loadWavData(path.c_str(), data, error);
    std::remove(path.c_str());
    return result;
}

std::vector<float> loadMono(const Bytes& bytes) {
    WavData data;
    std::string error;
    EXPECT_EQ(load(bytes, &data, &error), kReadOk) << error;
    return data.channels.empty() ? std::vector<float>() : data.channels[0];
}

std::string refusal(const Bytes& bytes) {
    WavData data;
    std::string error;
    EXPECT_EQ(load(bytes, &data, &error), kReadBadFile);
    EXPECT_TRUE(data.channels.empty());
    return error;
}

Bytes pcm16(std::initializer_list<int32_t> values) {
    Bytes b;
    for (int32_t v : values) {
        putLe(b, uint32_t(v) & 0xFFFF, 2);
    }
    return b;
}

Bytes mono16(const Bytes& data) {
    return RiffFile().chunk("fmt ", formatBody(1, 1, 48000, 16)).chunk("data", data).bytes();
}

} // namespace

TEST(RiffReader, DecodesEveryWidthAsIntegerOver2ToTheBitsMinusOne) {
    Bytes u8 = {0, 1, 127, 128, 129, 255};
    EXPECT_EQ(
        loadMono(RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 8)).chunk("data", u8).bytes()),
        (std::vector<float>{-1.0f, -127 / 128.0f, -1 / 128.0f, 0.0f, 1 / 128.0f, 127 / 128.0f}));

    EXPECT_EQ(loadMono(mono16(pcm16({-32768, -1, 0, 1, 32767}))),
              (std::vector<float>{-1.0f, -1 / 32768.0f, 0.0f, 1 / 32768.0f, 32767 / 32768.0f}));

    Bytes s24;
    for (uint32_t v : {0x800000u, 0xFFFFFFu, 0x000001u, 0x7FFFFFu}) {
        s24.push_back(uint8_t(v));
        s24.push_back(uint8_t(v >> 8));
        s24.push_back(uint8_t(v >> 16));
    }
    EXPECT_EQ(
        loadMono(RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 24)).chunk("data", s24).bytes()),
        (std::vector<float>{-1.0f, -1 / 8388608.0f, 1 / 8388608.0f, 8388607 / 8388608.0f}));

    // 32 bits: divided exactly, then rounded once to the nearest float, ties to even.
    Bytes s32;
    for (uint32_t v : {0x80000000u, 0x7FFFFFFFu, 0x00000001u, 0x40000001u, 0x40000040u, 0x40000041u,
                       0xFFFFFFFFu}) {
        putLe(s32, v, 4);
    }
    EXPECT_EQ(
        loadMono(RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 32)).chunk("data", s32).bytes()),
        (std::vector<float>{-1.0f, 1.0f, std::ldexp(1.0f, -31), 0.5f, 0.5f,
                            0.5f + std::ldexp(1.0f, -24), -std::ldexp(1.0f, -31)}));

    // Floats pass bit for bit, beyond full scale and NaN included.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> f32 = {1.5f, -2.0f, -0.0f, 1e-40f, nan};
    const std::vector<float> got = loadMono(RiffFile()
                                                .chunk("fmt ", formatBody(3, 1, 8000, 32))
                                                .chunk("data", floatBytes(f32))
                                                .bytes());
    ASSERT_EQ(got.size(), f32.size());
    for (size_t i = 0; i < f32.size(); ++i) {
        EXPECT_EQ(floatBits(got[i]), floatBits(f32[i])) << i;
    }

    // 64-bit floats are rounded to nearest; beyond the float range they become infinite.
    Bytes f64;
    for (double v : {0.1, 1.0000000001, 1e-50, 1e39, -1e39, 3.4028235e38}) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        putLe(f64, uint32_t(bits), 4);
        putLe(f64, uint32_t(bits >> 32), 4);
    }
    EXPECT_EQ(
        loadMono(RiffFile().chunk("fmt ", formatBody(3, 1, 8000, 64)).chunk("data", f64).bytes()),
        (std::vector<float>{0.1f, 1.0f, 0.0f, INFINITY, -INFINITY, 3.4028235e38f}));
}

TEST(RiffReader, TakesEveryFormatChunkFormAndPassesOverOtherChunksInAnyOrder) {
    const Bytes samples = pcm16({-32768, 16384});
    const std::vector<float> expected = {-1.0f, 0.5f};
    WavData data;
    std::string error;

    // The 18-byte form, with chunks before and after the format and behind the data.
    ASSERT_EQ(load(RiffFile()
                       .chunk("JUNK", Bytes(28, 0))
                       .chunk("bext", Bytes(7, 'b'))
                       .chunk("fmt ", formatBody(1, 1, 44100, 16, true))
                       .chunk("fact", Bytes{2, 0, 0, 0})
                       .chunk("PEAK", Bytes(24, 1))
                       .chunk("data", samples)
                       .chunk("LIST", Bytes(13, 'l'))
                       .bytes(),
                   &data, &error),
              kReadOk)
        << error;
    EXPECT_EQ(data.channels[0], expected);
    EXPECT_EQ(data.format.formatChunkBytes, 18u);
    EXPECT_EQ(data.format.sampleRate, 44100u);
    EXPECT_FALSE(data.canonical);

    // Extensible, PCM and float subformats; fewer valid bits than the container change nothing.
    ASSERT_EQ(load(RiffFile()
                       .chunk("fmt ", extensibleBody(1, 1, 48000, 16, 12))
                       .chunk("data", samples)
                       .bytes(),
                   &data, &error),
              kReadOk)
        << error;
    EXPECT_EQ(data.channels[0], expected);
    EXPECT_TRUE(data.format.extensible);
    EXPECT_EQ(data.format.validBits, 12u);
    ASSERT_EQ(load(RiffFile()
                       .chunk("fmt ", extensibleBody(3, 2, 48000, 32, 32))
                       .chunk("data", floatBytes({0.25f, -0.75f, 1.0f, 2.0f}))
                       .bytes(),
                   &data, &error),
              kReadOk)
        << error;
    EXPECT_EQ(data.channels[0], (std::vector<float>{0.25f, 1.0f}));
    EXPECT_EQ(data.channels[1], (std::vector<float>{-0.75f, 2.0f}));

    // An odd data chunk (8-bit, 3 frames) keeps its pad byte before the next chunk; the
    // last chunk of the form may lack its pad.
    ASSERT_EQ(load(RiffFile()
                       .chunk("fmt ", formatBody(1, 1, 8000, 8))
                       .chunk("data", Bytes{0, 128, 192})
                       .chunk("id3 ", Bytes(5, 'x'), false)
                       .bytes(),
                   &data, &error),
              kReadOk)
        << error;
    EXPECT_EQ(data.channels[0], (std::vector<float>{-1.0f, 0.0f, 0.5f}));

    // Bytes behind the RIFF form are not read; fewer than a chunk header inside it are stray.
    Bytes trailing =
        RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 16)).chunk("data", samples).bytes();
    trailing.insert(trailing.end(), {'T', 'A', 'G', 1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(loadMono(trailing), expected);
    Bytes stray =
        RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 16)).chunk("data", samples).bytes();
    stray.insert(stray.end(), 3, 0);
    stray[4] = uint8_t(stray[4] + 3);
    EXPECT_EQ(loadMono(stray), expected);

    // The canonical layout is recognised as such.
    ASSERT_EQ(load(RiffFile()
                       .chunk("fmt ", formatBody(3, 1, 8000, 32))
                       .chunk("data", floatBytes({0.5f}))
                       .bytes(),
                   &data, &error),
              kReadOk);
    EXPECT_TRUE(data.canonical);
}

TEST(RiffReader, RefusesWhatIsNotARiffWaveFile) {
    EXPECT_EQ(refusal({}), "the file is empty");
    EXPECT_NE(
        refusal(Bytes{'R', 'I', 'F', 'F', 4, 0}).find("ends after 6 bytes, inside the RIFF header"),
        std::string::npos);
    Bytes file = mono16(pcm16({1}));
    std::memcpy(file.data(), "RF64", 4);
    EXPECT_NE(refusal(file).find("RF64"), std::string::npos);
    std::memcpy(file.data(), "RIFX", 4);
    EXPECT_NE(refusal(file).find("big-endian"), std::string::npos);
    std::memcpy(file.data(), "riff", 4);
    EXPECT_NE(refusal(file).find("not a RIFF file (it starts with \"riff\")"), std::string::npos);
    std::memcpy(file.data(), "RIFF", 4);
    std::memcpy(file.data() + 8, "AVI ", 4);
    EXPECT_NE(refusal(file).find("form \"AVI \", not WAVE"), std::string::npos);
    std::string error;
    WavData data;
    EXPECT_EQ(loadWavData(tempPath("does-not-exist.wav").c_str(), &data, &error), kReadCannotOpen);
    EXPECT_NE(error.find("cannot be opened"), std::string::npos);
}

TEST(RiffReader, RefusesFormatsOtherThanIntegerPcmAndFloat) {
    const Bytes data(8, 0);
    auto with = [&](const Bytes& format) {
        return refusal(RiffFile().chunk("fmt ", format).chunk("data", data).bytes());
    };
    EXPECT_NE(with(formatBody(2, 1, 8000, 4)).find("format tag 0x0002 (MS ADPCM) is not supported"),
              std::string::npos);
    EXPECT_NE(with(formatBody(0x55, 1, 8000, 16)).find("0x0055 (MPEG layer 3)"), std::string::npos);
    EXPECT_NE(with(extensibleBody(7, 1, 8000, 8, 8)).find("subformat 0x0007 (mu-law)"),
              std::string::npos);
    Bytes guid = extensibleBody(1, 1, 8000, 16, 16);
    guid[24 + 15] = 0x72;
    EXPECT_NE(with(guid).find("subformat {00000001-0000-0010-8000-00AA00389B72}"),
              std::string::npos);
    EXPECT_NE(with(formatBody(1, 1, 8000, 12)).find("12-bit integer PCM is not supported"),
              std::string::npos);
    EXPECT_NE(with(formatBody(3, 1, 8000, 16)).find("16-bit float is not supported"),
              std::string::npos);
    EXPECT_NE(with(formatBody(1, 0, 8000, 16)).find("has no channels and holds no audio"),
              std::string::npos);
    EXPECT_NE(with(formatBody(1, 1, 0, 16)).find("sample rate of 0"), std::string::npos);
    Bytes align = formatBody(1, 2, 8000, 16);
    align[12] = 3;
    EXPECT_NE(with(align).find("block align 3 does not match 2 channels of 16 bits (4)"),
              std::string::npos);
    Bytes shortFormat = formatBody(1, 1, 8000, 16);
    shortFormat.resize(14);
    EXPECT_NE(with(shortFormat).find("has 14 bytes; it needs at least 16"), std::string::npos);
    Bytes extension = formatBody(1, 1, 8000, 16);
    putLe(extension, 4, 2);
    EXPECT_NE(with(extension).find("extension size 4 does not fit its 18 bytes"),
              std::string::npos);
    EXPECT_NE(
        with(formatBody(0xFFFE, 1, 8000, 16, true)).find("extensible \"fmt \" chunk has 18 bytes"),
        std::string::npos);
    EXPECT_NE(
        with(extensibleBody(1, 1, 8000, 16, 20)).find("20 valid bits exceed its 16-bit container"),
        std::string::npos);
}

TEST(RiffReader, RefusesMissingMisorderedRepeatedBrokenAndTruncatedChunks) {
    const Bytes format = formatBody(1, 1, 8000, 16);
    const Bytes samples = pcm16({1, 2, 3});
    EXPECT_EQ(refusal(RiffFile().chunk("data", samples).bytes()),
              "the \"data\" chunk at byte 12 comes before the \"fmt \" chunk");
    EXPECT_EQ(refusal(RiffFile().chunk("LIST", Bytes(4, 0)).bytes()), "it has no \"fmt \" chunk");
    EXPECT_EQ(refusal(RiffFile().chunk("fmt ", format).bytes()), "it has no \"data\" chunk");
    EXPECT_NE(
        refusal(
            RiffFile().chunk("fmt ", format).chunk("fmt ", format).chunk("data", samples).bytes())
            .find("second \"fmt \" chunk at byte 36"),
        std::string::npos);
    EXPECT_NE(
        refusal(
            RiffFile().chunk("fmt ", format).chunk("data", samples).chunk("data", samples).bytes())
            .find("second \"data\" chunk at byte 50"),
        std::string::npos);

    // A chunk longer than the form, and sizes left unset by a writer to a pipe.
    EXPECT_NE(
        refusal(RiffFile().chunk("fmt ", format).chunkSized("LIST", 1000, Bytes(10, 0)).bytes())
            .find("\"LIST\" chunk at byte 36 has 1000 bytes, which runs past the end of the "
                  "RIFF form at byte 54 (broken chunk size)"),
        std::string::npos);
    EXPECT_NE(refusal(RiffFile()
                          .chunk("fmt ", format)
                          .chunkSized("data", 0xFFFFFFFF, samples)
                          .bytes(0xFFFFFFFF))
                  .find("(broken chunk size, left unset as by a writer to a pipe)"),
              std::string::npos);

    // The file ends early: within the samples, within a later chunk, between chunks.
    Bytes cut = RiffFile().chunk("fmt ", format).chunk("data", pcm16({1, 2, 3, 4})).bytes();
    cut.resize(cut.size() - 3);
    EXPECT_NE(refusal(cut).find("the file ends at byte 49, inside the \"data\" chunk that should "
                                "end at byte 52 (truncated: 2 of 4 frames present)"),
              std::string::npos);
    Bytes tail =
        RiffFile().chunk("fmt ", format).chunk("data", samples).chunk("LIST", Bytes(20, 0)).bytes();
    tail.resize(tail.size() - 10);
    EXPECT_NE(
        refusal(tail).find("inside the \"LIST\" chunk that should end at byte 78 (truncated)"),
        std::string::npos);
    EXPECT_NE(
        refusal(RiffFile().chunk("fmt ", format).chunk("data", samples).bytes(100))
            .find("before the end of the RIFF form at byte 108 (truncated, or a broken RIFF size)"),
        std::string::npos);
    EXPECT_NE(refusal(RiffFile().chunk("fmt ", format).chunk("data", samples).bytes(2))
                  .find("RIFF size 2"),
              std::string::npos);
}

TEST(RiffReader, StreamsInBlocksOfAtMostTheAskedFrames) {
    const std::string path = tempPath("stream.wav");
    Bytes samples;
    for (int i = 0; i < 1000; ++i) {
        putLe(samples, uint32_t(i), 2);
    }
    EXPECT_TRUE(writeBytes(
        path, RiffFile().chunk("fmt ", formatBody(1, 2, 8000, 16)).chunk("data", samples).bytes()));
    RiffReader reader;
    std::string error;
    ASSERT_EQ(openRiffReader(&reader, path.c_str(), &error), kReadOk) << error;
    EXPECT_EQ(reader.frames, 500u);
    std::vector<uint32_t> out(2 * 300);
    uint32_t got = 0;
    uint32_t total = 0;
    float last = 0;
    do {
        ASSERT_EQ(readRiffFrames(&reader, out.data(), 300, &got, &error), kReadOk);
        EXPECT_LE(got, 300u);
        if (got > 0) {
            std::memcpy(&last, &out[2 * got - 1], 4);
        }
        total += got;
    } while (got > 0);
    EXPECT_EQ(total, 500u);
    EXPECT_EQ(last, 999 / 32768.0f);
    EXPECT_EQ(finishRiffReader(&reader, &error), kReadOk) << error;
    closeRiffReader(&reader);
    std::remove(path.c_str());
}

TEST(RiffReader, CountsWholeFramesAndTheBytesAfterThem) {
    EXPECT_EQ(loadMono(mono16(Bytes{1, 0, 2, 0, 3})),
              (std::vector<float>{1 / 32768.0f, 2 / 32768.0f}));
    const std::string path = tempPath("partial.wav");
    EXPECT_TRUE(writeBytes(path, mono16(Bytes{1, 0, 2, 0, 3})));
    RiffReader reader;
    std::string error;
    ASSERT_EQ(openRiffReader(&reader, path.c_str(), &error), kReadOk) << error;
    EXPECT_EQ(reader.frames, 2u);
    EXPECT_EQ(reader.trailingBytes, 1u);
    closeRiffReader(&reader);
    std::remove(path.c_str());
}

TEST(RiffReader, ReadsInStepsSizedByTheFramesHeldNotTheChannelsClaimed) {
    // A header may claim 65535 channels over no frame at all: a step of one frame.
    EXPECT_EQ(framesPerStep(65535, 0), 1u);
    EXPECT_EQ(framesPerStep(65535, 3), 3u);
    EXPECT_EQ(framesPerStep(16383, 1000000), 64u);
    EXPECT_EQ(framesPerStep(8, 1000000), 131072u);
}
