// Large stores are filled once, right after allocation. Faulting them in page by page costs
// far more than the filling on some systems (virtual machines above all).
#pragma once

#include <cstddef>

// Asks the system to back the block with large pages where it can and to map all of it now.
// Only a hint: does nothing where unsupported, and the block stays an ordinary allocation.
void prepareLargeBlock(void* block, size_t bytes);

// The same hint for large pages alone; the block is mapped later, piece by piece.
void adviseLargeBlock(void* block, size_t bytes);

// Maps the pages under a range of one allocation now, in one call rather than a fault per
// page. A store filled piece by piece maps each piece just before filling it, so that the
// pages the system clears are still in the cache when they are written.
void mapRangeNow(void* start, size_t bytes);
