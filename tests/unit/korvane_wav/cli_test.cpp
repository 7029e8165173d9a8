// korvane-wav's command line run in-process: what goes to each stream, and the exit code.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "korvane_version.h"

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
