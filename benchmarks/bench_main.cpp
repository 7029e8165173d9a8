#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "bench_files.h"
#include "wav/wav_format.h"
#include "wav/wav_io.h"

namespace {
std::string scratchFolder;
}

std::string scratchPath(const char* name) {
    if (scratchFolder.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/korvane-bench-XXXXXX";
        std::vector<char> text(pattern.begin(), pattern.end());
        text.push_back('\0');
        if (mkdtemp(text.data()) == nullptr) {
            std::perror("korvane_bench: scratch folder");
            std::exit(1);
        }
        scratchFolder = text.data();
    }
    return scratchFolder + "/" + name;
}

void removeScratch() {
    if (!scratchFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(scratchFolder, ignored);
        scratchFolder.clear();
    }
}

const std::string& benchPlayFile() {
    static const std::string path = [] {
        const std::string p = scratchPath("play.wav");
        const uint32_t dataBytes = kBenchChannels * kBenchFrames * 4;
        uint8_t header[kWavHeaderBytes];
        std::memcpy(header, "RIFF", 4);
        storeLe32(header + 4, dataBytes + 36);
        std::memcpy(header + 8, "WAVEfmt ", 8);
        storeLe32(header + 16, 16);
        storeLe16(header + 20, 3);
        storeLe16(header + 22, kBenchChannels);
        storeLe32(header + 24, 48000);
        storeLe32(header + 28, 48000 * kBenchChannels * 4);
        storeLe16(header + 32, kBenchChannels * 4);
        storeLe16(header + 34, 32);
        std::memcpy(header + 36, "data", 4);
        storeLe32(header + 40, dataBytes);
        std::vector<float> samples(size_t(kBenchChannels) * kBenchFrames);
        std::mt19937 random(1);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = i % 1021 == 0 ? 1.5f : noise(random);
        }
        FILE* file = std::fopen(p.c_str(), "wb");
        if (file == nullptr || std::fwrite(header, 1, sizeof header, file) != sizeof header ||
            std::fwrite(samples.data(), 4, samples.size(), file) != samples.size() ||
            std::fclose(file) != 0) {
            std::perror("korvane_bench: playback file");
            std::exit(1);
        }
        return p;
    }();
    return path;
}

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeScratch();
    return 0;
}
