// A stand-in sound card on a JACK server: playback port k is wired to capture port k with a
// fixed delay, and the ports declare that delay to JACK as a card's driver would, capture
// latency on the capture ports and playback latency on the playback ports, so that what
// goes out comes back exactly capture + playback latency frames later.
//
// The capture side and the playback side are two clients, "NAME_in" (ports capture_K) and
// "NAME_out" (ports playback_K), so that a client looping one to the other makes no cycle
// in JACK's graph: in every cycle the capture side runs first, the client under test next,
// the playback side last, and the loop's delay is the same on every run.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct JackCardOptions {
    std::string server; // empty: JACK's default
    std::string name = "card";
    int channels = 8;
    uint32_t captureLatency = 300;
    uint32_t playbackLatency = 555;
};

class JackCard {
public:
    JackCard() = default;
    ~JackCard();
    JackCard(const JackCard&) = delete;
    JackCard& operator=(const JackCard&) = delete;

    // Opens and activates both clients; false with a reason in `error`.
    bool open(const JackCardOptions& options, std::string* error);
    void close();

    // Patterns that match the ports, in port order, as Korvane JACK's keys take them.
    std::string capturePattern() const;
    std::string playbackPattern() const;
    uint32_t delay() const { return options_.captureLatency + options_.playbackLatency; }

    // Waits up to timeoutMs for the first cycle in which a playback port carried anything
    // but silence.
    bool waitForSignal(int timeoutMs) const;
    // Once, in the first cycle that carries signal, the playback side stalls until the
    // server's frame counter has moved on by `periods` periods: the server sees an xrun.
    void stallOnSignal(uint32_t periods);
    // From the first cycle that carries signal, the playback side holds the graph in its
    // cycle until release() or until the server is gone.
    void holdOnSignal();
    void release();
    // Whether the playback side is holding the graph now.
    bool holding() const { return holding_.load(); }
    bool serverGone() const { return gone_.load(); }
    // Xruns the server has reported since the card opened, and cycles the card itself lost
    // while it heard signal: its playback side missed or repeated a cycle of the capture
    // side's, so that a block never came back (a server may skip a late client's cycle
    // and tell no one).
    uint32_t xruns() const { return xruns_.load(); }
    uint32_t glitches() const { return glitches_.load(); }

private:
    static int captureCycle(jack_nframes_t frames, void* self);
    static int playbackCycle(jack_nframes_t frames, void* self);
    static void declareLatency(jack_latency_callback_mode_t mode, void* self);
    void onSignal();

    JackCardOptions options_;
    jack_client_t* capture_ = nullptr;
    jack_client_t* playback_ = nullptr;
    std::vector<jack_port_t*> capturePorts_;
    std::vector<jack_port_t*> playbackPorts_;

    // One ring per channel, indexed by card frame modulo its size. The capture side reads
    // and clears what it reads, so a frame the playback side never wrote is silence.
    uint32_t ringFrames_ = 0;
    // The two sides run in one process, on threads of their own.
    std::vector<std::unique_ptr<std::atomic<float>[]>> rings_;
    uint64_t captureFrame_ = 0;           // the capture side's own
    std::atomic<uint64_t> cycleStart_{0}; // the current cycle's first card frame
    std::atomic<uint64_t> readUntil_{0};  // frames before this are read and cleared

    std::atomic<bool> signal_{false};
    std::atomic<uint32_t> stallPeriods_{0};
    std::atomic<bool> hold_{false};
    std::atomic<bool> holding_{false};
    std::atomic<bool> released_{false};
    std::atomic<bool> gone_{false};
    std::atomic<uint32_t> xruns_{0};
    std::atomic<uint32_t> glitches_{0};
    uint64_t lastPlayback_ = 0; // the playback side's own: its last cycle's card frame
};

// Polls until a client can open on the server (never starting one); false after timeoutMs.
bool waitForJackServer(const std::string& server, int timeoutMs);

// Removes what a server of this name and its clients left in /dev/shm once it has ended:
// a client's semaphores outlive a server stopped under it.
void removeJackLeftovers(const std::string& server);
