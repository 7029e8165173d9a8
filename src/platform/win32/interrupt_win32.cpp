#include "platform/interrupt.h"

#include <atomic>

#include "platform/win32.h"

namespace {
std::atomic<bool> requested{false};
std::atomic<bool> released{false};
bool installed = false;

// Windows ends the process as soon as the handler of a close, logoff or shutdown event
// returns (and a few seconds later in any case): hold it until the teardown is done.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI onConsoleEvent(DWORD event) {
    requested.store(true);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        for (DWORD waited = 0; !released.load() && waited < kCloseGraceMs; waited += 50) {
            Sleep(50);
        }
    }
    return TRUE;
}
} // namespace

void installInterruptHandler() {
    requested.store(false);
    released.store(false);
    if (installed) {
        return; // registered once, so that one removal unregisters it
    }
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    installed = true;
}

void removeInterruptHandler() {
    if (!installed) {
        return;
    }
    released.store(true);
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    installed = false;
}

bool interruptRequested() {
    return requested.load();
}
