#include "jack_card.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Periods larger than this (JACK's largest is 8192) find the ring too short.
constexpr uint32_t kLongestPeriod = 8192;

jack_client_t* openClient(const std::string& name, const std::string& server,
                          jack_status_t* status) {
    if (server.empty()) {
        return jack_client_open(name.c_str(), JackNoStartServer, status);
    }
    return jack_client_open(name.c_str(),
                            static_cast<jack_options_t>(JackNoStartServer | JackServerName), status,
                            server.c_str());
}

void quiet(const char*) {}

} // namespace

JackCard::~JackCard() {
    close();
}

bool JackCard::open(const JackCardOptions& options, std::string* error) {
    options_ = options;
    const uint32_t delay = options.captureLatency + options.playbackLatency;
    ringFrames_ = delay + 2 * kLongestPeriod;
    rings_.clear();
    for (int k = 0; k < options.channels; ++k) {
        rings_.emplace_back(new std::atomic<float>[ringFrames_]());
    }
    jack_status_t status{};
    capture_ = openClient(options.name + "_in", options.server, &status);
    playback_ =
        capture_ != nullptr ? openClient(options.name + "_out", options.server, &status) : nullptr;
    if (playback_ == nullptr) {
        *error = "cannot open the card's clients (status " + std::to_string(status) + ")";
        close();
        return false;
    }
    for (int k = 1; k <= options.channels; ++k) {
        // Marked as a card's ports are, so that the physical-port defaults find them too.
        const unsigned long flags = JackPortIsPhysical | JackPortIsTerminal;
        capturePorts_.push_back(
            jack_port_register(capture_, ("capture_" + std::to_string(k)).c_str(),
                               JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput | flags, 0));
        playbackPorts_.push_back(
            jack_port_register(playback_, ("playback_" + std::to_string(k)).c_str(),
                               JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput | flags, 0));
        if (capturePorts_.back() == nullptr || playbackPorts_.back() == nullptr) {
            *error = "cannot register the card's ports";
            close();
            return false;
        }
    }
    auto gone = [](jack_status_t, const char*, void* self) {
        static_cast<JackCard*>(self)->gone_.store(true);
    };
    jack_on_info_shutdown(capture_, gone, this);
    jack_on_info_shutdown(playback_, gone, this);
    auto xrun = [](void* self) {
        static_cast<JackCard*>(self)->xruns_.fetch_add(1);
        return 0;
    };
    if (jack_set_process_callback(capture_, captureCycle, this) != 0 ||
        jack_set_xrun_callback(capture_, xrun, this) != 0 ||
        jack_set_process_callback(playback_, playbackCycle, this) != 0 ||
        jack_set_latency_callback(capture_, declareLatency, this) != 0 ||
        jack_set_latency_callback(playback_, declareLatency, this) != 0 ||
        jack_activate(capture_) != 0 || jack_activate(playback_) != 0) {
        *error = "cannot activate the card's clients";
        close();
        return false;
    }
    // Declared now as well, so that a client reading them right after open finds them.
    declareLatency(JackCaptureLatency, this);
    declareLatency(JackPlaybackLatency, this);
    jack_recompute_total_latencies(capture_);
    return true;
}

void JackCard::close() {
    release();
    for (jack_client_t* client : {playback_, capture_}) {
        if (client != nullptr) {
            jack_client_close(client);
        }
    }
    playback_ = nullptr;
    capture_ = nullptr;
    capturePorts_.clear();
    playbackPorts_.clear();
}

std::string JackCard::capturePattern() const {
    return options_.name + "_in:capture_.*";
}

std::string JackCard::playbackPattern() const {
    return options_.name + "_out:playback_.*";
}

