// JACK's process cycle runs on the server's deadline: the stream's cycle, the host's switch
// inside it included, must take no memory and no lock. This binary's malloc family and lock
// calls count what the thread playing JACK's process thread does.
#include <gtest/gtest.h>

#include <thread>

#include "jack_stream.h"
#include "support/posix/thread_watch.h"

namespace {

constexpr uint32_t kFrames = 64;
int32_t halves[2][2][kFrames];

ASIOTime* onSwitch(ASIOTime*, int32_t index, ASIOBool) {
    halves[1][index][0] = halves[0][index][0];
    return nullptr;
}
int32_t onMessage(int32_t selector, int32_t value, void*, double*) {
    return selector == kAsioSelectorSupported && value == kAsioSupportsTimeInfo;
}
ASIOCallbacks host = {nullptr, nullptr, onMessage, onSwitch};

} // namespace

TEST(JackCycleTakesNothing, NoMemoryAndNoLockInJacksProcessCycle) {
    if (!KORVANE_OWN_INTERCEPTORS) {
        GTEST_SKIP() << "the sanitizer owns malloc and the lock calls";
    }
    JackStream stream;
    const StreamChannel channels[] = {
        {true,
         {reinterpret_cast<uint8_t*>(halves[0][0]), reinterpret_cast<uint8_t*>(halves[0][1])}},
        {false,
         {reinterpret_cast<uint8_t*>(halves[1][0]), reinterpret_cast<uint8_t*>(halves[1][1])}}};
    for (const ASIOSampleType type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB}) {
        stream.setUp(channels, 2, kFrames, 48000, type, &host, true);
        ASSERT_TRUE(stream.start());
        stream.arm();
        allocations = 0;
        locks = 0;
        onlyMarked = true;
        watching = true;
        std::thread jack([&stream] {
            markedThread = true;
            float capture[kFrames] = {0.5f};
            float playback[kFrames] = {};
            float* buffers[] = {capture, playback};
            // In step, then a clock that ran two periods on: one skip.
            for (uint32_t k = 0; k < 64; ++k) {
                stream.cycle(buffers, kFrames, (k < 32 ? k : k + 2) * kFrames);
            }
        });
        jack.join();
        watching = false;
        onlyMarked = false;
        stream.stop();
        EXPECT_EQ(allocations, 0) << type;
        EXPECT_EQ(locks, 0) << type;
        EXPECT_EQ(stream.stats().switches, 63);
        EXPECT_EQ(stream.stats().skips, 1);
    }
}
