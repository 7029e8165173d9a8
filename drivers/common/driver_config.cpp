#include "driver_config.h"

#include <cmath>
#include <cstdio>

#include "platform/text.h"

namespace {

Span trim(Span s) {
    while (s.length > 0 && isBlank(s.begin[0])) {
        ++s.begin;
        --s.length;
    }
    while (s.length > 0 && isBlank(s.begin[s.length - 1])) {
        --s.length;
    }
    return s;
}

// Texts quoted in a message are cut, so that the message itself fits.
int quoted(Span s) {
    return static_cast<int>(s.length < 100 ? s.length : 100);
}

} // namespace

bool parseInteger(Span s, int64_t min, int64_t max, int64_t* out) {
    size_t i = 0;
    bool negative = false;
    if (i < s.length && (s.begin[i] == '-' || s.begin[i] == '+')) {
        negative = s.begin[i] == '-';
        ++i;
    }
    if (i == s.length) {
        return false;
    }
    int64_t value = 0;
    for (; i < s.length; ++i) {
        const char c = s.begin[i];
        if (c < '0' || c > '9') {
            return false;
        }
        if (value > ((int64_t{1} << 62) - (c - '0')) / 10) {
            return false; // checked before it could overflow
        }
        value = value * 10 + (c - '0');
    }
    if (negative) {
        value = -value;
    }
    if (value < min || value > max) {
        return false;
    }
    *out = value;
    return true;
}

bool parseDecimal(Span s, double* out) {
    size_t i = 0;
    bool negative = false;
    if (i < s.length && (s.begin[i] == '-' || s.begin[i] == '+')) {
        negative = s.begin[i++] == '-';
    }
    int64_t digits = 0;
    int count = 0;
    int fraction = -1; // digits after the point; -1: no point yet
    for (; i < s.length; ++i) {
        const char c = s.begin[i];
        if (c == '.' && fraction < 0) {
            fraction = 0;
        } else if (c >= '0' && c <= '9' && count < 15) {
            digits = digits * 10 + (c - '0');
            ++count;
            fraction += fraction >= 0 ? 1 : 0;
        } else {
            return false;
        }
    }
    if (count == 0) {
        return false;
    }
    const double value = double(digits) / std::pow(10.0, fraction > 0 ? fraction : 0);
    *out = negative ? -value : value;
    return true;
}

bool parseInt32(Span s, int32_t min, int32_t max, int32_t* out) {
    int64_t value = 0;
    if (!parseInteger(s, min, max, &value)) {
        return false;
    }
    *out = static_cast<int32_t>(value);
    return true;
}

bool parseFlag(Span s, bool* out) {
    if (s.is("0") || s.is("1")) {
        *out = s.is("1");
        return true;
    }
    return false;
}

bool copyText(Span s, char* out, size_t capacity, bool cut) {
    return copyTruncated(out, capacity, s.begin, s.length) || cut;
}

bool parseWhole(Span s, char* out, size_t capacity) {
    return s.length > 0 && copyText(s, out, capacity, false);
}

ConfigList::ConfigList(const char* variable, const char* text, char* message, size_t capacity)
    : variable_(variable), next_(text), message_(message), capacity_(capacity) {
    if (capacity_ > 0) {
        message_[0] = '\0';
    }
}

bool ConfigList::next(Item* item) {
    while (next_ != nullptr) {
        const char* end = std::strchr(next_, ',');
        const Span text = trim(
            Span{next_, end != nullptr ? static_cast<size_t>(end - next_) : std::strlen(next_)});
        next_ = end != nullptr ? end + 1 : nullptr;
        if (text.length == 0) {
            continue;
        }
        const char* equals = static_cast<const char*>(std::memchr(text.begin, '=', text.length));
        item->text = text;
        item->hasValue = equals != nullptr;
        if (item->hasValue) {
            item->key = trim(Span{text.begin, static_cast<size_t>(equals - text.begin)});
            item->value = trim(
                Span{equals + 1, static_cast<size_t>(text.begin + text.length - (equals + 1))});
        }
        return true;
    }
    return false;
}

bool ConfigList::unknownKey(Span key) {
    std::snprintf(message_, capacity_, "%s: unknown key '%.*s'", variable_, quoted(key), key.begin);
    return false;
}

bool ConfigList::badValue(Span key, Span value) {
    std::snprintf(message_, capacity_, "%s: bad value for %.*s: '%.*s'", variable_, quoted(key),
                  key.begin, quoted(value), value.begin);
    return false;
}

bool ConfigList::notKeyValue(Span item) {
    std::snprintf(message_, capacity_, "%s: '%.*s' is not key=value", variable_, quoted(item),
                  item.begin);
    return false;
}
