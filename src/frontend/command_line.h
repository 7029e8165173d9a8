// Banner, usage text and the conversion of the numeric arguments.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kArgumentCount = 8; // program name and seven arguments
// The arguments that name files: taken as UTF-8 on every target.
constexpr int kPlayFileArgument = 3;
constexpr int kRecordFileArgument = 5;

// The text printed after the banner when the arguments are not seven.
extern const char kUsageText[];

void printBanner(FILE* out);
void printUsage(FILE* out);

// Leading white space, an optional sign, digits up to the first other character;
// no digits give 0, values beyond the 32-bit range saturate. Never fails.
int32_t convertDecimal(const char* text);
