#include "driver_trace.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {
// Waits until the pipe's reader has opened it for writing and closed it again.
void holdAtPipe(const char* path) {
    std::FILE* pipe = std::fopen(path, "rb");
    if (pipe == nullptr) {
        return;
    }
    char ignored[64];
    while (std::fread(ignored, 1, sizeof ignored, pipe) > 0) {
    }
    std::fclose(pipe);
}
} // namespace

void driverTrace(const char* path, const char* line) {
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    std::error_code ignored;
    const bool pipe = std::filesystem::is_fifo(path, ignored);
    // Binary mode: the lines end with a bare line feed on every target.
    std::FILE* file = std::fopen(path, "ab");
    if (file == nullptr) {
        return;
    }
    std::fputs(line, file);
    std::fputc('\n', file);
    std::fclose(file);
    if (pipe) {
        holdAtPipe(path);
    }
}

void driverTracef(const char* path, const char* format, ...) {
    va_list args;
    va_start(args, format);
    driverTracev(path, format, args);
    va_end(args);
}

void driverTracev(const char* path, const char* format, va_list args) {
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    driverTrace(path, line);
}
