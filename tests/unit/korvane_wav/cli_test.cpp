// korvane-wav's command line run in-process: what goes to each stream, and the exit code.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "korvane_version.h"
#include "support/measure_test_files.h"

namespace {

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

std::string contents(FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, got);
    }
    std::fclose(file);
    return text;
}

CliRun run(std::vector<const char*> words) {
    words.insert(words.begin(), "korvane-wav");
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    CliRun result;
    if (out == nullptr || err == nullptr) {
        ADD_FAILURE() << "no temporary file";
        return result;
    }
    result.code = korvaneWavMain(int(words.size()), words.data(), out, err);
    result.out = contents(out);
    result.err = contents(err);
    return result;
}

} // namespace

TEST(KorvaneWavCli, VersionAndHelpGoToStandardOutputWithCodeZero) {
    CliRun r = run({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, std::string("korvane-wav ") + KORVANE_VERSION + "\n");
    EXPECT_EQ(r.err, "");
    for (const char* help : {"-h", "--help"}) {
        r = run({help});
        EXPECT_EQ(r.code, 0) << help;
        EXPECT_NE(r.out.find("korvane-wav --version"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST(KorvaneWavCli, CountsOneChannelAndOneFrameInTheSingular) {
    const std::string in = tempPath("cli-mono.wav");
    const std::string out = tempPath("cli-mono-out.wav");
    EXPECT_TRUE(writeBytes(in, floatWav(1, {0.5f}, 8000)));
    CliRun r = run({"convert", in.c_str(), out.c_str()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(", 1 channel, 8000 Hz, 1 frame\n"), std::string::npos) << r.out;
    r = run({"gen", "impulse", out.c_str(), "--seconds", "0.0001", "--rate", "10000"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("impulse, 1 channel, 10000 Hz, 1 frame,"), std::string::npos) << r.out;
    r = run({"check", in.c_str(), out.c_str()});
    EXPECT_NE(r.out.find(", 1 channel, 8000 Hz, 1 frame, "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("1 channels"), std::string::npos) << r.out;
    std::remove(in.c_str());
    std::remove(out.c_str());
}
