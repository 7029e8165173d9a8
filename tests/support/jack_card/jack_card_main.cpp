// korvane-jack-card: the tests' stand-in sound card as a program, for scripts and by hand.
//   korvane-jack-card [--server NAME] [--name NAME] [--channels N]
//                     [--capture-latency FRAMES] [--playback-latency FRAMES]
//       opens the card, prints "ready CAPTURE-PATTERN PLAYBACK-PATTERN DELAY" and runs until
//       SIGINT or SIGTERM, or until the server is gone
//   korvane-jack-card --wait [--server NAME] [--timeout SECONDS]
//       waits until a client can open on the server (never starting one)
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <unistd.h>

#include "jack_card.h"

namespace {

volatile sig_atomic_t cardOpen = 0;
volatile sig_atomic_t stopRequested = 0;

bool number(const char* text, long min, long max, long* out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < min || value > max) {
        return false;
    }
    *out = value;
    return true;
}

const char kUsage[] = "usage: korvane-jack-card [--server NAME] [--name NAME] [--channels N] "
                      "[--capture-latency FRAMES] [--playback-latency FRAMES]\n"
                      "       korvane-jack-card --wait [--server NAME] [--timeout SECONDS]\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int help() {
    std::fputs(
        "korvane-jack-card: a stand-in sound card on a JACK server, for trying korvane and\n"
        "Korvane JACK without a real one. Each playback_K port is looped to capture_K, with\n"
        "the latencies it declares. It prints \"ready CAPTURE-PATTERN PLAYBACK-PATTERN\n"
        "DELAY\" and runs until SIGINT or SIGTERM, or until the server is gone. With --wait\n"
        "it only waits until a client can open on the server.\n\n",
        stdout);
    std::fputs(kUsage, stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    JackCardOptions options;
    bool wait = false;
    long timeout = 10;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        long value = 0;
        if (option == "--help" || option == "-h") {
            return help();
        }
        if (option == "--wait") {
            wait = true;
            continue;
        }
        if (i + 1 >= argc) {
            return usage();
        }
        const char* text = argv[++i];
        if (option == "--server") {
            options.server = text;
        } else if (option == "--name") {
            options.name = text;
        } else if (option == "--channels" && number(text, 1, 256, &value)) {
            options.channels = static_cast<int>(value);
        } else if (option == "--capture-latency" && number(text, 0, 1 << 20, &value)) {
            options.captureLatency = static_cast<uint32_t>(value);
        } else if (option == "--playback-latency" && number(text, 0, 1 << 20, &value)) {
            options.playbackLatency = static_cast<uint32_t>(value);
        } else if (option == "--timeout" && number(text, 1, 3600, &value)) {
            timeout = value;
        } else {
            return usage();
        }
    }
    if (wait) {
        return waitForJackServer(options.server, static_cast<int>(timeout * 1000)) ? 0 : 1;
    }

    // SIGINT and SIGTERM close the card; before it is open they end the program at once,
    // so that a server that never answers cannot keep it.
    struct sigaction ending {};
    ending.sa_handler = [](int) {
        if (!cardOpen) {
            _exit(1);
        }
        stopRequested = 1;
    };
    sigaction(SIGINT, &ending, nullptr);
    sigaction(SIGTERM, &ending, nullptr);

    JackCard card;
    std::string error;
    if (!card.open(options, &error)) {
        std::fprintf(stderr, "korvane-jack-card: %s\n", error.c_str());
        return 1;
    }
    cardOpen = 1;
    std::printf("ready %s %s %u\n", card.capturePattern().c_str(), card.playbackPattern().c_str(),
                card.delay());
    std::fflush(stdout);
    const timespec tick = {0, 20 * 1000 * 1000};
    while (!stopRequested && !card.serverGone()) {
        nanosleep(&tick, nullptr);
    }
    card.close();
    return 0;
}
