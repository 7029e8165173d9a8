#include <cstdint>

#include "platform/memory.h"

void touchPages(void* start, size_t bytes) {
    // The smallest page of every system korvane builds for; a larger page is merely touched
    // more than once.
    constexpr uintptr_t kPageBytes = 4096;
    if (start == nullptr || bytes == 0) {
        return;
    }
    const uintptr_t first = uintptr_t(start);
    const uintptr_t end = first + bytes;
    // One byte inside the range on every page: the first byte, then each page's start.
    for (uintptr_t at = first; at < end; at = (at & ~(kPageBytes - 1)) + kPageBytes) {
        volatile uint8_t* byte = reinterpret_cast<volatile uint8_t*>(at);
        *byte = *byte;
    }
}
