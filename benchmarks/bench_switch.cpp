// The buffer switch with 64 inputs and 64 outputs of 32-bit samples, beside the bare
// copies it makes: one memcpy per channel block, between the same halves and stores.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench_switch_rig.h"
#include "engine/buffer_switch.h"

namespace {

void BM_BufferSwitch(benchmark::State& state) {
    SwitchRig rig(uint32_t(state.range(0)));
    ASIOTime time;
    std::memset(&time, 0, sizeof time);
    time.timeInfo.flags = kSystemTimeValid | kSamplePositionValid;
    duplexState.stopped.store(false);
    int32_t index = 0;
    for (auto _ : state) {
        bufferSwitchTimeInfo(&time, index, ASIOTrue);
        time.timeInfo.samplePosition.lo += bufferFrames;
        index ^= 1;
        rig.next();
    }
    rig.setBytes(state);
}
BENCHMARK(BM_BufferSwitch)->ArgName("frames")->Arg(32)->Arg(256)->Arg(2048);

void BM_SwitchMemcpy(benchmark::State& state) {
    SwitchRig rig(uint32_t(state.range(0)));
    int32_t index = 0;
    for (auto _ : state) {
        rig.copyBlocks(
            index, [](int32_t, uint8_t*) {}, [](int32_t, uint8_t*) {});
        benchmark::ClobberMemory();
        index ^= 1;
        rig.next();
    }
    rig.setBytes(state);
}
BENCHMARK(BM_SwitchMemcpy)->ArgName("frames")->Arg(32)->Arg(256)->Arg(2048);

} // namespace
