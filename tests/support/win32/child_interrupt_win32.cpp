#include "support/child_interrupt.h"

#include "platform/win32.h"

// Wine (8) fails GenerateConsoleCtrlEvent for another process group, with or without a
// terminal; Windows itself delivers Ctrl+Break to the child's group.
const char* childInterruptUnavailable() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr) {
        return "Wine does not deliver console control events to another process group";
    }
    return nullptr;
}
