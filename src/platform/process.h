// Runs another program and waits for it, for the helpers that a tool uses when they are
// installed (an SVG renderer, say); and where the running program lies.
#pragma once

#include <string>
#include <vector>

constexpr int kProgramNotStarted = -1; // not installed, or it could not be started
constexpr int kProgramAbnormalEnd = -2;

// argv[0] is looked up on the PATH; standard input, output and error are the caller's.
// Returns the program's exit code, or one of the codes above.
int runProgram(const std::vector<std::string>& argv);

// The folder of the running program's executable, with no separator at its end; "." when it
// cannot be found.
std::string executableDirectory();

// This machine's host name, as UTF-8; empty when the system does not say.
std::string hostName();
