// korvane-drivers run as a child against the loopback driver, listed by the build's own
// registry and by registries of the tests' own: the names it gives are the ones korvane
// matches, and what it reports is what the driver was configured to answer.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"
#include "korvane_paths.h"
#include "korvane_version.h"
#include "support/child_process.h"
#include "support/json_reader.h"
#include "support/registry_fixture.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

constexpr const char* kLoopbackClass = "{99DFBE55-C03C-4828-AE29-9308FE662EEA}";
constexpr const char* kMissingServerClass = "{5E7D0000-0000-4000-8000-000000000001}";
constexpr const char* kUnregisteredClass = "{5E7D0000-0000-4000-8000-000000000002}";
constexpr const char* kBadClassText = "{Not A Valid Class Id}";
constexpr const char* kLongName = "Alpha Bravo Charlie Delta Echo Foxtrot Golf";
constexpr const char* kLongNameCut = "Alpha Bravo Charlie Delta Ec...";

const double kRates[] = {44100, 48000, 88200, 96000, 176400, 192000};

ChildResult runDrivers(const std::vector<std::string>& args, const std::string& loopback = "") {
    std::vector<std::string> argv{programPath("korvane-drivers")};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions options;
    options.environment.push_back({"KORVANE_LOOPBACK", loopback});
    return runChild(argv, options);
}

JsonValue parsedOutput(const ChildResult& result) {
    JsonValue value;
    std::string error;
    EXPECT_TRUE(parseJson(result.out, value, &error)) << error << "\n" << result.out;
    return value;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// A .reg string value: backslashes and quotes escaped.
std::string regString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

std::string driverKey(const std::string& key, const std::string& classId,
                      const std::string& description = "") {
    std::string text =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\" + key + "]\n\"CLSID\"=" + regString(classId) + "\n";
    if (!description.empty()) {
        text += "\"Description\"=" + regString(description) + "\n";
    }
    return text + "\n";
}

std::string classKey(const std::string& classId, const std::string& server) {
    return "[HKEY_CLASSES_ROOT\\CLSID\\" + classId + "\\InprocServer32]\n@=" + regString(server) +
           "\n\"ThreadingModel\"=\"Apartment\"\n\n";
}

std::string missingServerPath() {
    return libraryPath("korvane_loopback") + ".missing";
}

// Listed in this order (key names sort case-insensitively): a name too long for korvane,
// a second entry described as the loopback, the loopback itself (already registered on
// Windows: its values are put back afterwards), a class whose server file does not exist,
// a class that is not registered at all (never listed), and a class id that is no GUID.
std::string mixedRegistry() {
    const std::string loopback = libraryPath("korvane_loopback");
    return "Windows Registry Editor Version 5.00\n\n" + driverKey(kLongName, kLoopbackClass) +
           driverKey("Beta Copy", kLoopbackClass, kLoopbackName) +
           driverKey(kLoopbackName, kLoopbackClass, kLoopbackName) +
           driverKey("Missing Server", kMissingServerClass) +
           driverKey("Unregistered Class", kUnregisteredClass) +
           driverKey("Zulu Bad Class", kBadClassText) + classKey(kLoopbackClass, loopback) +
           classKey(kMissingServerClass, missingServerPath()) + classKey(kBadClassText, loopback);
}

// The calls korvane-drivers makes on a driver that initialises, with the loopback's trace
// names; channel details come only after init has succeeded.
Lines describedCalls(int inputs, int outputs) {
    Lines calls = {"init",        "getDriverName", "getDriverVersion",
                   "getChannels", "getBufferSize", "getSampleRate"};
    for (double rate : kRates) {
        calls.push_back("canSampleRate " + std::to_string(static_cast<int>(rate)));
    }
    const Lines described = channelInfoCalls(inputs, outputs);
    calls.insert(calls.end(), described.begin(), described.end());
    calls.push_back("Release");
    return calls;
}

