#include "platform/file_open.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

FILE* openFile(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

int removeFile(const char* path) {
    return std::remove(path);
}

bool writeFileDurably(const char* path, const std::string& text, std::string* error) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            break;
        }
        done += size_t(wrote);
    }
    const int reason = done == text.size() && fsync(fd) == 0 ? 0 : errno != 0 ? errno : EIO;
    if (close(fd) != 0 || reason != 0) {
        *error = std::strerror(reason != 0 ? reason : errno);
        unlink(path);
        return false;
    }
    return true;
}

bool syncFolder(const char* path) {
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}
