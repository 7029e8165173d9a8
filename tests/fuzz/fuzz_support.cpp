#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::vector<std::string>& scratchFiles() {
    static std::vector<std::string>* files = new std::vector<std::string>;
    return *files;
}

void removeScratchFiles() {
    for (const std::string& path : scratchFiles()) {
        std::remove(path.c_str());
    }
}

} // namespace

std::string fuzzScratchPath(const char* suffix) {
    struct stat info {};
    std::string folder = "/dev/shm";
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        access(folder.c_str(), W_OK) != 0) {
        const char* tmp = std::getenv("TMPDIR");
        folder = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
    }
    // The process id keeps parallel fuzzer jobs apart.
    const std::string path = folder + "/korvane-fuzz-" + std::to_string(getpid()) + suffix;
    if (scratchFiles().empty()) {
        std::atexit(removeScratchFiles);
    }
    scratchFiles().push_back(path);
    return path;
}

bool fuzzWriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

void fuzzFail(const char* what, long long a, long long b) {
    std::fprintf(stderr, "fuzz check failed: %s (%lld, %lld)\n", what, a, b);
    std::fflush(stderr);
    std::abort();
}
