#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measure/text/json_text.h"
#include "support/json_reader.h"

namespace {

std::string jsonQuoted(const std::string& text) {
    return jsonString(text).dump();
}

// Each text and the JSON string it must become.
void expectQuoted(std::initializer_list<std::pair<std::string, std::string>> cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(jsonQuoted(c.first), c.second) << c.first;
    }
}

} // namespace

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
    expectQuoted({
        {"", "\"\""},
        {"Korvane Loopback", "\"Korvane Loopback\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\drivers\\x.dll", "\"C:\\\\drivers\\\\x.dll\""},
        {"a\nb\rc\td\be\ff", "\"a\\nb\\rc\\td\\be\\ff\""},
        // DEL is no control character to JSON: it stays as it is.
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\x7f\""},
        // Embedded zero bytes are kept, not cut at.
        {std::string("a\0b", 3), "\"a\\u0000b\""},
    });
}

TEST(JsonString, KeepsValidUtf8AndTakesOtherBytesAsLatin1) {
    expectQuoted({
        {"Caf\xC3\xA9", "\"Caf\xC3\xA9\""},
        {"\xE2\x82\xAC \xF0\x9F\x8E\xB5", "\"\xE2\x82\xAC \xF0\x9F\x8E\xB5\""},
        // Code page 1252 text: 0xE9 alone is e acute.
        {"Caf\xE9", "\"Caf\xC3\xA9\""},
        // A lead byte without its continuation, at the end and in the middle.
        {"x\xC3", "\"x\xC3\x83\""},
        {"\xC3x", "\"\xC3\x83x\""},
        // Overlong form of '/', an encoded surrogate, a value above U+10FFFF.
        {"\xC0\xAF", "\"\xC3\x80\xC2\xAF\""},
        {"\xED\xA0\x80", "\"\xC3\xAD\xC2\xA0\xC2\x80\""},
        {"\xF4\x90\x80\x80", "\"\xC3\xB4\xC2\x90\xC2\x80\xC2\x80\""},
    });

    // Whatever the bytes, the result reads back as one valid string.
    std::string every;
    for (int c = 1; c < 256; ++c) {
        every += static_cast<char>(c);
    }
    JsonValue value;
    std::string error;
    ASSERT_TRUE(parseJson(jsonQuoted(every), value, &error)) << error;
    EXPECT_EQ(value.kind, JsonValue::String);
    EXPECT_EQ(value.text.substr(0, 127), every.substr(0, 127));
}

TEST(JsonNumber, WritesIntegersPlainlyAndRefusesWhatJsonCannotHold) {
    EXPECT_EQ(jsonNumber(44100.0).dump(), "44100");
    EXPECT_EQ(jsonNumber(-0.5).dump(), "-0.5");
    EXPECT_DOUBLE_EQ(std::strtod(jsonNumber(44099.99).dump().c_str(), nullptr), 44099.99);
    EXPECT_EQ(jsonNumber(std::numeric_limits<double>::quiet_NaN()).dump(), "null");
    EXPECT_EQ(jsonNumber(std::numeric_limits<double>::infinity()).dump(), "null");
    JsonValue value;
    ASSERT_TRUE(parseJson(jsonNumber(1e300).dump(), value));
    EXPECT_DOUBLE_EQ(value.number, 1e300);
}

TEST(JsonDocument, SeparatesAndIndentsNestedValuesInTheOrderSet) {
    Json json = Json::object();
    json["empty"] = Json::array();
    json["list"] = {1, false, nullptr, Json::object()};
    json["text"] = jsonString("q\"");
    const std::string document = jsonDocument(json);
    EXPECT_EQ(document, "{\n"
                        "  \"empty\": [],\n"
                        "  \"list\": [\n"
                        "    1,\n"
                        "    false,\n"
                        "    null,\n"
                        "    {}\n"
                        "  ],\n"
                        "  \"text\": \"q\\\"\"\n"
                        "}\n");
    JsonValue value;
    ASSERT_TRUE(parseJson(document, value));
    EXPECT_EQ(value["list"].size(), 4u);
    EXPECT_EQ(value["text"].text, "q\"");
}