bool JackCard::waitForSignal(int timeoutMs) const {
    const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!signal_.load()) {
        if (Clock::now() >= limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void JackCard::stallOnSignal(uint32_t periods) {
    stallPeriods_.store(periods);
}

void JackCard::holdOnSignal() {
    released_.store(false);
    hold_.store(true);
}

void JackCard::release() {
    released_.store(true);
}

void JackCard::declareLatency(jack_latency_callback_mode_t mode, void* self) {
    JackCard* card = static_cast<JackCard*>(self);
    if (mode == JackCaptureLatency) {
        jack_latency_range_t range{card->options_.captureLatency, card->options_.captureLatency};
        for (jack_port_t* port : card->capturePorts_) {
            jack_port_set_latency_range(port, JackCaptureLatency, &range);
        }
    } else {
        jack_latency_range_t range{card->options_.playbackLatency, card->options_.playbackLatency};
        for (jack_port_t* port : card->playbackPorts_) {
            jack_port_set_latency_range(port, JackPlaybackLatency, &range);
        }
    }
}

int JackCard::captureCycle(jack_nframes_t frames, void* self) {
    JackCard* card = static_cast<JackCard*>(self);
    const uint64_t start = card->captureFrame_;
    card->cycleStart_.store(start, std::memory_order_release);
    for (size_t k = 0; k < card->capturePorts_.size(); ++k) {
        float* out = static_cast<float*>(jack_port_get_buffer(card->capturePorts_[k], frames));
        std::atomic<float>* ring = card->rings_[k].get();
        for (jack_nframes_t i = 0; i < frames; ++i) {
            out[i] =
                ring[(start + i) % card->ringFrames_].exchange(0.0f, std::memory_order_relaxed);
        }
    }
    card->captureFrame_ = start + frames;
    card->readUntil_.store(start + frames, std::memory_order_release);
    return 0;
}

int JackCard::playbackCycle(jack_nframes_t frames, void* self) {
    JackCard* card = static_cast<JackCard*>(self);
    const uint64_t at = card->cycleStart_.load(std::memory_order_acquire) + card->delay();
    const uint64_t readUntil = card->readUntil_.load(std::memory_order_acquire);
    bool heard = false;
    for (size_t k = 0; k < card->playbackPorts_.size(); ++k) {
        const float* in =
            static_cast<const float*>(jack_port_get_buffer(card->playbackPorts_[k], frames));
        std::atomic<float>* ring = card->rings_[k].get();
        for (jack_nframes_t i = 0; i < frames; ++i) {
            heard = heard || in[i] != 0.0f;
            // A cycle out of step (before the client under test joined the graph) must not
            // write where the capture side has already read.
            if (at + i >= readUntil) {
                ring[(at + i) % card->ringFrames_].store(in[i], std::memory_order_relaxed);
            }
        }
    }
    if (heard && card->signal_.load() && at != card->lastPlayback_ + frames) {
        card->glitches_.fetch_add(1);
    }
    card->lastPlayback_ = at;
    if (heard && !card->signal_.exchange(true)) {
        card->onSignal();
    }
    return 0;
}

// In the playback side's cycle, where stalling holds up the whole graph.
void JackCard::onSignal() {
    const uint32_t periods = stallPeriods_.exchange(0);
    if (periods != 0) {
        const jack_nframes_t period = jack_get_buffer_size(playback_);
        const jack_nframes_t from = jack_last_frame_time(playback_);
        while (jack_last_frame_time(playback_) - from < periods * period && !gone_.load()) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    if (hold_.exchange(false)) {
        holding_.store(true);
        while (!released_.load() && !gone_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        holding_.store(false);
    }
}

bool waitForJackServer(const std::string& server, int timeoutMs) {
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        jack_status_t status{};
        jack_client_t* probe = openClient("korvane_wait", server, &status);
        if (probe != nullptr) {
            jack_client_close(probe);
            return true;
        }
        if (Clock::now() >= limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void removeJackLeftovers(const std::string& server) {
    const std::string semaphores = "jack_sem." + std::to_string(getuid()) + "_" + server + "_";
    const std::string memory = "jack_" + server + "_";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(semaphores, 0) == 0 || name.rfind(memory, 0) == 0) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}
