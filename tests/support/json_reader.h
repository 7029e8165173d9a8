// A strict reader of JSON documents for tests that check what programs print for scripts,
// on nlohmann's library: any text that is not one well-formed document (valid UTF-8
// included) is refused. Values come out as a plain tree in which a missing member reads
// as null.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Null;
    bool boolean = false;
    double number = 0.0;
    std::string text; // String: UTF-8, escapes resolved
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members; // in document order

    bool has(const std::string& key) const;
    // A missing member or item reads as a null value.
    const JsonValue& operator[](const std::string& key) const;
    const JsonValue& operator[](size_t index) const;
    size_t size() const { return kind == Array ? items.size() : members.size(); }
    bool isNull() const { return kind == Null; }
};

// Parses one whole document, white space around it allowed. On failure returns false and,
// when error is given, says where.
bool parseJson(const std::string& document, JsonValue& value, std::string* error = nullptr);
