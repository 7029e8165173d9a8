// The decimal argument conversion against the C library's 64-bit conversion clamped to the
// 32-bit range: the same white space, sign and digits, the same saturation.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "frontend/command_line.h"
#include "fuzz_support.h"

namespace {

int32_t reference(const char* text) {
    // strtoll saturates at the 64-bit limits, far beyond the 32-bit ones.
    errno = 0;
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An argument is a C string: it ends at the first zero byte.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* argument = text.c_str();
    const int32_t got = convertDecimal(argument);
    const int32_t want = reference(argument);
    FUZZ_CHECK(got == want, got, want);
    return 0;
}
