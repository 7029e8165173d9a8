// What a record may hold as text. Serials and stations are read by people and by machines:
// they must not forge a line, reorder what a reader sees or push a table off the page. File
// names are any bytes the system allows: stored faithfully, escaped where not UTF-8.
#pragma once

#include <string>

constexpr size_t kMostUnitNameCharacters = 128;

// Why text cannot name a unit or a station ("is empty", "is not UTF-8", "holds a control
// character", "holds a bidirectional control character", "is longer than 128
// characters"); null when it can.
const char* unitNameFault(const std::string& text);

// Whether text is valid UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool isUtf8(const std::string& text);
// Valid UTF-8 as it is; otherwise each byte outside a valid character as \xNN and each
// backslash doubled, so that the bytes can be told back.
std::string utf8Escaped(const std::string& text);
