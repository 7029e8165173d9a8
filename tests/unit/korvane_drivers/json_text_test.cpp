#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json_text.h"
#include "support/json_reader.h"

namespace {

std::string jsonQuoted(const std::string& text) {
    std::string out;
    appendJsonString(out, text);
    return out;
}

} // namespace

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(jsonQuoted(""), "\"\"");
    EXPECT_EQ(jsonQuoted("Korvane Loopback"), "\"Korvane Loopback\"");
    EXPECT_EQ(jsonQuoted("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(jsonQuoted("C:\\drivers\\x.dll"), "\"C:\\\\drivers\\\\x.dll\"");
    EXPECT_EQ(jsonQuoted("a\nb\rc\td\be\ff"), "\"a\\nb\\rc\\td\\be\\ff\"");
    EXPECT_EQ(jsonQuoted(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    // Embedded zero bytes are kept, not cut at.
    EXPECT_EQ(jsonQuoted(std::string("a\0b", 3)), "\"a\\u0000b\"");
}

TEST(JsonString, KeepsValidUtf8AndTakesOtherBytesAsLatin1) {
    EXPECT_EQ(jsonQuoted("Caf\xC3\xA9"), "\"Caf\xC3\xA9\"");
    EXPECT_EQ(jsonQuoted("\xE2\x82\xAC \xF0\x9F\x8E\xB5"), "\"\xE2\x82\xAC \xF0\x9F\x8E\xB5\"");
    // Code page 1252 text: 0xE9 alone is e acute.
    EXPECT_EQ(jsonQuoted("Caf\xE9"), "\"Caf\\u00e9\"");
    // A lead byte without its continuation, at the end and in the middle.
    EXPECT_EQ(jsonQuoted("x\xC3"), "\"x\\u00c3\"");
    EXPECT_EQ(jsonQuoted("\xC3x"), "\"\\u00c3x\"");
    // Overlong form of '/', an encoded surrogate, a value above U+10FFFF.
    EXPECT_EQ(jsonQuoted("\xC0\xAF"), "\"\\u00c0\\u00af\"");
    EXPECT_EQ(jsonQuoted("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
    EXPECT_EQ(jsonQuoted("\xF4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");

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
    std::string out;
    appendJsonNumber(out, 44100.0);
    EXPECT_EQ(out, "44100");
    out.clear();
    appendJsonNumber(out, -0.5);
    EXPECT_EQ(out, "-0.5");
    out.clear();
    appendJsonNumber(out, 44099.99);
    EXPECT_DOUBLE_EQ(std::strtod(out.c_str(), nullptr), 44099.99);
    out.clear();
    appendJsonNumber(out, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(out, "null");
    out.clear();
    appendJsonNumber(out, std::numeric_limits<double>::infinity());
    EXPECT_EQ(out, "null");
    out.clear();
    appendJsonNumber(out, 1e300);
    JsonValue value;
    ASSERT_TRUE(parseJson(out, value));
    EXPECT_DOUBLE_EQ(value.number, 1e300);
}

TEST(JsonWriter, SeparatesAndIndentsNestedValues) {
    JsonWriter json;
    json.beginObject();
    json.key("empty");
    json.beginArray();
    json.endArray();
    json.key("list");
    json.beginArray();
    json.integer(1);
    json.boolean(false);
    json.null();
    json.beginObject();
    json.endObject();
    json.endArray();
    json.key("text");
    json.string("q\"");
    json.endObject();
    const std::string document = json.finish();
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
