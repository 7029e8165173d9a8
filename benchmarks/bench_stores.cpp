// korvane-bench-stores STRATEGY DRIVER BUFFER PLAY FIRST REC COUNT FIRST: korvane's whole run,
// its own code, with the pages of the stores had another way. The store hints of the
// platform layer are replaced by this file's (the linker takes them from here, not from the
// core library), and with `mmap` the large blocks bypass the allocator too. STRATEGY is one of
//   plain          ordinary pages, each loader piece mapped just before it is filled, the
//                  recording store mapped whole at allocation (korvane before)
//   plain-lazy     the same, but the loader's pieces fault in as they are written
//   plain-upfront  every block mapped whole at allocation
//   mmap           plain, every block of 2 MiB or more mapped by mmap directly
//   huge           huge pages asked for, mapped as plain maps (what korvane does)
//   huge-upfront   huge pages asked for, every block mapped whole at allocation
//   huge-if-free   huge pages asked for only when /proc/buddyinfo shows enough free 2 MiB
//                  blocks for the block, so that the system need not compact for them
//   collapse       plain, the recording store then collapsed into huge pages
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>
#include <sstream>
#include <string>

#include "frontend/run.h"
#include "platform/memory.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif
#ifndef MADV_COLLAPSE
#define MADV_COLLAPSE 25
#endif

namespace {

enum Strategy {
    kPlain,
    kPlainLazy,
    kPlainUpfront,
    kMmap,
    kHuge,
    kHugeUpfront,
    kHugeIfFree,
    kCollapse
};

const char* const kNames[] = {"plain", "plain-lazy",   "plain-upfront", "mmap",
                              "huge",  "huge-upfront", "huge-if-free",  "collapse"};

Strategy strategy = kPlain;
constexpr size_t kLargeBlockBytes = size_t(2) << 20;
constexpr uintptr_t kPage = 4096;

// Whole pages inside the block, or every page touching it.
void* innerStart(void* block) {
    return reinterpret_cast<void*>((uintptr_t(block) + kPage - 1) & ~(kPage - 1));
}
size_t innerBytes(void* block, size_t bytes) {
    const uintptr_t start = uintptr_t(innerStart(block));
    const uintptr_t end = (uintptr_t(block) + bytes) & ~(kPage - 1);
    return end > start ? end - start : 0;
}
void populate(void* start, size_t bytes) {
    const uintptr_t first = uintptr_t(start) & ~(kPage - 1);
    const uintptr_t end = (uintptr_t(start) + bytes + kPage - 1) & ~(kPage - 1);
    madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}

// Free blocks of 2 MiB and more in every zone, in bytes.
size_t freeHugeBytes() {
    std::ifstream info("/proc/buddyinfo");
    std::string line;
    size_t total = 0;
    while (std::getline(info, line)) {
        std::istringstream words(line.substr(line.find("zone") + 4));
        std::string zone;
        words >> zone;
        size_t count = 0;
        for (int order = 0; words >> count; ++order) {
            if (order >= 9) {
                total += count * (size_t(4096) << order);
            }
        }
    }
    return total;
}

bool wantsHuge(size_t bytes) {
    switch (strategy) {
    case kHuge:
    case kHugeUpfront:
        return true;
    case kHugeIfFree:
        return freeHugeBytes() >= bytes;
    default:
        return false;
    }
}

void advise(void* block, size_t bytes) {
    // A block marked for ordinary pages cannot be collapsed.
    if (strategy != kCollapse && block != nullptr && bytes >= kLargeBlockBytes &&
        innerBytes(block, bytes) > 0) {
        madvise(innerStart(block), innerBytes(block, bytes),
                wantsHuge(bytes) ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
    }
}

// Blocks this file mapped itself, for the matching release.
struct Mapped {
    void* block;
    size_t bytes;
};
Mapped mapped[256];
std::mutex mappedLock;

} // namespace

void adviseStoreBlock(void* block, size_t bytes) {
    advise(block, bytes);
    if (strategy == kPlainUpfront || strategy == kHugeUpfront) {
        populate(block, bytes);
    }
}

void mapRangeNow(void* start, size_t bytes) {
    if (strategy != kPlainLazy && strategy != kPlainUpfront && strategy != kHugeUpfront) {
        populate(start, bytes);
    }
}

void mapStoreBlockNow(void* block, size_t bytes) {
    advise(block, bytes);
    populate(block, bytes);
    if (strategy == kCollapse && innerBytes(block, bytes) > 0) {
        madvise(innerStart(block), innerBytes(block, bytes), MADV_COLLAPSE);
    }
}

// The nothrow array forms are what the stores are taken with.
void* operator new[](size_t bytes, const std::nothrow_t&) noexcept {
    if (strategy == kMmap && bytes >= kLargeBlockBytes) {
        void* block =
            mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) {
            return nullptr;
        }
        std::lock_guard<std::mutex> hold(mappedLock);
        for (Mapped& m : mapped) {
            if (m.block == nullptr) {
                m = {block, bytes};
                return block;
            }
        }
        munmap(block, bytes);
        return nullptr;
    }
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void operator delete[](void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(mappedLock);
        for (Mapped& m : mapped) {
            if (m.block == block) {
                munmap(block, m.bytes);
                m = {nullptr, 0};
                return;
            }
        }
    }
    std::free(block);
}

void operator delete[](void* block, size_t) noexcept {
    operator delete[](block);
}

int main(int argc, char** argv) {
    int chosen = -1;
    for (int s = 0; argc >= 2 && s < int(sizeof kNames / sizeof kNames[0]); ++s) {
        chosen = std::strcmp(argv[1], kNames[s]) == 0 ? s : chosen;
    }
    if (chosen < 0) {
        std::fputs("usage: korvane-bench-stores STRATEGY KORVANE-ARGUMENTS...\n", stderr);
        return 2;
    }
    strategy = Strategy(chosen);
    argv[1] = argv[0];
    return runPlayRecord(argc - 1, argv + 1);
}
