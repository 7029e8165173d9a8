#include "record.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

#include "sha256.h"

std::string newRecordId() {
    // The clock keeps two stations whose random sources fail alike apart.
    std::random_device random;
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
    std::string seed = std::to_string(now);
    for (int i = 0; i < 8; ++i) {
        seed += "-" + std::to_string(random());
    }
    return sha256Hex(seed).substr(0, 32);
}

std::string utcNowText() {
    // To the millisecond: a station's runs keep their order within a second.
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    const std::time_t now = std::time_t(ms / 1000);
    // Called from one thread only: gmtime's shared result is safe here.
    const std::tm* utc = std::gmtime(&now);
    char text[32] = "1970-01-01 00:00:00";
    if (utc != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", utc);
    }
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", int(ms % 1000));
    return text + std::string(fraction);
}
