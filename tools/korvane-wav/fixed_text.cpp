#include "fixed_text.h"

#include <cmath>
#include <cstdint>

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
