#include "check_report.h"

#include <cmath>
#include <cstring>

#include "tool_text.h"

namespace {

std::string jsonText(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += char(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
            quoted += escape;
        } else {
            quoted += char(c);
        }
    }
    return quoted + "\"";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string floatText(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    char text[64];
    std::snprintf(text, sizeof text, "%.9g (0x%08X)", double(value), unsigned(bits));
    return text;
}

std::string fileSummary(const char* path, const WavData& data) {
    char text[160];
    std::snprintf(text, sizeof text, ", %u channels, %u Hz, %u frames, ",
                  unsigned(data.format.channels), unsigned(data.format.sampleRate),
                  unsigned(data.frames));
    return std::string(path) + text + describeFormat(data.format);
}

std::string jsonFile(const char* path, const WavData& data) {
    char text[160];
    std::snprintf(text, sizeof text, ", \"channels\": %u, \"sampleRate\": %u, \"frames\": %u}",
                  unsigned(data.format.channels), unsigned(data.format.sampleRate),
                  unsigned(data.frames));
    return "{\"path\": " + jsonText(path) + text;
}

} // namespace

void printCheckTable(FILE* out, const char* playedPath, const WavData& played,
                     const char* recordedPath, const WavData& recorded, int width,
                     const std::vector<ChannelCheck>& checks) {
    std::fprintf(out, "played:   %s\n", fileSummary(playedPath, played).c_str());
    std::fprintf(out, "recorded: %s\n", fileSummary(recordedPath, recorded).c_str());
    if (played.format.sampleRate != recorded.format.sampleRate) {
        std::fprintf(out, "note: the sample rates differ\n");
    }
    std::fprintf(out, "channel  played  delay  correlation  peak dBFS");
    if (width != 0) {
        std::fprintf(out, "  exact (%d-bit)", 8 * width);
    }
    std::fprintf(out, "\n");
    for (const ChannelCheck& check : checks) {
        const std::string source = check.played != 0 ? std::to_string(check.played) : "-";
        const std::string delay = check.match.found ? std::to_string(check.delay) : "-";
        char correlation[32] = "-";
        if (check.match.found) {
            std::snprintf(correlation, sizeof correlation, "%.6f", check.match.correlation);
        }
        std::fprintf(out, "%7u  %6s  %5s  %11s  %9s", unsigned(check.recorded), source.c_str(),
                     delay.c_str(), correlation, dbfs(check.peak).c_str());
        if (check.exactTested) {
            std::fprintf(out, "  %s", check.exact ? "yes" : "no");
        }
        std::fprintf(out, "\n");
    }
    for (const ChannelCheck& check : checks) {
        if (check.exactTested && !check.exact) {
            std::fprintf(
                out, "channel %u: first mismatch at frame %u (delay %u): expected %s, got %s\n",
                unsigned(check.recorded), unsigned(check.mismatchFrame), unsigned(check.delay),
                floatText(check.expected).c_str(), floatText(check.got).c_str());
        }
    }
}

void printCheckJson(FILE* out, const char* playedPath, const WavData& played,
                    const char* recordedPath, const WavData& recorded, int width, bool allExact,
                    const std::vector<ChannelCheck>& checks) {
    std::fprintf(out, "{\n  \"played\": %s,\n  \"recorded\": %s,\n",
                 jsonFile(playedPath, played).c_str(), jsonFile(recordedPath, recorded).c_str());
    std::fprintf(out, "  \"sampleRatesAgree\": %s,\n",
                 played.format.sampleRate == recorded.format.sampleRate ? "true" : "false");
    std::fprintf(out, "  \"width\": %s,\n  \"channels\": [",
                 width ? std::to_string(width).c_str() : "null");
    for (size_t i = 0; i < checks.size(); ++i) {
        const ChannelCheck& check = checks[i];
        std::string line =
            "{\"recorded\": " + std::to_string(check.recorded) +
            ", \"played\": " + (check.played ? std::to_string(check.played) : "null") +
            ", \"delay\": " + (check.match.found ? std::to_string(check.delay) : "null") +
            ", \"correlation\": " +
            (check.match.found ? jsonNumber(check.match.correlation) : "null") +
            ", \"peakDbfs\": " +
            (check.peak > 0 ? jsonNumber(20 * std::log10(check.peak)) : "null");
        if (check.exactTested) {
            line += std::string(", \"exact\": ") + (check.exact ? "true" : "false");
            if (!check.exact) {
                line += ", \"mismatch\": {\"frame\": " + std::to_string(check.mismatchFrame) +
                        ", \"delay\": " + std::to_string(check.delay) +
                        ", \"expected\": " + jsonNumber(check.expected) +
                        ", \"got\": " + jsonNumber(check.got) + "}";
            }
        }
        std::fprintf(out, "%s\n    %s}", i ? "," : "", line.c_str());
    }
    std::fprintf(out, "%s],\n  \"exact\": %s\n}\n", checks.empty() ? "" : "\n  ",
                 width ? (allExact ? "true" : "false") : "null");
}
