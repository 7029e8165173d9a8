#include "wav/wav_format.h"
#include "wav_test_files.h"

namespace {

struct ProbeOut {
    uint32_t formatTag = 0xAAAA;
    uint32_t sampleRate = 0xBBBB;
    uint32_t bits = 0xCCCC;
    uint32_t channels = 0xDDDD;
    uint32_t frames = 0xEEEE;
    bool untouched() const {
        return formatTag == 0xAAAA && sampleRate == 0xBBBB && bits == 0xCCCC &&
               channels == 0xDDDD && frames == 0xEEEE;
    }
};

int probe(const std::string& path, ProbeOut& out) {
    return probeWavFile(path.c_str(), &out.formatTag, &out.sampleRate, &out.bits, &out.channels,
                        &out.frames);
}

void setTag(Bytes& file, size_t offset, const char* tag) {
    for (size_t i = 0; i < 4; ++i) {
        file[offset + i] = uint8_t(tag[i]);
    }
}

Bytes withChunkAt(Bytes file, size_t offset, const char* tag, uint32_t size) {
    Bytes chunk;
    putTag(chunk, tag);
    putLe(chunk, size, 4);
    chunk.resize(8 + size, 0);
    file.insert(file.begin() + long(offset), chunk.begin(), chunk.end());
    return file;
}

class WavProbeTest : public WavFileTest {};

TEST_F(WavProbeTest, ReportsTheCanonicalHeader) {
    HeaderFields h;
    h.channels = 2;
    h.sampleRate = 44100;
    h.dataBytes = 8 * 10;
    Bytes file = canonicalHeader(h);
    file.resize(file.size() + h.dataBytes, 0);
    ProbeOut out;
    EXPECT_EQ(probe(writeFile("a.wav", file), out), kWavOk);
    EXPECT_EQ(out.formatTag, 3u);
    EXPECT_EQ(out.sampleRate, 44100u);
    EXPECT_EQ(out.bits, 32u);
    EXPECT_EQ(out.channels, 2u);
    EXPECT_EQ(out.frames, 10u);
}

TEST_F(WavProbeTest, RefusesByCodeAndLeavesTheOutputsAlone) {
    HeaderFields h;
    h.dataBytes = 16;
    Bytes good = canonicalHeader(h);
    good.resize(good.size() + h.dataBytes, 0);

    Bytes lowerRiff = good;
    setTag(lowerRiff, 0, "riff");
    Bytes rifx = good;
    setTag(rifx, 8, "WAVX");
    Bytes withZero = good;
    withZero[11] = 0;
    const Bytes endsAfterWave(good.begin(), good.begin() + 12);
    const Bytes endsInDataSize(good.begin(), good.begin() + 42);
    Bytes fmt18 = good;
    fmt18[16] = 18;
    fmt18.insert(fmt18.begin() + 36, {0, 0});
    Bytes noData = good;
    setTag(noData, 36, "DATA");
    HeaderFields zeroChannels = h;
    zeroChannels.channels = 0;
    HeaderFields fourBits = h;
    fourBits.bitsPerSample = 4;

    const struct {
        const char* name;
        Bytes bytes;
        int result;
    } cases[] = {
        {"empty", {}, kWavNotRiffWave},
        {"lower-case riff", lowerRiff, kWavNotRiffWave},
        {"form tag", rifx, kWavNotRiffWave},
        {"zero byte in form tag", withZero, kWavNotRiffWave},
        {"ends after WAVE", endsAfterWave, kWavNotCanonical},
        {"list chunk before fmt", withChunkAt(good, 12, "LIST", 26), kWavNotCanonical},
        {"fact chunk before data", withChunkAt(good, 36, "fact", 4), kWavNotCanonical},
        {"18-byte fmt", fmt18, kWavNotCanonical},
        {"data tag", noData, kWavNotCanonical},
        {"ends within the data size", endsInDataSize, kWavNotCanonical},
        {"no channels", canonicalHeader(zeroChannels), kWavNotCanonical},
        {"under 8 bits", canonicalHeader(fourBits), kWavNotCanonical},
    };
    for (const auto& c : cases) {
        ProbeOut out;
        EXPECT_EQ(probe(writeFile("x.wav", c.bytes), out), c.result) << c.name;
        EXPECT_TRUE(out.untouched()) << c.name;
    }
    ProbeOut out;
    EXPECT_EQ(probe(path("missing.wav"), out), kWavCannotOpen);
    EXPECT_TRUE(out.untouched());
}

TEST_F(WavProbeTest, CountsFramesFromTheDataSizeAlone) {
    ProbeOut out;
    HeaderFields pcm;
    pcm.formatTag = 1;
    pcm.channels = 2;
    pcm.bitsPerSample = 16;
    pcm.dataBytes = 4000;
    Bytes file = canonicalHeader(pcm);
    file.resize(file.size() + pcm.dataBytes, 0);
    EXPECT_EQ(probe(writeFile("pcm.wav", file), out), kWavOk);
    EXPECT_EQ(out.formatTag, 1u);
    EXPECT_EQ(out.bits, 16u);
    EXPECT_EQ(out.frames, 1000u);

    HeaderFields odd;
    odd.channels = 3;
    odd.dataBytes = 1000;
    file = canonicalHeader(odd);
    file.resize(file.size() + odd.dataBytes, 0);
    EXPECT_EQ(probe(writeFile("odd.wav", file), out), kWavOk);
    EXPECT_EQ(out.frames, 83u);

    // The data size is trusted beyond the end of the file; the RIFF size, byte rate and
    // block align are not looked at.
    HeaderFields big;
    big.channels = 2;
    big.dataBytes = 0xFFFFFFF8u;
    file = canonicalHeader(big);
    std::fill(file.begin() + 4, file.begin() + 8, 0);
    std::fill(file.begin() + 28, file.begin() + 34, 0x5A);
    EXPECT_EQ(probe(writeFile("big.wav", file), out), kWavOk);
    EXPECT_EQ(out.frames, 0xFFFFFFF8u / 8);
}

} // namespace
