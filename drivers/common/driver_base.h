// What both drivers do alike around their own work: the configuration text they read at
// init, the error text a failure leaves, the trace of the host's calls, the states that
// start, stop and disposeBuffers check, and the answers that only name the driver or say
// that there is nothing more to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "driver_config.h"
#include "driver_server.h"

// The operations that each driver answers itself, declared in its class; DriverBase answers
// the others.
#define DRIVER_DEVICE_OPERATIONS                                                                   \
    ASIOBool init(void* sysHandle) override;                                                       \
    ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;         \
    ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;                \
    ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,            \
                            int32_t* granularity) override;                                        \
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;                                   \
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;                                  \
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;                                   \
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;                \
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;                                      \
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,  \
                            ASIOCallbacks* callbacks) override;                                    \
    ASIOError outputReady() override;

class DriverBase : public DriverObject {
public:
    void getDriverName(char* name) override;
    int32_t getDriverVersion() override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
    ASIOError setClockSource(int32_t reference) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(int32_t selector, void* opt) override;

protected:
    // `config`, when not null, is read at init instead of the environment variable.
    DriverBase(const DriverClass& driverClass, const char* variable, const char* clockName,
               const char* config);
    // The last Release deletes the driver through this class, once streaming has ended.
    virtual ~DriverBase();

    // Whether init has succeeded; until then the operations answer ASE_InvalidMode.
    virtual bool ready() const = 0;
    // The file the trace goes to; empty: none.
    virtual const char* tracePath() const = 0;
    // Whether the caller is inside the host's switch, where waiting for the stream's end
    // would wait for itself.
    virtual bool callingFromSwitch() const = 0;
    // The driver's own part of start, once the buffers exist and nothing streams.
    virtual ASIOError startStreaming() = 0;
    // Returns once no switch runs and none will come; called while streaming.
    virtual void endStreaming() = 0;
    // Releases what createBuffers made, and clears created_.
    virtual void freeBuffers() = 0;

    void trace(const char* line) const;
    void tracef(const char* format, ...) const;
    // Traces the call, printf-style, and tells whether init has succeeded.
    bool readyFor(const char* format, ...) const;

    // Reads the configuration with `parse` into `config`, and traces the init. On a fault
    // only the trace is taken, so that the failed init is seen, and the fault is the error.
    template <typename Config>
    bool readConfig(bool (*parse)(const char*, Config*, char*, size_t), Config& config,
                    size_t messageCapacity) {
        Config parsed;
        char message[kDriverMessageCapacity];
        const size_t capacity = messageCapacity < sizeof message ? messageCapacity : sizeof message;
        if (!parse(configText(), &parsed, message, capacity)) {
            std::memcpy(config.trace, parsed.trace, sizeof config.trace);
            trace("init");
            fail(message);
            return false;
        }
        config = parsed;
        trace("init");
        return true;
    }

    // Keeps the message for getErrorMessage and writes it to standard error: hosts need not
    // show a driver's message, the developer running them still sees it.
    void fail(const char* message);
    // Keeps the text for getErrorMessage only; empty: no error.
    void setErrorText(const char* text);

    bool created_ = false; // createBuffers has succeeded; read-only while streaming
    bool running_ = false; // between a successful start and the end of streaming

private:
    void destroy() override;
    const char* configText() const;
    void endIfStreaming();

    const DriverClass& class_;
    const char* variable_;
    const char* clockName_;
    bool hasOverride_;
    std::string override_;
    char errorMessage_[kDriverTextCapacity] = "";
};
