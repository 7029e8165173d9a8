// korvane-wav's words after the command: options with values, flags, positional words, and
// the two ways a command reports a problem. Written by hand rather than on a parser library:
// the help texts, messages and exit codes are fixed, and a library brings its own in their
// place and reports through exceptions, which would cost more lines to translate back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "measure/exit_codes.h"

struct Arguments {
    std::vector<std::string> positional;
    // In the order given; an option given twice appears twice.
    std::vector<std::pair<std::string, std::string>> options;
    bool help = false;
};

// Parses argv[first..]. Options take their value as the next word or after "="; "--" ends
// the options; "-h" and "--help" ask for the help text. False with *error on an unknown
// option or a missing value.
bool parseArguments(int argc, const char* const* argv, int first,
                    const std::vector<std::string>& valued, const std::vector<std::string>& flags,
                    Arguments* arguments, std::string* error);

// A finite decimal number.
bool parseNumber(const std::string& text, double* value);
// Decimal digits only, at most limit.
bool parseWhole(const std::string& text, uint64_t limit, uint64_t* value);
// A linear level from 0 to 1, or dBFS with the suffix dB or dBFS.
bool parseLevel(const std::string& text, double* level);

// "korvane-wav COMMAND: MESSAGE (see korvane-wav COMMAND --help)" on err.
ToolExit usageError(FILE* err, const char* command, const std::string& message);
// "korvane-wav: MESSAGE" on err.
ToolExit fileError(FILE* err, const std::string& message, ToolExit code);
