#include "cli.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "convert.h"
#include "loopback_check.h"
#include "riff_reader.h"
#include "signal_gen.h"
#include "tool_exit.h"
#include "wav/wav_format.h"

namespace {

const char kMainHelp[] =
    "korvane-wav: WAV files for korvane\n"
    "\n"
    "Usage:\n"
    "  korvane-wav convert IN OUT [--pad SECONDS]\n"
    "  korvane-wav gen KIND OUT [options]\n"
    "  korvane-wav check PLAYED RECORDED [options]\n"
    "  korvane-wav COMMAND --help\n"
    "\n"
    "korvane plays only one WAV layout, and records in it: 32-bit float samples behind a\n"
    "44-byte header (RIFF, a 16-byte \"fmt \" chunk, then \"data\"). convert turns any integer\n"
    "or float WAV file into that layout, gen writes test signals in it, and check compares a\n"
    "recording with the file that was played.\n"
    "\n"
    "Exit codes: 0 ok, 1 usage error, 2 input file problem, 3 output problem,\n"
    "4 check mismatch.\n";

const char kConvertHelp[] =
    "Usage: korvane-wav convert IN OUT [--pad SECONDS]\n"
    "\n"
    "Reads IN, a RIFF/WAVE file of integer PCM (8-bit unsigned, 16, 24 or 32 bits) or IEEE\n"
    "float (32 or 64 bits) in a plain, 18-byte or extensible format chunk, with any other\n"
    "chunks in any order, and writes OUT as the 32-bit float file korvane plays, with the\n"
    "same channels and sample rate.\n"
    "\n"
    "Integer samples become value / 2^(bits - 1), as korvane writes its recordings: 16-bit\n"
    "/ 32768, 24-bit / 8388608, 32-bit / 2147483648 rounded to float, 8-bit (value - 128) /\n"
    "128. Nothing is clipped or dithered; 64-bit floats are rounded to 32 bits. Compressed\n"
    "formats, RF64, broken chunk sizes and truncated files are refused.\n"
    "OUT is written as OUT.part and renamed when complete; IN and OUT may be the same file.\n"
    "\n"
    "Options:\n"
    "  --pad SECONDS   append SECONDS of silence. korvane records exactly as long as it\n"
    "                  plays: pad the file to record the tail of the response.\n"
    "\n"
    "Exit codes: 0 ok, 1 usage error, 2 IN cannot be read or is refused, 3 OUT cannot be\n"
    "written.\n";

const char kGenHelp[] =
    "Usage: korvane-wav gen KIND OUT [options]\n"
    "\n"
    "Writes a test signal as the 32-bit float file korvane plays. KIND is one of:\n"
    "  sine      a sine at --freq; each further channel --freq-step higher\n"
    "  sweep     an exponential sine sweep from --from to --to\n"
    "  noise     uniform white noise; each channel its own stream, from --seed\n"
    "  impulse   one sample at the level, at --at seconds; zero elsewhere\n"
    "  silence   zeros\n"
    "\n"
    "Options [defaults]:\n"
    "  --channels N       1 to 64 [1]\n"
    "  --rate HZ          sample rate [48000]\n"
    "  --seconds S        length of each channel's signal [1]\n"
    "  --level L          peak level, linear from 0 to 1, or in dBFS with the suffix dB,\n"
    "                     e.g. -6dB [0.5; impulse 1]\n"
    "  --freq HZ          sine: channel 1's frequency [1000]\n"
    "  --freq-step HZ     sine: added for each further channel [100]\n"
    "  --from HZ          sweep: start [20]\n"
    "  --to HZ            sweep: end [20000, or 0.45 x the rate if lower]\n"
    "  --seed N           noise: the same seed gives the same file [1]\n"
    "  --at S             impulse: its position [0]\n"
    "  --stagger S        channel c starts (c - 1) x S seconds late, so that impulses and\n"
    "                     sweeps tell the channels apart; the file grows by\n"
    "                     (channels - 1) x S [0]\n"
    "  --pad S            silence appended at the end [0]\n"
    "Frequencies lie between 0 and half the rate; seconds are rounded to whole frames.\n"
    "\n"
    "Exit codes: 0 ok, 1 usage error, 3 OUT cannot be written.\n";

const char kCheckHelp[] =
    "Usage: korvane-wav check PLAYED RECORDED [options]\n"
    "\n"
    "For every channel of RECORDED: the channel of PLAYED that reaches it, the delay in\n"
    "frames at which it matches best (cross-correlation over the lags 0 to --max-delay),\n"
    "the normalised correlation at that delay (1: a copy, -1: an inverted copy) and the\n"
    "recorded channel's peak level in dBFS.\n"
    "\n"
    "Options:\n"
    "  --play-start P   korvane's PlayStartChannel [1]\n"
    "  --rec-start R    korvane's RecStartChannel [1]\n"
    "                   Through a loopback that feeds output k to input k, recorded\n"
    "                   channel i (from 1) is input R + i - 1, which holds PLAYED channel\n"
    "                   R + i - P, or silence where there is none: after\n"
    "                   korvane DRIVER BUF PLAYED P RECORDED N R, pass the same P and R.\n"
    "  --max-delay N    largest delay searched, in frames [65536]\n"
    "  --delay N        compare at this delay instead of searching\n"
    "  --width 2|3|4    also tell whether each channel is exactly what korvane's round\n"
    "                   trip at that native sample width (16, 24 or 32 bits) gives through\n"
    "                   a digital loopback: silence up to the delay, then PLAYED converted\n"
    "                   to integers and back, then silence; the recording may be longer\n"
    "                   or shorter than PLAYED and the delay. The first mismatch is shown.\n"
    "  --exact          exit with 4 unless every channel is exact and the sample rates\n"
    "                   agree (needs --width)\n"
    "  --json           print JSON instead of the table\n"
    "Frames are counted from 0, channels from 1.\n"
    "\n"
    "Exit codes: 0 done, 1 usage error, 2 a file cannot be read or is refused, 4 --exact\n"
    "and a channel is not exact.\n";

struct Arguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    bool help = false;
};

