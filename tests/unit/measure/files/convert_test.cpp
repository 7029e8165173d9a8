#include <gtest/gtest.h>

#include <cmath>

#include "measure/exit_codes.h"
#include "measure/files/convert.h"
#include "support/measure_test_files.h"
#include "wav/wav_format.h"

namespace {

std::string fixture(const std::string& name) {
    return std::string(KORVANE_WAV_FIXTURES) + "/" + name;
}

struct Probed {
    int result = -1;
    uint32_t tag = 0, rate = 0, bits = 0, channels = 0, frames = 0;
};

Probed probe(const std::string& path) {
    Probed p;
    p.result = probeWavFile(path.c_str(), &p.tag, &p.rate, &p.bits, &p.channels, &p.frames);
    return p;
}

// Converts bytes and returns the converted samples.
std::vector<float> convertBytes(const Bytes& bytes, double pad = 0) {
    const std::string in = tempPath("convert-in.wav");
    const std::string out = tempPath("convert-out.wav");
    EXPECT_TRUE(writeBytes(in, bytes));
    ConvertReport report;
    std::string error;
    EXPECT_EQ(convertToCanonical(in.c_str(), out.c_str(), pad, &report, &error), kToolOk) << error;
    std::vector<float> samples = canonicalSamples(out);
    std::remove(in.c_str());
    std::remove(out.c_str());
    return samples;
}

} // namespace

TEST(Convert, FilesOfTheUsualToolsConvertExactlyAndKorvaneProbesThemAsFloat) {
    const struct {
        const char* file;
        const char* expected;
        const char* passedOver;
    } cases[] = {
        {"sox-int16.wav", "int16", ""},
        {"sox-int24.wav", "int24", "fact"},
        {"sox-float32.wav", "int16", "fact"},
        {"ffmpeg-float32-list.wav", "float32", "fact,LIST"},
        {"ffmpeg-float64.wav", "float64", "fact,LIST"},
        {"ffmpeg-int16.wav", "int16", "LIST"},
        {"ffmpeg-int16-bext.wav", "int16", "bext,LIST"},
        {"ffmpeg-int24.wav", "int24", "LIST"},
        {"ffmpeg-int32.wav", "int32", "LIST"},
        {"ffmpeg-uint8.wav", "uint8", "LIST"},
        {"soundfile-float32-peak.wav", "float32", "fact,PEAK"},
        {"soundfile-float64.wav", "float64", "fact,PEAK"},
        {"soundfile-int24.wav", "int24", ""},
        {"soundfile-uint8.wav", "uint8", ""},
        {"scipy-float32.wav", "float32", "fact"},
        {"scipy-int16.wav", "int16", ""},
    };
    const std::string out = tempPath("fixture-out.wav");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ConvertReport report;
        std::string error;
        ASSERT_EQ(convertToCanonical(fixture(c.file).c_str(), out.c_str(), 0, &report, &error),
                  kToolOk)
            << error;
        std::string passed;
        for (const std::string& id : report.otherChunks) {
            passed += (passed.empty() ? "" : ",") + id;
        }
        EXPECT_EQ(passed, c.passedOver);
        const Probed p = probe(out);
        EXPECT_EQ(p.result, kWavOk);
        EXPECT_EQ(p.tag, 3u);
        EXPECT_EQ(p.bits, 32u);
        EXPECT_EQ(p.channels, 2u);
        EXPECT_EQ(p.rate, 8000u);
        EXPECT_EQ(p.frames, 400u);
        const Bytes expected = readBytes(fixture(std::string("expected-") + c.expected + ".f32"));
        const Bytes written = readBytes(out);
        ASSERT_EQ(expected.size(), 3200u);
        ASSERT_EQ(written.size(), 44 + expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin() + 44));
    }
    std::remove(out.c_str());
}

