// File and folder names in any script: taken from the command line, opened, created and
// printed unchanged by korvane and korvane-wav. On Windows the narrow calls would pass them
// through the system's ANSI code page, which cannot spell most of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "support/registry_fixture.h"
#include "support/text_lines.h"

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

// korvane keeps the system's ANSI code page, in which the registry's driver names and the
// drivers speak: a name with letters of that code page loads as listed, at korvane's limit
// of 31 characters (32 bytes in UTF-8) or short, and the driver runs under that code page.
TEST(FileNames, DriverNamesInTheSystemsCodePageLoadAndTheDriverRunsUnderIt) {
    if (!windowsBuild()) {
        GTEST_SKIP() << "the registry's names and the ANSI code page are Windows'";
    }
    ScratchDir dir;
    const std::string play = dir.file("play.wav");
    const std::string record = dir.file("record.wav");
    const std::string trace = dir.file("trace.txt");
    ASSERT_EQ(tool({"gen", "noise", play, "--seconds", "0.05"}).exitCode, 0);
    RegistryFixture registry;
    for (const std::string name : {"Korvane Loopback aaaaaaaaaa\u00e9 XY", "Korvan\u00e9"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(registry.install(
            "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\" + name +
            "]\n\"CLSID\"=\"{99DFBE55-C03C-4828-AE29-9308FE662EEA}\"\n\"Description\"=\"" + name +
            "\"\n"));
        std::remove(trace.c_str());
        const ChildResult r = runKorvane({name, "256", play, "1", record, "1", "1"},
                                         "clock=fast,tracecodepage=1,trace=" + trace);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("ASIO Driver correctly initialized: Korvane Loopback"),
                  std::string::npos)
            << r.out;
        std::string page;
        for (const std::string& line : readLines(trace)) {
            page = line.rfind("codepage ", 0) == 0 ? line : page;
        }
        EXPECT_EQ(page, "codepage " + systemAnsiCodePage());
        EXPECT_NE(page, "codepage 65001");
    }
}
