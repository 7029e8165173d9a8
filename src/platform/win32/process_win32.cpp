#include "platform/process.h"

#include "platform/command_line_text.h"
#include "platform/win32.h"

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
