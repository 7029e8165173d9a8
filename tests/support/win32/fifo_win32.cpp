#include "support/fifo.h"

// Windows pipes live in their own namespace, not at a file path that a program opens.
bool fifosSupported() {
    return false;
}

bool makeFifo(const std::string&) {
    return false;
}

FifoReader::~FifoReader() {}

bool FifoReader::open(const std::string&) {
    return false;
}

void FifoReader::close() {}

FifoReader::Status FifoReader::read(std::string*, int, size_t) {
    return kError;
}

FifoWriter::~FifoWriter() {}

bool FifoWriter::openOnceRead(const std::string&, ChildProcess&) {
    return false;
}

bool FifoWriter::write(const std::vector<uint8_t>&) {
    return false;
}

void FifoWriter::close() {}

bool TraceLock::next(ChildProcess&, std::string*) {
    return false;
}
