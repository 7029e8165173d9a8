// Parser of .reg text. Anything it does not understand is skipped line by line, so a damaged
// file loses only what is damaged.
#include "platform/reg_text.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "platform/text.h"
#include "platform/win32.h"

namespace {

char foldCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameName(const std::string& a, const std::string& b) {
    return compareRegNames(a, b) == 0;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16LE code units to UTF-8; an unpaired surrogate becomes U+FFFD, an odd last byte is
// dropped. Zero units stay zero bytes, so terminators and separators survive.
std::string utf16ToUtf8(const uint8_t* bytes, size_t size) {
    std::string out;
    const size_t units = size / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t code = bytes[2 * i] | (static_cast<uint32_t>(bytes[2 * i + 1]) << 8);
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units) {
            const uint32_t low = bytes[2 * i + 2] | (static_cast<uint32_t>(bytes[2 * i + 3]) << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        appendUtf8(out, code);
    }
    return out;
}

// String data given as hex in a "Version 5.00" file written as 8-bit text: regedit means
// UTF-16 there, but hand-written files often hold plain bytes. Only text that can only be
// UTF-16 (even length, zero high bytes, two zero bytes at the end) is taken as such.
bool looksLikeUtf16(const std::vector<uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 ||
        data[data.size() - 2] != 0) {
        return false;
    }
    for (size_t i = 1; i < data.size(); i += 2) {
        if (data[i] != 0) {
            return false;
        }
    }
    return true;
}

std::string trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

bool startsWithNoCase(const std::string& text, size_t at, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (at + i >= text.size() || foldCase(text[at + i]) != foldCase(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool restIsBlank(const std::string& text, size_t at) {
    for (size_t i = at; i < text.size(); ++i) {
        if (!isBlank(text[i])) {
            return false;
        }
    }
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = foldCase(c);
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads a quoted string starting at text[at] == '"'; at ends after the closing quote.
bool readQuoted(const std::string& text, size_t& at, std::string& out) {
    out.clear();
    size_t i = at + 1;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            at = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == '\\' || next == '"') {
                out += next;
            } else {
                // Not an escape regedit writes: keep it as it stands.
                out += c;
                out += next;
            }
            i += 2;
            continue;
        }
        out += c;
        ++i;
    }
    return false;
}

// A comma-separated list of bytes, each one or two hex digits; a trailing comma is allowed.
bool readHexList(const std::string& text, size_t at, std::vector<uint8_t>& out) {
    out.clear();
    size_t i = at;
    for (;;) {
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        if (i >= text.size()) {
            return true;
        }
        int value = 0;
        int digits = 0;
        while (i < text.size() && hexDigit(text[i]) >= 0) {
            if (++digits > 2) {
                return false;
            }
            value = value * 16 + hexDigit(text[i]);
            ++i;
        }
        if (digits == 0) {
            return false;
        }
        out.push_back(static_cast<uint8_t>(value));
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        if (i >= text.size()) {
            return true;
        }
        if (text[i] != ',') {
            return false;
        }
        ++i;
    }
}

// Hex number of 1 to 8 digits; at ends after the last digit.
bool readHex32(const std::string& text, size_t& at, uint32_t& out) {
    out = 0;
    int digits = 0;
    while (at < text.size() && hexDigit(text[at]) >= 0) {
        if (++digits > 8) {
            return false;
        }
        out = out * 16u + static_cast<uint32_t>(hexDigit(text[at]));
        ++at;
    }
    return digits > 0;
}

bool resolveRoot(const std::string& name, std::string& full) {
    static const char* const kRoots[][2] = {
        {"HKEY_LOCAL_MACHINE", "HKLM"},  {"HKEY_CURRENT_USER", "HKCU"},
        {"HKEY_CLASSES_ROOT", "HKCR"},   {"HKEY_USERS", "HKU"},
        {"HKEY_CURRENT_CONFIG", "HKCC"},
    };
    for (const auto& root : kRoots) {
        if (sameName(name, root[0]) || sameName(name, root[1])) {
            full = root[0];
            return true;
        }
    }
    return false;
}

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find('\\', begin);
        if (end == std::string::npos) {
            end = path.size();
        }
        if (end > begin) {
            parts.push_back(path.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return parts;
}

// Where a subkey of that name stands, or would stand, in a sorted list; for const and
// mutable keys alike.
template <typename Keys> auto lowerBound(Keys& keys, const std::string& name) {
    return std::lower_bound(keys.begin(), keys.end(), name,
                            [](const RegTextKey& key, const std::string& wanted) {
                                return compareRegNames(key.name, wanted) < 0;
                            });
}

// The subkey of that name, or null.
template <typename Key> Key* findSubkey(Key& key, const std::string& name) {
    auto it = lowerBound(key.subkeys, name);
    return it != key.subkeys.end() && sameName(it->name, name) ? &*it : nullptr;
}

// The key named by a section header, created on the way; nullptr for an unknown root.
RegTextKey* sectionKey(RegTextKey& tree, const std::string& path) {
    std::vector<std::string> parts = splitPath(path);
    std::string root;
    if (parts.empty() || !resolveRoot(parts[0], root)) {
        return nullptr;
    }
    RegTextKey* key = &regTextSubkey(tree, root);
    for (size_t i = 1; i < parts.size(); ++i) {
        key = &regTextSubkey(*key, parts[i]);
    }
    return key;
}

void deleteSection(RegTextKey& tree, const std::string& path) {
    std::vector<std::string> parts = splitPath(path);
    std::string root;
    if (parts.empty() || !resolveRoot(parts[0], root)) {
        return;
    }
    parts[0] = root;
    RegTextKey* parent = &tree;
    for (size_t i = 0; i + 1 < parts.size() && parent != nullptr; ++i) {
        parent = findSubkey(*parent, parts[i]);
    }
    if (parent == nullptr) {
        return;
    }
    auto it = lowerBound(parent->subkeys, parts.back());
    if (it != parent->subkeys.end() && sameName(it->name, parts.back())) {
        parent->subkeys.erase(it);
    }
}

void deleteValue(RegTextKey& key, const std::string& name) {
    for (auto it = key.values.begin(); it != key.values.end(); ++it) {
        if (sameName(it->name, name)) {
            key.values.erase(it);
            return;
        }
    }
}

// Readers of one kind of value data each, from `at`, where the data begins; false when
// the data does not read as that kind, and the key is then left as it was.
bool readStringValue(const std::string& line, size_t at, RegTextValue& value) {
    std::string text;
    if (!readQuoted(line, at, text) || !restIsBlank(line, at)) {
        return false;
    }
    value.type = REG_SZ;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return true;
}

bool readDwordValue(const std::string& line, size_t at, RegTextValue& value) {
    uint32_t number = 0;
    if (!readHex32(line, at, number) || !restIsBlank(line, at)) {
        return false;
    }
    value.type = REG_DWORD;
    value.data.clear();
    for (int i = 0; i < 4; ++i) {
        value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
    }
    return true;
}

bool readBinaryValue(const std::string& line, size_t at, RegTextValue& value) {
    value.type = REG_BINARY;
    return readHexList(line, at, value.data);
}

// hex(T): bytes of type T. String types are UTF-16 in a UTF-16 file, and where the bytes
// can only be UTF-16 in a "Version 5.00" file.
bool readTypedHexValue(const std::string& line, size_t at, bool utf16File, bool version5,
                       RegTextValue& value) {
    if (!readHex32(line, at, value.type) || line.compare(at, 2, "):") != 0 ||
        !readHexList(line, at + 2, value.data)) {
        return false;
    }
    const bool stringType =
        value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    if (stringType && (utf16File || (version5 && looksLikeUtf16(value.data)))) {
        const std::string text = utf16ToUtf8(value.data.data(), value.data.size());
        value.data.assign(text.begin(), text.end());
    }
    return true;
}

// `"name"=` or `@=` at the start of a line; `at` ends where the data begins.
bool readValueName(const std::string& line, std::string& name, size_t& at) {
    at = 0;
    if (line[0] == '@') {
        at = 1;
    } else if (!readQuoted(line, at, name)) {
        return false;
    }
    while (at < line.size() && isBlank(line[at])) {
        ++at;
    }
    if (at >= line.size() || line[at] != '=') {
        return false;
    }
    ++at;
    while (at < line.size() && isBlank(line[at])) {
        ++at;
    }
    return true;
}

struct Parser {
    std::vector<std::string> lines;
    size_t next = 0;
    bool utf16File = false;
    bool version5 = false;
    RegTextKey* current = nullptr;

    // A hex list goes on over the following lines while a line ends with a backslash.
    void joinContinuations(std::string& line) {
        while (!line.empty() && line.back() == '\\') {
            line.pop_back();
            if (next >= lines.size()) {
                break;
            }
            line += trim(lines[next++]);
        }
    }

    bool readValueData(const std::string& line, size_t at, RegTextValue& value) const {
        if (at < line.size() && line[at] == '"') {
            return readStringValue(line, at, value);
        }
        if (startsWithNoCase(line, at, "dword:")) {
            return readDwordValue(line, at + 6, value);
        }
        if (startsWithNoCase(line, at, "hex:")) {
            return readBinaryValue(line, at + 4, value);
        }
        if (startsWithNoCase(line, at, "hex(")) {
            return readTypedHexValue(line, at + 4, utf16File, version5, value);
        }
        return false;
    }

    void valueLine(std::string line) {
        std::string name;
        size_t at = 0;
        if (!readValueName(line, name, at)) {
            return;
        }
        if (startsWithNoCase(line, at, "hex")) {
            joinContinuations(line);
        }
        if (current == nullptr) {
            return;
        }
        if (line.compare(at, std::string::npos, "-") == 0) {
            deleteValue(*current, name);
            return;
        }
        RegTextValue value;
        value.name = name;
        if (readValueData(line, at, value)) {
            setRegTextValue(*current, value);
        }
    }

    void sectionLine(const std::string& line, RegTextKey& tree) {
        current = nullptr;
        const size_t close = line.rfind(']');
        if (close == std::string::npos || close < 1) {
            return;
        }
        std::string path = trim(line.substr(1, close - 1));
        if (!path.empty() && path[0] == '-') {
            deleteSection(tree, path.substr(1));
            return;
        }
        current = sectionKey(tree, path);
    }
};

} // namespace

int compareRegNames(const std::string& a, const std::string& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = static_cast<unsigned char>(foldCase(a[i]));
        const unsigned char y = static_cast<unsigned char>(foldCase(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

RegTextKey& regTextSubkey(RegTextKey& key, const std::string& name) {
    auto it = lowerBound(key.subkeys, name);
    if (it != key.subkeys.end() && sameName(it->name, name)) {
        return *it;
    }
    RegTextKey created;
    created.name = name;
    return *key.subkeys.insert(it, std::move(created));
}

void setRegTextValue(RegTextKey& key, const RegTextValue& value) {
    for (RegTextValue& existing : key.values) {
        if (sameName(existing.name, value.name)) {
            existing.type = value.type;
            existing.data = value.data;
            return;
        }
    }
    key.values.push_back(value);
}

void mergeRegTextKey(RegTextKey& into, const RegTextKey& from) {
    for (const RegTextValue& value : from.values) {
        setRegTextValue(into, value);
    }
    for (const RegTextKey& sub : from.subkeys) {
        mergeRegTextKey(regTextSubkey(into, sub.name), sub);
    }
}

const RegTextKey* findRegTextKey(const RegTextKey& from, const std::string& path) {
    const RegTextKey* key = &from;
    for (const std::string& part : splitPath(path)) {
        key = findSubkey(*key, part);
        if (key == nullptr) {
            return nullptr;
        }
    }
    return key;
}

RegTextKey* findRegTextKey(RegTextKey& from, const std::string& path) {
    return const_cast<RegTextKey*>(findRegTextKey(static_cast<const RegTextKey&>(from), path));
}

const RegTextValue* findRegTextValue(const RegTextKey& key, const std::string& name) {
    for (const RegTextValue& value : key.values) {
        if (sameName(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

bool parseRegText(const std::string& bytes, RegTextKey& tree) {
    tree = RegTextKey{};
    Parser parser;
    std::string text;
    const auto* raw = reinterpret_cast<const uint8_t*>(bytes.data());
    if (bytes.size() >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) {
        parser.utf16File = true;
        text = utf16ToUtf8(raw + 2, bytes.size() - 2);
    } else if (bytes.size() >= 3 && raw[0] == 0xEF && raw[1] == 0xBB && raw[2] == 0xBF) {
        text = bytes.substr(3);
    } else {
        text = bytes;
    }

    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        parser.lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }

    while (parser.next < parser.lines.size() && trim(parser.lines[parser.next]).empty()) {
        ++parser.next;
    }
    if (parser.next >= parser.lines.size()) {
        return false;
    }
    const std::string header = trim(parser.lines[parser.next++]);
    if (header == "Windows Registry Editor Version 5.00") {
        parser.version5 = true;
    } else if (header != "REGEDIT4") {
        return false;
    }

    while (parser.next < parser.lines.size()) {
        const std::string line = trim(parser.lines[parser.next++]);
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            parser.sectionLine(line, tree);
        } else if (line[0] == '"' || line[0] == '@') {
            parser.valueLine(line);
        }
    }
    return true;
}