TEST(Convert, RefusedFilesOfTheUsualToolsNameTheProblemAndLeaveNoOutput) {
    const Refusal cases[] = {
        {"refused-ffmpeg-adpcm.wav", "format tag 0x0002 (MS ADPCM) is not supported"},
        {"refused-ffmpeg-alaw.wav", "format tag 0x0006 (A-law) is not supported"},
        {"refused-ffmpeg-rf64.wav", "RF64"},
    };
    const std::string out = tempPath("refused-out.wav");
    std::remove(out.c_str());
    for (const auto& c : cases) {
        ConvertReport report;
        std::string error;
        EXPECT_EQ(convertToCanonical(fixture(c.input).c_str(), out.c_str(), 0, &report, &error),
                  kToolInput);
        EXPECT_EQ(error.find(fixture(c.input) + ": "), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_FALSE(fileExists(out));
        EXPECT_FALSE(fileExists(out + ".part"));
    }
}

TEST(Convert, EveryIntegerValueMapsExactlyAtEveryWidth) {
    // 8 and 16 bits: every value.
    Bytes u8;
    for (int v = 0; v < 256; ++v) {
        u8.push_back(uint8_t(v));
    }
    std::vector<float> got =
        convertBytes(RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 8)).chunk("data", u8).bytes());
    ASSERT_EQ(got.size(), 256u);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(got[size_t(v)], float(v - 128) / 128) << v;
    }
    Bytes s16;
    for (uint32_t v = 0; v < 65536; ++v) {
        putLe(s16, v, 2);
    }
    got = convertBytes(
        RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 16)).chunk("data", s16).bytes());
    ASSERT_EQ(got.size(), 65536u);
    int wrong = 0;
    for (uint32_t v = 0; v < 65536; ++v) {
        wrong += got[v] != float(int16_t(uint16_t(v))) / 32768;
    }
    EXPECT_EQ(wrong, 0);

    // 24 and 32 bits: a stride through the range plus its ends, against a second
    // computation (a float product by a power of two instead of a double quotient).
    std::vector<int64_t> values;
    for (int64_t v = -(int64_t(1) << 31); v < (int64_t(1) << 31); v += 65521) {
        values.push_back(v);
    }
    for (int64_t v : {int64_t(INT32_MIN), int64_t(INT32_MAX), int64_t(0), int64_t(-1),
                      int64_t(0x40000040), int64_t(0x40000041), int64_t(0x7FFFFFC0)}) {
        values.push_back(v);
    }
    Bytes s24;
    Bytes s32;
    for (int64_t v : values) {
        const uint32_t w = uint32_t(v);
        putLe(s32, w, 4);
        s24.push_back(uint8_t(w >> 8));
        s24.push_back(uint8_t(w >> 16));
        s24.push_back(uint8_t(w >> 24));
    }
    const std::vector<float> got24 = convertBytes(
        RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 24)).chunk("data", s24).bytes());
    const std::vector<float> got32 = convertBytes(
        RiffFile().chunk("fmt ", extensibleBody(1, 1, 8000, 32, 32)).chunk("data", s32).bytes());
    ASSERT_EQ(got24.size(), values.size());
    ASSERT_EQ(got32.size(), values.size());
    int wrong24 = 0;
    int wrong32 = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        const int32_t v = int32_t(values[i]);
        const int32_t top24 = int32_t((values[i] - (values[i] & 255)) / 256);
        wrong24 += got24[i] != std::ldexp(float(top24), -23);
        wrong32 += got32[i] != std::ldexp(float(v), -31);
    }
    EXPECT_EQ(wrong24, 0);
    EXPECT_EQ(wrong32, 0);
    EXPECT_EQ(got32[values.size() - 6], 1.0f); // 2147483647 rounds up, unclipped
}

