#include <cstdarg>

#include "platform/text_out.h"
#include "platform/win32.h"
#include "platform/win32/utf16_win32.h"

void writeText(FILE* stream, const char* text, size_t length) {
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) {
        std::fwrite(text, 1, length, stream);
        return;
    }
    std::fflush(stream);
    const std::wstring wide = widen(std::string(text, length), CP_UTF8);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

void printText(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, again);
        writeText(stream, text.data(), static_cast<size_t>(length));
    }
    va_end(again);
}

std::string ansiToUtf8(const char* text) {
    return narrow(widen(text, CP_ACP), CP_UTF8);
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (wide != nullptr && count == argc) {
        for (int i = 0; i < count; ++i) {
            arguments.push_back(narrow(wide[i], CP_UTF8));
        }
    } else {
        arguments.assign(argv, argv + argc);
    }
    LocalFree(wide);
    return arguments;
}
