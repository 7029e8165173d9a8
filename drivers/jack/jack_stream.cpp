#include "jack_stream.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "driver_clock.h"
#include "driver_host.h"
#include "jack_samples.h"

namespace {

using Clock = DriverClock;

// How long stop waits for a cycle of JACK's that is still running: only a process thread
// that died inside a cycle takes this long, and then the host is not left hanging.
constexpr auto kCycleWaitLimit = std::chrono::seconds(5);

} // namespace

JackStream::JackStream() {
    semReady_ = sem_init(&wake_, 0, 0) == 0;
}

JackStream::~JackStream() {
    stop();
    // Gone from inside a message of the clock thread's own: it cannot wait for itself.
    if (clock_.joinable()) {
        clock_.detach();
    }
    if (semReady_) {
        sem_destroy(&wake_);
    }
}

void JackStream::setUp(const StreamChannel* channels, int32_t count, uint32_t frames, double rate,
                       ASIOSampleType type, ASIOCallbacks* callbacks, bool timeInfo) {
    channels_.assign(channels, channels + count);
    frames_ = frames;
    rate_ = rate;
    samples_ = jackSamples(type);
    callbacks_ = callbacks;
    switch_.setUp(callbacks, timeInfo);
}

bool JackStream::start() {
    if (started_ && !stopRequested_.load()) {
        return true;
    }
    if (started_) { // stopped from the clock thread's own message: it has ended or ends now
        if (onClockThread()) {
            return false;
        }
        clock_.join();
        started_ = false;
    }
    phase_.store(kIdle);
    handedOver_.store(false);
    inCycle_.store(false);
    stopRequested_.store(false);
    loss_.store(kNoLoss);
    newPeriod_.store(frames_);
    newRate_.store(rate_);
    xruns_.store(0);
    switch_.reset();
    switches_.store(0);
    clockSwitches_.store(0);
    skips_.store(0);
    firstSkip_.store(0);
    if (!semReady_) {
        return false;
    }
    // std::thread reports a failure to create the thread only by throwing.
    try {
        clock_ = std::thread(&JackStream::clockThread, this);
    } catch (const std::system_error&) {
        return false;
    }
    started_ = true;
    return true;
}

void JackStream::arm() {
    phase_.store(kArming, std::memory_order_release);
}

void JackStream::stop() {
    if (!started_) {
        return;
    }
    stopRequested_.store(true);
    sem_post(&wake_);
    // A host may stop from a message the clock thread delivers: that thread switches no more
    // and ends when the message returns; a later stop, start or the end joins it.
    const bool fromClock = onClockThread();
    if (!fromClock && clock_.joinable()) {
        clock_.join();
    }
    // A cycle that starts from now on sees the hand-over; one that started before is waited
    // for.
    handedOver_.store(true);
    waitForCycleEnd(false);
    phase_.store(kIdle);
    started_ = fromClock;
}

bool JackStream::onClockThread() const {
    return clock_.joinable() && clock_.get_id() == std::this_thread::get_id();
}

void JackStream::silence(float* const* buffers, uint32_t frames) const {
    for (size_t i = 0; i < channels_.size(); ++i) {
        if (!channels_[i].isInput) {
            std::memset(buffers[i], 0, frames * sizeof(float));
        }
    }
}

// ---- Real-time path: no allocation, no lock, no output ----

void JackStream::cycle(float* const* buffers, uint32_t frames, uint32_t frameTime) {
    // Paired with the hand-over: either this cycle sees handedOver_, or the one taking over
    // sees inCycle_ and waits for the cycle to end.
    inCycle_.store(true);
    if (handedOver_.load()) {
        silence(buffers, frames);
        inCycle_.store(false, std::memory_order_release);
        return;
    }
    const int phase = phase_.load(std::memory_order_acquire);
    if (phase == kRunning && frames == frames_) {
        // Frames JACK's clock ran on beyond one period since the last cycle were lost to
        // the host: the position moves by exactly the frames that passed. An xrun the
        // server reports is told to the host apart; it moves nothing of this client's.
        const uint32_t ran = frameTime - lastFrameTime_;
        lastFrameTime_ = frameTime;
        const uint64_t skip = ran > frames_ ? ran - frames_ : 0;
        if (skip != 0) {
            switch_.advance(skip);
            if (skips_.fetch_add(1, std::memory_order_relaxed) == 0) {
                firstSkip_.store(switches_.load(std::memory_order_relaxed) + 1,
                                 std::memory_order_relaxed);
            }
        }
        for (size_t i = 0; i < channels_.size(); ++i) {
            if (channels_[i].isInput) {
                samples_.fromFloat(buffers[i], channels_[i].halves[switch_.index()], frames_);
            }
        }
        const int index = switch_.index();
        runSwitch();
        for (size_t i = 0; i < channels_.size(); ++i) {
            if (!channels_[i].isInput) {
                samples_.toFloat(channels_[i].halves[index], buffers[i], frames_);
            }
        }
        switches_.fetch_add(1, std::memory_order_relaxed);
    } else {
        if (phase == kArming) {
            // The reference of the first switch; what happened before it is not the host's.
            lastFrameTime_ = frameTime;
            phase_.store(kRunning, std::memory_order_relaxed);
        } else if (phase == kRunning) {
            newPeriod_.store(frames, std::memory_order_relaxed);
            loseDevice(kPeriodChanged);
        }
        silence(buffers, frames);
    }
    inCycle_.store(false, std::memory_order_release);
}

