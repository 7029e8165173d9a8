#include <gtest/gtest.h>

#include <atomic>
#include <csignal>

#include "platform/interrupt.h"

namespace {

std::atomic<int> previousCalls{0};

extern "C" void previousHandler(int) {
    previousCalls.fetch_add(1);
}

void setDisposition(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

void (*currentHandler(int signal))(int) {
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

TEST(InterruptHandler, TurnsSignalsIntoTheFlagAndRestoresWhatWasThere) {
    setDisposition(SIGINT, previousHandler);
    setDisposition(SIGTERM, previousHandler);

    installInterruptHandler();
    EXPECT_FALSE(interruptRequested());
    std::raise(SIGINT);
    EXPECT_TRUE(interruptRequested());
    std::raise(SIGINT);
    std::raise(SIGTERM);
    EXPECT_TRUE(interruptRequested());
    EXPECT_EQ(previousCalls.load(), 0);

    // A second install starts afresh and does not take itself for the one to restore.
    installInterruptHandler();
    EXPECT_FALSE(interruptRequested());
    std::raise(SIGTERM);
    EXPECT_TRUE(interruptRequested());
    removeInterruptHandler();
    EXPECT_EQ(currentHandler(SIGINT), &previousHandler);
    EXPECT_EQ(currentHandler(SIGTERM), &previousHandler);
    std::raise(SIGINT);
    EXPECT_EQ(previousCalls.load(), 1);
    removeInterruptHandler(); // nothing installed: leaves the disposition alone
    EXPECT_EQ(currentHandler(SIGINT), &previousHandler);

    setDisposition(SIGINT, SIG_DFL);
    setDisposition(SIGTERM, SIG_DFL);
}

} // namespace
