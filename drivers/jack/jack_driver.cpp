#include "jack_driver.h"

#include <jack/jack.h>
#include <regex.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "driver_host.h"
#include "driver_server.h"
#include "driver_trace.h"
#include "host/sample_types.h"
#include "host/text.h"
#include "jack_config.h"
#include "jack_stream.h"

const GUID kJackDriverClsid = {
    0x8470D717, 0xB887, 0x4063, {0xB2, 0x36, 0xDA, 0x6D, 0x5E, 0xB9, 0x89, 0x14}};

namespace {

constexpr int32_t kDriverVersion = 1;

// The host's switch runs inside the very cycle whose capture buffers it reads and whose
// playback buffers it fills, so the driver adds nothing to JACK's own latencies.
constexpr int32_t kAddedLatency = 0;

// One created buffer: its channel, as the host counts from 0, and its JACK port.
struct Entry {
    bool isInput;
    int32_t channel;
    jack_port_t* port;
};

// The ports of one direction that `pattern` matches in JACK's order, or the physical ones.
std::vector<std::string> matchPorts(jack_client_t* client, const char* pattern, bool capture) {
    const unsigned long flags = (capture ? JackPortIsOutput : JackPortIsInput) |
                                (pattern[0] == '\0' ? JackPortIsPhysical : 0);
    std::vector<std::string> names;
    const char** ports = jack_get_ports(client, pattern[0] == '\0' ? nullptr : pattern,
                                        JACK_DEFAULT_AUDIO_TYPE, flags);
    for (const char** p = ports; p != nullptr && *p != nullptr; ++p) {
        names.push_back(*p);
    }
    jack_free(ports);
    return names;
}

// JACK reads its patterns as extended regular expressions.
bool validPattern(const char* pattern) {
    if (pattern[0] == '\0') {
        return true;
    }
    regex_t compiled;
    if (regcomp(&compiled, pattern, REG_EXTENDED | REG_NOSUB) != 0) {
        return false;
    }
    regfree(&compiled);
    return true;
}

class JackDriver final : public DriverObject {
public:
    explicit JackDriver(const char* config);
    ~JackDriver();

    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    int32_t getDriverVersion() override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
    ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
    ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
    ASIOError setClockSource(int32_t reference) override;
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(int32_t selector, void* opt) override;
    ASIOError outputReady() override;

private:
    void destroy() override;
    void trace(const char* line) const { driverTrace(config_.trace, line); }
    void fail(const char* message);
    bool openClient();
    const char* serverName() const;
    int32_t channelCount(bool isInput) const;
    // The JACK port channel `channel` connects to, or null.
    const std::string* connectedPort(bool isInput, int32_t channel) const;
    int32_t latency(bool isInput) const;
    bool connectPorts();
    void endStreaming();
    void freeBuffers();

    // Real-time path.
    int process(jack_nframes_t frames);

    bool hasOverride_;
    std::string override_;
    JackConfig config_;
    jack_client_t* client_ = nullptr;
    char errorMessage_[kJackTextCapacity] = "";
    std::vector<std::string> captures_; // the ports input k connects to, k from 0
    std::vector<std::string> playbacks_;

