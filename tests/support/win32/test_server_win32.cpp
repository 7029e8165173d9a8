#include "platform/win32.h"
#include "support/test_server.h"

int32_t testServerLiveObjects() {
    // Only a server that COM has loaded already: GetModuleHandleA never loads one.
    HMODULE library = GetModuleHandleA("korvane_test_server.dll");
    if (library == nullptr) {
        return -1;
    }
    FARPROC symbol = GetProcAddress(library, "TestServerLiveObjects");
    if (symbol == nullptr) {
        return -1;
    }
    return reinterpret_cast<int32_t (*)()>(reinterpret_cast<void*>(symbol))();
}
