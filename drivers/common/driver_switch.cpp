#include "driver_switch.h"

#include "driver_host.h"

void DriverSwitch::setUp(ASIOCallbacks* callbacks, bool timeInfo) {
    callbacks_ = callbacks;
    timeInfo_ = timeInfo;
}

void DriverSwitch::reset() {
    frame_ = 0;
    count_ = 0;
    position_.store(0);
    timeNs_.store(0);
}

void DriverSwitch::run(bool positionValid, double rate) {
    const int index = this->index();
    const uint64_t now = driverTimeNs();
    position_.store(frame_, std::memory_order_release);
    timeNs_.store(now, std::memory_order_release);
    thread_.store(std::this_thread::get_id(), std::memory_order_release);
    inSwitch_.store(true, std::memory_order_release);
    if (timeInfo_) {
        fillTimeRecord(&time_, now, frame_, positionValid, rate);
        callbacks_->bufferSwitchTimeInfo(&time_, index, ASIOTrue);
    } else {
        callbacks_->bufferSwitch(index, ASIOTrue);
    }
    inSwitch_.store(false, std::memory_order_release);
    ++count_;
}

bool DriverSwitch::callingFromSwitch() const {
    return inSwitch_.load(std::memory_order_acquire) &&
           thread_.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void DriverSwitch::latest(ASIOSamples* position, ASIOTimeStamp* time) const {
    const uint64_t samples = position_.load(std::memory_order_acquire);
    const uint64_t ns = timeNs_.load(std::memory_order_acquire);
    position->hi = static_cast<uint32_t>(samples >> 32);
    position->lo = static_cast<uint32_t>(samples);
    time->hi = static_cast<uint32_t>(ns >> 32);
    time->lo = static_cast<uint32_t>(ns);
}
