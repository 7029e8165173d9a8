#include "cli.h"

#include <string>

#include "command_line.h"
#include "commands.h"
#include "help_text.h"
#include "records/sql_database.h"
#include "tool_version.h"

namespace {

// A new command is one more entry here, its run function in a file of its own, and its
// line in the main help.
const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"convert", kConvertHelp, {"--pad"}, {}, runConvert},
        {"gen",
         kGenHelp,
         {"--channels", "--rate", "--seconds", "--level", "--freq", "--freq-step", "--from", "--to",
          "--seed", "--at", "--stagger", "--pad", "--repeat", "--gap"},
         {"--synchronized"},
         runGen},
        {"check",
         kCheckHelp,
         {"--play-start", "--rec-start", "--max-delay", "--delay", "--width", "--log", "--serial",
          "--station", "--spool"},
         {"--exact", "--json"},
         runCheck},
        {"ir",
         kIrHelp,
         {"--play-start", "--rec-start", "--orders", "--smooth", "--ir-length", "--gate", "--from",
          "--to", "--seconds", "--out", "--limits", "--drift", "--rb-multiple", "--log", "--serial",
          "--station", "--spool"},
         {"--json", "--no-plots", "--room"},
         runIr},
        {"log", kLogHelp, {"--spool"}, {}, runLog},
        {"limits",
         kLimitsHelp,
         {"--db", "--serial", "--station", "--since", "--until", "--float", "--reference", "--k",
          "--margin", "--thd-margin", "--rb-margin", "--level-margin"},
         {"--passing"},
         runLimits},
        {"report",
         kReportHelp,
         {"--html", "--csv", "--since", "--until", "--station", "--limits"},
         {},
         runReport},
    };
    return table;
}

ToolExit runCommand(const Command& command, int argc, const char* const* argv, FILE* out,
                    FILE* err) {
    Arguments arguments;
    std::string error;
    if (!parseArguments(argc, argv, 2, command.valued, command.flags, &arguments, &error)) {
        return usageError(err, command.name, error);
    }
    if (arguments.help) {
        std::fputs(command.help, out);
        if (std::string(command.help).find(" DB") != std::string::npos) {
            std::fputs(postgresBuiltIn()
                           ? "\nDB may be an SQLite file or a PostgreSQL server.\n"
                           : "\nThis build has no PostgreSQL: DB is an SQLite file.\n",
                       out);
        }
        return kToolOk;
    }
    return command.run(arguments, out, err);
}

} // namespace

int korvaneWavMain(int argc, const char* const* argv, FILE* out, FILE* err) {
    const std::string name = argc > 1 ? argv[1] : "";
    for (const Command& command : commands()) {
        if (name == command.name) {
            return runCommand(command, argc, argv, out, err);
        }
    }
    if (name == "--version") {
        std::fputs(versionLine("korvane-wav").c_str(), out);
        return kToolOk;
    }
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(kMainHelp, out);
        return kToolOk;
    }
    if (name.empty()) {
        std::fputs(kMainHelp, err);
    } else {
        std::fprintf(err, "korvane-wav: unknown command %s (see korvane-wav --help)\n",
                     name.c_str());
    }
    return kToolUsage;
}
