#include "loopback_trace.h"

#include <cstdarg>
#include <cstdio>

void loopbackTrace(const char* path, const char* line) {
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    // Binary mode: the lines end with a bare line feed on every target.
    std::FILE* file = std::fopen(path, "ab");
    if (file == nullptr) {
        return;
    }
    std::fputs(line, file);
    std::fputc('\n', file);
    std::fclose(file);
}

void loopbackTracef(const char* path, const char* format, ...) {
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    loopbackTrace(path, line);
}
