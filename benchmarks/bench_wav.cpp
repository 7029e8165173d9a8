// The loader and the writer on an 8-channel file of 32 MiB in the page cache, each beside
// what the stream alone costs: the same bytes read or written in 1 MiB blocks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "bench_files.h"
#include "engine/run_state.h"
#include "wav/play_loader.h"
#include "wav/record_writer.h"
#include "wav/wav_format.h"

namespace {

constexpr size_t kBlockBytes = size_t(1) << 20;
constexpr int64_t kDataBytes = int64_t(kBenchChannels) * kBenchFrames * 4;

void setBytes(benchmark::State& state) {
    state.SetBytesProcessed(int64_t(state.iterations()) * kDataBytes);
    state.SetItemsProcessed(int64_t(state.iterations()) * kBenchChannels * kBenchFrames);
}

bool probe(const std::string& path) {
    uint32_t tag = 0;
    uint32_t bits = 0;
    return probeWavFile(path.c_str(), &tag, &playSampleRate, &bits, &playChannels,
                        &playFramesLeft) == kWavOk;
}

void BM_Loader(benchmark::State& state) {
    const std::string& path = benchPlayFile();
    bytesPerSample = int32_t(state.range(0));
    bufferFrames = 256;
    for (auto _ : state) {
        if (!probe(path) || loadPlayFile(path.c_str()) != kWavOk) {
            state.SkipWithError("load failed");
            break;
        }
        state.PauseTiming();
        releasePlayStore();
        state.ResumeTiming();
    }
    setBytes(state);
}
BENCHMARK(BM_Loader)->ArgName("width")->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_ReadBlocks(benchmark::State& state) {
    const std::string& path = benchPlayFile();
    std::vector<uint8_t> block(kBlockBytes);
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            state.SkipWithError("open failed");
            break;
        }
        while (std::fread(block.data(), 1, block.size(), file) == block.size()) {
        }
        std::fclose(file);
        benchmark::DoNotOptimize(block.data());
    }
    setBytes(state);
}
BENCHMARK(BM_ReadBlocks)->Unit(benchmark::kMillisecond);

void BM_Writer(benchmark::State& state) {
    const std::string path = scratchPath("record.wav");
    bytesPerSample = int32_t(state.range(0));
    playSampleRate = 48000;
    recordChannels = kBenchChannels;
    recordFrames = kBenchFrames;
    if (!allocateRecordStore()) {
        state.SkipWithError("no memory");
        return;
    }
    std::mt19937 random(2);
    for (uint32_t c = 0; c < recordChannels; ++c) {
        for (size_t i = 0; i < size_t(recordFrames) * size_t(bytesPerSample); ++i) {
            recordBuffers[c][i] = uint8_t(random());
        }
    }
    for (auto _ : state) {
        if (writeRecordFile(path.c_str()) != kRecordWritten) {
            state.SkipWithError("write failed");
            break;
        }
        state.PauseTiming();
        std::remove(path.c_str());
        state.ResumeTiming();
    }
    releaseRecordStore();
    setBytes(state);
}
BENCHMARK(BM_Writer)->ArgName("width")->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_WriteBlocks(benchmark::State& state) {
    const std::string path = scratchPath("blocks.wav");
    std::vector<uint8_t> block(kBlockBytes, 0x5A);
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            state.SkipWithError("create failed");
            break;
        }
        bool ok = std::fwrite(block.data(), 1, 44, file) == 44;
        for (int64_t left = kDataBytes; ok && left > 0; left -= int64_t(block.size())) {
            ok = std::fwrite(block.data(), 1, block.size(), file) == block.size();
        }
        if (std::fclose(file) != 0 || !ok) {
            state.SkipWithError("write failed");
            break;
        }
        state.PauseTiming();
        std::remove(path.c_str());
        state.ResumeTiming();
    }
    setBytes(state);
}
BENCHMARK(BM_WriteBlocks)->Unit(benchmark::kMillisecond);

} // namespace
