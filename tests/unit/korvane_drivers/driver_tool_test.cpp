#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "driver_probe.h"
#include "driver_report.h"
#include "driver_tool.h"
#include "support/json_reader.h"

namespace {

bool parse(std::vector<const char*> argv, DriverToolOptions& options, std::string& error) {
    argv.insert(argv.begin(), "korvane-drivers");
    return parseDriverToolArguments(static_cast<int>(argv.size()), argv.data(), options, error);
}

ListedDriver listed(int32_t index, const std::string& typed, const std::string& full,
                    int32_t sameNameAs = -1) {
    ListedDriver driver;
    driver.index = index;
    driver.typedName = typed;
    driver.listedName = full;
    driver.cut = typed != full;
    driver.sameNameAs = sameNameAs;
    driver.classId = "{99DFBE55-C03C-4828-AE29-9308FE662EEA}";
    driver.classIdValid = true;
    driver.serverPath = "C:\\Drivers\\\"odd\".dll";
    driver.serverPathShown = driver.serverPath;
    return driver;
}

// Korvane Loopback, a long name that korvane cuts, and Korvane Loopback again.
std::vector<ListedDriver> threeDrivers() {
    return {
        listed(0, "Korvane Loopback", "Korvane Loopback"),
        listed(1, "Alpha Bravo Charlie Delta Ec...", "Alpha Bravo Charlie Delta Echo Foxtrot"),
        listed(2, "Korvane Loopback", "Korvane Loopback", 0),
    };
}

// The report of the first Korvane Loopback listed, initialised, with `status`.
DriverReport loopbackReport(ProbeStatus status) {
    DriverReport report;
    report.requested = "Korvane Loopback";
    report.listed = true;
    report.entry = listed(0, "Korvane Loopback", "Korvane Loopback");
    report.status = status;
    report.initialised = true;
    return report;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void expectContains(const std::string& text, std::initializer_list<const char*> parts) {
    for (const char* part : parts) {
        EXPECT_TRUE(contains(text, part)) << part;
    }
}

} // namespace

TEST(DriverToolArguments, TakesOptionsAndNamesInAnyOrder) {
    DriverToolOptions options;
    std::string error;
    ASSERT_TRUE(parse({}, options, error));
    EXPECT_FALSE(options.all || options.json || options.help);
    EXPECT_TRUE(options.names.empty());

    ASSERT_TRUE(parse({"Korvane Loopback", "--json", "Other"}, options, error));
    EXPECT_TRUE(options.json);
    EXPECT_EQ(options.names, (std::vector<std::string>{"Korvane Loopback", "Other"}));

    ASSERT_TRUE(parse({"--json", "--all"}, options, error));
    EXPECT_TRUE(options.all && options.json);

    // After "--" everything is a name, and a single dash is a name anyway.
    ASSERT_TRUE(parse({"--", "--all", "-x", ""}, options, error));
    EXPECT_FALSE(options.all);
    EXPECT_EQ(options.names, (std::vector<std::string>{"--all", "-x", ""}));

    EXPECT_FALSE(parse({"--help", "--bogus"}, options, error));
    EXPECT_EQ(error, "unknown option --bogus");
    EXPECT_FALSE(parse({"--all", "Korvane Loopback"}, options, error));
    EXPECT_EQ(error, "--all takes no driver name");
    EXPECT_FALSE(parse({"--JSON"}, options, error));
}

TEST(DriverToolArguments, TakesShortHelpAndVersionButNoOtherSingleDashOption) {
    DriverToolOptions options;
    std::string error;
    ASSERT_TRUE(parse({"-h"}, options, error));
    EXPECT_TRUE(options.help);
    EXPECT_TRUE(options.names.empty());
    ASSERT_TRUE(parse({"--version"}, options, error));
    EXPECT_TRUE(options.version);
    ASSERT_TRUE(parse({"--", "-h", "--version"}, options, error));
    EXPECT_FALSE(options.help || options.version);
    EXPECT_EQ(options.names, (std::vector<std::string>{"-h", "--version"}));
    EXPECT_TRUE(contains(driverToolUsage(), "-h, --help"));
    EXPECT_TRUE(contains(driverToolUsage(), "--version"));
}

TEST(DriverSuggestions, PointFromNearMissesToTheNameKorvaneMatches) {
    const std::vector<ListedDriver> drivers = threeDrivers();
    using Names = std::vector<std::string>;
    EXPECT_EQ(suggestNames(drivers, "korvane loopback"), Names{"Korvane Loopback"});
    EXPECT_EQ(suggestNames(drivers, " Korvane Loopback "), Names{"Korvane Loopback"});
    EXPECT_EQ(suggestNames(drivers, "Alpha Bravo Charlie Delta Echo Foxtrot"),
              Names{"Alpha Bravo Charlie Delta Ec..."});
    EXPECT_EQ(suggestNames(drivers, "alpha bravo charlie delta echo"),
              Names{"Alpha Bravo Charlie Delta Ec..."});
    // Cut names compare at 28 characters: a text that stops before them is not taken.
    EXPECT_TRUE(suggestNames(drivers, "Alpha Bravo").empty());
    EXPECT_TRUE(suggestNames(drivers, "Loopback").empty());
}

TEST(DriverListing, NamesTheCutFormAndWhichDuplicateKorvaneLoads) {
    const std::vector<ListedDriver> drivers = threeDrivers();
    const std::string text = listingText(drivers);
    EXPECT_TRUE(contains(text, "ASIO drivers listed in the registry: 3\n"));
    EXPECT_TRUE(contains(text, "[1] \"Alpha Bravo Charlie Delta Ec...\"\n"
                               "    listed as: Alpha Bravo Charlie Delta Echo Foxtrot\n"));
    EXPECT_TRUE(contains(text, "[2] \"Korvane Loopback\"\n"
                               "    same name as [0]: korvane always loads [0] under this name"));
    EXPECT_EQ(text.find("same name as"), text.rfind("same name as"));
    EXPECT_TRUE(contains(listingText({}), "No ASIO driver is listed"));

    JsonValue json;
    std::string error;
    ASSERT_TRUE(parseJson(listingJson(drivers), json, &error)) << error;
    ASSERT_EQ(json["drivers"].size(), 3u);
    EXPECT_EQ(json["drivers"][1]["name"].text, "Alpha Bravo Charlie Delta Ec...");
    EXPECT_EQ(json["drivers"][1]["listedName"].text, "Alpha Bravo Charlie Delta Echo Foxtrot");
    EXPECT_TRUE(json["drivers"][1]["cut"].boolean);
    EXPECT_TRUE(json["drivers"][0]["sameNameAs"].isNull());
    EXPECT_EQ(json["drivers"][2]["sameNameAs"].number, 0);
    EXPECT_EQ(json["drivers"][2]["server"].text, "C:\\Drivers\\\"odd\".dll");
    ASSERT_TRUE(parseJson(listingJson({}), json, &error)) << error;
    EXPECT_EQ(json["drivers"].kind, JsonValue::Array);
    EXPECT_EQ(json["drivers"].size(), 0u);
}

// Drivers fill their texts themselves: whatever bytes they use, the document must parse.
TEST(DriverReportJson, StaysValidWithHostileDriverTexts) {
    DriverReport ok = loopbackReport(ProbeStatus::QueryFailed);
    ok.driverName = std::string("Bad\x01\"Name\\\xE9\xFF", 12);
    ok.inputs = 1;
    ok.outputs = 1;
    ok.bufferResult = ASE_HWMalfunction;
    ok.sampleRate = std::numeric_limits<double>::quiet_NaN();
    ok.rateAnswers[1] = ASE_NoClock;
    ChannelReport input;
    input.number = 1;
    input.type = 99;
    input.name = "\n\t\x1b[31m";
    ok.inputChannels.push_back(input);
    ChannelReport output;
    output.number = 1;
    output.result = ASE_InvalidParameter;
    ok.outputChannels.push_back(output);
    ok.failures.push_back(CallFailure{"ASIOGetBufferSize", ASE_HWMalfunction});

    DriverReport failedInit = loopbackReport(ProbeStatus::InitFailed);
    failedInit.initialised = false;
    failedInit.error = "device \"X\" is gone\r\n";

    DriverReport missing;
    missing.requested = "korvane loopback";
    missing.status = ProbeStatus::NotListed;
    missing.error = "no driver is listed under this name";
    missing.suggestions = {"Korvane Loopback"};

    JsonValue json;
    std::string error;
    ASSERT_TRUE(parseJson(reportsJson({ok, failedInit, missing}), json, &error)) << error;
    EXPECT_EQ(json["failed"].number, 3);
    const JsonValue& first = json["drivers"][0];
    EXPECT_EQ(first["status"].text, "query-failed");
    EXPECT_EQ(first["driverName"].text, "Bad\x01\"Name\\\xC3\xA9\xC3\xBF");
    EXPECT_TRUE(first["bufferLengths"].isNull());
    EXPECT_TRUE(first["sampleRate"].isNull());
    EXPECT_TRUE(first["rates"][0]["accepted"].boolean);
    EXPECT_FALSE(first["rates"][1]["accepted"].boolean);
    EXPECT_EQ(first["rates"][1]["result"].number, ASE_NoClock);
    EXPECT_EQ(first["inputChannels"][0]["name"].text, "\n\t\x1b[31m");
    EXPECT_TRUE(first["inputChannels"][0]["typeName"].isNull());
    EXPECT_FALSE(first["inputChannels"][0]["streamable"].boolean);
    EXPECT_EQ(first["outputChannels"][0]["result"].number, ASE_InvalidParameter);
    EXPECT_FALSE(first["outputChannels"][0].has("typeName"));
    EXPECT_EQ(first["failedCalls"][0]["call"].text, "ASIOGetBufferSize");
    EXPECT_EQ(json["drivers"][1]["error"].text, "device \"X\" is gone\r\n");
    EXPECT_FALSE(json["drivers"][1]["initialised"].boolean);
    EXPECT_FALSE(json["drivers"][1].has("driverName"));
    EXPECT_FALSE(json["drivers"][2]["listed"].boolean);
    EXPECT_FALSE(json["drivers"][2].has("index"));
    EXPECT_EQ(json["drivers"][2]["suggestions"][0].text, "Korvane Loopback");

    // The text form shows control characters instead of sending them to the console.
    const std::string text = reportsText({ok, failedInit, missing});
    EXPECT_FALSE(contains(text, "\x1b"));
    expectContains(text, {"\"\\x0A\\x09\\x1B[31m\"",
                          "Error: ASIOGetBufferSize answered -999 (ASE_HWMalfunction)",
                          "Error: the driver failed to initialise: device \"X\" is gone",
                          "Did you mean \"Korvane Loopback\"?", "3 of 3 drivers failed."});
}

TEST(DriverReportText, TellsWhatKorvaneAcceptsAndStreams) {
    DriverReport report = loopbackReport(ProbeStatus::Ok);
    report.driverName = "Korvane Loopback";
    report.driverVersion = 1;
    report.inputs = 1;
    report.outputs = 65;
    report.minimumLength = 16;
    report.maximumLength = 8192;
    report.preferredLength = 256;
    report.granularity = -1;
    report.sampleRate = 48000.0;
    for (int k = 0; k < kProbeRateCount; ++k) {
        report.rateAnswers[k] = kProbeRates[k] == 48000.0 ? ASE_OK : ASE_NoClock;
    }
    ChannelReport channel;
    channel.number = 1;
    channel.type = ASIOSTInt32LSB;
    channel.name = "In 1";
    report.inputChannels.push_back(channel);
    channel.type = ASIOSTInt16LSB;
    for (int k = 1; k <= 65; ++k) {
        channel.number = k;
        channel.name = "Out " + std::to_string(k);
        report.outputChannels.push_back(channel);
    }
    report.outputChannels[1].type = ASIOSTFloat32LSB;

    const std::string text = reportsText({report});
    expectContains(text, {"Channels:       1 inputs, 65 outputs\n",
                          "minimum 16, maximum 8192, preferred 256, granularity -1\n",
                          "korvane takes any <ASIOBuffer> from 16 to 8192\n",
                          "Sample rate:    48000 Hz now\n", "Rates accepted: 48000\n",
                          "Rates refused:  44100 88200 96000 176400 192000\n",
                          "   1  ASIOSTInt32LSB     streamable      \"In 1\"\n",
                          "   2  ASIOSTFloat32LSB   not streamable  \"Out 2\"\n",
                          "  65  ASIOSTInt16LSB     streamable      \"Out 65\"  (beyond",
                          "Sample widths differ"});
    EXPECT_FALSE(contains(text, "\"Out 64\"  (beyond"));
    EXPECT_FALSE(contains(text, "failed"));
}
