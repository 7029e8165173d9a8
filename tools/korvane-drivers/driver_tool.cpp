#include "driver_tool.h"

#include <cstdio>
#include <cstring>

#include "driver_probe.h"
#include "driver_report.h"
#include "platform/text_out.h"
#include "tool_version.h"

namespace {

void print(const std::string& text) {
    writeText(stdout, text.data(), text.size());
    std::fflush(stdout);
}

} // namespace

const char* driverToolUsage() {
    return "Usage: korvane-drivers [--json] [--all | <ASIODriverName>...]\n"
           "\n"
           "Lists the registry's ASIO drivers with the exact name korvane takes as its first\n"
           "argument, or loads drivers as korvane does and tells what they offer.\n"
           "\n"
           "  (no name)         every listed driver, in registry order, with the name to type\n"
           "  <ASIODriverName>  load that driver and show its name and version, channel counts,\n"
           "                    buffer lengths, current and accepted sample rates and, per\n"
           "                    channel, its number as korvane counts it, name and sample type\n"
           "  --all             the same for every listed driver, one after the other\n"
           "  --json            one JSON document instead of text\n"
           "  -h, --help        this text\n"
           "  --version         korvane-drivers' version\n"
           "  --                the arguments that follow are names, even if they start with -\n"
           "\n"
           "korvane matches the name exactly, letter case included, and knows a name longer\n"
           "than 31 characters only as its first 28 characters followed by \"...\". It streams\n"
           "ASIOSTInt16LSB, ASIOSTInt24LSB and ASIOSTInt32LSB channels only.\n"
           "\n"
           "Exit codes: 0 listed, or every driver asked about loaded and answered;\n"
           "            1 wrong command line;\n"
           "            2 a driver asked about is not listed, cannot be loaded, fails to\n"
           "              initialise or answers an error (the others are still shown).\n";
}

bool parseDriverToolArguments(int argc, const char* const* argv, DriverToolOptions& options,
                              std::string& error) {
    options = DriverToolOptions();
    bool namesOnly = false;
    for (int k = 1; k < argc; ++k) {
        const char* argument = argv[k];
        if (!namesOnly && std::strcmp(argument, "-h") == 0) {
            options.help = true;
            continue;
        }
        if (!namesOnly && argument[0] == '-' && argument[1] == '-') {
            if (std::strcmp(argument, "--") == 0) {
                namesOnly = true;
            } else if (std::strcmp(argument, "--help") == 0) {
                options.help = true;
            } else if (std::strcmp(argument, "--version") == 0) {
                options.version = true;
            } else if (std::strcmp(argument, "--json") == 0) {
                options.json = true;
            } else if (std::strcmp(argument, "--all") == 0) {
                options.all = true;
            } else {
                error = std::string("unknown option ") + argument;
                return false;
            }
            continue;
        }
        options.names.push_back(argument);
    }
    if (options.all && !options.names.empty()) {
        error = "--all takes no driver name";
        return false;
    }
    return true;
}

int runDriverTool(int argc, char** argv) {
    DriverToolOptions options;
    std::string error;
    if (!parseDriverToolArguments(argc, argv, options, error)) {
        print("korvane-drivers: " + error + "\nRun korvane-drivers --help for its usage.\n");
        return kDriverToolUsage;
    }
    if (options.help) {
        print(driverToolUsage());
        return kDriverToolOk;
    }
    if (options.version) {
        print(versionLine("korvane-drivers"));
        return kDriverToolOk;
    }
    if (!ensureDriverManager()) {
        print("korvane-drivers: out of memory\n");
        return kDriverToolDriverFailed;
    }
    const RegistryFile registry = registryFileInUse();
    const std::vector<ListedDriver> drivers = listDrivers();
    if (!options.all && options.names.empty()) {
        print(options.json ? listingJson(drivers, registry) : listingText(drivers, registry));
        return kDriverToolOk;
    }

    std::vector<DriverReport> reports;
    if (options.all) {
        for (const ListedDriver& driver : drivers) {
            reports.push_back(driver.sameNameAs >= 0 ? shadowedReport(driver)
                                                     : probeDriver(drivers, driver.typedName));
        }
    } else {
        for (const std::string& name : options.names) {
            reports.push_back(probeDriver(drivers, name));
        }
    }
    print(options.json ? reportsJson(reports, registry) : reportsText(reports, registry));
    for (const DriverReport& report : reports) {
        if (reportFailed(report)) {
            return kDriverToolDriverFailed;
        }
    }
    return kDriverToolOk;
}
