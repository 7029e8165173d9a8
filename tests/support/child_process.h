// KORVANE_CHILD_WRAPPER (Linux) names a command line that every child runs under.
// Runs a built program as a child process with its standard output and error captured,
// for the end-to-end tests. On Windows the captured text has its CRLF line ends turned
// back into LF (the programs write in text mode), so expectations are the same everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ChildOptions {
    // Set (or, with an empty value and unset = true, removed) in the child's environment.
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<std::string> unset;
    // Address-space limit of the child in bytes, 0 for none (Linux only; ignored elsewhere).
    uint64_t addressSpaceLimit = 0;
};

struct ChildResult {
    bool started = false;
    int exitCode = -1; // -1 when the child did not end normally
    std::string out;
    std::string err;
};

class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess(); // waits for a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& argv, const ChildOptions& options = {});
    // What the user's Ctrl+C does: SIGINT on Linux, a console control event on Windows.
    bool interrupt();
    // SIGTERM on Linux; on Windows the same as interrupt().
    bool terminate();
    // Whether a signal sent by interrupt() or terminate() still waits to be taken by the
    // child (Linux); once not, its handler has run or is running. False on Windows.
    bool signalsPending();
    // Whether the child has ended, without waiting for it; wait() still gives its result.
    bool ended();
    ChildResult wait();
    // Whatever the child has written to standard output so far.
    std::string outputSoFar() const;

private:
    struct State;
    State* state;
};

ChildResult runChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

// Full path of a program built into the test binary's own folder ("korvane" gives
// .../korvane or ...\korvane.exe).
std::string programPath(const std::string& name);
// Full path of a driver library built beside the tests ("korvane_loopback").
std::string libraryPath(const std::string& name);
