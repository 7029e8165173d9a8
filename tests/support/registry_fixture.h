// Installs registry contents given as .reg text for the code under test, and removes them
// again. On Linux the text becomes the file that KORVANE_REGISTRY names; on Windows the
// keys are written into the real registry (Wine's, under the test prefix) and only those
// keys are deleted afterwards.
#pragma once

#include <memory>
#include <string>

// executableDirectory(): the running test binary's folder, where the programs and libraries
// are built.
#include "platform/process.h"

class RegistryFixture {
public:
    RegistryFixture();
    ~RegistryFixture(); // removes what install() put in place
    RegistryFixture(const RegistryFixture&) = delete;
    RegistryFixture& operator=(const RegistryFixture&) = delete;

    // Replaces whatever this fixture installed before. "@TEST_SERVER@" in the text is
    // replaced by the path of the test server library, escaped as .reg strings need.
    // Returns false (and reports a test failure) when the text cannot be installed.
    bool install(const std::string& regText);
    void remove();

    struct State; // what install() put in place, per platform

private:
    std::unique_ptr<State> state;
};

// The system's ANSI code page as the registry records it ("1252"); "65001" (UTF-8) where
// there is no such thing.
std::string systemAnsiCodePage();

// The text as the inside of a quoted .reg string: backslashes and quotes escaped.
std::string regEscape(const std::string& text);
// Full path of the in-process test server (korvane_test_server.so / .dll).
std::string testServerPath();
// regText with every "@TEST_SERVER@" replaced by testServerPath(), escaped for a .reg string
// (what install() does; works on 8-bit and on UTF-16LE text with its byte-order mark).
std::string withTestServerPath(const std::string& regText);
