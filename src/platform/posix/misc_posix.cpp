// Clock, sleep and text helpers of the Win32 stand-ins.
#include "platform/posix/win32_api_posix.h"

#include <cerrno>
#include <ctime>

DWORD timeGetTime() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);
}

void Sleep(DWORD milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

DWORD CharLowerBuffA(LPSTR text, DWORD length) {
    if (text == nullptr) {
        return 0;
    }
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] >= 'A' && text[i] <= 'Z') {
            text[i] = static_cast<char>(text[i] - 'A' + 'a');
        }
    }
    return length;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR wide,
                        int wideCapacity) {
    (void)codePage;
    (void)flags;
    if (text == nullptr || wideCapacity < 0) {
        return 0;
    }
    int length = textLength;
    if (length < 0) {
        length = 0;
        while (text[length] != '\0') {
            ++length;
        }
        ++length; // the terminator counts
    }
    if (wideCapacity == 0) {
        return length; // size query
    }
    if (wide == nullptr || length > wideCapacity) {
        return 0; // ERROR_INSUFFICIENT_BUFFER, or no output at all
    }
    for (int i = 0; i < length; ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
    return length;
}
