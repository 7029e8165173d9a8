#include "tool_text.h"

#include <cmath>
#include <cstdio>

std::string dbfs(double linear) {
    if (!(linear > 0)) {
        return "-inf";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", 20 * std::log10(linear));
    return text;
}

std::string countText(uint64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}