    // Set up by createBuffers, read-only while streaming.
    bool created_ = false;
    std::vector<Entry> entries_;
    std::vector<float*> buffers_; // the process cycle's JACK buffers, one per entry
    uint8_t* memory_ = nullptr;
    JackStream stream_;
    bool running_ = false;
};

JackDriver::JackDriver(const char* config)
    : DriverObject(kJackDriverClsid), hasOverride_(config != nullptr),
      override_(config != nullptr ? config : "") {}

JackDriver::~JackDriver() {
    freeBuffers();
    if (client_ != nullptr) {
        jack_client_close(client_);
    }
}

void JackDriver::destroy() {
    trace("Release");
    if (running_) {
        endStreaming();
    }
    delete this;
}

void JackDriver::fail(const char* message) {
    copyTruncated(errorMessage_, kJackTextCapacity, message);
    // Hosts need not show a driver's message; the developer running them still sees it.
    std::fprintf(stderr, "%s\n", message);
}

const char* JackDriver::serverName() const {
    if (config_.server[0] != '\0') {
        return config_.server;
    }
    const char* fromEnvironment = std::getenv("JACK_DEFAULT_SERVER");
    return fromEnvironment != nullptr && fromEnvironment[0] != '\0' ? fromEnvironment : "default";
}

bool JackDriver::openClient() {
    jack_status_t status{};
    const bool named = config_.server[0] != '\0';
    const jack_options_t options =
        static_cast<jack_options_t>(JackNoStartServer | (named ? JackServerName : 0));
    client_ = named ? jack_client_open(config_.client, options, &status, config_.server)
                    : jack_client_open(config_.client, options, &status);
    if (client_ != nullptr) {
        return true;
    }
    char message[256]; // cut to the interface's text by fail()
    const char* server = serverName();
    if ((status & JackServerFailed) != 0) {
        std::snprintf(message, sizeof message, "Korvane JACK: no JACK server '%s' is running",
                      server);
    } else if ((status & JackVersionError) != 0) {
        std::snprintf(message, sizeof message,
                      "Korvane JACK: the JACK server '%s' speaks another protocol version", server);
    } else if ((status & JackShmFailure) != 0) {
        std::snprintf(message, sizeof message,
                      "Korvane JACK: cannot reach the shared memory of the JACK server '%s'",
                      server);
    } else {
        std::snprintf(message, sizeof message,
                      "Korvane JACK: the JACK server '%s' refused the client '%s' (status 0x%x)",
                      server, config_.client, static_cast<unsigned>(status));
    }
    fail(message);
    return false;
}

ASIOBool JackDriver::init(void* sysHandle) {
    (void)sysHandle;
    if (client_ != nullptr) {
        trace("init");
        return ASIOTrue;
    }
    JackConfig parsed;
    char message[kJackPatternCapacity + 128]; // cut to the interface's text by fail()
    const char* text = hasOverride_ ? override_.c_str() : std::getenv("KORVANE_JACK");
    const bool ok = parseJackConfig(text, &parsed, message, sizeof message);
    if (!ok) {
        // Only the trace survives a bad configuration, so that the failed init is seen.
        std::memcpy(config_.trace, parsed.trace, sizeof config_.trace);
        trace("init");
        fail(message);
        return ASIOFalse;
    }
    config_ = parsed;
    trace("init");
    for (const char* key : {"capture", "playback"}) {
        const char* pattern = key[0] == 'c' ? config_.capture : config_.playback;
        if (!validPattern(pattern)) {
            std::snprintf(message, sizeof message,
                          "KORVANE_JACK: bad value for %s: '%s' is not a port-name pattern", key,
                          pattern);
            fail(message);
            return ASIOFalse;
        }
    }
    if (!openClient()) {
        return ASIOFalse;
    }
    const bool callbacks = jack_set_process_callback(
                               client_,
                               [](jack_nframes_t frames, void* self) {
                                   return static_cast<JackDriver*>(self)->process(frames);
                               },
                               this) == 0 &&
                           jack_set_xrun_callback(
                               client_,
                               [](void* self) {
                                   static_cast<JackDriver*>(self)->stream_.noteXrun();
                                   return 0;
                               },
                               this) == 0 &&
                           jack_set_buffer_size_callback(
                               client_,
                               [](jack_nframes_t frames, void* self) {
                                   static_cast<JackDriver*>(self)->stream_.notePeriod(frames);
                                   return 0;
                               },
                               this) == 0 &&
                           jack_set_sample_rate_callback(
                               client_,
                               [](jack_nframes_t rate, void* self) {
                                   static_cast<JackDriver*>(self)->stream_.noteRate(rate);
                                   return 0;
                               },
                               this) == 0;
    if (!callbacks) {
        fail("Korvane JACK: the JACK client takes no callbacks");
        jack_client_close(client_);
        client_ = nullptr;
        return ASIOFalse;
    }
    // Called as a signal handler would be: it only sets a flag and wakes a thread.
    jack_on_info_shutdown(
        client_,
        [](jack_status_t, const char*, void* self) {
            static_cast<JackDriver*>(self)->stream_.noteServerGone();
        },
        this);
    captures_ = matchPorts(client_, config_.capture, true);
    playbacks_ = matchPorts(client_, config_.playback, false);
    errorMessage_[0] = '\0';
    return ASIOTrue;
}

void JackDriver::getDriverName(char* name) {
    trace("getDriverName");
    if (name != nullptr) {
        std::snprintf(name, 32, "%s", JACK_DRIVER_NAME);
    }
}

int32_t JackDriver::getDriverVersion() {
    trace("getDriverVersion");
    return kDriverVersion;
}

void JackDriver::getErrorMessage(char* string) {
    trace("getErrorMessage");
    if (string != nullptr) {
        copyTruncated(string, kJackTextCapacity, errorMessage_);
    }
}

int32_t JackDriver::channelCount(bool isInput) const {
    const int32_t configured = isInput ? config_.inputs : config_.outputs;
    const size_t matched = (isInput ? captures_ : playbacks_).size();
    return configured >= 0 ? configured : static_cast<int32_t>(matched);
}

const std::string* JackDriver::connectedPort(bool isInput, int32_t channel) const {
    const std::vector<std::string>& ports = isInput ? captures_ : playbacks_;
    if (!config_.connect || channel < 0 || static_cast<size_t>(channel) >= ports.size()) {
        return nullptr;
    }
    return &ports[static_cast<size_t>(channel)];
}

ASIOError JackDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    trace("getChannels");
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    if (numInputChannels == nullptr || numOutputChannels == nullptr) {
        return ASE_InvalidParameter;
    }
    *numInputChannels = channelCount(true);
    *numOutputChannels = channelCount(false);
    return ASE_OK;
}

