#include <gtest/gtest.h>

#include "platform/interrupt.h"
#include "platform/win32.h"

namespace {

bool waitForInterrupt() {
    for (int waited = 0; waited < 10000 && !interruptRequested(); waited += 10) {
        Sleep(10);
    }
    return interruptRequested();
}

// Ctrl+C is sent to every process of the console, this one included. Only while the
// handler is in place: afterwards the default handling would end the test.
TEST(InterruptHandler, TurnsCtrlCIntoTheFlag) {
    SetConsoleCtrlHandler(nullptr, FALSE); // a parent may have left Ctrl+C ignored
    installInterruptHandler();
    EXPECT_FALSE(interruptRequested());
    if (GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) == 0) {
        removeInterruptHandler();
        GTEST_SKIP() << "no console to send Ctrl+C on (under Wine: run from a terminal)";
    }
    EXPECT_TRUE(waitForInterrupt());

    // Installed again: starts afresh, and one removal is enough.
    installInterruptHandler();
    EXPECT_FALSE(interruptRequested());
    ASSERT_NE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0), 0);
    EXPECT_TRUE(waitForInterrupt());
    removeInterruptHandler();
}

} // namespace
