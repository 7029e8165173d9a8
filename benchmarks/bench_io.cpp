// korvane-bench-io: one timed phase per process, for scripts/bench to alternate with the
// anchors it compares against. Prints the phase's wall and CPU time in seconds on stdout.
//   load FILE WIDTH          the playback loader at a native width
//   read FILE                the file read in 1 MiB blocks: what the loader cannot beat
//   readfill FILE WIDTH      the same, each block's share of a store of that width written
//                            once: the least any loader into memory has to do
//   write FILE OUT WIDTH     the recording writer, its store loaded from FILE beforehand
//   writeblocks OUT BYTES    BYTES written in 1 MiB blocks: what the writer cannot beat
//   irffts PLAYED RECORDED   the transforms korvane-wav ir makes of every channel, alone, on
//                            the files' samples (the sweep from PLAYED's sidecar)
//   pages WAY MEGABYTES [FILE]
//                            MEGABYTES of memory the process never had, written once, one
//                            WAY: "plain" (ordinary pages, each faulted in by the write),
//                            "mapped" (ordinary pages mapped by one call, then written),
//                            "huge" (huge pages asked for), or "file" (written to FILE
//                            through the system's page cache, as SoX writes, then removed):
//                            what a fresh page costs this machine
//   run [--quiet] PROGRAM ARGS...
//                            a whole child process (its output discarded with --quiet):
//                            wall and CPU time, peak resident KiB, exit status, system time,
//                            minor page faults
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/run_state.h"
#include "measure/analysis/ir_analysis.h"
#include "measure/analysis/loopback_check.h"
#include "measure/files/riff_reader.h"
#include "platform/memory.h"
#include "wav/play_loader.h"
#include "wav/record_writer.h"
#include "wav/wav_format.h"

namespace {

constexpr size_t kBlockBytes = size_t(1) << 20;

double now() {
    using Clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

double seconds(const timeval& t) {
    return double(t.tv_sec) + 1e-6 * double(t.tv_usec);
}

double cpuNow() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Wall and CPU time of one phase.
struct Timer {
    double wall = now();
    double cpu = cpuNow();
    void print() const { std::printf("%.6f %.6f\n", now() - wall, cpuNow() - cpu); }
};

int fail(const char* what, const char* path) {
    std::fprintf(stderr, "korvane-bench-io: %s %s\n", what, path);
    return 1;
}

bool probePlayFile(const char* path) {
    uint32_t tag = 0;
    uint32_t bits = 0;
    return probeWavFile(path, &tag, &playSampleRate, &bits, &playChannels, &playFramesLeft) ==
               kWavOk &&
           tag == kWavFormatFloat && bits == 32 && playFramesLeft != 0;
}

// The run's order: probe into the globals, then load at the native width.
int loadStore(const char* path, int width, Timer* timer) {
    if (!probePlayFile(path)) {
        return fail("not a float WAV file:", path);
    }
    bytesPerSample = width;
    bufferFrames = 1; // no padding: the store holds exactly the file's samples
    *timer = Timer();
    return loadPlayFile(path) == kWavOk ? 0 : fail("cannot load", path);
}

int timeLoad(const char* path, int width) {
    Timer timer;
    if (loadStore(path, width, &timer) != 0) {
        return 1;
    }
    timer.print();
    releasePlayStore();
    return 0;
}

int timeRead(const char* path) {
    std::vector<uint8_t> block(kBlockBytes);
    const Timer timer;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return fail("cannot open", path);
    }
    while (std::fread(block.data(), 1, block.size(), file) == block.size()) {
    }
    std::fclose(file);
    timer.print();
    return 0;
}

int timeReadFill(const char* path, int width) {
    if (!probePlayFile(path)) {
        return fail("not a float WAV file:", path);
    }
    const uint32_t channels = playChannels;
    const size_t frames = playFramesLeft;
    const size_t frameBytes = size_t(channels) * 4;
    std::vector<uint8_t> block(kBlockBytes / frameBytes * frameBytes);
    std::vector<uint8_t*> store(channels);
    const Timer timer;
    for (uint8_t*& b : store) {
        b = new uint8_t[frames * size_t(width)];
        adviseStoreBlock(b, frames * size_t(width));
    }
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return fail("cannot open", path);
    }
    std::fseek(file, long(kWavHeaderBytes), SEEK_SET);
    size_t done = 0;
    size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), file)) >= frameBytes) {
        const size_t count = std::min(got / frameBytes, frames - done);
        for (uint8_t* b : store) {
            // Mapped piece by piece just before it is written, as the loader does.
            mapRangeNow(b + done * size_t(width), count * size_t(width));
            std::memset(b + done * size_t(width), block[got - 1], count * size_t(width));
        }
        done += count;
    }
    std::fclose(file);
    timer.print();
    for (uint8_t* b : store) {
        delete[] b;
    }
    return 0;
}