void expectChannels(const JsonValue& channels, int count, const std::string& prefix, int type,
                    const std::string& typeName, int bytes, bool streamable) {
    ASSERT_EQ(channels.kind, JsonValue::Array);
    ASSERT_EQ(channels.size(), static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) {
        SCOPED_TRACE(prefix + std::to_string(k + 1));
        const JsonValue& channel = channels[static_cast<size_t>(k)];
        EXPECT_EQ(channel["number"].number, k + 1);
        EXPECT_EQ(channel["result"].number, 0);
        EXPECT_EQ(channel["name"].text, prefix + std::to_string(k + 1));
        EXPECT_EQ(channel["type"].number, type);
        EXPECT_EQ(channel["typeName"].text, typeName);
        EXPECT_EQ(channel["bytes"].number, bytes);
        EXPECT_EQ(channel["streamable"].boolean, streamable);
    }
}

// The build's registry lists Korvane JACK too where the build has it; its name sorts first.
bool jackListed() {
    return !windowsBuild() && fileExists(libraryPath("korvane_jack"));
}
std::string loopbackEntry() {
    return std::string("[") + (jackListed() ? "1" : "0") + "] \"Korvane Loopback\"\n";
}

class KorvaneDrivers : public ::testing::Test {
protected:
    std::string traced(const std::string& loopback) const {
        return "trace=" + tracePath + (loopback.empty() ? "" : "," + loopback);
    }

    ScratchDir dir;
    std::string tracePath = dir.file("trace.txt");
};

} // namespace

TEST_F(KorvaneDrivers, ListsTheBuildsRegistryWithTheNameToType) {
    const ChildResult text = runDrivers({});
    EXPECT_EQ(text.exitCode, 0);
    const size_t listed = jackListed() ? 2 : 1;
    EXPECT_TRUE(
        contains(text.out, "ASIO drivers listed in the registry: " + std::to_string(listed) + "\n"))
        << text.out;
    EXPECT_TRUE(contains(text.out, "\n" + loopbackEntry() + "    server: ")) << text.out;
    EXPECT_FALSE(contains(text.out, "same name"));

    const ChildResult json = runDrivers({"--json"});
    EXPECT_EQ(json.exitCode, 0);
    const JsonValue doc = parsedOutput(json);
    ASSERT_EQ(doc["drivers"].size(), listed);
    const JsonValue& entry = doc["drivers"][listed - 1];
    EXPECT_EQ(entry["index"].number, listed - 1);
    EXPECT_EQ(entry["name"].text, kLoopbackName);
    EXPECT_EQ(entry["listedName"].text, kLoopbackName);
    EXPECT_FALSE(entry["cut"].boolean);
    EXPECT_TRUE(entry["sameNameAs"].isNull());
    EXPECT_EQ(entry["classId"].text, kLoopbackClass);
    EXPECT_TRUE(entry["classIdValid"].boolean);
    // regsvr32 and the test may spell the same folder in different letter case.
    EXPECT_EQ(lowered(entry["server"].text), lowered(libraryPath("korvane_loopback")));
    // Listing creates no driver object.
    EXPECT_FALSE(fileExists(tracePath));
}

