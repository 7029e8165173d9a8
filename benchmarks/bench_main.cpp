#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "bench_files.h"
#include "support/wav_bytes.h"

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
        std::vector<float> samples(size_t(kBenchChannels) * kBenchFrames);
        std::mt19937 random(1);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        for (size_t i = 0; i < samples.size(); ++i) {
            samples[i] = i % 1021 == 0 ? 1.5f : noise(random);
        }
        if (!writeBytes(p, floatWav(kBenchChannels, samples))) {
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