// The largest latency JACK gives for the ports the channels connect to: the created ones
// once buffers exist, else every channel.
int32_t JackDriver::latency(bool isInput) const {
    std::vector<int32_t> channels;
    if (created_) {
        for (const Entry& entry : entries_) {
            if (entry.isInput == isInput) {
                channels.push_back(entry.channel);
            }
        }
    } else {
        for (int32_t k = 0; k < channelCount(isInput); ++k) {
            channels.push_back(k);
        }
    }
    jack_nframes_t most = 0;
    for (int32_t channel : channels) {
        const std::string* name = connectedPort(isInput, channel);
        jack_port_t* port = name != nullptr ? jack_port_by_name(client_, name->c_str()) : nullptr;
        if (port != nullptr) {
            jack_latency_range_t range{};
            jack_port_get_latency_range(port, isInput ? JackCaptureLatency : JackPlaybackLatency,
                                        &range);
            most = range.max > most ? range.max : most;
        }
    }
    return static_cast<int32_t>(most) + kAddedLatency;
}

ASIOError JackDriver::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    trace("getLatencies");
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    if (inputLatency == nullptr || outputLatency == nullptr) {
        return ASE_InvalidParameter;
    }
    *inputLatency = latency(true);
    *outputLatency = latency(false);
    return ASE_OK;
}

ASIOError JackDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                    int32_t* granularity) {
    trace("getBufferSize");
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr ||
        granularity == nullptr) {
        return ASE_InvalidParameter;
    }
    // The server's period is the only length a cycle has.
    const int32_t period = static_cast<int32_t>(jack_get_buffer_size(client_));
    *minSize = period;
    *maxSize = period;
    *preferredSize = period;
    *granularity = 0;
    return ASE_OK;
}

ASIOError JackDriver::canSampleRate(ASIOSampleRate sampleRate) {
    driverTracef(config_.trace, "canSampleRate %.15g", sampleRate);
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    return sampleRate == static_cast<double>(jack_get_sample_rate(client_)) ? ASE_OK : ASE_NoClock;
}

ASIOError JackDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    trace("getSampleRate");
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    if (sampleRate == nullptr) {
        return ASE_InvalidParameter;
    }
    *sampleRate = static_cast<double>(jack_get_sample_rate(client_));
    return ASE_OK;
}

ASIOError JackDriver::setSampleRate(ASIOSampleRate sampleRate) {
    driverTracef(config_.trace, "setSampleRate %.15g", sampleRate);
    // The server's rate is the one there is; setting it to itself is all a client can do.
    return canSampleRate(sampleRate);
}

ASIOError JackDriver::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
    trace("getClockSources");
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    return answerOneClockSource(clocks, numSources, "JACK server");
}

ASIOError JackDriver::setClockSource(int32_t reference) {
    driverTracef(config_.trace, "setClockSource %d", static_cast<int>(reference));
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    return reference == 0 ? ASE_OK : ASE_InvalidParameter;
}

