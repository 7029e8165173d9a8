// Mapping hints on a store already holding samples: the bytes, and the memory around the
// block, must come through untouched wherever the range starts and ends. A store block mapped
// now must be resident to its last page, the recording store above all: the buffer switch
// writes it and must never wait for the system to map a page.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/run_state.h"
#include "platform/memory.h"
#include "support/run_state_reset.h"

namespace {

uint8_t pattern(size_t i) {
    return uint8_t(i * 131 + (i >> 9));
}

// Pages under [start, start + bytes) that are not resident.
size_t pagesMissing(const void* start, size_t bytes) {
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t first = uintptr_t(start) & ~(page - 1);
    const uintptr_t end = (uintptr_t(start) + bytes + page - 1) & ~(page - 1);
    std::vector<unsigned char> resident((end - first) / page);
    if (mincore(reinterpret_cast<void*>(first), end - first, resident.data()) != 0) {
        return resident.size();
    }
    size_t missing = 0;
    for (unsigned char r : resident) {
        missing += (r & 1) == 0 ? 1 : 0;
    }
    return missing;
}

// The VmFlags of the mapping that holds `address`, from /proc/self/smaps.
std::string mappingFlags(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long low = 0;
        unsigned long high = 0;
        // A mapping's first line starts with its range; its fields follow, VmFlags last.
        if (std::sscanf(line.c_str(), "%lx-%lx", &low, &high) == 2) {
            inside = uintptr_t(address) >= low && uintptr_t(address) < high;
        } else if (inside && line.compare(0, 8, "VmFlags:") == 0) {
            return line.substr(8) + " ";
        }
    }
    return "";
}

TEST(MemoryHints, LeaveEveryByteOfTheBlockAsItWas) {
    const size_t bytes = (size_t(5) << 20) + 12345; // large enough for huge pages, ends mid-page
    std::vector<uint8_t> block(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        block[i] = pattern(i);
    }
    adviseStoreBlock(block.data(), bytes);
    // Ranges starting and ending inside pages, at both ends of the block, and empty.
    const size_t ranges[][2] = {{0, 1},         {1, 4095},      {4097, 3 << 20},
                                {bytes - 7, 7}, {bytes / 2, 0}, {0, bytes}};
    for (const auto& range : ranges) {
        mapRangeNow(block.data() + range[0], range[1]);
        touchPages(block.data() + range[0], range[1]);
    }
    mapStoreBlockNow(block.data() + 3, bytes - 3);
    size_t changed = 0;
    for (size_t i = 0; i < bytes; ++i) {
        changed += block[i] != pattern(i) ? 1 : 0;
    }
    EXPECT_EQ(changed, 0u);
}

TEST(MemoryHints, SmallAndMissingBlocksAreLeftAlone) {
    uint8_t small[64] = {1, 2, 3};
    adviseStoreBlock(small, sizeof small);
    mapStoreBlockNow(small, sizeof small);
    mapRangeNow(small + 1, 2);
    touchPages(small + 1, 2);
    adviseStoreBlock(nullptr, size_t(8) << 20);
    mapStoreBlockNow(nullptr, size_t(8) << 20);
    mapRangeNow(nullptr, 100);
    touchPages(nullptr, 100);
    EXPECT_EQ(small[0], 1);
    EXPECT_EQ(small[2], 3);
    EXPECT_EQ(small[63], 0);
}

