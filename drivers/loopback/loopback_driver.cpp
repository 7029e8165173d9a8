#include "loopback_driver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "driver_base.h"
#include "driver_clock.h"
#include "driver_host.h"
#include "driver_switch.h"
#include "loopback_code_page.h"
#include "loopback_config.h"
#include "loopback_samples.h"
#include "loopback_timer.h"
#include "platform/text.h"

const GUID kLoopbackClsid = {
    0x99DFBE55, 0xC03C, 0x4828, {0xAE, 0x29, 0x93, 0x08, 0xFE, 0x66, 0x2E, 0xEA}};

namespace {

constexpr ASIOError kSimulatedFault = ASE_HWMalfunction;

using Clock = DriverClock;

// Calls run(ringFrame, bufferFrame, frames) for the one or two stretches of a ring of
// `ringFrames` that `frames` frames from `start` occupy.
template <typename Run>
void forRingRuns(uint64_t start, uint64_t frames, uint64_t ringFrames, Run run) {
    uint64_t position = start % ringFrames;
    uint64_t done = 0;
    while (done < frames) {
        const uint64_t length = std::min(frames - done, ringFrames - position);
        run(position, done, length);
        done += length;
        position = 0;
    }
}

// One created buffer. An input's ring is the delay line of the output of the same number
// (null: that output was not created, the input hears silence); an output's ring is its
// own delay line (null: no input listens).
struct Entry {
    bool isInput;
    int32_t channel;
    uint8_t* halves[2];
    uint8_t* ring;
    LoopbackDutState dut; // an output's device under test
};

class LoopbackDriver final : public DriverBase {
public:
    explicit LoopbackDriver(const char* config);
    ~LoopbackDriver();

    DRIVER_DEVICE_OPERATIONS

private:
    bool ready() const override { return initialized_; }
    const char* tracePath() const override { return config_.trace; }
    bool callingFromSwitch() const override { return switch_.callingFromSwitch(); }
    ASIOError startStreaming() override;
    void endStreaming() override;
    void freeBuffers() override;
    ASIOError rateAnswer(uint32_t fault, double rate) const;
    uint64_t halfBytes(bool isInput, int32_t frames) const;
    static bool hasInput(const ASIOBufferInfo* infos, int32_t count, int32_t channel);

    // createBuffers, step by step.
    ASIOError checkRequest(const ASIOBufferInfo* infos, int32_t count, int32_t frames,
                           ASIOCallbacks* callbacks, int64_t* delay, bool* timeInfo);
    ASIOError layOut(const ASIOBufferInfo* infos, int32_t count, int32_t frames, size_t ringBytes,
                     Entry** entries, uint8_t** memory);
    static void wireDelayLines(Entry* entries, int32_t count);
    double reportedRate() const {
        return config_.reportRate > 0 ? config_.reportRate : rate_.load();
    }

    // Streaming path: no allocation, no lock, no output.
    void streamLoop(Clock::time_point epoch);
    void runSwitch();
    void fillInputs(int index);
    void storeOutputs(int index);
    void losePeriod();
    bool dropsNext() const { return config_.drop == switch_.count() + 1; }

    LoopbackConfig config_;
    bool initialized_ = false;
    int32_t channelInfoCalls_ = 0;
    std::atomic<double> rate_{0};

    // Set up by createBuffers, read-only while streaming.
    int32_t bufferFrames_ = 0;
    int32_t delay_ = 0;
    uint64_t ringFrames_ = 0;
    size_t ringBytes_ = 0;
    Entry* entries_ = nullptr;
    int32_t entryCount_ = 0;
    LoopbackDutFilter dutFilter_; // set by start()
    uint8_t* memory_ = nullptr;

