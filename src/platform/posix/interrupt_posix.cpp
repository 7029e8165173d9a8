#include "platform/interrupt.h"

#include <atomic>
#include <csignal>

namespace {
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

struct sigaction previousInt;
struct sigaction previousTerm;
bool installed = false;

extern "C" void onInterrupt(int) {
    requested.store(true);
}
} // namespace

void installInterruptHandler() {
    requested.store(false);
    // A second install must not take our own handler for the one to restore.
    if (installed) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
    installed = true;
}

void removeInterruptHandler() {
    if (!installed) {
        return;
    }
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    installed = false;
}

bool interruptRequested() {
    return requested.load();
}
