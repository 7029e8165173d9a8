#include "platform/memory.h"

// Huge pages need a privilege here, and ordinary ones are what a large allocation gets.
void adviseStoreBlock(void* block, size_t bytes) {
    (void)block;
    (void)bytes;
}

// The block is written right after this; its pages fault in as cheaply then as here.
void mapRangeNow(void* start, size_t bytes) {
    (void)start;
    (void)bytes;
}

// No call maps fresh private pages at once; writing them does.
void mapStoreBlockNow(void* block, size_t bytes) {
    touchPages(block, bytes);
}

// The process heap maps its large blocks by themselves and has no switch for it: left as it is.
void keepFreedMemory() {}