    // Streaming state. The switch state of switch_ belongs to whichever thread runs the
    // switches: start()'s caller for the first one (startswitch=1), then the stream thread,
    // which is created after it and joined before anyone else reads it.
    std::thread thread_;
    bool fineTimer_ = false;
    std::atomic<bool> stopRequested_{false};
    DriverSwitch switch_;
    std::atomic<int64_t> positionCalls_{0};
    std::atomic<int64_t> outputReadyCalls_{0};
    std::atomic<int64_t> lateSwitches_{0};
};

LoopbackDriver::LoopbackDriver(const char* config)
    : DriverBase(kModuleDriverClass, "KORVANE_LOOPBACK", "Internal", config) {}

LoopbackDriver::~LoopbackDriver() {
    freeBuffers();
}

ASIOBool LoopbackDriver::init(void* sysHandle) {
    (void)sysHandle;
    if (created_) {
        trace("init");
        return ASIOTrue;
    }
    initialized_ = false;
    if (!readConfig(parseLoopbackConfig, config_, kLoopbackTextCapacity)) {
        return ASIOFalse;
    }
    if ((config_.fail & kFailInit) != 0) {
        setErrorText(config_.errorText);
        return ASIOFalse;
    }
    initialized_ = true;
    setErrorText("");
    if (config_.traceCodePage) {
        tracef("codepage %u", hostCodePage());
    }
    channelInfoCalls_ = 0;
    rate_.store(config_.rates[0]);
    return ASIOTrue;
}

ASIOError LoopbackDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    if (!readyFor("getChannels")) {
        return ASE_InvalidMode;
    }
    if ((config_.fail & kFailChannels) != 0) {
        return kSimulatedFault;
    }
    return answer({numInputChannels, numOutputChannels}, {config_.inputs, config_.outputs});
}

ASIOError LoopbackDriver::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    if (!readyFor("getLatencies")) {
        return ASE_InvalidMode;
    }
    const int32_t frames = created_ ? bufferFrames_ : config_.prefBuf;
    return answer({inputLatency, outputLatency},
                  {frames + config_.inExtra, frames + config_.outExtra});
}

ASIOError LoopbackDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                        int32_t* granularity) {
    if (!readyFor("getBufferSize")) {
        return ASE_InvalidMode;
    }
    if ((config_.fail & kFailBufferSize) != 0) {
        return kSimulatedFault;
    }
    return answer({minSize, maxSize, preferredSize, granularity},
                  {config_.minBuf, config_.maxBuf, config_.prefBuf, config_.granularity});
}

// ASE_NoClock for a rate not listed, or when `fault` is configured to fail.
ASIOError LoopbackDriver::rateAnswer(uint32_t fault, double rate) const {
    if ((config_.fail & fault) != 0) {
        return ASE_NoClock;
    }
    for (int i = 0; i < config_.rateCount; ++i) {
        if (config_.rates[i] == rate) {
            return ASE_OK;
        }
    }
    return ASE_NoClock;
}

ASIOError LoopbackDriver::canSampleRate(ASIOSampleRate sampleRate) {
    if (!readyFor("canSampleRate %.15g", sampleRate)) {
        return ASE_InvalidMode;
    }
    return rateAnswer(kFailCanSampleRate, sampleRate);
}

ASIOError LoopbackDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    if (!readyFor("getSampleRate")) {
        return ASE_InvalidMode;
    }
    return answer({sampleRate}, {reportedRate()});
}

ASIOError LoopbackDriver::setSampleRate(ASIOSampleRate sampleRate) {
    if (!readyFor("setSampleRate %.15g", sampleRate)) {
        return ASE_InvalidMode;
    }
    const ASIOError result = rateAnswer(kFailSetSampleRate, sampleRate);
    if (result == ASE_OK) {
        rate_.store(sampleRate);
    }
    return result;
}

