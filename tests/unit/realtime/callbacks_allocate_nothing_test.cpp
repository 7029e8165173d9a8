// The callbacks run on the driver's thread under a deadline: they must not allocate or free.
// A thread of the test plays the driver's part, and this binary's operator new and delete
// count what is taken or given back on that thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "engine/buffer_setup.h"
#include "engine/buffer_switch.h"
#include "engine/run_state.h"
#include "support/fake_driver.h"
#include "support/run_state_reset.h"

// Sanitizers bring operators of their own, which these would collide with.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KORVANE_OWN_OPERATORS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define KORVANE_OWN_OPERATORS 0
#endif
#endif
#ifndef KORVANE_OWN_OPERATORS
#define KORVANE_OWN_OPERATORS 1
#endif

namespace {

thread_local bool playingDriver = false;
std::atomic<long> allocations{0};
std::atomic<long> releases{0};

[[maybe_unused]] void* take(std::size_t size) noexcept {
    if (playingDriver) {
        allocations.fetch_add(1);
    }
    return std::malloc(size == 0 ? 1 : size);
}

[[maybe_unused]] void giveBack(void* block) noexcept {
    if (playingDriver && block != nullptr) {
        releases.fetch_add(1);
    }
    std::free(block);
}

} // namespace

#if KORVANE_OWN_OPERATORS

void* operator new(std::size_t size) {
    void* block = take(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return take(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return take(size);
}
void operator delete(void* block) noexcept {
    giveBack(block);
}
void operator delete[](void* block) noexcept {
    giveBack(block);
}
void operator delete(void* block, std::size_t) noexcept {
    giveBack(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    giveBack(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    giveBack(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    giveBack(block);
}

#endif

namespace {

constexpr uint32_t kFrames = 32;
constexpr uint32_t kBuffers = 6;

class CallbacksAllocateNothing : public ::testing::Test {
protected:
    void SetUp() override {
        resetRunState();
        bufferFrames = kFrames;
        ASSERT_EQ(createDuplexBuffers(&duplexState, kFrames, 3, 1, 4, 1), ASE_OK);
        bytesPerSample = nativeSampleBytes();
        playChannels = 4;
        playFramesLeft = kFrames * kBuffers;
        const size_t bytes = static_cast<size_t>(bytesPerSample) * playFramesLeft;
        playBuffers = new uint8_t*[playChannels];
        playCursors = new uint8_t*[playChannels];
        for (uint32_t c = 0; c < playChannels; ++c) {
            playBuffers[c] = new uint8_t[bytes];
            std::memset(playBuffers[c], static_cast<int>(c + 1), bytes);
            playCursors[c] = playBuffers[c];
        }
        recordChannels = 3;
        recordFrames = playFramesLeft;
        ASSERT_TRUE(allocateRecordStore());
        hostCallbacks.bufferSwitch = bufferSwitch;
        hostCallbacks.bufferSwitchTimeInfo = bufferSwitchTimeInfo;
        hostCallbacks.asioMessage = asioMessage;
        hostCallbacks.sampleRateDidChange = sampleRateDidChange;
        duplexState.streaming.store(true);
    }
    void TearDown() override { resetRunState(); }

    FakeDriver driver;
    FakeDriverScope scope{driver};
};

// Everything a driver may call while streaming, through the material and past its end,
// through both switch callbacks, with and without a valid position, with a lost block, a
// half index that names no half, every message and a rate change.
void actAsTheDriver() {
    playingDriver = true;
    ASIOTime time;
    std::memset(&time, 0, sizeof time);
    for (uint32_t n = 0; n < kBuffers + 4; ++n) {
        const int32_t index = static_cast<int32_t>(n & 1);
        // At switch 3 the device has lost a block.
        time.timeInfo.samplePosition.lo = n * kFrames + (n >= 3 ? kFrames : 0);
        if (n % 3 == 2) {
            hostCallbacks.bufferSwitch(index, ASIOFalse);
        } else {
            // Switch 4 carries no valid position.
            time.timeInfo.flags =
                n == 4 ? kSystemTimeValid : kSystemTimeValid | kSamplePositionValid;
            hostCallbacks.bufferSwitchTimeInfo(&time, index, ASIOTrue);
        }
    }
    hostCallbacks.bufferSwitchTimeInfo(&time, 2, ASIOTrue);
    hostCallbacks.bufferSwitchTimeInfo(nullptr, 0, ASIOTrue);
    double opt = 0;
    for (int32_t selector = -1; selector <= 12; ++selector) {
        for (int32_t value = 0; value <= 12; ++value) {
            hostCallbacks.asioMessage(selector, value, nullptr, &opt);
        }
    }
    hostCallbacks.sampleRateDidChange(48000.0);
    playingDriver = false;
}

TEST_F(CallbacksAllocateNothing, OnTheDriversThreadFromFirstSwitchToLastNotice) {
    if (!KORVANE_OWN_OPERATORS) {
        GTEST_SKIP() << "the sanitizer owns operator new and delete";
    }
    allocations = 0;
    releases = 0;
    std::thread driverThread(actAsTheDriver);
    driverThread.join();

    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(releases.load(), 0);
    // The calls did their work: the material went through and the stop was raised.
    EXPECT_TRUE(duplexState.stopped.load());
    EXPECT_EQ(playCursors[0] - playBuffers[0],
              static_cast<ptrdiff_t>(bytesPerSample) * recordFrames);
    EXPECT_EQ(recordCursors[2] - recordBuffers[2],
              static_cast<ptrdiff_t>(bytesPerSample) * recordFrames);
    EXPECT_GT(driver.outputReadyCalls.load(), 0);
    EXPECT_GT(driver.samplePositionCalls.load(), 0);

    // And the count would have seen an allocation on that thread.
    std::thread counted([] {
        playingDriver = true;
        int* volatile block = new int(1);
        delete block;
        playingDriver = false;
    });
    counted.join();
    EXPECT_EQ(allocations.load(), 1);
    EXPECT_EQ(releases.load(), 1);
}

} // namespace
