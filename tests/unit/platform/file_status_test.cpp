// The file-status query and the file calls, against the system's own files on each target.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "platform/file_identity.h"
#include "platform/file_open.h"
#include "platform/file_status.h"
#include "platform/text_out.h"
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

// Names in any script, as UTF-8, are created, found, opened, identified and removed through
// the platform's calls, whatever the process's code page; the bytes read back are written.
TEST(FileKind, NamesInAnyScriptAreOpenedFoundAndRemoved) {
    const std::string dir = testing::TempDir();
    for (const char* name : {"\xCE\xB1\xCF\x81\xCF\x87\xCE\xB5\xCE\xAF\xCE\xBF.wav",
                             "\xE6\x97\xA5\xE6\x9C\xAC.wav", "Caf\xC3\xA9.wav"}) {
        SCOPED_TRACE(name);
        const std::string path = dir + name;
        FILE* file = openFile(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fputs("abc", file);
        std::fclose(file);
        EXPECT_EQ(fileKind(path.c_str()), FileKind::Regular);
        EXPECT_TRUE(sameFile(path.c_str(), path.c_str()));
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::u8path(path)));
        file = openFile(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        char text[4] = {};
        EXPECT_EQ(std::fread(text, 1, 3, file), 3u);
        std::fclose(file);
        EXPECT_STREQ(text, "abc");
        EXPECT_EQ(removeFile(path.c_str()), 0);
        EXPECT_EQ(fileKind(path.c_str()), FileKind::Missing);
    }
    // Plain ASCII text is the same in every code page.
    EXPECT_EQ(ansiToUtf8("Korvane Loopback"), "Korvane Loopback");
}
