#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "../wav/wav_test_files.h"
#include "engine/run_state.h"
#include "wav/record_writer.h"

namespace {

class RecordWriterPosixTest : public WavFileTest {
protected:
    void recordSilence(uint32_t channels, uint32_t frames) {
        bytesPerSample = 4;
        recordChannels = channels;
        recordFrames = frames;
        ASSERT_TRUE(allocateRecordStore());
        for (uint32_t c = 0; c < channels; ++c) {
            std::memset(recordBuffers[c], 0, size_t(frames) * 4);
        }
    }
};

bool isCharacterDevice(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISCHR(info.st_mode);
}

TEST_F(RecordWriterPosixTest, ReportsAFullDeviceAndLeavesItInPlace) {
    ASSERT_TRUE(isCharacterDevice("/dev/full"));
    recordSilence(2, 16); // fits in the stream's buffer: the failure shows at the close
    EXPECT_EQ(writeRecordFile("/dev/full"), kRecordWriteFailed);
    EXPECT_TRUE(isCharacterDevice("/dev/full"));

    resetRunState();
    recordSilence(2, 1 << 18); // fails in the middle of the samples
    EXPECT_EQ(writeRecordFile("/dev/full"), kRecordWriteFailed);
    EXPECT_TRUE(isCharacterDevice("/dev/full"));

    EXPECT_TRUE(canCreateRecordFile("/dev/full"));
    EXPECT_TRUE(isCharacterDevice("/dev/full"));
}

// A file size limit stands in for a full disk under a regular file.
TEST_F(RecordWriterPosixTest, RemovesTheIncompleteRegularFile) {
    recordSilence(2, 1 << 16);
    const std::string p = path("rec.wav");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const int result = writeRecordFile(p.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(result, kRecordWriteFailed);
    EXPECT_FALSE(std::filesystem::exists(p));

    EXPECT_EQ(writeRecordFile(p.c_str()), kRecordWritten);
    EXPECT_EQ(std::filesystem::file_size(p), 44u + (1u << 16) * 8);
}

} // namespace