// Options take their value as the next word or after "="; "--" ends the options.
bool parseArguments(int argc, const char* const* argv, int first,
                    const std::vector<std::string>& valued, const std::vector<std::string>& flags,
                    Arguments* arguments, std::string* error) {
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            arguments->positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "--help" || word == "-h") {
            arguments->help = true;
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        bool known = false;
        for (const std::string& flag : flags) {
            if (name == flag && equals == std::string::npos) {
                arguments->options.push_back({name, ""});
                known = true;
            }
        }
        for (const std::string& option : valued) {
            if (name != option) {
                continue;
            }
            known = true;
            if (equals != std::string::npos) {
                arguments->options.push_back({name, word.substr(equals + 1)});
            } else if (i + 1 < argc) {
                arguments->options.push_back({name, argv[++i]});
            } else {
                *error = name + " needs a value";
                return false;
            }
        }
        if (!known) {
            *error = "unknown option " + word;
            return false;
        }
    }
    return true;
}

bool parseNumber(const std::string& text, double* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(parsed)) {
        return false;
    }
    *value = parsed;
    return true;
}

bool parseWhole(const std::string& text, uint64_t limit, uint64_t* value) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    uint64_t parsed = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        parsed = parsed * 10 + uint64_t(c - '0');
    }
    if (parsed > limit) {
        return false;
    }
    *value = parsed;
    return true;
}

bool endsWithNoCase(const std::string& text, const char* suffix, std::string* rest) {
    const size_t n = std::strlen(suffix);
    if (text.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        const char c = text[text.size() - n + i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != suffix[i]) {
            return false;
        }
    }
    *rest = text.substr(0, text.size() - n);
    return true;
}

// A linear level from 0 to 1, or dBFS with the suffix dB or dBFS.
bool parseLevel(const std::string& text, double* level) {
    std::string number;
    double value = 0;
    if (endsWithNoCase(text, "dbfs", &number) || endsWithNoCase(text, "db", &number)) {
        if (!parseNumber(number, &value) || value > 0) {
            return false;
        }
        *level = std::pow(10.0, value / 20);
        return true;
    }
    if (!parseNumber(text, &value) || value < 0 || value > 1) {
        return false;
    }
    *level = value;
    return true;
}

int usageError(FILE* err, const char* command, const std::string& message) {
    std::fprintf(err, "korvane-wav %s: %s (see korvane-wav %s --help)\n", command, message.c_str(),
                 command);
    return kToolUsage;
}

int fileError(FILE* err, const std::string& message, int code) {
    std::fprintf(err, "korvane-wav: %s\n", message.c_str());
    return code;
}

