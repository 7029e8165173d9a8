#include "command_line.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

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

} // namespace

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

ToolExit usageError(FILE* err, const char* command, const std::string& message) {
    std::fprintf(err, "korvane-wav %s: %s (see korvane-wav %s --help)\n", command, message.c_str(),
                 command);
    return kToolUsage;
}

ToolExit fileError(FILE* err, const std::string& message, ToolExit code) {
    std::fprintf(err, "korvane-wav: %s\n", message.c_str());
    return code;
}
