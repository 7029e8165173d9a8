// The drivers' configuration texts: a comma-separated "key=value" list read from an
// environment variable at init. Each driver keeps a table of its keys; the list, its
// faults and their messages are the same for all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr int kDriverTextCapacity = 124; // getErrorMessage's buffer
// A fault in the configuration, before it is cut to the error text: long enough to name a
// port pattern on standard error.
constexpr int kDriverMessageCapacity = 512;

// A piece of the configuration text, not zero-terminated.
struct Span {
    const char* begin;
    size_t length;

    bool is(const char* word) const {
        return std::strlen(word) == length && std::memcmp(begin, word, length) == 0;
    }
};

// Decimal integer with an optional sign, within [min, max].
bool parseInteger(Span s, int64_t min, int64_t max, int64_t* out);
bool parseInt32(Span s, int32_t min, int32_t max, int32_t* out);
// An optional sign, at most 15 digits and an optional fraction: no exponent, no locale. The
// digits are gathered whole and divided once, so that 0.7 is the double nearest to 0.7.
bool parseDecimal(Span s, double* out);
// "0" or "1".
bool parseFlag(Span s, bool* out);
// Copies into a fixed-capacity text; one that does not fit is cut when `cut`, else refused.
bool copyText(Span s, char* out, size_t capacity, bool cut);
// A text that must be given and must fit whole: a path, a name.
bool parseWhole(Span s, char* out, size_t capacity);

// One key of a driver's table. `apply` takes the key's value; items without '=' that
// follow the key continue its value as a list and go to `more` (null: such items are
// refused). Either answers false for a bad value.
template <typename Config> struct ConfigKey {
    const char* name;
    bool (*apply)(Span value, Config& config);
    bool (*more)(Span item, Config& config) = nullptr;
};

// Walks the items of a list and words its faults, "VARIABLE: ...", into `message`.
class ConfigList {
public:
    ConfigList(const char* variable, const char* text, char* message, size_t capacity);

    struct Item {
        bool hasValue; // key=value, else a bare item
        Span text;     // the whole item, trimmed
        Span key;      // trimmed, when hasValue
        Span value;    // trimmed, when hasValue
    };
    // The next non-empty item; false at the end.
    bool next(Item* item);

    bool unknownKey(Span key);
    bool badValue(Span key, Span value);
    bool notKeyValue(Span item);

private:
    const char* variable_;
    const char* next_;
    char* message_;
    size_t capacity_;
};

// Parses `text` (null or empty: nothing to change) over what `config` holds. Keys given
// twice take the later value unless their `apply` accumulates. On a fault, `message`
// names the key or item and `config` keeps what came before it.
template <typename Config, size_t N>
bool parseConfigList(const char* variable, const char* text, const ConfigKey<Config> (&keys)[N],
                     Config* config, char* message, size_t messageCapacity) {
    ConfigList list(variable, text, message, messageCapacity);
    const ConfigKey<Config>* listKey = nullptr;
    ConfigList::Item item{};
    while (list.next(&item)) {
        if (!item.hasValue) {
            if (listKey == nullptr || listKey->more == nullptr) {
                return list.notKeyValue(item.text);
            }
            if (!listKey->more(item.text, *config)) {
                return list.badValue(Span{listKey->name, std::strlen(listKey->name)}, item.text);
            }
            continue;
        }
        const ConfigKey<Config>* key = nullptr;
        for (const ConfigKey<Config>& row : keys) {
            if (item.key.is(row.name)) {
                key = &row;
                break;
            }
        }
        if (key == nullptr) {
            return list.unknownKey(item.key);
        }
        if (!key->apply(item.value, *config)) {
            return list.badValue(item.key, item.value);
        }
        listKey = key;
    }
    return true;
}