TEST_F(KorvaneDrivers, DescribesTheLoopbackDefaultsExactly) {
    const ChildResult json = runDrivers({"--json", kLoopbackName}, traced(""));
    EXPECT_EQ(json.exitCode, 0);
    const JsonValue doc = parsedOutput(json);
    EXPECT_EQ(doc["failed"].number, 0);
    ASSERT_EQ(doc["drivers"].size(), 1u);
    const JsonValue& d = doc["drivers"][0];
    EXPECT_EQ(d["requested"].text, kLoopbackName);
    EXPECT_EQ(d["status"].text, "ok");
    EXPECT_TRUE(d["error"].isNull());
    EXPECT_EQ(d["driverName"].text, kLoopbackName);
    EXPECT_EQ(d["inputs"].number, 8);
    EXPECT_EQ(d["outputs"].number, 8);
    EXPECT_EQ(d["bufferLengths"]["minimum"].number, 16);
    EXPECT_EQ(d["bufferLengths"]["maximum"].number, 8192);
    EXPECT_EQ(d["bufferLengths"]["preferred"].number, 256);
    EXPECT_EQ(d["bufferLengths"]["granularity"].number, -1);
    EXPECT_EQ(d["sampleRate"].number, 44100);
    ASSERT_EQ(d["rates"].size(), 6u);
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_EQ(d["rates"][k]["rate"].number, kRates[k]);
        EXPECT_TRUE(d["rates"][k]["accepted"].boolean);
    }
    expectChannels(d["inputChannels"], 8, "Loopback In ", 18, "ASIOSTInt32LSB", 4, true);
    expectChannels(d["outputChannels"], 8, "Loopback Out ", 18, "ASIOSTInt32LSB", 4, true);
    EXPECT_EQ(d["failedCalls"].size(), 0u);
    EXPECT_EQ(readLines(tracePath), describedCalls(8, 8));

    const ChildResult text = runDrivers({kLoopbackName});
    EXPECT_EQ(text.exitCode, 0);
    const std::string entry = loopbackEntry();
    for (const char* line :
         {entry.c_str(), "    Driver:         Korvane Loopback, version ",
          "    Channels:       8 inputs, 8 outputs\n",
          "    Buffer lengths: minimum 16, maximum 8192, preferred 256, granularity -1\n",
          "                    korvane takes any <ASIOBuffer> from 16 to 8192\n",
          "    Sample rate:    44100 Hz now\n",
          "    Rates accepted: 44100 48000 88200 96000 176400 192000\n",
          "    Rates refused:  none\n", "    Inputs (<RecStartChannel> counts from 1):\n",
          "       1  ASIOSTInt32LSB     streamable      \"Loopback In 1\"\n",
          "       8  ASIOSTInt32LSB     streamable      \"Loopback Out 8\"\n"}) {
        EXPECT_TRUE(contains(text.out, line)) << line << "\n" << text.out;
    }
    EXPECT_FALSE(contains(text.out, "Error"));
}

TEST_F(KorvaneDrivers, ReportsWhatTheDriverIsConfiguredToAnswer) {
    struct Case {
        const char* loopback;
        int inputs, outputs;
        int inType, outType;
        const char* inName;
        const char* outName;
        int inBytes, outBytes;
        bool inStreams, outStreams;
        double current;
        std::vector<bool> accepted;
        int minimum, maximum, preferred, granularity;
    };
    const Case cases[] = {
        {"inputs=4,outputs=2,type=17,rates=48000",
         4,
         2,
         17,
         17,
         "ASIOSTInt24LSB",
         "ASIOSTInt24LSB",
         3,
         3,
         true,
         true,
         48000,
         {false, true, false, false, false, false},
         16,
         8192,
         256,
         -1},
        {"inputs=0,outputs=3,type=16,rates=96000,44100,minbuf=64,maxbuf=2048,prefbuf=512,"
         "granularity=64",
         0,
         3,
         16,
         16,
         "ASIOSTInt16LSB",
         "ASIOSTInt16LSB",
         2,
         2,
         true,
         true,
         96000,
         {true, false, false, true, false, false},
         64,
         2048,
         512,
         64},
        {"inputs=2,outputs=1,intype=18,outtype=19",
         2,
         1,
         18,
         19,
         "ASIOSTInt32LSB",
         "ASIOSTFloat32LSB",
         4,
         4,
         true,
         false,
         44100,
         {true, true, true, true, true, true},
         16,
         8192,
         256,
         -1},
        {"inputs=1,outputs=1,type=20,rates=192000,176400",
         1,
         1,
         20,
         20,
         "ASIOSTFloat64LSB",
         "ASIOSTFloat64LSB",
         8,
         8,
         false,
         false,
         192000,
         {false, false, false, false, true, true},
         16,
         8192,
         256,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.loopback);
        std::remove(tracePath.c_str());
        const ChildResult result = runDrivers({kLoopbackName, "--json"}, traced(c.loopback));
        EXPECT_EQ(result.exitCode, 0) << result.out;
        const JsonValue d = parsedOutput(result)["drivers"][0];
        EXPECT_EQ(d["status"].text, "ok");
        EXPECT_EQ(d["inputs"].number, c.inputs);
        EXPECT_EQ(d["outputs"].number, c.outputs);
        EXPECT_EQ(d["bufferLengths"]["minimum"].number, c.minimum);
        EXPECT_EQ(d["bufferLengths"]["maximum"].number, c.maximum);
        EXPECT_EQ(d["bufferLengths"]["preferred"].number, c.preferred);
        EXPECT_EQ(d["bufferLengths"]["granularity"].number, c.granularity);
        EXPECT_EQ(d["sampleRate"].number, c.current);
        for (size_t k = 0; k < 6; ++k) {
            EXPECT_EQ(d["rates"][k]["accepted"].boolean, c.accepted[k]) << kRates[k];
        }
        expectChannels(d["inputChannels"], c.inputs, "Loopback In ", c.inType, c.inName, c.inBytes,
                       c.inStreams);
        expectChannels(d["outputChannels"], c.outputs, "Loopback Out ", c.outType, c.outName,
                       c.outBytes, c.outStreams);
        EXPECT_EQ(readLines(tracePath), describedCalls(c.inputs, c.outputs));
    }

    const ChildResult text =
        runDrivers({kLoopbackName}, "inputs=2,outputs=1,intype=18,outtype=19,rates=48000");
    EXPECT_EQ(text.exitCode, 0);
    EXPECT_TRUE(contains(text.out, "       1  ASIOSTFloat32LSB   not streamable  \"Loopback Out 1"))
        << text.out;
    EXPECT_TRUE(contains(text.out, "    Rates accepted: 48000\n"
                                   "    Rates refused:  44100 88200 96000 176400 192000\n"));
}