ASIOError JackDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    if (sPos == nullptr || tStamp == nullptr) {
        return ASE_InvalidParameter;
    }
    uint64_t position = 0;
    uint64_t time = 0;
    stream_.position(&position, &time);
    sPos->hi = static_cast<uint32_t>(position >> 32);
    sPos->lo = static_cast<uint32_t>(position);
    tStamp->hi = static_cast<uint32_t>(time >> 32);
    tStamp->lo = static_cast<uint32_t>(time);
    return ASE_OK;
}

void jackOwnPortName(bool isInput, int32_t channel, char* name, size_t capacity) {
    std::snprintf(name, capacity, "%s_%d", isInput ? "in" : "out", static_cast<int>(channel) + 1);
}

ASIOError JackDriver::getChannelInfo(ASIOChannelInfo* info) {
    if (info == nullptr) {
        trace("getChannelInfo");
        return ASE_InvalidParameter;
    }
    driverTracef(config_.trace, "getChannelInfo %s %d", info->isInput ? "in" : "out",
                 static_cast<int>(info->channel));
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    const bool isInput = info->isInput != ASIOFalse;
    if (info->channel < 0 || info->channel >= channelCount(isInput)) {
        return ASE_InvalidParameter;
    }
    info->isActive = ASIOFalse;
    for (const Entry& entry : entries_) {
        if (entry.isInput == isInput && entry.channel == info->channel) {
            info->isActive = ASIOTrue;
        }
    }
    info->channelGroup = 0;
    info->type = config_.type;
    const std::string* port = connectedPort(isInput, info->channel);
    if (port != nullptr) {
        jackChannelName(port->c_str(), info->name, sizeof info->name);
    } else {
        jackOwnPortName(isInput, info->channel, info->name, sizeof info->name);
    }
    return ASE_OK;
}

ASIOError JackDriver::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                    int32_t bufferSize, ASIOCallbacks* callbacks) {
    driverTracef(config_.trace, "createBuffers %d %d", static_cast<int>(numChannels),
                 static_cast<int>(bufferSize));
    if (client_ == nullptr || created_) {
        return ASE_InvalidMode;
    }
    if (bufferInfos == nullptr || callbacks == nullptr || numChannels <= 0 ||
        bufferSize != static_cast<int32_t>(jack_get_buffer_size(client_))) {
        return ASE_InvalidParameter;
    }
    const ASIOError request =
        checkBufferRequest(bufferInfos, numChannels, channelCount(true), channelCount(false));
    if (request != ASE_OK) {
        return request;
    }
    const bool timeInfo = hostWantsTimeInfo(callbacks);
    if (timeInfo ? callbacks->bufferSwitchTimeInfo == nullptr
                 : callbacks->bufferSwitch == nullptr) {
        return ASE_InvalidParameter;
    }

    const size_t half = alignedBytes(static_cast<size_t>(sampleTypeBytes(config_.type)) *
                                     static_cast<size_t>(bufferSize));
    memory_ = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(numChannels), 2 * half));
    if (memory_ == nullptr) {
        return ASE_NoMemory;
    }
    std::vector<StreamChannel> channels;
    for (int32_t i = 0; i < numChannels; ++i) {
        const bool isInput = bufferInfos[i].isInput != ASIOFalse;
        char name[32];
        jackOwnPortName(isInput, bufferInfos[i].channelNum, name, sizeof name);
        jack_port_t* port = jack_port_register(client_, name, JACK_DEFAULT_AUDIO_TYPE,
                                               isInput ? JackPortIsInput : JackPortIsOutput, 0);
        if (port == nullptr) {
            freeBuffers();
            return ASE_HWMalfunction;
        }
        entries_.push_back(Entry{isInput, bufferInfos[i].channelNum, port});
        uint8_t* halves = memory_ + static_cast<size_t>(i) * 2 * half;
        channels.push_back(StreamChannel{isInput, {halves, halves + half}});
        bufferInfos[i].buffers[0] = halves;
        bufferInfos[i].buffers[1] = halves + half;
    }
    buffers_.assign(entries_.size(), nullptr);
    stream_.setUp(channels.data(), numChannels, static_cast<uint32_t>(bufferSize),
                  static_cast<double>(jack_get_sample_rate(client_)), config_.type, callbacks,
                  timeInfo);
    created_ = true;
    return ASE_OK;
}

