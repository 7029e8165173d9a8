// The command line of korvane-wav: convert, gen and check, with their help texts.
#pragma once

#include <cstdio>

// Runs one command line; results go to out, problems to err. Returns a ToolExit code.
int korvaneWavMain(int argc, const char* const* argv, FILE* out, FILE* err);
