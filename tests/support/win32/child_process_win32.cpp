#include "support/child_process.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "platform/command_line_text.h"
#include "platform/win32.h"
#include "support/child_process_platform.h"

const BuiltFileNames kBuiltFileNames = {"\\", ".exe", ".dll"};

struct ChildProcess::State {
    HANDLE process = nullptr;
    DWORD processId = 0;
    std::string outPath;
    std::string errPath;
};

namespace {
constexpr int kStartAttempts = 3;

std::string tempPath(const char* tag) {
    char dir[MAX_PATH];
    char file[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "kvc", 0, file);
    DeleteFileA(file);
    return std::string(file) + tag;
}

std::string withoutCarriageReturnsBeforeLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::string environmentBlock(const ChildOptions& options) {
    std::map<std::string, std::string> variables; // keyed by upper-case name
    char* strings = GetEnvironmentStringsA();
    for (const char* p = strings; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) {
        const std::string entry = p;
        const size_t eq = entry.find('=', 1);
        if (eq != std::string::npos) {
            variables[upper(entry.substr(0, eq))] = entry;
        }
    }
    if (strings != nullptr) {
        FreeEnvironmentStringsA(strings);
    }
    for (const auto& [name, value] : options.environment) {
        variables[upper(name)] = name + "=" + value;
    }
    for (const std::string& name : options.unset) {
        variables.erase(upper(name));
    }
    std::string block;
    for (const auto& entry : variables) {
        block += entry.second;
        block += '\0';
    }
    block += '\0';
    return block;
}

HANDLE inheritableFile(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
} // namespace

ChildProcess::ChildProcess() : state(new State) {}

ChildProcess::~ChildProcess() {
    if (state->process != nullptr) {
        wait();
    }
    delete state;
}

bool ChildProcess::start(const std::vector<std::string>& argv, const ChildOptions& options) {
    state->outPath = tempPath(".out");
    state->errPath = tempPath(".err");
    std::string commandLine = windowsCommandLine(argv);
    std::string environment = environmentBlock(options);
    HANDLE out = inheritableFile(state->outPath, true);
    HANDLE err = inheritableFile(state->errPath, true);
    HANDLE in = inheritableFile("NUL", false);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::fflush(nullptr);
    // Under a loaded Wine a start has now and then failed before the program ran at all:
    // nothing of it was tested, so it is started again, and the failure is said.
    BOOL ok = FALSE;
    for (int attempt = 1; attempt <= kStartAttempts && !ok; ++attempt) {
        ok = CreateProcessA(argv[0].c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                            CREATE_NEW_PROCESS_GROUP, &environment[0], nullptr, &si, &pi);
        if (!ok) {
            std::fprintf(stderr, "CreateProcess %s failed with error %lu (attempt %d of %d)\n",
                         argv[0].c_str(), static_cast<unsigned long>(GetLastError()), attempt,
                         kStartAttempts);
        }
    }
    CloseHandle(out);
    CloseHandle(err);
    if (in != INVALID_HANDLE_VALUE) {
        CloseHandle(in);
    }
    if (!ok) {
        return false;
    }
    CloseHandle(pi.hThread);
    state->process = pi.hProcess;
    state->processId = pi.dwProcessId;
    return true;
}

bool ChildProcess::interrupt() {
    return state->process != nullptr &&
           GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, state->processId) != 0;
}

bool ChildProcess::terminate() {
    return interrupt();
}

bool ChildProcess::signalsPending() {
    return false;
}

bool ChildProcess::ended() {
    return state->process == nullptr || WaitForSingleObject(state->process, 0) == WAIT_OBJECT_0;
}

std::string ChildProcess::outputSoFar() const {
    return withoutCarriageReturnsBeforeLineEnds(readWholeFile(state->outPath));
}

ChildResult ChildProcess::wait() {
    ChildResult result;
    if (state->process == nullptr) {
        return result;
    }
    WaitForSingleObject(state->process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(state->process, &code);
    CloseHandle(state->process);
    state->process = nullptr;
    result.started = true;
    result.exitCode = static_cast<int>(code);
    result.out = withoutCarriageReturnsBeforeLineEnds(readWholeFile(state->outPath));
    result.err = withoutCarriageReturnsBeforeLineEnds(readWholeFile(state->errPath));
    DeleteFileA(state->outPath.c_str());
    DeleteFileA(state->errPath.c_str());
    return result;
}