int timeWrite(const char* in, const char* out, int width) {
    Timer ignored;
    if (loadStore(in, width, &ignored) != 0) {
        return 1;
    }
    // The loaded samples become the recording, as the buffer switch would leave them.
    recordChannels = playChannels;
    recordFrames = playFramesLeft;
    recordBuffers = playBuffers;
    recordCursors = playCursors;
    playBuffers = nullptr;
    playCursors = nullptr;
    const Timer timer;
    const int written = writeRecordFile(out);
    if (written != kRecordWritten) {
        return fail("cannot write", out);
    }
    timer.print();
    releaseRecordStore();
    return 0;
}

int timeWriteBlocks(const char* out, unsigned long long bytes) {
    std::vector<uint8_t> block(kBlockBytes);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = uint8_t(i * 131 + 7);
    }
    const Timer timer;
    FILE* file = std::fopen(out, "wb");
    if (file == nullptr) {
        return fail("cannot create", out);
    }
    bool ok = true;
    while (ok && bytes > 0) {
        const size_t n = bytes < block.size() ? size_t(bytes) : block.size();
        ok = std::fwrite(block.data(), 1, n, file) == n;
        bytes -= n;
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        return fail("cannot write", out);
    }
    timer.print();
    return 0;
}

// Per recorded channel: its played channel and the recording forward, the product back,
// and one forward per order, at the lengths the analysis uses; and check's delay search,
// whose verdict ir takes: the two channels forward and their product back.
int timeIrTransforms(const char* playedPath, const char* recordedPath) {
    WavData played;
    WavData recorded;
    SyncSweep sweep;
    std::string error;
    if (loadWavData(playedPath, &played, &error) != kReadOk ||
        loadWavData(recordedPath, &recorded, &error) != kReadOk ||
        !readSweepSidecar(sweepSidecarPath(playedPath), &sweep, &error)) {
        return fail("cannot read:", error.c_str());
    }
    const IrOptions options;
    const IrTransforms sizes = irTransforms(played.frames, recorded.frames, sweep, options, 0);
    Fft fft;
    std::vector<double> time(sizes.deconvolution);
    std::vector<std::complex<double>> x(sizes.deconvolution / 2 + 1);
    std::vector<std::complex<double>> y(x.size());
    std::vector<double> window(sizes.orders);
    std::vector<std::complex<double>> bins(sizes.orders / 2 + 1);
    const size_t search = delaySearchLength(played.frames, recorded.frames, kDefaultMaxDelay);
    std::vector<double> lags(search);
    std::vector<std::complex<double>> ps(search / 2 + 1);
    std::vector<std::complex<double>> rs(search / 2 + 1);
    const Timer timer;
    for (size_t c = 0; c < recorded.channels.size(); ++c) {
        const std::vector<float>& p = played.channels[c % played.channels.size()];
        const std::vector<float>& r = recorded.channels[c];
        std::fill(time.begin(), time.end(), 0.0);
        std::copy(p.begin(), p.end(), time.begin());
        fft.forward(time.data(), time.size(), x.data());
        std::fill(time.begin(), time.end(), 0.0);
        std::copy(r.begin(), r.end(), time.begin());
        fft.forward(time.data(), time.size(), y.data());
        for (size_t k = 0; k < y.size(); ++k) {
            y[k] *= std::conj(x[k]);
        }
        fft.inverse(y.data(), time.size(), time.data());
        for (int order = 1; order <= options.orders; ++order) {
            std::copy(time.begin(), time.begin() + long(window.size()), window.begin());
            fft.forward(window.data(), window.size(), bins.data());
        }
        std::fill(lags.begin(), lags.end(), 0.0);
        std::copy(p.begin(), p.begin() + long(std::min(p.size(), search)), lags.begin());
        fft.forward(lags.data(), search, ps.data());
        std::fill(lags.begin(), lags.end(), 0.0);
        std::copy(r.begin(), r.begin() + long(std::min(r.size(), search)), lags.begin());
        fft.forward(lags.data(), search, rs.data());
        for (size_t k = 0; k < rs.size(); ++k) {
            rs[k] *= std::conj(ps[k]);
        }
        fft.inverse(rs.data(), search, lags.data());
    }
    timer.print();
    return 0;
}

