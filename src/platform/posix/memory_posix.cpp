#include "platform/memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

// Older headers lack it; older kernels refuse it with EINVAL, and the pages are touched.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace {

// Below a huge page the system would not use one anyway.
constexpr size_t kLargeBlockBytes = size_t(2) << 20;

uintptr_t pageBytes() {
    return uintptr_t(sysconf(_SC_PAGESIZE));
}

// Under a large block, huge pages where the system gives them on request: a fresh page costs
// the most on a virtual machine, whose host backs each one at its first write, and a huge
// page takes one fault for 512 ordinary ones. Whole pages inside the block only: the
// allocator's bookkeeping shares the first one.
void askForHugePages(void* block, size_t bytes) {
    if (block == nullptr || bytes < kLargeBlockBytes) {
        return;
    }
    const uintptr_t page = pageBytes();
    const uintptr_t start = (uintptr_t(block) + page - 1) & ~(page - 1);
    const uintptr_t end = (uintptr_t(block) + bytes) & ~(page - 1);
    if (end > start) {
        madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    }
}

} // namespace

void adviseStoreBlock(void* block, size_t bytes) {
    askForHugePages(block, bytes);
}

void mapRangeNow(void* start, size_t bytes) {
    if (start == nullptr || bytes == 0) {
        return;
    }
    // Every page touching the range: they all belong to the allocation, and mapping a page
    // for writing changes none of its bytes.
    const uintptr_t page = pageBytes();
    const uintptr_t first = uintptr_t(start) & ~(page - 1);
    const uintptr_t end = (uintptr_t(start) + bytes + page - 1) & ~(page - 1);
    if (madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE) != 0) {
        touchPages(start, bytes);
    }
}

void mapStoreBlockNow(void* block, size_t bytes) {
    askForHugePages(block, bytes);
    mapRangeNow(block, bytes);
}

void keepFreedMemory() {
    // The largest threshold the allocator takes on a 64-bit system; above it, blocks are
    // mapped and unmapped one by one.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
}
