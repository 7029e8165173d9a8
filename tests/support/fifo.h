// Named pipes (FIFOs) through which an end-to-end test holds a child at a file that the child
// opens or writes: a writer's open waits for a reader, and a write waits once the pipe is full.
// Linux only: on Windows fifosSupported() is false and the rest fails.
#pragma once

#include <string>

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
    // Appends what is there, waiting up to timeoutMs for something to arrive.
    Status read(std::string* to, int timeoutMs);

private:
    int fd = -1;
};