int timePages(const char* way, size_t megabytes, const char* path) {
    const size_t bytes = megabytes << 20;
    std::vector<uint8_t> block(kBlockBytes, 0x5a);
    if (std::strcmp(way, "file") == 0) {
        const Timer timer;
        const int file = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (file < 0) {
            return fail("cannot create", path);
        }
        bool ok = true;
        for (size_t done = 0; ok && done < bytes; done += block.size()) {
            ok = write(file, block.data(), block.size()) == ssize_t(block.size());
        }
        ok = close(file) == 0 && ok;
        timer.print();
        unlink(path);
        return ok ? 0 : fail("cannot write", path);
    }
    const bool huge = std::strcmp(way, "huge") == 0;
    const bool mapped = std::strcmp(way, "mapped") == 0;
    if (!huge && !mapped && std::strcmp(way, "plain") != 0) {
        return fail("no such way:", way);
    }
    // Aligned to a huge page, so that every one of them can be had.
    const size_t hugePage = size_t(2) << 20;
    void* region =
        mmap(nullptr, bytes + hugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (region == MAP_FAILED) {
        return fail("cannot map", way);
    }
    uint8_t* start =
        reinterpret_cast<uint8_t*>((uintptr_t(region) + hugePage - 1) & ~uintptr_t(hugePage - 1));
    const Timer timer;
    if (huge) {
        adviseStoreBlock(start, bytes);
    } else if (mapped) {
        mapRangeNow(start, bytes);
    }
    for (size_t done = 0; done < bytes; done += block.size()) {
        std::memcpy(start + done, block.data(), block.size());
    }
    timer.print();
    munmap(region, bytes + hugePage);
    return 0;
}

int timeRun(char** argv, bool quiet) {
    const double start = now();
    const pid_t child = fork();
    if (child < 0) {
        return fail("cannot start", argv[0]);
    }
    if (child == 0) {
        if (quiet) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
        }
        execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(child, &status, 0, &usage) != child) {
        return fail("lost the child", argv[0]);
    }
    const double wall = now() - start;
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const double cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    std::printf("%.6f %.6f %ld %d %.6f %ld\n", wall, cpu, usage.ru_maxrss, code,
                seconds(usage.ru_stime), usage.ru_minflt);
    return 0;
}

int width(const char* text) {
    const int w = std::atoi(text);
    return w >= 2 && w <= 4 ? w : 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* usage = "usage: korvane-bench-io load FILE WIDTH | read FILE |"
                        " readfill FILE WIDTH | write FILE OUT WIDTH | writeblocks OUT BYTES |"
                        " irffts PLAYED RECORDED | pages WAY MEGABYTES [FILE] |"
                        " run [--quiet] PROGRAM ARGS...\n";
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0) {
        const bool quiet = std::strcmp(argv[2], "--quiet") == 0;
        if (argc >= 3 + int(quiet)) {
            return timeRun(argv + 2 + int(quiet), quiet);
        }
    }
    if (argc == 4 && std::strcmp(argv[1], "load") == 0 && width(argv[3]) != 0) {
        return timeLoad(argv[2], width(argv[3]));
    }
    if (argc == 4 && std::strcmp(argv[1], "irffts") == 0) {
        return timeIrTransforms(argv[2], argv[3]);
    }
    if (argc == 3 && std::strcmp(argv[1], "read") == 0) {
        return timeRead(argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "readfill") == 0 && width(argv[3]) != 0) {
        return timeReadFill(argv[2], width(argv[3]));
    }
    if (argc == 5 && std::strcmp(argv[1], "write") == 0 && width(argv[4]) != 0) {
        return timeWrite(argv[2], argv[3], width(argv[4]));
    }
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "pages") == 0 && std::atoi(argv[3]) > 0 &&
        (argc == 5 || std::strcmp(argv[2], "file") != 0)) {
        return timePages(argv[2], size_t(std::atoi(argv[3])), argc == 5 ? argv[4] : "");
    }
    if (argc == 4 && std::strcmp(argv[1], "writeblocks") == 0) {
        return timeWriteBlocks(argv[2], std::strtoull(argv[3], nullptr, 10));
    }
    std::fputs(usage, stderr);
    return 2;
}
