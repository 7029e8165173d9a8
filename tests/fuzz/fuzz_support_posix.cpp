#include "fuzz_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    // Overwritten in place and then cut to size: the pages a long input had stay in use.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    if (fd < 0) {
        return false;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    const bool written = done == size && ftruncate(fd, static_cast<off_t>(size)) == 0;
    return close(fd) == 0 && written;
}

void fuzzFail(const char* what, long long a, long long b) {
    std::fprintf(stderr, "fuzz check failed: %s (%lld, %lld)\n", what, a, b);
    std::fflush(stderr);
    std::abort();
}

void fuzzCheckConfigMessage(bool ok, const char* message, size_t capacity, const char* variable) {
    FUZZ_CHECK(std::memchr(message, 0, capacity) != nullptr, capacity, 0);
    const std::string prefix = std::string(variable) + ": ";
    FUZZ_CHECK(ok ? message[0] == '\0'
                  : prefix.compare(0, prefix.size(), message, prefix.size()) == 0,
               ok, 0);
}
