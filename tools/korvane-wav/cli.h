// The command line of korvane-wav: finds the command and runs it.
#pragma once

#include <cstdio>

// Runs one command line; results go to out, problems to err. Returns a ToolExit code.
int korvaneWavMain(int argc, const char* const* argv, FILE* out, FILE* err);