ASIOError LoopbackDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    if (!initialized_) {
        return ASE_InvalidMode;
    }
    if (callingFromSwitch()) {
        positionCalls_.fetch_add(1, std::memory_order_relaxed);
    }
    if (sPos == nullptr || tStamp == nullptr) {
        return ASE_InvalidParameter;
    }
    if (!config_.position) {
        return ASE_SPNotAdvancing;
    }
    switch_.latest(sPos, tStamp);
    return ASE_OK;
}

ASIOError LoopbackDriver::getChannelInfo(ASIOChannelInfo* info) {
    if (info != nullptr) {
        tracef("getChannelInfo %s %d", info->isInput ? "in" : "out",
               static_cast<int>(info->channel));
    } else {
        trace("getChannelInfo");
    }
    if (!initialized_) {
        return ASE_InvalidMode;
    }
    ++channelInfoCalls_;
    if (config_.failChannelInfo == channelInfoCalls_) {
        return kSimulatedFault;
    }
    if (info == nullptr) {
        return ASE_InvalidParameter;
    }
    const bool isInput = info->isInput != ASIOFalse;
    const int32_t count = isInput ? config_.inputs : config_.outputs;
    if (info->channel < 0 || info->channel >= count) {
        return ASE_InvalidParameter;
    }
    info->isActive = ASIOFalse;
    for (int32_t i = 0; i < entryCount_; ++i) {
        if (entries_[i].isInput == isInput && entries_[i].channel == info->channel) {
            info->isActive = ASIOTrue;
        }
    }
    info->channelGroup = 0;
    info->type = isInput ? config_.inType : config_.outType;
    std::snprintf(info->name, sizeof info->name, "Loopback %s %d", isInput ? "In" : "Out",
                  static_cast<int>(info->channel) + 1);
    return ASE_OK;
}

uint64_t LoopbackDriver::halfBytes(bool isInput, int32_t frames) const {
    return static_cast<uint64_t>(sampleTypeBytes(isInput ? config_.inType : config_.outType)) *
           static_cast<uint64_t>(frames);
}

bool LoopbackDriver::hasInput(const ASIOBufferInfo* infos, int32_t count, int32_t channel) {
    for (int32_t i = 0; i < count; ++i) {
        if (infos[i].isInput != ASIOFalse && infos[i].channelNum == channel) {
            return true;
        }
    }
    return false;
}

// What a host may ask for, and what this configuration can serve: the delay line that an
// output feeds and the callback the host wants.
ASIOError LoopbackDriver::checkRequest(const ASIOBufferInfo* infos, int32_t count, int32_t frames,
                                       ASIOCallbacks* callbacks, int64_t* delay, bool* timeInfo) {
    if (!initialized_ || created_) {
        return ASE_InvalidMode;
    }
    if (infos == nullptr || callbacks == nullptr || count <= 0) {
        return ASE_InvalidParameter;
    }
    if (frames < 1 || frames < config_.minBuf || frames > config_.maxBuf) {
        return ASE_InvalidParameter;
    }
    const ASIOError channels = checkBufferRequest(infos, count, config_.inputs, config_.outputs);
    if (channels != ASE_OK) {
        return channels;
    }
    if ((config_.fail & kFailCreateBuffers) != 0) {
        return kSimulatedFault;
    }
    *delay = config_.delay >= 0 ? config_.delay
                                : int64_t{2} * frames + config_.inExtra + config_.outExtra;
    if (*delay < frames) {
        // An input can only hear what an earlier switch has played.
        char message[kLoopbackTextCapacity];
        std::snprintf(message, sizeof message,
                      "Korvane Loopback: delay %lld is shorter than the buffer length %d",
                      static_cast<long long>(*delay), static_cast<int>(frames));
        fail(message);
        return ASE_InvalidParameter;
    }
    *timeInfo = config_.timeInfo && hostWantsTimeInfo(callbacks);
    if (*timeInfo ? callbacks->bufferSwitchTimeInfo == nullptr
                  : callbacks->bufferSwitch == nullptr) {
        return ASE_InvalidParameter;
    }
    return ASE_OK;
}

