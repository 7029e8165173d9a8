// korvane and korvane-drivers run as children through Korvane JACK, looped through the
// stand-in card on the JACK server that scripts/test starts and names in KORVANE_TEST_JACK,
// and on private servers of the tests' own where the server itself fails.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_support.h"
#include "jack_card.h"
#include "support/child_process.h"

namespace {

constexpr const char* kJackName = "Korvane JACK";
std::atomic<int> cardCount{0};

// A name no other run on this machine uses; short, since a channel name shows a port's.
std::string uniqueName(const char* what) {
    return what + std::to_string(getpid()) + "_" + std::to_string(cardCount++);
}

// jackd on the dummy back end under a private name, ended by its process id.
class PrivateServer {
public:
    PrivateServer() : name(uniqueName("korvane-test-")) {
        ChildOptions options;
        options.environment.push_back({"JACK_NO_AUDIO_RESERVATION", "1"});
        started = jackd.start(
            {"jackd", "--no-realtime", "-n", name, "-d", "dummy", "-r", "48000", "-p", "256"},
            options);
    }
    ~PrivateServer() { end(); }
    bool ready() const { return started && waitForJackServer(name, 20000); }
    // SIGTERM, as a user stopping the server.
    void end() {
        if (started) {
            jackd.terminate();
            jackd.wait();
            removeJackLeftovers(name);
            started = false;
        }
    }

    const std::string name;

private:
    ChildProcess jackd;
    bool started = false;
};

// Noise, then silence enough for the card's loop, so that the recording holds it all.
std::vector<float> noise(size_t samples) {
    std::vector<float> out(samples + 2048);
    uint32_t state = 12345;
    for (size_t i = 0; i < samples; ++i) {
        state = state * 1664525u + 1013904223u;
        out[i] = static_cast<float>(static_cast<int32_t>(state)) / 2147483648.0f * 0.7f;
    }
    return out;
}

int latencySum(const std::string& out) {
    int input = -1, output = -1;
    const size_t at = out.find("ASIO driver latency:");
    if (at == std::string::npos ||
        std::sscanf(out.c_str() + at, "ASIO driver latency: input: %d, output: %d", &input,
                    &output) != 2) {
        return -1;
    }
    return input + output;
}

class JackRuns : public ::testing::Test {
protected:
    void SetUp() override {
        const char* shared = std::getenv("KORVANE_TEST_JACK");
        if (shared == nullptr || shared[0] == '\0') {
            GTEST_SKIP() << "no JACK server: scripts/test starts one and names it in "
                            "KORVANE_TEST_JACK";
        }
        server = shared;
        openCard(server);
        playPath = dir.file("play.wav");
        recordPath = dir.file("rec.wav");
        ASSERT_TRUE(writeBytes(playPath, floatWav(2, noise(2 * 12000), 48000)));
    }

    void openCard(const std::string& server) {
        card.close();
        JackCardOptions options;
        options.server = server;
        options.name = uniqueName("card");
        std::string error;
        ASSERT_TRUE(card.open(options, &error)) << "server " << server << ": " << error;
        config = "server=" + server + ",capture=" + card.capturePattern() +
                 ",playback=" + card.playbackPattern();
    }

    ChildOptions environment(const std::string& extra) const {
        ChildOptions options;
        options.environment.push_back({"KORVANE_JACK", config + extra});
        options.unset.push_back("KORVANE_REGISTRY");
        return options;
    }

    // korvane on the card: buffer, first output, recorded inputs, first input.
    ChildResult korvane(const std::string& buffer, const std::string& firstOutput,
                        const std::string& inputs, const std::string& firstInput,
                        const std::string& extra = "") const {
        return runChild({programPath("korvane"), kJackName, buffer, playPath, firstOutput,
                         recordPath, inputs, firstInput},
                        environment(extra));
    }

    bool exact(int width, int delay, const std::string& firstOutput,
               const std::string& firstInput) const {
        return runChild({programPath("korvane-wav"), "check", playPath, recordPath, "--width",
                         std::to_string(width), "--exact", "--delay", std::to_string(delay),
                         "--play-start", firstOutput, "--rec-start", firstInput})
                   .exitCode == 0;
    }

    // A run held by the card from its first block, `fault` done to it then, and its end
    // awaited for at most a minute.
    ChildResult faultedRun(const std::function<void()>& fault) {
        ChildProcess child;
        EXPECT_TRUE(child.start(
            {programPath("korvane"), kJackName, "256", playPath, "1", recordPath, "2", "1"},
            environment("")));
        EXPECT_TRUE(card.waitForSignal(30000)) << child.outputSoFar();
        fault();
        std::packaged_task<ChildResult()> waiting([&child] { return child.wait(); });
        std::future<ChildResult> result = waiting.get_future();
        std::thread waiter(std::move(waiting));
        if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "korvane hangs";
            child.terminate();
        }
        waiter.join();
        return result.get();
    }

