// korvane-wav's commands. A command is one entry of the table in cli.cpp: its name, its
// help text, the options it takes and the function that runs it once its words are parsed.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "measure/exit_codes.h"

using CommandRun = ToolExit (*)(const Arguments& arguments, FILE* out, FILE* err);

struct Command {
    const char* name;
    const char* help;
    std::vector<std::string> valued; // options that take a value
    std::vector<std::string> flags;  // options that stand alone
    CommandRun run;
};

ToolExit runConvert(const Arguments& arguments, FILE* out, FILE* err);
ToolExit runGen(const Arguments& arguments, FILE* out, FILE* err);
ToolExit runCheck(const Arguments& arguments, FILE* out, FILE* err);
ToolExit runIr(const Arguments& arguments, FILE* out, FILE* err);
ToolExit runLog(const Arguments& arguments, FILE* out, FILE* err);
ToolExit runLimits(const Arguments& arguments, FILE* out, FILE* err);
ToolExit runReport(const Arguments& arguments, FILE* out, FILE* err);
