// A small writer of indented JSON text, enough for one report document.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Appends text as a JSON string with its quotes. Bytes that do not form valid UTF-8 are
// taken as Latin-1: driver texts come in the system's code page, not always UTF-8.
void appendJsonString(std::string& out, const char* text, size_t length);
void appendJsonString(std::string& out, const std::string& text);
// Integral values without a fraction, others with enough digits to read back the same;
// null for values JSON cannot hold (infinities, NaN).
void appendJsonNumber(std::string& out, double value);

class JsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // Inside an object: the name of the next value.
    void key(const char* name);
    void string(const std::string& text);
    void string(const char* text, size_t length);
    void integer(int64_t value);
    void number(double value);
    void boolean(bool value);
    void null();

    // The document with a final line end.
    std::string finish();

private:
    void beforeValue();
    void open(char bracket);
    void close(char bracket);

    std::string out;
    std::vector<bool> hasElements; // one per open object or array
    bool afterKey = false;
};
