#include "support/json_reader.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

const JsonValue& nullValue() {
    static const JsonValue value;
    return value;
}

void convert(const Json& json, JsonValue& value) {
    value = JsonValue();
    switch (json.type()) {
    case Json::value_t::boolean:
        value.kind = JsonValue::Boolean;
        value.boolean = json.get<bool>();
        break;
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        value.kind = JsonValue::Number;
        value.number = json.get<double>();
        break;
    case Json::value_t::string:
        value.kind = JsonValue::String;
        value.text = json.get<std::string>();
        break;
    case Json::value_t::array:
        value.kind = JsonValue::Array;
        for (const Json& item : json) {
            value.items.emplace_back();
            convert(item, value.items.back());
        }
        break;
    case Json::value_t::object:
        value.kind = JsonValue::Object;
        for (const auto& member : json.items()) {
            value.members.emplace_back(member.key(), JsonValue());
            convert(member.value(), value.members.back().second);
        }
        break;
    default:
        break;
    }
}

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
    // The library's parser refuses anything but one well-formed document of valid UTF-8;
    // its exception carries where it stopped.
    try {
        convert(Json::parse(document), value);
        return true;
    } catch (const Json::parse_error& e) {
        if (error != nullptr) {
            *error = e.what();
        }
        return false;
    }
}
