#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

// Older headers lack it; older kernels refuse it with EINVAL, which is harmless.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace {
// Below a huge page there is nothing to gain over the ordinary faults.
constexpr size_t kLargeBlockBytes = size_t(2) << 20;
} // namespace

void prepareLargeBlock(void* block, size_t bytes) {
    if (block == nullptr || bytes < kLargeBlockBytes) {
        return;
    }
    // Whole pages inside the block only: the allocator's bookkeeping shares the first one.
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t start = (uintptr_t(block) + page - 1) & ~(page - 1);
    const uintptr_t end = (uintptr_t(block) + bytes) & ~(page - 1);
    if (end <= start) {
        return;
    }
    void* first = reinterpret_cast<void*>(start);
    madvise(first, end - start, MADV_HUGEPAGE);
    madvise(first, end - start, MADV_POPULATE_WRITE);
}