TEST(Convert, PadsWithSilenceAndMayReplaceItsOwnInput) {
    const Bytes file = RiffFile()
                           .chunk("fmt ", formatBody(1, 2, 8000, 16))
                           .chunk("data", Bytes{0x00, 0x40, 0x00, 0xC0})
                           .bytes();
    std::vector<float> got = convertBytes(file, 0.001);
    EXPECT_EQ(got,
              (std::vector<float>{0.5f, -0.5f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    const std::string path = tempPath("in-place.wav");
    EXPECT_TRUE(writeBytes(path, file));
    ConvertReport report;
    std::string error;
    ASSERT_EQ(convertToCanonical(path.c_str(), path.c_str(), 0.0005, &report, &error), kToolOk)
        << error;
    EXPECT_EQ(report.frames, 1u);
    EXPECT_EQ(report.padFrames, 4u);
    const Probed p = probe(path);
    EXPECT_EQ(p.result, kWavOk);
    EXPECT_EQ(p.frames, 5u);
    EXPECT_EQ(canonicalSamples(path), (std::vector<float>{0.5f, -0.5f, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(fileExists(path + ".part"));
    std::remove(path.c_str());
}

TEST(Convert, AFailureLeavesAnExistingOutputAsItWas) {
    const std::string in = tempPath("truncated.wav");
    const std::string out = tempPath("keep.wav");
    Bytes cut =
        RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 16)).chunk("data", Bytes(2000, 1)).bytes();
    cut.resize(1000);
    EXPECT_TRUE(writeBytes(in, cut));
    EXPECT_TRUE(writeBytes(out, Bytes{'k', 'e', 'e', 'p'}));
    ConvertReport report;
    std::string error;
    EXPECT_EQ(convertToCanonical(in.c_str(), out.c_str(), 0, &report, &error), kToolInput);
    EXPECT_NE(error.find(in + ": the file ends at byte 1000, inside the \"data\" chunk"),
              std::string::npos)
        << error;
    EXPECT_EQ(readBytes(out), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(fileExists(out + ".part"));

    // An output that cannot be created is the output's problem.
    const std::string good = tempPath("good.wav");
    EXPECT_TRUE(writeBytes(
        good,
        RiffFile().chunk("fmt ", formatBody(1, 1, 8000, 16)).chunk("data", Bytes(2, 0)).bytes()));
    const std::string nowhere = tempPath("no-such-folder/out.wav");
    EXPECT_EQ(convertToCanonical(good.c_str(), nowhere.c_str(), 0, &report, &error), kToolOutput);
    EXPECT_EQ(error.find(nowhere + ": it cannot be created"), 0u) << error;
    std::remove(in.c_str());
    std::remove(out.c_str());
    std::remove(good.c_str());
}

// What korvane would refuse, or the reader cannot trust, is the input's problem.
TEST(Convert, RefusesInputsWithoutAFrameOrWithLessDataThanAnnounced) {
    const std::string in = tempPath("claims.wav");
    const std::string out = tempPath("claims-out.wav");
    std::remove(out.c_str());
    ConvertReport report;
    std::string error;
    EXPECT_TRUE(writeBytes(in, RiffFile()
                                   .chunk("fmt ", formatBody(1, 1, 8000, 16))
                                   .chunkSized("data", 0xF0000000u, Bytes(100, 0))
                                   .bytes(0xFFFFFFF0u)));
    EXPECT_EQ(convertToCanonical(in.c_str(), out.c_str(), 0, &report, &error), kToolInput);
    EXPECT_NE(error.find(in + ": the file ends at byte 144, inside the \"data\" chunk"),
              std::string::npos)
        << error;
    EXPECT_FALSE(fileExists(out));

    for (double pad : {0.0, 1.0}) {
        EXPECT_TRUE(writeBytes(
            in, RiffFile().chunk("fmt ", formatBody(3, 2, 8000, 32)).chunk("data", {}).bytes()));
        EXPECT_EQ(convertToCanonical(in.c_str(), out.c_str(), pad, &report, &error), kToolInput);
        EXPECT_NE(error.find(in + ": it has no whole frame"), std::string::npos) << error;
        EXPECT_FALSE(fileExists(out));
    }
    std::remove(in.c_str());
}

// As SoX does: the whole frames, and a word on what was passed over.
TEST(Convert, ADataChunkEndingInPartOfAFrameIsReadUpToItsLastWholeFrame) {
    Bytes samples;
    for (uint32_t v : {0x400000u, 0xC00000u, 0x200000u, 0xE00000u}) {
        putLe(samples, v, 3);
    }
    samples.insert(samples.end(), {0x11, 0x22, 0x33, 0x44}); // 4 of the 6 bytes of a frame
    const std::string in = tempPath("partial.wav");
    const std::string out = tempPath("partial-out.wav");
    EXPECT_TRUE(writeBytes(in, RiffFile()
                                   .chunk("fmt ", formatBody(1, 2, 8000, 24))
                                   .chunk("data", samples)
                                   .chunk("LIST", Bytes(4, 0))
                                   .bytes()));
    ConvertReport report;
    std::string error;
    ASSERT_EQ(convertToCanonical(in.c_str(), out.c_str(), 0, &report, &error), kToolOk) << error;
    EXPECT_EQ(report.frames, 2u);
    EXPECT_EQ(report.trailingBytes, 4u);
    EXPECT_EQ(report.otherChunks, std::vector<std::string>{"LIST"});
    EXPECT_EQ(canonicalSamples(out), (std::vector<float>{0.5f, -0.5f, 0.25f, -0.25f}));
    std::remove(in.c_str());
    std::remove(out.c_str());
}