TEST_F(KorvaneDrivers, FailedInitShowsTheDriversTextReleasesItAndGoesOn) {
    const std::string loopback = traced("fail=init,errortext=Device is gone");
    const ChildResult text = runDrivers({kLoopbackName, "Korvane Loopback Two"}, loopback);
    EXPECT_EQ(text.exitCode, 2);
    EXPECT_TRUE(contains(text.out, loopbackEntry()));
    EXPECT_TRUE(contains(text.out, "    Error: the driver failed to initialise: Device is gone\n"))
        << text.out;
    EXPECT_TRUE(contains(text.out, "\"Korvane Loopback Two\"\n"
                                   "    Error: no driver is listed under this name\n"));
    EXPECT_TRUE(contains(text.out, "2 of 2 drivers failed.\n"));
    // Nothing is asked of a driver whose init failed, and its object is released.
    EXPECT_EQ(readLines(tracePath), (Lines{"init", "getErrorMessage", "Release"}));

    const ChildResult json = runDrivers({"--json", kLoopbackName, kLoopbackName}, loopback);
    EXPECT_EQ(json.exitCode, 2);
    const JsonValue doc = parsedOutput(json);
    EXPECT_EQ(doc["failed"].number, 2);
    ASSERT_EQ(doc["drivers"].size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(doc["drivers"][k]["status"].text, "init-failed");
        EXPECT_EQ(doc["drivers"][k]["error"].text, "Device is gone");
        EXPECT_FALSE(doc["drivers"][k]["initialised"].boolean);
        EXPECT_FALSE(doc["drivers"][k].has("inputChannels"));
    }

    // A configuration the driver refuses fails its init with the driver's own reason.
    const ChildResult refused = runDrivers({"--json", kLoopbackName}, "inputs=lots");
    EXPECT_EQ(refused.exitCode, 2);
    const JsonValue bad = parsedOutput(refused)["drivers"][0];
    EXPECT_EQ(bad["status"].text, "init-failed");
    EXPECT_TRUE(contains(bad["error"].text, "inputs")) << bad["error"].text;
}

