#include "platform/memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>

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

namespace {

// The heap's room for huge pages: address space only until written, and a command that
// needs more goes on with ordinary pages beyond it.
size_t hugeHeapBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const size_t quarter = pages > 0 ? size_t(pages) / 4 * size_t(pageBytes()) : 0;
    return std::min(quarter, size_t(1) << 30);
}

// Grows the heap by `bytes` at once and asks for huge pages from the top of the heap on; freed,
// the growth stays the heap's top for the allocations to come. Only what lies between the
// growth's first block and the new break is advised: an allocator that does not grow the
// heap (a sanitizer's) is left alone.
void growHeapWithHugePages(size_t bytes) {
    malloc_trim(0); // the top as small as it goes, so that the first block below grows it
    void* const before = sbrk(0);
    mallopt(M_TOP_PAD, int(bytes));
    // Larger than the top of a trimmed heap, smaller than a block mapped on its own;
    // volatile, or the compiler drops an allocation that is only freed.
    char* volatile first = static_cast<char*>(malloc(size_t(16) << 20));
    char* const after = static_cast<char*>(sbrk(0));
    free(first);
    mallopt(M_TOP_PAD, 128 << 10); // the allocator's default
    if (before != reinterpret_cast<void*>(-1) && after > before && first != nullptr &&
        first < after) {
        askForHugePages(first, size_t(after - first));
    }
}

} // namespace

void keepFreedMemory() {
    // The largest threshold the allocator takes on a 64-bit system; above it, blocks are
    // mapped and unmapped one by one.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    // Never handed back while the command runs: above the heap kept for huge pages too.
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
    // Every thread allocates from the one heap, which asks for huge pages: each thread's own
    // arena would be mapped in ordinary pages, a fault for every 4 KB of every buffer.
    mallopt(M_ARENA_MAX, 1);
    growHeapWithHugePages(hugeHeapBytes());
}
