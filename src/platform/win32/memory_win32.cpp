#include "platform/memory.h"

// Windows needs a privilege for large pages and faults ordinary ones in cheaply enough.
void prepareLargeBlock(void* block, size_t bytes) {
    (void)block;
    (void)bytes;
}

void adviseLargeBlock(void* block, size_t bytes) {
    (void)block;
    (void)bytes;
}

void mapRangeNow(void* start, size_t bytes) {
    (void)start;
    (void)bytes;
}
