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
    const std::time_t now = std::time(nullptr);
    // Called from one thread only: gmtime's shared result is safe here.
    const std::tm* utc = std::gmtime(&now);
    char text[32] = "1970-01-01 00:00:00";
    if (utc != nullptr) {
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", utc);
    }
    return text;
}