void JackDriver::freeBuffers() {
    for (const Entry& entry : entries_) {
        jack_port_unregister(client_, entry.port);
    }
    entries_.clear();
    buffers_.clear();
    std::free(memory_);
    memory_ = nullptr;
    created_ = false;
}

ASIOError JackDriver::disposeBuffers() {
    trace("disposeBuffers");
    if (client_ == nullptr || !created_ || stream_.callingFromSwitch()) {
        return ASE_InvalidMode;
    }
    if (running_) {
        endStreaming();
    }
    freeBuffers();
    return ASE_OK;
}

ASIOError JackDriver::controlPanel() {
    trace("controlPanel");
    return client_ != nullptr ? ASE_NotPresent : ASE_InvalidMode;
}

ASIOError JackDriver::future(int32_t selector, void* opt) {
    (void)opt;
    driverTracef(config_.trace, "future %d", static_cast<int>(selector));
    return client_ != nullptr ? ASE_NotPresent : ASE_InvalidMode;
}

ASIOError JackDriver::outputReady() {
    // Outputs go to JACK when the switch returns, in the same cycle, whatever the host says.
    return client_ != nullptr ? ASE_NotPresent : ASE_InvalidMode;
}

bool JackDriver::connectPorts() {
    if (!config_.connect) {
        return true;
    }
    for (const Entry& entry : entries_) {
        const std::string* theirs = connectedPort(entry.isInput, entry.channel);
        if (theirs == nullptr) {
            continue;
        }
        const char* ours = jack_port_name(entry.port);
        const int result = entry.isInput ? jack_connect(client_, theirs->c_str(), ours)
                                         : jack_connect(client_, ours, theirs->c_str());
        if (result != 0 && result != EEXIST) {
            driverTracef(config_.trace, "connect %s failed", theirs->c_str());
            return false;
        }
    }
    return true;
}

ASIOError JackDriver::start() {
    trace("start");
    if (client_ == nullptr || !created_ || running_ || stream_.callingFromSwitch()) {
        return ASE_InvalidMode;
    }
    if (!stream_.start()) {
        return ASE_HWMalfunction;
    }
    if (jack_activate(client_) != 0) {
        stream_.stop();
        return ASE_HWMalfunction;
    }
    if (!connectPorts()) {
        stream_.stop();
        jack_deactivate(client_);
        return ASE_HWMalfunction;
    }
    stream_.arm();
    running_ = true;
    return ASE_OK;
}

ASIOError JackDriver::stop() {
    trace("stop");
    if (client_ == nullptr || stream_.callingFromSwitch()) {
        return ASE_InvalidMode; // from inside a switch it would wait for itself
    }
    if (running_) {
        endStreaming();
    }
    return ASE_OK;
}

void JackDriver::endStreaming() {
    stream_.stop();
    // Deactivating also disconnects the driver's ports. A server that is gone answers at
    // once.
    jack_deactivate(client_);
    running_ = false;
    const JackStream::Stats stats = stream_.stats();
    driverTracef(config_.trace,
                 "stats switches=%lld clockSwitches=%lld skips=%lld firstSkip=%lld xruns=%lld",
                 static_cast<long long>(stats.switches),
                 static_cast<long long>(stats.clockSwitches), static_cast<long long>(stats.skips),
                 static_cast<long long>(stats.firstSkip), static_cast<long long>(stats.xruns));
}

// ---- Real-time path: no allocation, no lock, no output ----

int JackDriver::process(jack_nframes_t frames) {
    for (size_t i = 0; i < entries_.size(); ++i) {
        buffers_[i] = static_cast<float*>(jack_port_get_buffer(entries_[i].port, frames));
    }
    stream_.cycle(buffers_.data(), frames, jack_last_frame_time(client_));
    return 0;
}

} // namespace

void jackChannelName(const char* port, char* name, size_t capacity) {
    const size_t length = std::strlen(port);
    if (length < capacity || capacity < 4) {
        copyTruncated(name, capacity, port);
        return;
    }
    const size_t kept = capacity - 4;
    std::snprintf(name, capacity, "...%s", port + length - kept);
}

IASIO* createJackDriver(const char* config) {
    return new (std::nothrow) JackDriver(config);
}

const DriverClass& moduleDriverClass() {
    static const DriverClass jack = {&kJackDriverClsid, JACK_DRIVER_NAME, JACK_DRIVER_CLSID_TEXT,
                                     [] { return createJackDriver(); }};
    return jack;
}