// One block for every half and delay line, so that a failure leaves nothing behind. Only an
// output whose number is also a created input needs a delay line.
ASIOError LoopbackDriver::layOut(const ASIOBufferInfo* infos, int32_t count, int32_t frames,
                                 size_t ringBytes, Entry** entries, uint8_t** memory) {
    Entry* laid = static_cast<Entry*>(std::calloc(static_cast<size_t>(count), sizeof(Entry)));
    if (laid == nullptr) {
        return ASE_NoMemory;
    }
    uint64_t total = 0;
    for (int32_t i = 0; i < count; ++i) {
        Entry& entry = laid[i];
        entry.isInput = infos[i].isInput != ASIOFalse;
        entry.channel = infos[i].channelNum;
        total += 2 * alignedBytes(static_cast<size_t>(halfBytes(entry.isInput, frames)));
        if (!entry.isInput && hasInput(infos, count, entry.channel)) {
            total += ringBytes;
        }
    }
    uint8_t* block = total <= (uint64_t{1} << 40) && total <= SIZE_MAX
                         ? static_cast<uint8_t*>(std::calloc(static_cast<size_t>(total), 1))
                         : nullptr;
    if (block == nullptr) {
        std::free(laid);
        return ASE_NoMemory;
    }
    uint8_t* next = block;
    for (int32_t i = 0; i < count; ++i) {
        Entry& entry = laid[i];
        const size_t half = alignedBytes(static_cast<size_t>(halfBytes(entry.isInput, frames)));
        entry.halves[0] = next;
        entry.halves[1] = next + half;
        next += 2 * half;
        if (!entry.isInput && hasInput(infos, count, entry.channel)) {
            entry.ring = next;
            next += ringBytes;
        }
    }
    *entries = laid;
    *memory = block;
    return ASE_OK;
}

// Each input listens to the delay line of the output of its number.
void LoopbackDriver::wireDelayLines(Entry* entries, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        for (int32_t j = 0; j < count; ++j) {
            if (entries[i].isInput && !entries[j].isInput &&
                entries[j].channel == entries[i].channel) {
                entries[i].ring = entries[j].ring;
            }
        }
    }
}

ASIOError LoopbackDriver::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                        int32_t bufferSize, ASIOCallbacks* callbacks) {
    tracef("createBuffers %d %d", static_cast<int>(numChannels), static_cast<int>(bufferSize));
    int64_t delay = 0;
    bool timeInfo = false;
    ASIOError result =
        checkRequest(bufferInfos, numChannels, bufferSize, callbacks, &delay, &timeInfo);
    if (result != ASE_OK) {
        return result;
    }
    const uint64_t ringFrames = static_cast<uint64_t>(delay) + static_cast<uint64_t>(bufferSize);
    const size_t ringBytes = alignedBytes(
        static_cast<size_t>(ringFrames * static_cast<uint64_t>(sampleTypeBytes(config_.outType))));
    Entry* entries = nullptr;
    uint8_t* memory = nullptr;
    result = layOut(bufferInfos, numChannels, bufferSize, ringBytes, &entries, &memory);
    if (result != ASE_OK) {
        return result;
    }
    wireDelayLines(entries, numChannels);
    for (int32_t i = 0; i < numChannels; ++i) {
        bufferInfos[i].buffers[0] = entries[i].halves[0];
        bufferInfos[i].buffers[1] = entries[i].halves[1];
    }

    memory_ = memory;
    entries_ = entries;
    entryCount_ = numChannels;
    bufferFrames_ = bufferSize;
    delay_ = static_cast<int32_t>(delay);
    ringFrames_ = ringFrames;
    ringBytes_ = ringBytes;
    switch_.setUp(callbacks, timeInfo);
    created_ = true;
    return ASE_OK;
}

