#include <gtest/gtest.h>

#include <filesystem>

#include "frontend/run_checks.h"
#include "engine/run_state.h"
#include "unit/wav/wav_test_files.h"

namespace fs = std::filesystem;

namespace {

class RunChecks : public WavFileTest {
protected:
    void device(int32_t inputs, int32_t outputs) {
        duplexState.inputChannelCount = inputs;
        duplexState.outputChannelCount = outputs;
    }

    static bool fit(int32_t firstOutput, int32_t inputCount, int32_t firstInput) {
        return channelsFit(ChannelChoice{firstOutput, inputCount, firstInput});
    }
};

TEST_F(RunChecks, PlayFileMustBeFloat32WithAWholeFrame) {
    const std::string playable = writeFile("play.wav", floatWav(2, {0.5f, -0.5f, 0.25f, 0.0f}));
    EXPECT_EQ(checkPlayFile(playable.c_str()), kPlayable);
    EXPECT_EQ(playChannels, 2u);
    EXPECT_EQ(playSampleRate, 48000u);
    EXPECT_EQ(playFramesLeft, 2u);

    HeaderFields pcm;
    pcm.formatTag = 1;
    pcm.bitsPerSample = 16;
    pcm.dataBytes = 4;
    EXPECT_EQ(checkPlayFile(writeFile("pcm.wav", canonicalHeader(pcm)).c_str()), kNotFloat32);
    HeaderFields wide;
    wide.bitsPerSample = 64;
    wide.dataBytes = 8;
    EXPECT_EQ(checkPlayFile(writeFile("f64.wav", canonicalHeader(wide)).c_str()), kNotFloat32);
    EXPECT_EQ(checkPlayFile(writeFile("empty.wav", floatWav(1, {})).c_str()), kUnreadable);
    EXPECT_EQ(checkPlayFile(path("missing.wav").c_str()), kUnreadable);
}

TEST_F(RunChecks, RecordPathMustBeCreatableAndNotThePlaybackFile) {
    const Bytes played = floatWav(1, {0.5f});
    const std::string play = writeFile("play.wav", played);
    const std::string other = writeFile("other.wav", played);
    EXPECT_TRUE(recordPathUsable(path("rec.wav").c_str(), play.c_str()));
    EXPECT_FALSE(fs::exists(path("rec.wav"))) << "the check left a file behind";
    EXPECT_TRUE(recordPathUsable(other.c_str(), play.c_str())) << "same bytes, other file";
    EXPECT_FALSE(recordPathUsable(path("no-folder/rec.wav").c_str(), play.c_str()));

    fs::create_directory(path("sub"));
    EXPECT_FALSE(recordPathUsable(play.c_str(), play.c_str()));
    EXPECT_FALSE(recordPathUsable((path("sub") + "/../play.wav").c_str(), play.c_str()));
    std::error_code failed;
    fs::create_hard_link(play, path("hard.wav"), failed);
    if (!failed) {
        EXPECT_FALSE(recordPathUsable(path("hard.wav").c_str(), play.c_str()));
    }
    fs::create_symlink(play, path("soft.wav"), failed);
    if (!failed) {
        EXPECT_FALSE(recordPathUsable(path("soft.wav").c_str(), play.c_str()));
    }
    EXPECT_EQ(readBytes(play), played);
    EXPECT_EQ(readBytes(other), played);
}

TEST_F(RunChecks, ChannelsWithinTheDeviceAndSixtyFourASide) {
    device(8, 8);
    playChannels = 2;
    EXPECT_TRUE(fit(7, 8, 1)); // last output 8, last input 8
    EXPECT_TRUE(fit(1, 0, 1)); // no inputs recorded
    EXPECT_FALSE(fit(8, 1, 1));
    EXPECT_FALSE(fit(1, 8, 2));
    EXPECT_FALSE(fit(0, 1, 1));
    EXPECT_FALSE(fit(1, 0, 0));
    EXPECT_FALSE(fit(1, -1, 2));
    EXPECT_FALSE(fit(1, 2, 2147483647)); // the last input wraps
    device(70, 70);
    EXPECT_TRUE(fit(63, 64, 1));
    EXPECT_FALSE(fit(64, 1, 1));
    EXPECT_FALSE(fit(1, 65, 1));
}

TEST_F(RunChecks, BufferLengthWithinTheDriverLimitsAndNeverZero) {
    duplexState.minBufferSize = 16;
    duplexState.maxBufferSize = 8192;
    for (uint32_t frames : {16u, 8192u, 15u, 8193u, 0xFFFFFFFFu}) {
        bufferFrames = frames;
        EXPECT_EQ(bufferLengthFits(), frames == 16 || frames == 8192) << frames;
    }
    duplexState.minBufferSize = 0;
    bufferFrames = 0;
    EXPECT_FALSE(bufferLengthFits());
}

TEST_F(RunChecks, RecordingMustFitTheWavSizesOncePaddedToWholeBuffers) {
    bufferFrames = 1024;
    playFramesLeft = (1u << 30) - 1024; // one channel: 4 GiB less 4 KiB
    EXPECT_TRUE(recordingFitsWav(1));
    EXPECT_FALSE(recordingFitsWav(2));
    playFramesLeft = (1u << 30) - 1; // padded to 2^30 frames: 4 GiB
    EXPECT_FALSE(recordingFitsWav(1));
    EXPECT_TRUE(recordingFitsWav(0));
}

} // namespace
