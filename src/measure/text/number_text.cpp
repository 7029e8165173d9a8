#include "measure/text/number_text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

std::string fixedText(double value, int decimals) {
    if (!std::isfinite(value) || std::fabs(value) >= 1e15) {
        return "";
    }
    int64_t scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    const int64_t scaled = std::llround(std::fabs(value) * double(scale));
    std::string text = std::to_string(scaled / scale);
    if (decimals > 0) {
        std::string fraction = std::to_string(scaled % scale);
        text += "." + std::string(size_t(decimals) - fraction.size(), '0') + fraction;
    }
    return value < 0 && scaled != 0 ? "-" + text : text;
}

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
