// The stores hold a whole run and are written once, right after allocation: how their pages
// come to be mapped is a large part of what a user waits for. Ordinary pages come from the
// fragments the system has free; a huge page needs a whole free 2 MiB block, which the system
// may first have to compact, or which a virtual machine's host may first have to back again,
// and either costs far more, and far more unevenly, than the huge page saves.
#pragma once

#include <cstddef>

// A block to be filled piece by piece through mapRangeNow: ordinary pages, whatever the
// system's default for large allocations.
void adviseStoreBlock(void* block, size_t bytes);

// A block that the real-time thread writes: ordinary pages, every one mapped now, so that the
// buffer switch never takes a page fault. Changes none of the block's bytes.
void mapStoreBlockNow(void* block, size_t bytes);

// Maps the pages under a range of one block now, in one call rather than a fault per page.
// Changes none of the range's bytes.
void mapRangeNow(void* start, size_t bytes);

// Writes every page under the range with the byte it holds, so that the system maps each
// one; for systems without a call that maps a range at once.
void touchPages(void* start, size_t bytes);
