// On Linux the registry is a file: the fixture writes one of its own and points
// KORVANE_REGISTRY at it, restoring the variable afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/registry_fixture.h"
#include "support/registry_fixture_platform.h"

struct RegistryFixture::State {
    bool installed = false;
    std::string path;
    bool hadVariable = false;
    std::string previousValue;
};

RegistryFixture::RegistryFixture() : state(new State) {}

RegistryFixture::~RegistryFixture() {
    remove();
}

bool installRegistryText(RegistryFixture::State& state, const std::string& regText,
                         const RegTextKey&) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") +
                       "/korvane-registry-XXXXXX.reg";
    const int fd = mkstemps(&path[0], 4);
    if (fd < 0) {
        ADD_FAILURE() << "cannot create a registry file from " << path;
        return false;
    }
    size_t written = 0;
    while (written < regText.size()) {
        const ssize_t n = write(fd, regText.data() + written, regText.size() - written);
        if (n <= 0) {
            break;
        }
        written += static_cast<size_t>(n);
    }
    const bool closed = close(fd) == 0;
    if (written != regText.size() || !closed) {
        unlink(path.c_str());
        ADD_FAILURE() << "cannot write the registry file " << path;
        return false;
    }

    const char* previous = std::getenv("KORVANE_REGISTRY");
    state.hadVariable = previous != nullptr;
    state.previousValue = previous != nullptr ? previous : "";
    state.path = path;
    state.installed = true;
    setenv("KORVANE_REGISTRY", path.c_str(), 1);
    return true;
}

void removeRegistryText(RegistryFixture::State& state) {
    if (!state.installed) {
        return;
    }
    if (state.hadVariable) {
        setenv("KORVANE_REGISTRY", state.previousValue.c_str(), 1);
    } else {
        unsetenv("KORVANE_REGISTRY");
    }
    unlink(state.path.c_str());
    state.installed = false;
}

std::string testServerPath() {
    return executableDirectory() + "/korvane_test_server.so";
}

std::string systemAnsiCodePage() {
    return "65001";
}
