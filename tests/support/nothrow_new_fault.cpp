#include "support/nothrow_new_fault.h"

#include <atomic>
#include <new>

#include "support/sanitizer_build.h"

namespace {

std::atomic<long> failIndex{-1};
std::atomic<size_t> failAbove{0};
std::atomic<long> calls{0};
std::atomic<size_t> largest{0};

} // namespace

void failNthNothrowArrayNew(long index) {
    clearNothrowArrayNewFault();
    failIndex = index;
}

void failNothrowArrayNewAbove(size_t bytes) {
    clearNothrowArrayNewFault();
    failAbove = bytes;
}

void clearNothrowArrayNewFault() {
    failIndex = -1;
    failAbove = 0;
    calls = 0;
    largest = 0;
}

long nothrowArrayNewCalls() {
    return calls;
}

size_t largestNothrowArrayNewRequest() {
    return largest;
}

#ifndef KORVANE_TSAN_BUILD
// Replaces the library's operator; like it, defers to the throwing form, so that every
// block it hands out is released by the ordinary operator delete[].
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    const long call = calls++;
    if (size > largest) {
        largest = size;
    }
    if (call == failIndex || (failAbove != 0 && size > failAbove)) {
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}
#endif