TEST_F(KorvaneDrivers, DriverErrorsToQuestionsAreReportedAndFail) {
    const ChildResult sizes = runDrivers({"--json", kLoopbackName}, "fail=buffersize");
    EXPECT_EQ(sizes.exitCode, 2);
    JsonValue d = parsedOutput(sizes)["drivers"][0];
    EXPECT_EQ(d["status"].text, "query-failed");
    EXPECT_TRUE(d["bufferLengths"].isNull());
    ASSERT_EQ(d["failedCalls"].size(), 1u);
    EXPECT_EQ(d["failedCalls"][0]["call"].text, "ASIOGetBufferSize");
    EXPECT_NE(d["failedCalls"][0]["result"].number, 0);
    EXPECT_EQ(d["inputChannels"].size(), 8u);

    // The third getChannelInfo call is the third input.
    const ChildResult info =
        runDrivers({"--json", kLoopbackName}, "inputs=4,outputs=2,fail=channelinfo:3");
    EXPECT_EQ(info.exitCode, 2);
    d = parsedOutput(info)["drivers"][0];
    EXPECT_EQ(d["status"].text, "query-failed");
    ASSERT_EQ(d["inputChannels"].size(), 4u);
    EXPECT_EQ(d["inputChannels"][1]["result"].number, 0);
    EXPECT_NE(d["inputChannels"][2]["result"].number, 0);
    EXPECT_FALSE(d["inputChannels"][2].has("typeName"));
    EXPECT_EQ(d["inputChannels"][3]["name"].text, "Loopback In 4");
    EXPECT_EQ(d["failedCalls"][0]["call"].text, "ASIOGetChannelInfo input 3");

    // Refusing every rate is an answer, not a failure.
    const ChildResult rates = runDrivers({kLoopbackName}, "fail=cansamplerate");
    EXPECT_EQ(rates.exitCode, 0) << rates.out;
    EXPECT_TRUE(contains(rates.out, "    Rates accepted: none\n")) << rates.out;
}

