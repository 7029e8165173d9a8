// The drivers' own clock threads: they sleep toward a deadline in short slices, so that a
// stop request is not held up by a long buffer period.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using DriverClock = std::chrono::steady_clock;

// Sleeps until deadline or until stop is set, whichever comes first; returns the time then.
inline DriverClock::time_point sleepUntilOrStopped(DriverClock::time_point deadline,
                                                   const std::atomic<bool>& stop) {
    constexpr auto kSlice = std::chrono::milliseconds(5);
    DriverClock::time_point now = DriverClock::now();
    while (now < deadline && !stop.load(std::memory_order_acquire)) {
        std::this_thread::sleep_until(std::min(deadline, now + kSlice));
        now = DriverClock::now();
    }
    return now;
}
