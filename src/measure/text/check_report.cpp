#include "measure/text/check_report.h"

#include <cmath>
#include <cstring>

#include "measure/text/json_text.h"
#include "measure/text/number_text.h"

namespace {

std::string floatText(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    char text[64];
    std::snprintf(text, sizeof text, "%.9g (0x%08X)", double(value), unsigned(bits));
    return text;
}

std::string fileSummary(const char* path, const WavData& data) {
    return std::string(path) + ", " + countText(data.format.channels, "channel") + ", " +
           std::to_string(data.format.sampleRate) + " Hz, " + countText(data.frames, "frame") +
           ", " + describeFormat(data.format);
}

} // namespace

namespace {

void printChannelRows(FILE* out, const CheckReport& report) {
    const int width = report.options.width;
    std::fprintf(out, "channel  played  delay  correlation  peak dBFS");
    if (width != 0) {
        std::fprintf(out, "  exact (%d-bit)", 8 * width);
    }
    std::fprintf(out, "\n");
    for (const ChannelCheck& check : report.checks) {
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
        std::fprintf(out, "%s\n", check.problems != 0 ? "  not trusted" : "");
    }
}

void printMismatches(FILE* out, const CheckReport& report) {
    for (const ChannelCheck& check : report.checks) {
        if (!check.exactTested || check.exact) {
            continue;
        }
        if (check.mismatchFrame == check.recordedFrames) {
            std::fprintf(out,
                         "channel %u: the recording ends at frame %u (delay %lld), before the "
                         "played material does: expected %s there\n",
                         unsigned(check.recorded), unsigned(check.mismatchFrame),
                         (long long)check.delay, floatText(check.expected).c_str());
        } else {
            std::fprintf(
                out, "channel %u: first mismatch at frame %u (delay %lld): expected %s, got %s\n",
                unsigned(check.recorded), unsigned(check.mismatchFrame), (long long)check.delay,
                floatText(check.expected).c_str(), floatText(check.got).c_str());
        }
    }
}

} // namespace

void printUntrustedSummary(FILE* out, const std::vector<uint32_t>& channels) {
    if (channels.empty()) {
        return;
    }
    std::string list;
    for (uint32_t channel : channels) {
        list += (list.empty() ? "" : ", ") + std::to_string(channel);
    }
    std::fprintf(out, "not trusted: the delay or level of channel%s %s cannot be trusted\n",
                 channels.size() == 1 ? "" : "s", list.c_str());
}

void printCheckTable(FILE* out, const CheckReport& report) {
    const WavData& played = *report.played;
    const WavData& recorded = *report.recorded;
    std::fprintf(out, "played:   %s\n", fileSummary(report.playedPath, played).c_str());
    std::fprintf(out, "recorded: %s\n", fileSummary(report.recordedPath, recorded).c_str());
    if (played.format.sampleRate != recorded.format.sampleRate) {
        std::fprintf(out, "note: the sample rates differ\n");
    }
    printChannelRows(out, report);
    printMismatches(out, report);
    std::vector<uint32_t> untrusted;
    for (const ChannelCheck& check : report.checks) {
        for (const std::string& text :
             trustProblemTexts(check, report.options, played.format.sampleRate)) {
            std::fprintf(out, "channel %u: not trusted: %s\n", unsigned(check.recorded),
                         text.c_str());
        }
        if (check.problems != 0) {
            untrusted.push_back(check.recorded);
        }
    }
    if (report.options.width != 0) {
        std::fprintf(out, "%s\n",
                     report.allExact ? "exact: every channel is the round trip at this width"
                                     : "not exact");
    }
    printUntrustedSummary(out, untrusted);
}

void printCheckJson(FILE* out, const CheckReport& report) {
    const WavData& played = *report.played;
    const WavData& recorded = *report.recorded;
    const int width = report.options.width;
    Json channels = Json::array();
    for (const ChannelCheck& check : report.checks) {
        Json channel = {
            {"recorded", check.recorded},
            {"played", check.played != 0 ? Json(check.played) : Json()},
            {"delay", check.match.found ? Json(check.delay) : Json()},
            {"correlation", check.match.found ? jsonNumber(check.match.correlation) : Json()},
            {"peakDbfs", check.peak > 0 ? jsonNumber(20 * std::log10(check.peak)) : Json()}};
        if (check.exactTested) {
            channel["exact"] = check.exact;
            if (!check.exact) {
                const bool ends = check.mismatchFrame == check.recordedFrames;
                channel["mismatch"] = {{"frame", check.mismatchFrame},
                                       {"delay", check.delay},
                                       {"expected", jsonNumber(check.expected)},
                                       {"got", ends ? Json() : jsonNumber(check.got)},
                                       {"recordingEnds", ends}};
            }
        }
        channel["trusted"] = check.problems == 0;
        Json problems = Json::array();
        for (TrustProblem problem : kTrustProblems) {
            if (check.problems & problem) {
                problems.push_back(
                    {{"kind", trustProblemName(problem)},
                     {"text", jsonString(trustProblemText(check, problem, report.options,
                                                          played.format.sampleRate))}});
            }
        }
        channel["problems"] = problems;
        channels.push_back(std::move(channel));
    }
    const Json document = {
        {"played", recordingFileJson(report.playedPath, played)},
        {"recorded", recordingFileJson(report.recordedPath, recorded)},
        {"sampleRatesAgree", played.format.sampleRate == recorded.format.sampleRate},
        {"width", width != 0 ? Json(width) : Json()},
        {"channels", channels},
        {"exact", width != 0 ? Json(report.allExact) : Json()},
        {"trusted", report.trusted}};
    std::fputs(jsonDocument(document).c_str(), out);
}

Json recordingFileJson(const char* path, const WavData& data) {
    return {{"path", jsonString(path)},
            {"channels", data.format.channels},
            {"sampleRate", data.format.sampleRate},
            {"frames", data.frames}};
}
