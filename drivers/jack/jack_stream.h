// The streaming side of Korvane JACK, apart from JACK itself: the host's buffer switch run
// once per process cycle on JACK's buffers, the sample position and time record, and the
// driver's own clock thread, which tells the host what JACK reported and, once the server
// is gone or its period has changed, goes on switching at the nominal period with silent
// inputs, so that a host waiting for its last block is never left hanging.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "driver_switch.h"
#include "host/asio.h"
#include "jack_samples.h"

// One created channel: its double buffer of integer samples.
struct StreamChannel {
    bool isInput;
    uint8_t* halves[2];
};

class JackStream {
public:
    JackStream();
    ~JackStream();
    JackStream(const JackStream&) = delete;
    JackStream& operator=(const JackStream&) = delete;

    // Before start: the created channels in the host's order, the period in frames, the
    // nominal rate, the channels' sample type and the host's callbacks.
    void setUp(const StreamChannel* channels, int32_t count, uint32_t frames, double rate,
               ASIOSampleType type, ASIOCallbacks* callbacks, bool timeInfo);

    // Starts the clock thread; JACK's cycles still only play silence. False when the
    // thread cannot be made.
    bool start();
    // From the next cycle on JACK's cycles count; the first switch comes in the cycle after
    // that one, so that connections made before the call are in place by then.
    void arm();
    // Returns once no switch runs and none will come; the clock thread has ended, or, when
    // the host stops from a message the clock thread delivers, ends as that returns.
    void stop();

    // One JACK process cycle. `buffers` has one JACK buffer of `frames` floats per created
    // channel, in the host's order: inputs are read, outputs written. `frameTime` is JACK's
    // frame counter at the cycle's start. Real-time path: no allocation, no lock, no output.
    void cycle(float* const* buffers, uint32_t frames, uint32_t frameTime);

    // What JACK reports, from its other threads. Each sets a flag and wakes the clock
    // thread, which tells the host; safe in a signal handler.
    void noteXrun();
    void notePeriod(uint32_t frames);
    void noteRate(double rate);
    void noteServerGone();
    // The same as JACK's callbacks, whose argument is the stream.
    static int xrunCallback(void* stream);
    static int periodCallback(uint32_t frames, void* stream);
    static int rateCallback(uint32_t rate, void* stream);

    // Whether the caller is inside the host's switch, and the latest switch's position.
    const DriverSwitch& hostSwitch() const { return switch_; }

    // What ended JACK's part, for the driver's error text: the server gone, or its new
    // period; and whether the clock thread waits for a cycle still in the host's switch.
    bool serverGone() const { return loss_.load() == kServerGone; }
    bool periodChanged() const { return loss_.load() == kPeriodChanged; }
    uint32_t newPeriod() const { return newPeriod_.load(); }
    bool waitingForCycle() const { return waitingForCycle_.load(); }

    struct Stats {
        int64_t switches;      // in JACK's cycles
        int64_t clockSwitches; // on the driver's own clock
        int64_t skips;         // switches whose position skipped ahead
        int64_t firstSkip;     // the first of them, counted from 1; 0: none
        int64_t xruns;         // reported while switching
    };
    Stats stats() const;

private:
    enum Phase : int { kIdle, kArming, kRunning };
    enum Loss : int { kNoLoss, kServerGone, kPeriodChanged };

    void clockThread();
    void takeOver();
    // Until a JACK cycle that is still running has left; or stop is asked for (untilStopped),
    // else kCycleWaitLimit.
    void waitForCycleEnd(bool untilStopped) const;
    bool onClockThread() const;
    void loseDevice(Loss loss);
    void runSwitch();
    int32_t message(int32_t selector, int32_t value);
    void silence(float* const* buffers, uint32_t frames) const;

    // Set up before start, read-only while streaming.
    std::vector<StreamChannel> channels_;
    uint32_t frames_ = 0;
    double rate_ = 0;
    JackSamples samples_{};
    ASIOCallbacks* callbacks_ = nullptr;

    // Who switches: JACK's process thread until handedOver_, then the clock thread. The
    // process thread marks its cycles in inCycle_, so that the one taking over can wait
    // for the last of them.
    std::atomic<int> phase_{kIdle};
    std::atomic<bool> handedOver_{false};
    std::atomic<bool> inCycle_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<int> loss_{kNoLoss};
    std::atomic<uint32_t> newPeriod_{0};
    std::atomic<double> newRate_{0};
    std::atomic<uint32_t> xruns_{0};
    mutable std::atomic<bool> waitingForCycle_{false};
    sem_t wake_{}; // made once: JACK's threads may post to it until the client is closed
    bool semReady_ = false;
    bool started_ = false;
    std::thread clock_;

    // The switch state, owned by whichever thread switches.
    uint32_t lastFrameTime_ = 0;
    DriverSwitch switch_;
    std::atomic<int64_t> switches_{0};
    std::atomic<int64_t> clockSwitches_{0};
    std::atomic<int64_t> skips_{0};
    std::atomic<int64_t> firstSkip_{0};
};
