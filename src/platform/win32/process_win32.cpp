#include "platform/process.h"

#include "platform/command_line_text.h"
#include "platform/win32.h"
#include "platform/win32/utf16_win32.h"

int runProgram(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return kProgramNotStarted;
    }
    std::string line = windowsCommandLine(argv);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return kProgramNotStarted;
    }
    CloseHandle(process.hThread);
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return ended ? int(code) : kProgramAbnormalEnd;
}

std::string executableDirectory() {
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return ".";
    }
    const std::string full(path, length);
    const size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : full.substr(0, slash);
}

std::string hostName() {
    wchar_t name[256] = {};
    DWORD length = 255;
    if (!GetComputerNameExW(ComputerNamePhysicalDnsHostname, name, &length)) {
        return std::string();
    }
    return narrow(std::wstring(name, length), CP_UTF8);
}
