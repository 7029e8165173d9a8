#include "platform/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

int runProgram(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return kProgramNotStarted;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        return kProgramNotStarted;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return kProgramAbnormalEnd;
        }
    }
    // The shell's convention: a program that could not be run after the fork exits 127.
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status) == 127 ? kProgramNotStarted : WEXITSTATUS(status);
    }
    return kProgramAbnormalEnd;
}

std::string executableDirectory() {
    char exe[4096];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) {
        return ".";
    }
    const std::string path(exe, static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return std::string();
    }
    return name;
}
