// Text between a code page and UTF-16, for the wide calls of the Win32 platform files.
#pragma once

#include <string>

#include "platform/win32.h"

inline std::wstring widen(const std::string& text, UINT codePage) {
    const int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                            length);
    }
    return wide;
}

inline std::string narrow(const std::wstring& wide, UINT codePage) {
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0],
                            length, nullptr, nullptr);
    }
    return text;
}