    std::string server;
    ScratchDir dir;
    JackCard card;
    std::string config;
    std::string playPath;
    std::string recordPath;
};

// Run k of a series: its width, and channel runs that start past 1.
struct Series {
    std::string type, firstOutput, firstInput;
    explicit Series(int k)
        : type(std::to_string(16 + k % 3)), firstOutput(std::to_string(2 + k % 5)),
          firstInput(std::to_string(3 + k % 4)) {}
};

// A busy machine may miss one of the server's periods: the server then reports an xrun and
// korvane must end with 16, or the stand-in card loses a cycle of its own. Such a run is
// done again. Every other run must end with 0 and be exact, and 20 of them must come.
TEST_F(JackRuns, TheRecordingIsThePlaybackDelayedByTheReportedLatenciesOnEveryRun) {
    int disturbed = 0;
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        const Series s(run);
        const uint32_t xruns = card.xruns();
        const uint32_t glitches = card.glitches();
        const ChildResult result =
            korvane("256", s.firstOutput, "3", s.firstInput, ",type=" + s.type);
        if ((result.exitCode == 16 && card.xruns() != xruns) || card.glitches() != glitches) {
            ASSERT_LT(++disturbed, 60) << "the server reports xruns all the time";
            --run;
            continue;
        }
        ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
        ASSERT_EQ(latencySum(result.out), static_cast<int>(card.delay())) << result.out;
        EXPECT_TRUE(exact(std::stoi(s.type) - 14, static_cast<int>(card.delay()), s.firstOutput,
                          s.firstInput));
    }
    std::printf("%d runs done again after xruns or a lost cycle of the card\n", disturbed);
}

TEST_F(JackRuns, RefusalsEndWithTheirCodesAndTheDriverSaysWhy) {
    EXPECT_EQ(korvane("128", "1", "1", "1").exitCode, 7);
    ASSERT_TRUE(writeBytes(playPath, floatWav(1, noise(1000), 44100)));
    EXPECT_EQ(korvane("256", "1", "1", "1").exitCode, 8);

    const std::string none = uniqueName("korvane-none-");
    EXPECT_EQ(korvane("256", "1", "1", "1", ",server=" + none).exitCode, 5);
    const ChildResult drivers =
        runChild({programPath("korvane-drivers"), kJackName}, environment(",server=" + none));
    EXPECT_NE(drivers.out.find("Korvane JACK: no JACK server '" + none + "' is running"),
              std::string::npos)
        << drivers.out;

    // Channels are named after the ports they connect to, in the card's order.
    const ChildResult described =
        runChild({programPath("korvane-drivers"), kJackName}, environment(",inputs=9"));
    const std::string in = card.capturePattern().substr(0, card.capturePattern().size() - 2);
    EXPECT_NE(described.out.find("Channels:       9 inputs, 8 outputs"), std::string::npos);
    EXPECT_NE(described.out.find("  1  ASIOSTInt32LSB     streamable      \"" + in + "1\""),
              std::string::npos)
        << described.out;
    EXPECT_NE(described.out.find("  9  ASIOSTInt32LSB     streamable      \"in_9\""),
              std::string::npos);
}

// The card's own stall is an xrun elsewhere on the server: korvane's blocks are in step or
// skipped by exactly the frames that passed, and the line says which.
TEST_F(JackRuns, AnXrunEndsInTheWarningAndCode16WithTheRecordingWritten) {
    card.stallOnSignal(3);
    const ChildResult result = korvane("256", "1", "2", "1");
    EXPECT_EQ(result.exitCode, 16) << result.out;
    EXPECT_NE(result.out.find("Warning: "), std::string::npos);
    EXPECT_NE(result.err.find("korvane: the driver reported "), std::string::npos) << result.err;
    EXPECT_EQ(readWav(recordPath).dataSize, 2u * 4 * 13056);
}

// A server gone mid-run ends the run at once, not at the end of the file, with what was
// recorded and the driver's word on why.
TEST_F(JackRuns, AServerStoppedMidRunEndsTheRunWithTheRecordingSoFar) {
    card.close();
    PrivateServer server;
    ASSERT_TRUE(server.ready());
    openCard(server.name);
    card.holdOnSignal();
    const ChildResult result = faultedRun([&] {
        while (!card.holding()) {
            std::this_thread::yield();
        }
        server.end();
    });
    EXPECT_EQ(result.exitCode, 16) << result.out << result.err;
    EXPECT_NE(result.out.find("Play & Record Interrupted!"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("korvane: the driver asked for a reset: Korvane JACK: the JACK "
                              "server '" +
                              server.name + "' stopped"),
              std::string::npos)
        << result.err;
    const uint32_t frames = readWav(recordPath).dataSize / (2 * 4);
    EXPECT_GT(frames, 0u);
    EXPECT_LT(frames, 13056u);
    card.close();
}

} // namespace
