#include "unit_names.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the valid UTF-8 character at text[i], and its code point; 0 where none.
size_t characterAt(const std::string& text, size_t i, uint32_t* code) {
    const auto byte = [&](size_t k) { return uint8_t(text[k]); };
    const uint8_t b = byte(i);
    size_t length = b < 0x80             ? 1
                    : (b & 0xE0) == 0xC0 ? 2
                    : (b & 0xF0) == 0xE0 ? 3
                    : (b & 0xF8) == 0xF0 ? 4
                                         : 0;
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    uint32_t c = length == 1 ? b : b & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0;
    }
    *code = c;
    return length;
}

bool isControl(uint32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

bool isBidiControl(uint32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

bool isUtf8(const std::string& text) {
    uint32_t code = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = characterAt(text, i, &code);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

const char* unitNameFault(const std::string& text) {
    if (text.empty()) {
        return "is empty";
    }
    size_t characters = 0;
    uint32_t code = 0;
    for (size_t i = 0; i < text.size(); ++characters) {
        const size_t length = characterAt(text, i, &code);
        if (length == 0) {
            return "is not UTF-8";
        }
        if (isControl(code)) {
            return "holds a control character";
        }
        if (isBidiControl(code)) {
            return "holds a bidirectional control character";
        }
        i += length;
    }
    return characters > kMostUnitNameCharacters ? "is longer than 128 characters" : nullptr;
}

std::string utf8Escaped(const std::string& text) {
    if (isUtf8(text)) {
        return text;
    }
    std::string escaped;
    uint32_t code = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = characterAt(text, i, &code);
        if (length == 0) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(uint8_t(text[i])));
            escaped += hex;
            ++i;
        } else {
            escaped += code == '\\' ? std::string("\\\\") : text.substr(i, length);
            i += length;
        }
    }
    return escaped;
}
