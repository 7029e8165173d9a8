#include "support/fifo.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

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

FifoReader::Status FifoReader::read(std::string* to, int timeoutMs) {
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
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            to->append(chunk, static_cast<size_t>(n));
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
}
