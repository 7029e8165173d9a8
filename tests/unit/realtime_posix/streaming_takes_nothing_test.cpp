// Whole runs in this process through the loopback driver, whose thread calls the engine's
// callbacks as a sound card's would. This binary's malloc family and pthread lock calls
// count what any thread but the main one does while a run lasts: the driver's streaming
// thread, the engine's callbacks on it included, must take no memory and no lock.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/run.h"
#include "engine/run_state.h"
#include "support/child_process.h"
#include "support/posix/thread_watch.h"
#include "support/registry_fixture.h"
#include "support/run_state_reset.h"
#include "support/wav_bytes.h"

namespace {

bool writePlayFile(const std::string& path, uint16_t channels, uint32_t frames) {
    std::vector<float> samples(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames * channels; ++i) {
        samples[i] = static_cast<float>(static_cast<int>(i % 200) - 100) / 128.0f;
    }
    return writeBytes(path, floatWav(channels, samples));
}

struct Counts {
    int code;
    long allocations;
    long locks;
};

// One run of korvane's own entry through the loopback configured by `loopback`.
Counts runThroughTheLoopback(const std::string& loopback, const std::vector<std::string>& args) {
    setenv("KORVANE_LOOPBACK", loopback.c_str(), 1);
    std::vector<std::string> words{"korvane", "Korvane Loopback"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(&w[0]);
    }
    argv.push_back(nullptr);
    resetRunState();
    allocations = 0;
    locks = 0;
    mainThread = pthread_self();
    watching = true;
    const int code = runPlayRecord(static_cast<int>(words.size()), argv.data());
    watching = false;
    std::fflush(stdout);
    return {code, allocations.load(), locks.load()};
}

TEST(StreamingTakesNothing, NoMemoryAndNoLockOnTheDriversThread) {
    if (!KORVANE_OWN_INTERCEPTORS) {
        GTEST_SKIP() << "the sanitizer owns malloc and the lock calls";
    }
    // The registry the build writes beside the tests lists the loopback.
    setenv("KORVANE_REGISTRY", (executableDirectory() + "/korvane.reg").c_str(), 1);
    char dirTemplate[] = "/tmp/korvane-realtime-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string play = dir + "/play.wav";
    const std::string record = dir + "/rec.wav";
    ASSERT_TRUE(writePlayFile(play, 4, 48000 / 4));

    struct Case {
        const char* what;
        std::string loopback;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"fast clock, time info", "clock=fast", {"64", play, "1", record, "6", "1"}},
        {"fast clock, plain switch, lost period, 16 bits",
         "clock=fast,timeinfo=0,drop=5,type=16",
         {"32", play, "3", record, "8", "1"}},
        {"real-time clock, 24 bits, no position",
         "clock=realtime,type=17,position=0",
         {"128", play, "1", record, "4", "1"}},
        {"real-time clock, first switch in start",
         "clock=realtime,startswitch=1",
         {"256", play, "2", record, "0", "1"}},
        {"fast clock, a polynomial device under test",
         "clock=fast,dut=poly:0.25:0.125",
         {"64", play, "1", record, "4", "1"}},
        {"fast clock, a peaking filter under test",
         "clock=fast,dut=peak:1000:1:6",
         {"128", play, "1", record, "4", "1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Counts counts = runThroughTheLoopback(c.loopback, c.args);
        EXPECT_TRUE(counts.code == 0 || counts.code == 16) << "exit code " << counts.code;
        EXPECT_EQ(counts.allocations, 0);
        EXPECT_EQ(counts.locks, 0);
    }
    unsetenv("KORVANE_LOOPBACK");
    unsetenv("KORVANE_REGISTRY");
    std::remove(play.c_str());
    std::remove(record.c_str());
    rmdir(dir.c_str());
}

// The counts see what other threads do: a thread that allocates and locks is counted.
TEST(StreamingTakesNothing, CountsSeeAnotherThreadsAllocationAndLock) {
    if (!KORVANE_OWN_INTERCEPTORS) {
        GTEST_SKIP() << "the sanitizer owns malloc and the lock calls";
    }
    mainThread = pthread_self();
    allocations = 0;
    locks = 0;
    watching = true;
    pthread_t other;
    ASSERT_EQ(pthread_create(
                  &other, nullptr,
                  [](void*) -> void* {
                      void* volatile block = std::malloc(16);
                      std::free(block);
                      pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
                      pthread_mutex_lock(&mutex);
                      pthread_mutex_unlock(&mutex);
                      return nullptr;
                  },
                  nullptr),
              0);
    pthread_join(other, nullptr);
    watching = false;
    EXPECT_GE(allocations.load(), 1);
    EXPECT_GE(locks.load(), 1);
}

} // namespace
