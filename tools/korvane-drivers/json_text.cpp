#include "json_text.h"

#include <cmath>
#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence at text[0], or 0 when it is not one (overlong forms,
// surrogates and values above U+10FFFF are not valid).
size_t utf8SequenceLength(const unsigned char* text, size_t available) {
    const unsigned char lead = text[0];
    size_t length = 0;
    uint32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
    } else {
        return 0;
    }
    if (length > available) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((text[k] & 0xC0u) != 0x80u) {
            return 0;
        }
        value = (value << 6) | (text[k] & 0x3Fu);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) ||
        (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
        return 0;
    }
    return length;
}

void appendEscape(std::string& out, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", value);
    out += escape;
}

} // namespace

void appendJsonString(std::string& out, const char* text, size_t length) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    out += '"';
    size_t i = 0;
    while (i < length) {
        const unsigned char c = bytes[i];
        if (c >= 0x80) {
            const size_t sequence = utf8SequenceLength(bytes + i, length - i);
            if (sequence == 0) {
                appendEscape(out, c);
                ++i;
            } else {
                out.append(text + i, sequence);
                i += sequence;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                appendEscape(out, c);
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
}

void appendJsonString(std::string& out, const std::string& text) {
    appendJsonString(out, text.data(), text.size());
}

void appendJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[40];
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%.17g", value);
    }
    out += text;
}

void JsonWriter::beforeValue() {
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (!hasElements.empty()) {
        if (hasElements.back()) {
            out += ',';
        }
        hasElements.back() = true;
        out += '\n';
        out.append(2 * hasElements.size(), ' ');
    }
}

void JsonWriter::open(char bracket) {
    beforeValue();
    out += bracket;
    hasElements.push_back(false);
}

void JsonWriter::close(char bracket) {
    const bool any = hasElements.back();
    hasElements.pop_back();
    if (any) {
        out += '\n';
        out.append(2 * hasElements.size(), ' ');
    }
    out += bracket;
}

void JsonWriter::beginObject() {
    open('{');
}
void JsonWriter::endObject() {
    close('}');
}
void JsonWriter::beginArray() {
    open('[');
}
void JsonWriter::endArray() {
    close(']');
}

void JsonWriter::key(const char* name) {
    beforeValue();
    appendJsonString(out, name, std::char_traits<char>::length(name));
    out += ": ";
    afterKey = true;
}

void JsonWriter::string(const std::string& text) {
    beforeValue();
    appendJsonString(out, text);
}

void JsonWriter::string(const char* text, size_t length) {
    beforeValue();
    appendJsonString(out, text, length);
}

void JsonWriter::integer(int64_t value) {
    beforeValue();
    out += std::to_string(value);
}

void JsonWriter::number(double value) {
    beforeValue();
    appendJsonNumber(out, value);
}

void JsonWriter::boolean(bool value) {
    beforeValue();
    out += value ? "true" : "false";
}

void JsonWriter::null() {
    beforeValue();
    out += "null";
}

std::string JsonWriter::finish() {
    std::string document;
    document.swap(out);
    document += '\n';
    hasElements.clear();
    afterKey = false;
    return document;
}
