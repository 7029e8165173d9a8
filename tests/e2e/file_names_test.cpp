// File and folder names in any script: taken from the command line, opened, created and
// printed unchanged by korvane and korvane-wav. On Windows the narrow calls would pass them
// through the system's ANSI code page, which cannot spell most of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace fs = std::filesystem;

namespace {

struct Names {
    const char* script;
    const char* folder;
    const char* play;
    const char* record;
};

const Names kNames[] = {
    {"Japanese", "日本語のフォルダ", "再生.wav", "録音.wav"},
    {"Greek", "Ελληνικά αρχεία", "αναπαραγωγή.wav", "ηχογράφηση.wav"},
    {"accented Latin", "Café Müller", "lecture à l'œil.wav", "Ñandú grabación.wav"},
};

ChildResult tool(std::vector<std::string> args) {
    args.insert(args.begin(), programPath("korvane-wav"));
    return runChild(args);
}

} // namespace

TEST(FileNames, InAnyScriptArePlayedRecordedCheckedAndPrinted) {
    ScratchDir dir;
    const char separator = windowsBuild() ? '\\' : '/';
    for (const Names& names : kNames) {
        SCOPED_TRACE(names.script);
        // Joined as bytes: the names stay UTF-8 whatever the test's own code page is.
        const std::string folder = dir.file("") + names.folder;
        ASSERT_TRUE(fs::create_directory(fs::u8path(folder)));
        const std::string play = folder + separator + names.play;
        const std::string record = folder + separator + names.record;

        ChildResult r =
            tool({"gen", "noise", play, "--channels", "2", "--seconds", "0.05", "--pad", "0.02"});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(play), std::string::npos) << r.out;
        ASSERT_TRUE(fs::is_regular_file(fs::u8path(play)));

        r = runKorvane({kLoopbackName, "256", play, "1", record, "2", "1"}, "clock=fast");
        EXPECT_EQ(r.exitCode, 0) << r.out;
        ASSERT_TRUE(fs::is_regular_file(fs::u8path(record)));
        r = tool({"check", play, record, "--width", "4", "--exact"});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

        // The printed name is the one given, byte for byte.
        const std::string missing = folder + separator + "√" + names.play;
        r = runKorvane({kLoopbackName, "256", missing, "1", record, "2", "1"}, "clock=fast");
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, bannerText() + "Error: Unable to load input WAV file " + missing + "!");
        r = tool({"check", missing, record});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find(missing + ": the file cannot be opened"), std::string::npos) << r.err;
    }
}
