// The host's buffer switch as every driver calls it: the device's frame and the half it is
// on, the time record, the position and system time of the latest switch that
// getSamplePosition answers, and which thread is inside the host's callback, where waiting
// for the stream's end would wait for itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "host/asio.h"

class DriverSwitch {
public:
    // Before streaming: the host's callbacks, and whether it takes bufferSwitchTimeInfo.
    void setUp(ASIOCallbacks* callbacks, bool timeInfo);
    // A new start: no switch yet, at frame 0.
    void reset();

    // The switch state, owned by whichever thread switches: the device frame at which the
    // next switch starts, the switches run since the start, and the half the next one is on.
    uint64_t frame() const { return frame_; }
    int64_t count() const { return count_; }
    int index() const { return static_cast<int>(count_ & 1); }
    // The device moves on: past a switch's buffer, or past frames it lost.
    void advance(uint64_t frames) { frame_ += frames; }

    // The host's switch on half index(), at frame(); count() goes up by one. Real-time path:
    // no allocation, no lock, no output.
    void run(bool positionValid, double rate);

    bool callingFromSwitch() const;
    // The latest switch's position and system time, both given.
    void latest(ASIOSamples* position, ASIOTimeStamp* time) const;

private:
    ASIOCallbacks* callbacks_ = nullptr;
    bool timeInfo_ = false;
    ASIOTime time_{};
    uint64_t frame_ = 0;
    int64_t count_ = 0;
    std::atomic<bool> inSwitch_{false};
    std::atomic<std::thread::id> thread_{};
    std::atomic<uint64_t> position_{0};
    std::atomic<uint64_t> timeNs_{0};
};
