// Shared by the fuzz targets: a scratch file in memory-backed storage, rewritten per input,
// and a failure that stops the fuzzer with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A path of this process's own in /dev/shm (or the temporary folder when that is missing),
// ending in suffix; removed when the process exits normally. Call once per file.
std::string fuzzScratchPath(const char* suffix);
// Replaces the file's contents with the bytes; false when it cannot be written.
bool fuzzWriteFile(const std::string& path, const uint8_t* data, size_t size);
// Prints the message and aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] void fuzzFail(const char* what, long long a = 0, long long b = 0);

// A configuration parser's message: always ended; after a failure it starts with
// "VARIABLE: ", after a success it is empty.
void fuzzCheckConfigMessage(bool ok, const char* message, size_t capacity, const char* variable);

#define FUZZ_CHECK(condition, a, b)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fuzzFail(#condition, static_cast<long long>(a), static_cast<long long>(b));            \
        }                                                                                          \
    } while (0)
