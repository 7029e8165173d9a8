// The file-status query, against the system's own files on each target.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_status.h"
#include "support/wav_bytes.h"

TEST(FileKind, TellsMissingPlainFilesFromEverythingElse) {
    const std::filesystem::path dir = std::filesystem::path(testing::TempDir()) / "korvane-kind";
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "plain.wav").string();
    ASSERT_TRUE(writeBytes(file, Bytes{1, 2, 3}));
    EXPECT_EQ(fileKind(file.c_str()), FileKind::Regular);
    EXPECT_EQ(fileKind(dir.string().c_str()), FileKind::Other);
    EXPECT_EQ(fileKind((dir / "missing.wav").string().c_str()), FileKind::Missing);
    EXPECT_EQ(fileKind((dir / "missing" / "x.wav").string().c_str()), FileKind::Missing);
    std::filesystem::remove_all(dir);
}
