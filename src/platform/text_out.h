// What the programs print and the arguments they take, as UTF-8 on every target. On
// Windows korvane and korvane-drivers keep the system's ANSI code page, in which the
// registry's driver names and the drivers themselves speak: file names come from the wide
// command line, ANSI text is made UTF-8 before it is printed, and a console is written in
// UTF-16 whatever its code page, which is never changed. A pipe or a file gets UTF-8.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#if defined(__GNUC__) && !defined(_WIN32)
#define KORVANE_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define KORVANE_PRINTF_FORMAT(f, a)
#endif

// UTF-8 text to stdout or stderr.
void writeText(FILE* stream, const char* text, size_t length);
void printText(FILE* stream, const char* format, ...) KORVANE_PRINTF_FORMAT(2, 3);

// Text in the system's ANSI code page (a driver's name) as UTF-8.
std::string ansiToUtf8(const char* text);

// The program's arguments as UTF-8: on Windows from the wide command line, which spells a
// name in any script; elsewhere as given.
std::vector<std::string> utf8Arguments(int argc, char** argv);