// One switch on the current halves, by whichever thread owns the switch state.
void JackStream::runSwitch() {
    switch_.run(true, rate_);
    switch_.advance(frames_);
}

void JackStream::loseDevice(Loss loss) {
    int none = kNoLoss;
    if (loss_.compare_exchange_strong(none, loss)) {
        sem_post(&wake_);
    }
}

void JackStream::noteXrun() {
    if (phase_.load(std::memory_order_acquire) == kRunning) {
        xruns_.fetch_add(1);
        sem_post(&wake_);
    }
}

int JackStream::xrunCallback(void* stream) {
    static_cast<JackStream*>(stream)->noteXrun();
    return 0;
}

int JackStream::periodCallback(uint32_t frames, void* stream) {
    static_cast<JackStream*>(stream)->notePeriod(frames);
    return 0;
}

int JackStream::rateCallback(uint32_t rate, void* stream) {
    static_cast<JackStream*>(stream)->noteRate(rate);
    return 0;
}

void JackStream::notePeriod(uint32_t frames) {
    if (phase_.load(std::memory_order_acquire) != kIdle && frames != frames_) {
        newPeriod_.store(frames);
        loseDevice(kPeriodChanged);
    }
}

void JackStream::noteRate(double rate) {
    if (phase_.load(std::memory_order_acquire) != kIdle && rate != rate_) {
        newRate_.store(rate);
        sem_post(&wake_);
    }
}

void JackStream::noteServerGone() {
    if (phase_.load(std::memory_order_acquire) != kIdle) {
        loseDevice(kServerGone);
    }
}

// ---- The clock thread ----

int32_t JackStream::message(int32_t selector, int32_t value) {
    return callbacks_->asioMessage != nullptr
               ? callbacks_->asioMessage(selector, value, nullptr, nullptr)
               : 0;
}

void JackStream::clockThread() {
    uint32_t xrunsTold = 0;
    double rateTold = rate_;
    for (;;) {
        while (sem_wait(&wake_) != 0 && errno == EINTR) {
        }
        if (stopRequested_.load()) {
            return;
        }
        const uint32_t xruns = xruns_.load();
        if (xruns != xrunsTold) {
            xrunsTold = xruns;
            message(kAsioResyncRequest, 0);
        }
        const double rate = newRate_.load();
        if (rate != rateTold) {
            rateTold = rate;
            if (callbacks_->sampleRateDidChange != nullptr) {
                callbacks_->sampleRateDidChange(rate);
            }
        }
        if (loss_.load() != kNoLoss) {
            takeOver();
            return;
        }
    }
}

void JackStream::waitForCycleEnd(bool untilStopped) const {
    const Clock::time_point limit = Clock::now() + kCycleWaitLimit;
    while (inCycle_.load() && (untilStopped ? !stopRequested_.load() : Clock::now() < limit)) {
        waitingForCycle_.store(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    waitingForCycle_.store(false);
}

void JackStream::takeOver() {
    handedOver_.store(true);
    // Never two threads in the host's switch: however long a cycle takes, the clock waits
    // for it, and only a stop ends the wait.
    waitForCycleEnd(true);
    if (stopRequested_.load()) {
        return;
    }
    // A host that takes the new length asks for it itself; any other is asked to reset.
    bool told = false;
    if (loss_.load() == kPeriodChanged &&
        message(kAsioSelectorSupported, kAsioBufferSizeChange) != 0) {
        told = message(kAsioBufferSizeChange, static_cast<int32_t>(newPeriod_.load())) == 1;
    }
    if (!told) {
        message(kAsioResetRequest, 0);
    }

    const auto period =
        std::chrono::nanoseconds(static_cast<int64_t>(static_cast<double>(frames_) * 1e9 / rate_));
    Clock::time_point deadline = Clock::now();
    for (;;) {
        deadline += period;
        sleepUntilOrStopped(deadline, stopRequested_);
        if (stopRequested_.load()) {
            return;
        }
        const int index = switch_.index();
        for (const StreamChannel& channel : channels_) {
            if (channel.isInput) {
                std::memset(channel.halves[index], 0, frames_ * samples_.bytes);
            }
        }
        runSwitch();
        clockSwitches_.fetch_add(1, std::memory_order_relaxed);
    }
}

JackStream::Stats JackStream::stats() const {
    return {switches_.load(), clockSwitches_.load(), skips_.load(), firstSkip_.load(),
            static_cast<int64_t>(xruns_.load())};
}