void LoopbackDriver::freeBuffers() {
    std::free(memory_);
    std::free(entries_);
    memory_ = nullptr;
    entries_ = nullptr;
    entryCount_ = 0;
    created_ = false;
    switch_.setUp(nullptr, false);
}

ASIOError LoopbackDriver::outputReady() {
    if (!initialized_) {
        return ASE_InvalidMode;
    }
    if (callingFromSwitch()) {
        outputReadyCalls_.fetch_add(1, std::memory_order_relaxed);
    }
    return config_.outputReady ? ASE_OK : ASE_NotPresent;
}

ASIOError LoopbackDriver::startStreaming() {
    if ((config_.fail & kFailStart) != 0) {
        return kSimulatedFault;
    }
    double fault = 0;
    if (!prepareLoopbackDut(config_.dut, rate_.load(), &dutFilter_, &fault)) {
        char message[kLoopbackTextCapacity];
        std::snprintf(message, sizeof message,
                      "Korvane Loopback: dut frequency %g Hz is not below half the rate", fault);
        fail(message);
        return ASE_InvalidMode;
    }
    for (int32_t i = 0; i < entryCount_; ++i) {
        if (!entries_[i].isInput && entries_[i].ring != nullptr) {
            std::memset(entries_[i].ring, 0, ringBytes_); // a restart begins in silence
        }
        entries_[i].dut = startLoopbackDut(config_.dut, entries_[i].channel);
    }
    switch_.reset();
    positionCalls_.store(0);
    outputReadyCalls_.store(0);
    lateSwitches_.store(0);
    stopRequested_.store(false);

    const Clock::time_point epoch = Clock::now();
    if (config_.startSwitch && config_.switches != 0) {
        runSwitch();
    }
    fineTimer_ = config_.clock == kClockRealtime;
    if (fineTimer_) {
        loopbackFineTimer(true);
    }
    // std::thread reports a failure to create the thread only by throwing.
    try {
        thread_ = std::thread(&LoopbackDriver::streamLoop, this, epoch);
    } catch (const std::system_error&) {
        endStreaming();
        return ASE_HWMalfunction;
    }
    return ASE_OK;
}

void LoopbackDriver::endStreaming() {
    stopRequested_.store(true, std::memory_order_release);
    if (thread_.joinable()) {
        thread_.join();
    }
    if (fineTimer_) {
        loopbackFineTimer(false);
        fineTimer_ = false;
    }
    tracef("stats switches=%lld getSamplePosition=%lld outputReady=%lld late=%lld",
           static_cast<long long>(switch_.count()), static_cast<long long>(positionCalls_.load()),
           static_cast<long long>(outputReadyCalls_.load()),
           static_cast<long long>(lateSwitches_.load()));
}

// ---- Streaming path ----

void LoopbackDriver::streamLoop(Clock::time_point epoch) {
    // Deadlines follow device time, so a lost period also delays the switch after it; they
    // are absolute, so a late switch is followed at once by the ones it held up.
    uint64_t epochFrame = 0;
    double epochRate = rate_.load();
    while (!stopRequested_.load(std::memory_order_acquire)) {
        if (config_.switches >= 0 && switch_.count() >= config_.switches) {
            return;
        }
        if (config_.clock == kClockRealtime) {
            const uint64_t frame = switch_.frame() + (dropsNext() ? bufferFrames_ : 0);
            const double rate = rate_.load();
            if (rate != epochRate) {
                epoch += std::chrono::nanoseconds(static_cast<int64_t>(
                    static_cast<double>(frame - epochFrame) * 1e9 / epochRate));
                epochFrame = frame;
                epochRate = rate;
            }
            const Clock::time_point deadline =
                epoch + std::chrono::nanoseconds(static_cast<int64_t>(
                            static_cast<double>(frame - epochFrame) * 1e9 / rate));
            const Clock::time_point now = sleepUntilOrStopped(deadline, stopRequested_);
            if (stopRequested_.load(std::memory_order_acquire)) {
                return;
            }
            const auto period = std::chrono::nanoseconds(
                static_cast<int64_t>(static_cast<double>(bufferFrames_) * 1e9 / rate));
            if (now - deadline > period / 2) {
                lateSwitches_.fetch_add(1, std::memory_order_relaxed);
            }
        } else {
            std::this_thread::yield();
        }
        runSwitch();
    }
}