TEST_F(KorvaneDrivers, CommandLineMistakesAndHelp) {
    const ChildResult help = runDrivers({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(
        contains(help.out, "Usage: korvane-drivers [--json] [--all | <ASIODriverName>...]"));
    EXPECT_TRUE(contains(help.out, "Exit codes:"));
    const ChildResult shortHelp = runDrivers({"-h"});
    EXPECT_EQ(shortHelp.exitCode, 0);
    EXPECT_EQ(shortHelp.out, help.out);
    const ChildResult version = runDrivers({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("korvane-drivers ") + KORVANE_VERSION + "\n");

    for (const Lines& args : {Lines{"--bogus"}, Lines{"--all", kLoopbackName}}) {
        const ChildResult wrong = runDrivers(args);
        EXPECT_EQ(wrong.exitCode, 1) << args[0];
        EXPECT_TRUE(contains(wrong.out, "Run korvane-drivers --help")) << wrong.out;
    }
}

TEST_F(KorvaneDrivers, LongDuplicateAndBrokenEntriesAsKorvaneSeesThem) {
    RegistryFixture registry;
    ASSERT_TRUE(registry.install(mixedRegistry()));

    const ChildResult listing = runDrivers({"--json"});
    EXPECT_EQ(listing.exitCode, 0);
    const JsonValue list = parsedOutput(listing)["drivers"];
    ASSERT_EQ(list.size(), 5u) << listing.out;
    const char* names[] = {kLongNameCut, kLoopbackName, kLoopbackName, "Missing Server",
                           "Zulu Bad Class"};
    for (size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(list[k]["index"].number, static_cast<double>(k));
        EXPECT_EQ(list[k]["name"].text, names[k]);
    }
    EXPECT_EQ(list[0]["listedName"].text, kLongName);
    EXPECT_TRUE(list[0]["cut"].boolean);
    EXPECT_TRUE(list[1]["sameNameAs"].isNull());
    EXPECT_EQ(list[2]["sameNameAs"].number, 1);
    EXPECT_EQ(lowered(list[3]["server"].text), lowered(missingServerPath()));
    EXPECT_EQ(list[3]["classId"].text, kMissingServerClass);
    EXPECT_FALSE(list[4]["classIdValid"].boolean);

    const ChildResult text = runDrivers({});
    EXPECT_TRUE(contains(text.out, std::string("[0] \"") + kLongNameCut +
                                       "\"\n    listed as: " + kLongName + "\n"))
        << text.out;
    EXPECT_TRUE(contains(text.out, "[2] \"Korvane Loopback\"\n    same name as [1]: korvane "
                                   "always loads [1] under this name, never this\n"));
    EXPECT_TRUE(contains(text.out, "[4] \"Zulu Bad Class\"\n    the registry's class identifier "
                                   "is not valid"));
    EXPECT_FALSE(contains(text.out, "Unregistered Class"));

    const ChildResult all = runDrivers({"--all", "--json"}, traced(""));
    EXPECT_EQ(all.exitCode, 2);
    const JsonValue doc = parsedOutput(all);
    EXPECT_EQ(doc["failed"].number, 2);
    const JsonValue& reports = doc["drivers"];
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0]["requested"].text, kLongNameCut);
    EXPECT_EQ(reports[0]["status"].text, "ok");
    EXPECT_EQ(reports[0]["driverName"].text, kLoopbackName);
    EXPECT_EQ(reports[1]["status"].text, "ok");
    EXPECT_EQ(reports[1]["index"].number, 1);
    EXPECT_EQ(reports[1]["shadowed"][0].number, 2);
    EXPECT_EQ(reports[2]["status"].text, "shadowed");
    EXPECT_FALSE(reports[2]["initialised"].boolean);
    EXPECT_EQ(reports[3]["status"].text, "load-failed");
    EXPECT_TRUE(contains(reports[3]["error"].text, "could not be created"));
    EXPECT_TRUE(contains(reports[3]["error"].text, "cannot be opened")) << reports[3]["error"].text;
    EXPECT_EQ(reports[4]["status"].text, "load-failed");
    EXPECT_TRUE(contains(reports[4]["error"].text, "not a valid")) << reports[4]["error"].text;
    // Each driver is released before the next one is loaded; the shadowed one never is.
    const Lines one = describedCalls(8, 8);
    Lines both = one;
    both.insert(both.end(), one.begin(), one.end());
    EXPECT_EQ(readLines(tracePath), both);

    // The whole long name is not what korvane matches; the tool says what to type.
    const ChildResult whole = runDrivers({kLongName});
    EXPECT_EQ(whole.exitCode, 2);
    EXPECT_TRUE(contains(whole.out, std::string("    Did you mean \"") + kLongNameCut + "\"?"))
        << whole.out;
    EXPECT_TRUE(contains(whole.out, "korvane matches at most 31 characters"));
    const ChildResult missing = runDrivers({"Missing Server"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(contains(missing.out, "    Error: korvane cannot load this driver: the driver "
                                      "object could not be created"))
        << missing.out;
}

// What the tool names as the name to type is what korvane itself loads: with a buffer
// length of 0 korvane stops right after the driver's init, or at the load when the name is
// not one it matches.
TEST_F(KorvaneDrivers, KorvaneLoadsExactlyTheNamesTheToolGives) {
    RegistryFixture registry;
    ASSERT_TRUE(registry.install(mixedRegistry()));
    const std::string play = dir.file("play.wav");
    ASSERT_TRUE(writeBytes(play, floatWav(1, std::vector<float>(64, 0.0f), 44100)));

    auto korvane = [&](const std::string& name) {
        ChildOptions options;
        options.environment.push_back({"KORVANE_LOOPBACK", "clock=fast"});
        return runChild(
            {programPath("korvane"), name, "0", play, "1", dir.file("rec.wav"), "0", "1"}, options);
    };
    const JsonValue list = parsedOutput(runDrivers({"--json"}))["drivers"];
    ASSERT_EQ(list.size(), 5u);
    for (size_t k = 0; k < 2; ++k) {
        const ChildResult run = korvane(list[k]["name"].text);
        EXPECT_EQ(run.exitCode, 7) << list[k]["name"].text << "\n" << run.out;
        EXPECT_TRUE(contains(run.out, "ASIO Driver correctly initialized: Korvane Loopback\n"));
    }
    for (const char* name : {kLongName, "korvane loopback", "Missing Server"}) {
        const ChildResult run = korvane(name);
        EXPECT_EQ(run.exitCode, 4) << name << "\n" << run.out;
        EXPECT_TRUE(contains(run.out, std::string("Error: Failed to load ASIO driver ") + name))
            << run.out;
    }
}

// Linux only: on Windows the test prefix always lists the registered loopback.
TEST_F(KorvaneDrivers, EmptyRegistryIsSaidSoAndIsNoFailure) {
    if (windowsBuild()) {
        GTEST_SKIP() << "the registered loopback is always listed on Windows";
    }
    RegistryFixture registry;
    ASSERT_TRUE(registry.install("Windows Registry Editor Version 5.00\n\n"));
    for (const Lines& args : {Lines{}, Lines{"--all"}}) {
        const ChildResult result = runDrivers(args);
        EXPECT_EQ(result.exitCode, 0);
        const size_t lineEnd = result.out.find('\n');
        ASSERT_NE(lineEnd, std::string::npos) << result.out;
        EXPECT_TRUE(contains(result.out.substr(0, lineEnd), ", named by KORVANE_REGISTRY"));
        EXPECT_EQ(result.out.substr(lineEnd + 1),
                  "No ASIO driver is listed in the registry, so korvane cannot load any.\n");
    }
    const JsonValue doc = parsedOutput(runDrivers({"--all", "--json"}));
    EXPECT_EQ(doc["drivers"].size(), 0u);
    EXPECT_EQ(doc["failed"].number, 0);
    const ChildResult named = runDrivers({kLoopbackName});
    EXPECT_EQ(named.exitCode, 2);
    EXPECT_TRUE(contains(named.out, "no driver is listed under this name"));
}

// The registry file is the first of: KORVANE_REGISTRY's, korvane.reg beside the program, the
// installed system file. A user whose driver is missing must see which file was read.
TEST_F(KorvaneDrivers, SaysWhichRegistryFileItRead) {
    if (windowsBuild()) {
        EXPECT_FALSE(contains(runDrivers({}).out, "Registry file")); // the system's registry
        return;
    }
    ChildOptions options;
    options.unset.push_back("KORVANE_REGISTRY");
    ChildResult r = runChild({programPath("korvane-drivers")}, options);
    EXPECT_EQ(r.out.rfind("Registry file: " + executableDirectory() +
                              "/korvane.reg, beside the program\nASIO drivers listed",
                          0),
              0u)
        << r.out;

    const std::string missing = dir.file("none.reg");
    options.unset.clear();
    options.environment.push_back({"KORVANE_REGISTRY", missing});
    r = runChild({programPath("korvane-drivers"), kLoopbackName}, options);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out.rfind("Registry file: " + missing +
                              ", named by KORVANE_REGISTRY: it does not exist\n",
                          0),
              0u)
        << r.out;
    r = runChild({programPath("korvane-drivers"), "--json"}, options);
    const JsonValue doc = parsedOutput(r);
    EXPECT_EQ(doc["registry"]["file"].text, missing);
    EXPECT_EQ(doc["registry"]["source"].text, "KORVANE_REGISTRY");
    EXPECT_FALSE(doc["registry"]["exists"].boolean);

    // A copy with nothing beside it is an installed program: it reads the system file.
    const std::string copy = dir.file("korvane-drivers");
    fs::copy_file(programPath("korvane-drivers"), copy);
    options.environment.clear();
    options.unset.push_back("KORVANE_REGISTRY");
    r = runChild({copy, "--json"}, options);
    const JsonValue installed = parsedOutput(r);
    EXPECT_EQ(installed["registry"]["file"].text, KORVANE_SYSTEM_REGISTRY);
    EXPECT_EQ(installed["registry"]["source"].text, "system");
    EXPECT_EQ(installed["registry"]["exists"].boolean,
              fs::is_regular_file(KORVANE_SYSTEM_REGISTRY));
}
