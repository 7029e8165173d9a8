// Korvane JACK's process cycle with 64 inputs and 64 outputs of 32-bit samples, korvane's own
// buffer switch inside it, beside the bare work it does: each JACK buffer converted to its
// half and copied to its store, and back for the outputs, one call each.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_switch_rig.h"
#include "engine/buffer_switch.h"
#include "jack_samples.h"
#include "jack_stream.h"

namespace {

constexpr uint32_t kFrames = 256;

// JACK's buffers of one cycle: noise on the captures, the playbacks written.
struct JackBuffers {
    std::vector<float> samples = std::vector<float>(2 * kSide * kFrames);
    float* buffers[2 * kSide] = {};

    JackBuffers() {
        uint32_t state = 1;
        for (float& x : samples) {
            state = state * 1664525u + 1013904223u;
            x = float(int32_t(state)) / 2147483648.0f;
        }
        for (int32_t i = 0; i < 2 * kSide; ++i) {
            buffers[i] = samples.data() + size_t(i) * kFrames;
        }
    }
};

void BM_JackCycle(benchmark::State& state) {
    SwitchRig rig(kFrames);
    JackBuffers jack;
    StreamChannel channels[2 * kSide];
    for (int32_t i = 0; i < 2 * kSide; ++i) {
        const ASIOBufferInfo& info = duplexState.bufferInfos[i];
        channels[i] = {
            info.isInput != ASIOFalse,
            {static_cast<uint8_t*>(info.buffers[0]), static_cast<uint8_t*>(info.buffers[1])}};
    }
    ASIOCallbacks host = {bufferSwitch, sampleRateDidChange, asioMessage, bufferSwitchTimeInfo};
    JackStream stream;
    stream.setUp(channels, 2 * kSide, kFrames, 48000, ASIOSTInt32LSB, &host, true);
    stream.start();
    stream.arm();
    duplexState.stopped.store(false);
    uint32_t frameTime = 0;
    stream.cycle(jack.buffers, kFrames, frameTime); // the arming cycle
    for (auto _ : state) {
        frameTime += kFrames;
        stream.cycle(jack.buffers, kFrames, frameTime);
        rig.next();
    }
    stream.stop();
    rig.setBytes(state);
}
BENCHMARK(BM_JackCycle);

void BM_JackConvertAndCopy(benchmark::State& state) {
    SwitchRig rig(kFrames);
    JackBuffers jack;
    const JackSamples samples = jackSamples(ASIOSTInt32LSB);
    int32_t index = 0;
    for (auto _ : state) {
        rig.copyBlocks(
            index,
            [&](int32_t i, uint8_t* half) { samples.fromFloat(jack.buffers[i], half, kFrames); },
            [&](int32_t i, uint8_t* half) { samples.toFloat(half, jack.buffers[i], kFrames); });
        benchmark::ClobberMemory();
        index ^= 1;
        rig.next();
    }
    rig.setBytes(state);
}
BENCHMARK(BM_JackConvertAndCopy);

} // namespace
