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

#include "driver_base.h"
#include "driver_host.h"
#include "host/sample_types.h"
#include "jack_config.h"
#include "jack_stream.h"
#include "platform/text.h"

const GUID kJackDriverClsid = {
    0x8470D717, 0xB887, 0x4063, {0xB2, 0x36, 0xDA, 0x6D, 0x5E, 0xB9, 0x89, 0x14}};

namespace {

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

class JackDriver final : public DriverBase {
public:
    explicit JackDriver(const char* config);
    ~JackDriver();

    DRIVER_DEVICE_OPERATIONS
    void getErrorMessage(char* string) override;

private:
    bool ready() const override { return client_ != nullptr; }
    const char* tracePath() const override { return config_.trace; }
    bool callingFromSwitch() const override { return stream_.hostSwitch().callingFromSwitch(); }
    ASIOError startStreaming() override;
    void endStreaming() override;
    void freeBuffers() override;
    bool openClient();
    const char* serverName() const;
    int32_t channelCount(bool isInput) const;
    // The JACK port channel `channel` connects to, or null.
    const std::string* connectedPort(bool isInput, int32_t channel) const;
    int32_t latency(bool isInput) const;
    bool connectPorts();

    // Real-time path.
    int process(jack_nframes_t frames);

    JackConfig config_;
    jack_client_t* client_ = nullptr;
    std::vector<std::string> captures_; // the ports input k connects to, k from 0
    std::vector<std::string> playbacks_;

    // Set up by createBuffers, read-only while streaming.
    std::vector<Entry> entries_;
    std::vector<float*> buffers_; // the process cycle's JACK buffers, one per entry
    uint8_t* memory_ = nullptr;
    JackStream stream_;
};

JackDriver::JackDriver(const char* config)
    : DriverBase(kModuleDriverClass, "KORVANE_JACK", "JACK server", config) {}

JackDriver::~JackDriver() {
    freeBuffers();
    if (client_ != nullptr) {
        jack_client_close(client_);
    }
}

// What ended JACK's part of a run is told when the host asks, from the stream's own state:
// nothing is written from JACK's threads.
void JackDriver::getErrorMessage(char* string) {
    char text[256]; // cut to the interface's length when kept
    if (stream_.serverGone()) {
        std::snprintf(text, sizeof text, "Korvane JACK: the JACK server '%s' stopped",
                      serverName());
        setErrorText(text);
    } else if (stream_.periodChanged()) {
        std::snprintf(text, sizeof text,
                      "Korvane JACK: the JACK server '%s' changed its period to %u frames",
                      serverName(), static_cast<unsigned>(stream_.newPeriod()));
        setErrorText(text);
    }
    DriverBase::getErrorMessage(string);
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
    char message[kJackPatternCapacity + 128]; // cut to the interface's text by fail()
    if (!readConfig(parseJackConfig, config_, sizeof message)) {
        return ASIOFalse;
    }
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
    const bool callbacks =
        jack_set_process_callback(
            client_,
            [](jack_nframes_t frames, void* self) {
                return static_cast<JackDriver*>(self)->process(frames);
            },
            this) == 0 &&
        jack_set_xrun_callback(client_, JackStream::xrunCallback, &stream_) == 0 &&
        jack_set_buffer_size_callback(client_, JackStream::periodCallback, &stream_) == 0 &&
        jack_set_sample_rate_callback(client_, JackStream::rateCallback, &stream_) == 0;
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
    setErrorText("");
    return ASIOTrue;
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
    if (!readyFor("getChannels")) {
        return ASE_InvalidMode;
    }
    return answer({numInputChannels, numOutputChannels}, {channelCount(true), channelCount(false)});
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
    if (!readyFor("getLatencies")) {
        return ASE_InvalidMode;
    }
    return answer({inputLatency, outputLatency}, {latency(true), latency(false)});
}

ASIOError JackDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                    int32_t* granularity) {
    if (!readyFor("getBufferSize")) {
        return ASE_InvalidMode;
    }
    // The server's period is the only length a cycle has.
    const int32_t period = static_cast<int32_t>(jack_get_buffer_size(client_));
    return answer({minSize, maxSize, preferredSize, granularity}, {period, period, period, 0});
}

ASIOError JackDriver::canSampleRate(ASIOSampleRate sampleRate) {
    if (!readyFor("canSampleRate %.15g", sampleRate)) {
        return ASE_InvalidMode;
    }
    return sampleRate == static_cast<double>(jack_get_sample_rate(client_)) ? ASE_OK : ASE_NoClock;
}

ASIOError JackDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    if (!readyFor("getSampleRate")) {
        return ASE_InvalidMode;
    }
    return answer({sampleRate}, {static_cast<double>(jack_get_sample_rate(client_))});
}

ASIOError JackDriver::setSampleRate(ASIOSampleRate sampleRate) {
    tracef("setSampleRate %.15g", sampleRate);
    // The server's rate is the one there is; setting it to itself is all a client can do.
    return canSampleRate(sampleRate);
}

ASIOError JackDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    if (client_ == nullptr) {
        return ASE_InvalidMode;
    }
    if (sPos == nullptr || tStamp == nullptr) {
        return ASE_InvalidParameter;
    }
    stream_.hostSwitch().latest(sPos, tStamp);
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
    if (!readyFor("getChannelInfo %s %d", info->isInput ? "in" : "out",
                  static_cast<int>(info->channel))) {
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
    tracef("createBuffers %d %d", static_cast<int>(numChannels), static_cast<int>(bufferSize));
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
            tracef("connect %s failed", theirs->c_str());
            return false;
        }
    }
    return true;
}

ASIOError JackDriver::startStreaming() {
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
    return ASE_OK;
}

void JackDriver::endStreaming() {
    stream_.stop();
    // Deactivating also disconnects the driver's ports. A server that is gone answers at
    // once.
    jack_deactivate(client_);
    const JackStream::Stats stats = stream_.stats();
    tracef("stats switches=%lld clockSwitches=%lld skips=%lld firstSkip=%lld xruns=%lld",
           static_cast<long long>(stats.switches), static_cast<long long>(stats.clockSwitches),
           static_cast<long long>(stats.skips), static_cast<long long>(stats.firstSkip),
           static_cast<long long>(stats.xruns));
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

const DriverClass kModuleDriverClass = {&kJackDriverClsid, JACK_DRIVER_NAME, JACK_DRIVER_CLSID_TEXT,
                                        createJackDriver};
