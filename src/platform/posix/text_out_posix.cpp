#include <cstdarg>

#include "platform/text_out.h"

void writeText(FILE* stream, const char* text, size_t length) {
    std::fwrite(text, 1, length, stream);
}

void printText(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
}

std::string ansiToUtf8(const char* text) {
    return text;
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}
