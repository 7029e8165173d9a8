// The companions' JSON documents, built with nlohmann's library. Members keep the order in
// which they are set.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

using Json = nlohmann::ordered_json;

// Text as a JSON string. Bytes that do not form valid UTF-8 are taken as Latin-1: driver
// texts come in the system's code page and file names in any bytes, not always UTF-8.
Json jsonString(const char* text, size_t length);
Json jsonString(const std::string& text);
// Integral values as integers, others as they are; null for what JSON cannot hold
// (infinities, NaN).
Json jsonNumber(double value);
// The document indented by two, with a final line end.
std::string jsonDocument(const Json& document);
