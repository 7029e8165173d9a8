// Named pipes (FIFOs) through which an end-to-end test holds a child at a file that the child
// opens or writes: a writer's open waits for a reader, a reader's for a writer, and a write
// waits once the pipe is full. Linux only: on Windows fifosSupported() is false and the
// rest fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/child_process.h"

bool fifosSupported();
bool makeFifo(const std::string& path);

class FifoReader {
public:
    FifoReader() = default;
    ~FifoReader();
    FifoReader(const FifoReader&) = delete;
    FifoReader& operator=(const FifoReader&) = delete;

    // Opens the read end at once, whether or not a writer is there. From now on a writer's
    // open no longer waits; after close() the next one waits again.
    bool open(const std::string& path);
    void close();

    enum Status {
        kData,     // bytes were appended
        kNoWriter, // a writer has come and gone and nothing is left to read
        kTimeout,  // nothing in timeoutMs
        kError
    };
    // Appends what is there, up to most bytes, waiting up to timeoutMs for something to
    // arrive. Left unbounded, a reader may drain a writer to its end while it runs.
    Status read(std::string* to, int timeoutMs, size_t most = SIZE_MAX);

private:
    int fd = -1;
};

// The write end, opened once the child has opened the pipe for reading: the child then
// waits in its read until bytes come or the writer closes.
class FifoWriter {
public:
    FifoWriter() = default;
    ~FifoWriter();
    FifoWriter(const FifoWriter&) = delete;
    FifoWriter& operator=(const FifoWriter&) = delete;

    // False when the child ends first, or after a minute.
    bool openOnceRead(const std::string& path, ChildProcess& child);
    bool write(const std::vector<uint8_t>& bytes);
    void close();

private:
    int fd = -1;
};

// Steps a child through the trace that Korvane Loopback writes into a named pipe: after
// each line the driver waits until the pipe has been opened for writing and closed again.
class TraceLock {
public:
    explicit TraceLock(std::string path) : path(std::move(path)) {}
    ~TraceLock() { release(); }
    TraceLock(const TraceLock&) = delete;
    TraceLock& operator=(const TraceLock&) = delete;

    // Waits until the child has traced its next line and is held after it, and gives the
    // line. False when the child ends instead, or after a minute.
    bool next(ChildProcess& child, std::string* line);
    // Lets the held child go on.
    void release() { holder.close(); }

private:
    std::string path;
    FifoWriter holder;
};
