#include "support/json_reader.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxDepth = 64;

const JsonValue& nullValue() {
    static const JsonValue value;
    return value;
}

class Reader {
public:
    explicit Reader(const std::string& text) : text(text) {}

    bool document(JsonValue& value) {
        skipBlanks();
        if (!parseValue(value, 0)) {
            return false;
        }
        skipBlanks();
        return at == text.size() || fail("text after the document");
    }

    std::string error;

private:
    bool fail(const char* what) {
        if (error.empty()) {
            error = std::string(what) + " at byte " + std::to_string(at);
        }
        return false;
    }

    void skipBlanks() {
        while (at < text.size() &&
               (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
            ++at;
        }
    }

    bool literal(const char* word) {
        const size_t length = std::strlen(word);
        if (text.compare(at, length, word) != 0) {
            return fail("unknown literal");
        }
        at += length;
        return true;
    }

    bool parseValue(JsonValue& value, int depth) {
        if (depth > kMaxDepth) {
            return fail("nesting too deep");
        }
        if (at >= text.size()) {
            return fail("missing value");
        }
        switch (text[at]) {
        case '{':
            return parseObject(value, depth);
        case '[':
            return parseArray(value, depth);
        case '"':
            value.kind = JsonValue::String;
            return parseString(value.text);
        case 't':
            value.kind = JsonValue::Boolean;
            value.boolean = true;
            return literal("true");
        case 'f':
            value.kind = JsonValue::Boolean;
            value.boolean = false;
            return literal("false");
        case 'n':
            value.kind = JsonValue::Null;
            return literal("null");
        default:
            return parseNumber(value);
        }
    }

    bool parseObject(JsonValue& value, int depth) {
        value.kind = JsonValue::Object;
        ++at;
        skipBlanks();
        if (at < text.size() && text[at] == '}') {
            ++at;
            return true;
        }
        for (;;) {
            skipBlanks();
            std::string key;
            if (at >= text.size() || text[at] != '"' || !parseString(key)) {
                return fail("member name expected");
            }
            skipBlanks();
            if (at >= text.size() || text[at] != ':') {
                return fail("':' expected");
            }
            ++at;
            skipBlanks();
            JsonValue member;
            if (!parseValue(member, depth + 1)) {
                return false;
            }
            value.members.emplace_back(key, member);
            skipBlanks();
            if (at < text.size() && text[at] == ',') {
                ++at;
                continue;
            }
            if (at < text.size() && text[at] == '}') {
                ++at;
                return true;
            }
            return fail("',' or '}' expected");
        }
    }

    bool parseArray(JsonValue& value, int depth) {
        value.kind = JsonValue::Array;
        ++at;
        skipBlanks();
        if (at < text.size() && text[at] == ']') {
            ++at;
            return true;
        }
        for (;;) {
            skipBlanks();
            JsonValue item;
            if (!parseValue(item, depth + 1)) {
                return false;
            }
            value.items.push_back(item);
            skipBlanks();
            if (at < text.size() && text[at] == ',') {
                ++at;
                continue;
            }
            if (at < text.size() && text[at] == ']') {
                ++at;
                return true;
            }
            return fail("',' or ']' expected");
        }
    }

    bool digits() {
        const size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
        return at > start;
    }

    bool parseNumber(JsonValue& value) {
        const size_t start = at;
        if (at < text.size() && text[at] == '-') {
            ++at;
        }
        if (at < text.size() && text[at] == '0') {
            ++at;
        } else if (!digits()) {
            return fail("bad number");
        }
        if (at < text.size() && text[at] == '.') {
            ++at;
            if (!digits()) {
                return fail("bad fraction");
            }
        }
        if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
            ++at;
            if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
                ++at;
            }
            if (!digits()) {
                return fail("bad exponent");
            }
        }
        value.kind = JsonValue::Number;
        value.number = std::strtod(text.substr(start, at - start).c_str(), nullptr);
        return true;
    }

    bool hex4(unsigned& code) {
        if (at + 4 > text.size()) {
            return fail("short \\u escape");
        }
        code = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[at++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return fail("bad \\u escape");
            }
        }
        return true;
    }

    static void appendUtf8(std::string& out, unsigned code) {
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

    bool escape(std::string& out) {
        if (at >= text.size()) {
            return fail("unfinished escape");
        }
        const char c = text[at++];
        switch (c) {
        case '"':
        case '\\':
        case '/':
            out += c;
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u': {
            unsigned code = 0;
            if (!hex4(code)) {
                return false;
            }
            if (code >= 0xDC00 && code <= 0xDFFF) {
                return fail("lone low surrogate");
            }
            if (code >= 0xD800 && code <= 0xDBFF) {
                unsigned low = 0;
                if (text.compare(at, 2, "\\u") != 0) {
                    return fail("lone high surrogate");
                }
                at += 2;
                if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                    return fail("bad surrogate pair");
                }
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            }
            appendUtf8(out, code);
            return true;
        }
        default:
            return fail("unknown escape");
        }
    }

    // One UTF-8 sequence, copied as it stands; overlong forms and surrogates are refused.
    bool utf8(std::string& out) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        size_t length = 0;
        unsigned code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else {
            return fail("invalid UTF-8");
        }
        if (at + length > text.size()) {
            return fail("invalid UTF-8");
        }
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[at + k]);
            if ((next & 0xC0) != 0x80) {
                return fail("invalid UTF-8");
            }
            code = (code << 6) | (next & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
            (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
            return fail("invalid UTF-8");
        }
        out.append(text, at, length);
        at += length;
        return true;
    }

    bool parseString(std::string& out) {
        ++at; // the opening quote
        out.clear();
        while (at < text.size()) {
            const unsigned char c = static_cast<unsigned char>(text[at]);
            if (c == '"') {
                ++at;
                return true;
            }
            if (c < 0x20) {
                return fail("control character in string");
            }
            if (c == '\\') {
                ++at;
                if (!escape(out)) {
                    return false;
                }
            } else if (c >= 0x80) {
                if (!utf8(out)) {
                    return false;
                }
            } else {
                out += static_cast<char>(c);
                ++at;
            }
        }
        return fail("unterminated string");
    }

    const std::string& text;
    size_t at = 0;
};

} // namespace

bool JsonValue::has(const std::string& key) const {
    for (const auto& member : members) {
        if (member.first == key) {
            return true;
        }
    }
    return false;
}

const JsonValue& JsonValue::operator[](const std::string& key) const {
    for (const auto& member : members) {
        if (member.first == key) {
            return member.second;
        }
    }
    return nullValue();
}

const JsonValue& JsonValue::operator[](size_t index) const {
    return index < items.size() ? items[index] : nullValue();
}

bool parseJson(const std::string& document, JsonValue& value, std::string* error) {
    value = JsonValue();
    Reader reader(document);
    if (reader.document(value)) {
        return true;
    }
    if (error != nullptr) {
        *error = reader.error;
    }
    value = JsonValue();
    return false;
}
