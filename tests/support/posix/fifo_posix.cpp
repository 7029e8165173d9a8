#include "support/fifo.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
// Only a bound that turns a child that never comes into a failure instead of a hang.
constexpr auto kGiveUpAfter = std::chrono::minutes(1);

bool pastLimit(std::chrono::steady_clock::time_point since) {
    return std::chrono::steady_clock::now() - since > kGiveUpAfter;
}
} // namespace

bool fifosSupported() {
    return true;
}

bool makeFifo(const std::string& path) {
    return mkfifo(path.c_str(), 0600) == 0;
}

FifoReader::~FifoReader() {
    close();
}

bool FifoReader::open(const std::string& path) {
    close();
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    return fd >= 0;
}

void FifoReader::close() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

FifoReader::Status FifoReader::read(std::string* to, int timeoutMs, size_t most) {
    if (fd < 0) {
        return kError;
    }
    pollfd p{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        return kError;
    }
    if (ready == 0) {
        return kTimeout;
    }
    char chunk[65536];
    bool any = false;
    for (size_t left = most; left != 0;) {
        const ssize_t n = ::read(fd, chunk, left < sizeof chunk ? left : sizeof chunk);
        if (n > 0) {
            to->append(chunk, static_cast<size_t>(n));
            left -= static_cast<size_t>(n);
            any = true;
            continue;
        }
        if (n == 0) {
            return any ? kData : kNoWriter;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN ? (any ? kData : kTimeout) : kError;
    }
    return any ? kData : kTimeout;
}

FifoWriter::~FifoWriter() {
    close();
}

bool FifoWriter::openOnceRead(const std::string& path, ChildProcess& child) {
    close();
    // A reader that leaves early fails the write instead of ending the test binary.
    signal(SIGPIPE, SIG_IGN);
    const auto since = std::chrono::steady_clock::now();
    // Without waiting, the open fails with ENXIO for as long as no reader has the pipe open.
    while ((fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
        if (errno != ENXIO || child.ended() || pastLimit(since)) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool FifoWriter::write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (fd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return done == bytes.size();
}

void FifoWriter::close() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// The line is read through a reader that stays open until the driver has closed its end, so
// no write ever meets a closed pipe; the driver opens its next line only after the release.
bool TraceLock::next(ChildProcess& child, std::string* line) {
    release();
    line->clear();
    FifoReader reader;
    if (!reader.open(path)) {
        return false;
    }
    const auto since = std::chrono::steady_clock::now();
    // A reader that came after the last writer had left sees the end only once another
    // writer has come and gone: the driver with its line.
    for (FifoReader::Status status = FifoReader::kTimeout; status != FifoReader::kNoWriter;) {
        status = reader.read(line, 10);
        if (status == FifoReader::kError || pastLimit(since) ||
            (status == FifoReader::kTimeout && child.ended())) {
            return false;
        }
    }
    reader.close();
    if (!line->empty() && line->back() == '\n') {
        line->pop_back();
    }
    return holder.openOnceRead(path, child);
}
