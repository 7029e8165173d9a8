#include "measure/text/json_text.h"

#include <cmath>
#include <cstdint>

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

} // namespace

Json jsonString(const char* text, size_t length) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    std::string utf8;
    utf8.reserve(length);
    for (size_t i = 0; i < length;) {
        const size_t sequence = bytes[i] < 0x80 ? 1 : utf8SequenceLength(bytes + i, length - i);
        if (sequence == 0) {
            // The Latin-1 character of this byte, U+0080 to U+00FF.
            utf8 += static_cast<char>(0xC0 | bytes[i] >> 6);
            utf8 += static_cast<char>(0x80 | (bytes[i] & 0x3F));
            ++i;
        } else {
            utf8.append(text + i, sequence);
            i += sequence;
        }
    }
    return Json(utf8);
}

Json jsonString(const std::string& text) {
    return jsonString(text.data(), text.size());
}

Json jsonNumber(double value) {
    if (!std::isfinite(value)) {
        return Json();
    }
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        return Json(static_cast<int64_t>(value));
    }
    return Json(value);
}

std::string jsonDocument(const Json& document) {
    // Every string went through jsonString, so the strict check never finds invalid UTF-8;
    // replacing rather than throwing keeps even a missed one from ending the program.
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
