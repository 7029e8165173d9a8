#include "support/registry_fixture.h"

#include <gtest/gtest.h>

#include "platform/reg_text.h"
#include "support/registry_fixture_platform.h"

std::string regEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

namespace {

const char kPlaceholder[] = "@TEST_SERVER@";

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// UTF-16LE of ASCII text, which placeholders and the build's paths are.
std::string widened(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

} // namespace

std::string withTestServerPath(const std::string& regText) {
    std::string text = regText;
    const std::string path = regEscape(testServerPath());
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        // Search only at even offsets, so the match cannot straddle two characters.
        const std::string from = widened(kPlaceholder);
        const std::string to = widened(path);
        std::string out = text.substr(0, 2);
        size_t at = 2;
        while (at < text.size()) {
            if (text.compare(at, from.size(), from) == 0) {
                out += to;
                at += from.size();
            } else {
                out.append(text, at, 2);
                at += 2;
            }
        }
        return out;
    }
    replaceAll(text, kPlaceholder, path);
    return text;
}

bool RegistryFixture::install(const std::string& regText) {
    removeRegistryText(*state);
    const std::string text = withTestServerPath(regText);
    RegTextKey tree;
    if (!parseRegText(text, tree)) {
        ADD_FAILURE() << "registry text does not begin with a .reg header";
        return false;
    }
    return installRegistryText(*state, text, tree);
}

void RegistryFixture::remove() {
    removeRegistryText(*state);
}