void LoopbackDriver::runSwitch() {
    if (dropsNext()) {
        losePeriod();
    }
    const int index = switch_.index();
    fillInputs(index);

    switch_.run(config_.position, reportedRate());

    storeOutputs(index);
    switch_.advance(static_cast<uint64_t>(bufferFrames_));
}

void LoopbackDriver::fillInputs(int index) {
    const uint64_t frames = static_cast<uint64_t>(bufferFrames_);
    const size_t inBytes = static_cast<size_t>(sampleTypeBytes(config_.inType));
    const size_t outBytes = static_cast<size_t>(sampleTypeBytes(config_.outType));
    // What plays at device time t is heard at t + delay; the ring holds delay + one buffer,
    // and a read before the start finds the silence the ring was cleared with.
    const uint64_t readStart =
        switch_.frame() % ringFrames_ + ringFrames_ - static_cast<uint64_t>(delay_);
    for (int32_t i = 0; i < entryCount_; ++i) {
        const Entry& entry = entries_[i];
        if (!entry.isInput) {
            continue;
        }
        uint8_t* half = entry.halves[index];
        if (entry.ring == nullptr) {
            std::memset(half, 0, static_cast<size_t>(frames) * inBytes);
            continue;
        }
        forRingRuns(readStart, frames, ringFrames_, [&](uint64_t at, uint64_t done, uint64_t n) {
            loopbackConvert(entry.ring + at * outBytes, config_.outType, half + done * inBytes,
                            config_.inType, static_cast<size_t>(n));
        });
    }
}

void LoopbackDriver::storeOutputs(int index) {
    const uint64_t frames = static_cast<uint64_t>(bufferFrames_);
    const size_t outBytes = static_cast<size_t>(sampleTypeBytes(config_.outType));
    for (int32_t i = 0; i < entryCount_; ++i) {
        Entry& entry = entries_[i];
        if (entry.isInput || entry.ring == nullptr) {
            continue;
        }
        forRingRuns(
            switch_.frame(), frames, ringFrames_, [&](uint64_t at, uint64_t done, uint64_t n) {
                std::memcpy(entry.ring + at * outBytes, entry.halves[index] + done * outBytes,
                            static_cast<size_t>(n) * outBytes);
                applyLoopbackDut(config_.dut, dutFilter_, &entry.dut, entry.ring + at * outBytes,
                                 config_.outType, static_cast<size_t>(n));
            });
    }
}

// The device loses one buffer period: nothing was played in it, and device time moves on.
void LoopbackDriver::losePeriod() {
    const uint64_t frames = static_cast<uint64_t>(bufferFrames_);
    const size_t outBytes = static_cast<size_t>(sampleTypeBytes(config_.outType));
    for (int32_t i = 0; i < entryCount_; ++i) {
        const Entry& entry = entries_[i];
        if (entry.isInput || entry.ring == nullptr) {
            continue;
        }
        forRingRuns(switch_.frame(), frames, ringFrames_, [&](uint64_t at, uint64_t, uint64_t n) {
            std::memset(entry.ring + at * outBytes, 0, static_cast<size_t>(n) * outBytes);
        });
    }
    switch_.advance(frames);
}

} // namespace

IASIO* createLoopbackDriver(const char* config) {
    return new (std::nothrow) LoopbackDriver(config);
}

const DriverClass kModuleDriverClass = {&kLoopbackClsid, LOOPBACK_NAME, LOOPBACK_CLSID_TEXT,
                                        createLoopbackDriver};