std::string dbfs(double linear) {
    if (!(linear > 0)) {
        return "-inf";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", 20 * std::log10(linear));
    return text;
}

// Whether korvane's own probe takes the file as one it plays.
bool korvaneAccepts(const char* path, uint32_t channels, uint32_t frames) {
    uint32_t tag = 0;
    uint32_t rate = 0;
    uint32_t bits = 0;
    uint32_t probedChannels = 0;
    uint32_t probedFrames = 0;
    return probeWavFile(path, &tag, &rate, &bits, &probedChannels, &probedFrames) == kWavOk &&
           tag == kWavFormatFloat && bits == 32 && probedChannels == channels &&
           probedFrames == frames;
}

int runConvert(int argc, const char* const* argv, FILE* out, FILE* err) {
    Arguments arguments;
    std::string error;
    if (!parseArguments(argc, argv, 2, {"--pad"}, {}, &arguments, &error)) {
        return usageError(err, "convert", error);
    }
    if (arguments.help) {
        std::fputs(kConvertHelp, out);
        return kToolOk;
    }
    double pad = 0;
    for (const auto& option : arguments.options) {
        if (!parseNumber(option.second, &pad) || pad < 0) {
            return usageError(err, "convert", "--pad needs a number of seconds, 0 or more");
        }
    }
    if (arguments.positional.size() != 2) {
        return usageError(err, "convert", "needs IN and OUT");
    }
    const char* in = arguments.positional[0].c_str();
    const char* outPath = arguments.positional[1].c_str();
    ConvertReport report;
    const int result = convertToCanonical(in, outPath, pad, &report, &error);
    if (result != kToolOk) {
        return fileError(err, error, result);
    }
    const uint32_t frames = report.frames + report.padFrames;
    if (!korvaneAccepts(outPath, report.format.channels, frames)) {
        return fileError(err, std::string(outPath) + ": korvane's probe refuses the written file",
                         kToolOutput);
    }
    std::string passed;
    for (const std::string& chunk : report.otherChunks) {
        passed += (passed.empty() ? "; passed over: \"" : ", \"") + chunk + "\"";
    }
    std::fprintf(out, "%s: %s%s, %u channels, %u Hz, %u frames%s\n", in,
                 describeFormat(report.format).c_str(),
                 report.wasCanonical ? " (already the layout korvane plays)" : "",
                 unsigned(report.format.channels), unsigned(report.format.sampleRate),
                 unsigned(report.frames), passed.c_str());
    std::fprintf(out, "%s: 32-bit float, %u frames (%u of them padding)\n", outPath,
                 unsigned(frames), unsigned(report.padFrames));
    return kToolOk;
}

int runGen(int argc, const char* const* argv, FILE* out, FILE* err) {
    Arguments arguments;
    std::string error;
    if (!parseArguments(argc, argv, 2,
                        {"--channels", "--rate", "--seconds", "--level", "--freq", "--freq-step",
                         "--from", "--to", "--seed", "--at", "--stagger", "--pad"},
                        {}, &arguments, &error)) {
        return usageError(err, "gen", error);
    }
    if (arguments.help) {
        std::fputs(kGenHelp, out);
        return kToolOk;
    }
    SignalSpec spec;
    for (const auto& option : arguments.options) {
        const std::string& name = option.first;
        const std::string& text = option.second;
        uint64_t whole = 0;
        double number = 0;
        if (name == "--channels") {
            if (!parseWhole(text, kMaxSignalChannels, &whole) || whole < 1) {
                return usageError(err, "gen", "--channels needs a count from 1 to 64");
            }
            spec.channels = uint32_t(whole);
        } else if (name == "--rate") {
            if (!parseWhole(text, 0xFFFFFFFFu, &whole) || whole < 1) {
                return usageError(err, "gen", "--rate needs a whole number of Hz, 1 or more");
            }
            spec.sampleRate = uint32_t(whole);
        } else if (name == "--seed") {
            if (!parseWhole(text, UINT64_MAX / 10, &whole)) {
                return usageError(err, "gen", "--seed needs a whole number");
            }
            spec.seed = whole;
        } else if (name == "--level") {
            if (!parseLevel(text, &spec.level)) {
                return usageError(err, "gen",
                                  "--level needs a linear level from 0 to 1 or dBFS, e.g. -6dB");
            }
        } else {
            const bool frequency = name == "--freq" || name == "--from" || name == "--to";
            if (!parseNumber(text, &number) || number < 0 || (frequency && number <= 0) ||
                (name == "--seconds" && number <= 0)) {
                return usageError(err, "gen",
                                  name + (frequency               ? " needs a frequency above 0 Hz"
                                          : name == "--freq-step" ? " needs 0 Hz or more"
                                          : name == "--seconds"   ? " needs seconds above 0"
                                                                  : " needs 0 seconds or more"));
            }
            if (name == "--seconds") {
                spec.seconds = number;
            } else if (name == "--freq") {
                spec.frequency = number;
            } else if (name == "--freq-step") {
                spec.frequencyStep = number;
            } else if (name == "--from") {
                spec.from = number;
            } else if (name == "--to") {
                spec.to = number;
            } else if (name == "--at") {
                spec.at = number;
            } else if (name == "--stagger") {
                spec.stagger = number;
            } else {
                spec.padSeconds = number;
            }
        }
    }
    if (arguments.positional.size() != 2) {
        return usageError(err, "gen", "needs KIND and OUT");
    }
    if (!signalKindFromName(arguments.positional[0], &spec.kind)) {
        return usageError(err, "gen",
                          "unknown KIND " + arguments.positional[0] +
                              " (sine, sweep, noise, impulse or silence)");
    }
    const char* outPath = arguments.positional[1].c_str();
    SignalPlan plan;
    const int result = generateWav(spec, outPath, &plan, &error);
    if (result == kToolUsage) {
        return usageError(err, "gen", error);
    }
    if (result != kToolOk) {
        return fileError(err, error, result);
    }
    if (!korvaneAccepts(outPath, spec.channels, uint32_t(plan.totalFrames))) {
        return fileError(err, std::string(outPath) + ": korvane's probe refuses the written file",
                         kToolOutput);
    }
    std::fprintf(out, "%s: %s, %u channels, %u Hz, %llu frames, peak %s dBFS\n", outPath,
                 signalKindName(spec.kind), unsigned(spec.channels), unsigned(spec.sampleRate),
                 (unsigned long long)plan.totalFrames,
                 dbfs(spec.kind == kSignalSilence ? 0 : plan.level).c_str());
    return kToolOk;
}

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

int runCheck(int argc, const char* const* argv, FILE* out, FILE* err) {
    Arguments arguments;
    std::string error;
    if (!parseArguments(argc, argv, 2,
                        {"--play-start", "--rec-start", "--max-delay", "--delay", "--width"},
                        {"--exact", "--json"}, &arguments, &error)) {
        return usageError(err, "check", error);
    }
    if (arguments.help) {
        std::fputs(kCheckHelp, out);
        return kToolOk;
    }
    CheckOptions options;
    bool exact = false;
    bool json = false;
    for (const auto& option : arguments.options) {
        const std::string& name = option.first;
        uint64_t value = 0;
        if (name == "--exact") {
            exact = true;
        } else if (name == "--json") {
            json = true;
        } else if (name == "--width") {
            if (!parseWhole(option.second, 4, &value) || value < 2) {
                return usageError(err, "check", "--width needs 2, 3 or 4 (bytes)");
            }
            options.width = int(value);
        } else if (name == "--play-start" || name == "--rec-start") {
            if (!parseWhole(option.second, 0xFFFF, &value) || value < 1) {
                return usageError(err, "check", name + " needs a channel number from 1");
            }
            (name == "--play-start" ? options.playStart : options.recStart) = uint32_t(value);
        } else {
            if (!parseWhole(option.second, kMaxDelaySearch, &value)) {
                return usageError(err, "check",
                                  name + " needs a number of frames from 0 to " +
                                      std::to_string(kMaxDelaySearch));
            }
            (name == "--delay" ? options.delay : options.maxDelay) = int64_t(value);
        }
    }
    if (exact && options.width == 0) {
        return usageError(err, "check", "--exact needs --width 2, 3 or 4");
    }
    if (arguments.positional.size() != 2) {
        return usageError(err, "check", "needs PLAYED and RECORDED");
    }
    const char* playedPath = arguments.positional[0].c_str();
    const char* recordedPath = arguments.positional[1].c_str();
    WavData played;
    WavData recorded;
    if (loadWavData(playedPath, &played, &error) != kReadOk) {
        return fileError(err, std::string(playedPath) + ": " + error, kToolInput);
    }
    if (loadWavData(recordedPath, &recorded, &error) != kReadOk) {
        return fileError(err, std::string(recordedPath) + ": " + error, kToolInput);
    }
    const std::vector<ChannelCheck> checks = checkRecording(played, recorded, options);
    bool allExact = played.format.sampleRate == recorded.format.sampleRate;
    for (const ChannelCheck& check : checks) {
        allExact = allExact && check.exact;
    }
    if (json) {
        printCheckJson(out, playedPath, played, recordedPath, recorded, options.width, allExact,
                       checks);
    } else {
        printCheckTable(out, playedPath, played, recordedPath, recorded, options.width, checks);
        if (options.width != 0) {
            std::fprintf(out, "%s\n",
                         allExact ? "exact: every channel is the round trip at this width"
                                  : "not exact");
        }
    }
    return exact && !allExact ? kToolMismatch : kToolOk;
}

} // namespace

int korvaneWavMain(int argc, const char* const* argv, FILE* out, FILE* err) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "convert") {
        return runConvert(argc, argv, out, err);
    }
    if (command == "gen") {
        return runGen(argc, argv, out, err);
    }
    if (command == "check") {
        return runCheck(argc, argv, out, err);
    }
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kMainHelp, out);
        return kToolOk;
    }
    if (command.empty()) {
        std::fputs(kMainHelp, err);
    } else {
        std::fprintf(err, "korvane-wav: unknown command %s (see korvane-wav --help)\n",
                     command.c_str());
    }
    return kToolUsage;
}