// Fresh pages, never written: mapped to the last one by the call alone, by either way.
TEST(MemoryHints, BlocksMappedNowAreResidentToTheLastPage) {
    const size_t bytes = (size_t(3) << 20) + 777;
    for (int way = 0; way < 3; ++way) {
        void* region =
            mmap(nullptr, bytes + 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(region, MAP_FAILED);
        uint8_t* block = static_cast<uint8_t*>(region) + 100; // as an allocator's block starts
        ASSERT_GT(pagesMissing(block, bytes), 0u);
        if (way == 0) {
            mapStoreBlockNow(block, bytes);
        } else if (way == 1) {
            mapRangeNow(block, bytes);
        } else {
            touchPages(block, bytes);
        }
        EXPECT_EQ(pagesMissing(block, bytes), 0u) << "way " << way;
        EXPECT_EQ(block[0], 0);
        EXPECT_EQ(block[bytes - 1], 0);
        munmap(region, bytes + 8192);
    }
}

// Where the system gives huge pages only on request, a large store block asks for them: one
// fault for 512 ordinary pages, each of which a virtual machine's host backs on its own.
TEST(MemoryHints, LargeStoreBlocksAskForHugePages) {
    if (access("/sys/kernel/mm/transparent_hugepage/enabled", F_OK) != 0) {
        GTEST_SKIP() << "this kernel has no transparent huge pages";
    }
    const size_t bytes = size_t(8) << 20;
    std::vector<uint8_t*> blocks{new uint8_t[bytes], new uint8_t[bytes]};
    adviseStoreBlock(blocks[0], bytes);
    mapStoreBlockNow(blocks[1], bytes);
    for (uint8_t* block : blocks) {
        EXPECT_NE(mappingFlags(block + bytes / 2).find(" hg "), std::string::npos)
            << mappingFlags(block + bytes / 2);
        delete[] block;
    }
}

// korvane-wav's buffers come from the heap, on every thread: after keepFreedMemory, first
// thing in a process, they lie where huge pages were asked for, however many times they are
// freed and taken again. 0 when they do (or the allocator does not use the heap at all), 1
// when not, each block's flags on standard error.
int heapBlocksAskForHugePages() {
    keepFreedMemory();
    const size_t bytes = size_t(6) << 20; // below the size the allocator maps on its own
    std::string flags[3];
    const void* where[3] = {};
    for (int i = 0; i < 2; ++i) {
        std::vector<uint8_t> buffer(bytes);
        where[i] = buffer.data();
        flags[i] = mappingFlags(buffer.data() + bytes / 2);
    }
    std::thread([&] {
        std::vector<uint8_t> buffer(bytes);
        where[2] = buffer.data();
        flags[2] = mappingFlags(buffer.data() + bytes / 2);
    }).join();
    if (uintptr_t(where[0]) >= uintptr_t(sbrk(0))) {
        std::fprintf(stderr, "this allocator does not take its blocks from the heap\n");
        return 0;
    }
    int missing = 0;
    for (int i = 0; i < 3; ++i) {
        if (flags[i].find(" hg ") == std::string::npos) {
            std::fprintf(stderr, "block %d: %s\n", i, flags[i].c_str());
            missing = 1;
        }
    }
    return missing;
}

// In a process of its own, as a command's heap is at its start: no other thread's arena yet.
TEST(MemoryHintsDeathTest, TheHeapKeptForLaterAsksForHugePagesOnEveryThread) {
    if (access("/sys/kernel/mm/transparent_hugepage/enabled", F_OK) != 0) {
        GTEST_SKIP() << "this kernel has no transparent huge pages";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(heapBlocksAskForHugePages()), testing::ExitedWithCode(0), "");
}

TEST(MemoryHints, TheRecordingStoreIsResidentBeforeTheDeviceCanStart) {
    resetRunState();
    bytesPerSample = 3;
    recordFrames = 3u << 20; // 9 MiB blocks
    for (uint32_t channels : {1u, 5u}) {
        recordChannels = channels;
        ASSERT_TRUE(allocateRecordStore());
        for (uint32_t c = 0; c < channels; ++c) {
            EXPECT_EQ(pagesMissing(recordBuffers[c], size_t(3) * recordFrames), 0u)
                << "channel " << c << " of " << channels;
        }
        releaseRecordStore();
    }
    recordChannels = 2;
    recordFrames = 100; // small blocks too, from the allocator's shared pages
    ASSERT_TRUE(allocateRecordStore());
    for (uint32_t c = 0; c < 2; ++c) {
        EXPECT_EQ(pagesMissing(recordBuffers[c], 300), 0u);
    }
    resetRunState();
}

} // namespace
