#include "platform/console.h"

#include <cstdlib>

#include "platform/win32.h"

namespace {
UINT previousOutputPage = 0;

// The console outlives the program: leave it as the user had it.
void restoreOutputPage() {
    SetConsoleOutputCP(previousOutputPage);
}
} // namespace

void useUtf8Console() {
    const UINT current = GetConsoleOutputCP(); // 0 without a console: output is a file or pipe
    if (current == 0 || current == CP_UTF8 || previousOutputPage != 0) {
        return;
    }
    if (SetConsoleOutputCP(CP_UTF8)) {
        previousOutputPage = current;
        std::atexit(restoreOutputPage);
    }
}
