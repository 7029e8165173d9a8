// Small text helpers shared by the platform stand-ins, the host and the drivers.
// Header-only, so that the drivers, which link nothing of the core, use them too.
#pragma once

#include <cstddef>
#include <cstring>

// The one copy of a text into a fixed-capacity buffer: cut to fit, always terminated.
// Copies at most capacity - 1 of the `length` bytes at `text` and a terminator; returns
// whether the whole text fitted. Nothing is written when capacity is 0.
inline bool copyTruncated(char* destination, size_t capacity, const char* text, size_t length) {
    if (capacity == 0) {
        return false;
    }
    const size_t kept = length < capacity ? length : capacity - 1;
    std::memcpy(destination, text, kept);
    destination[kept] = '\0';
    return kept == length;
}

inline bool copyTruncated(char* destination, size_t capacity, const char* text) {
    return copyTruncated(destination, capacity, text, std::strlen(text));
}

template <size_t N> bool copyTruncated(char (&destination)[N], const char* text) {
    return copyTruncated(destination, N, text);
}

// White space as the C library's isspace has it in the C locale, whatever the locale is.
inline bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
