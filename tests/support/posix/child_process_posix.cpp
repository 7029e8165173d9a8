#include "support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/child_process_platform.h"

extern char** environ;

const BuiltFileNames kBuiltFileNames = {"/", "", ".so"};

struct ChildProcess::State {
    pid_t pid = -1;
    bool reaped = false; // ended() has collected the status already
    int status = 0;
    std::string outPath;
    std::string errPath;
};

namespace {
std::string tempPath(const char* tag) {
    char pattern[] = "/tmp/korvane-child-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) {
        close(fd);
    }
    return std::string(pattern) + tag;
}
} // namespace

ChildProcess::ChildProcess() : state(new State) {}

ChildProcess::~ChildProcess() {
    if (state->pid > 0) {
        wait();
    }
    delete state;
}

bool ChildProcess::start(const std::vector<std::string>& argv, const ChildOptions& options) {
    const std::string base = tempPath("");
    std::remove(base.c_str());
    state->outPath = base + ".out";
    state->errPath = base + ".err";
    // KORVANE_CHILD_WRAPPER runs every child under a tool, e.g. valgrind, for a whole suite.
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("KORVANE_CHILD_WRAPPER")) {
        std::istringstream split(wrapper);
        for (std::string word; split >> word;) {
            words.push_back(word);
        }
    }
    words.insert(words.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (const std::string& a : words) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        const int out = open(state->outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(state->errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) {
            _exit(127);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        for (const auto& [name, value] : options.environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        for (const std::string& name : options.unset) {
            unsetenv(name.c_str());
        }
        if (options.addressSpaceLimit != 0) {
            rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        signal(SIGPIPE, SIG_DFL); // the test binary may ignore it; the child must not inherit that
        execvp(args[0], args.data());
        _exit(127);
    }
    state->pid = pid;
    state->reaped = false;
    return true;
}

// Until the child is reaped its process id cannot be another process's.
bool ChildProcess::interrupt() {
    return state->pid > 0 && !state->reaped && kill(state->pid, SIGINT) == 0;
}

bool ChildProcess::terminate() {
    return state->pid > 0 && !state->reaped && kill(state->pid, SIGTERM) == 0;
}

// A signal sent to a process waits in its shared pending set until a thread takes it.
bool ChildProcess::signalsPending() {
    if (state->pid <= 0 || state->reaped) {
        return false;
    }
    std::ifstream status("/proc/" + std::to_string(state->pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("ShdPnd:", 0) == 0) {
            const unsigned long long pending = std::stoull(line.substr(7), nullptr, 16);
            const unsigned long long ours = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1));
            return (pending & ours) != 0;
        }
    }
    return false;
}

bool ChildProcess::ended() {
    if (state->pid <= 0 || state->reaped) {
        return true;
    }
    pid_t done = 0;
    do {
        done = waitpid(state->pid, &state->status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    state->reaped = done == state->pid;
    return state->reaped;
}

std::string ChildProcess::outputSoFar() const {
    return readWholeFile(state->outPath);
}

ChildResult ChildProcess::wait() {
    ChildResult result;
    if (state->pid <= 0) {
        return result;
    }
    int status = state->status;
    if (!state->reaped) {
        while (waitpid(state->pid, &status, 0) < 0) {
        }
    }
    state->pid = -1;
    result.started = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readWholeFile(state->outPath);
    result.err = readWholeFile(state->errPath);
    std::remove(state->outPath.c_str());
    std::remove(state->errPath.c_str());
    return result;
}
