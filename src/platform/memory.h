// The stores hold a whole run and are written once, right after allocation: how their pages
// come to be mapped is a large part of what a user waits for. On a virtual machine every
// fresh page is backed by the host at its first write, and that, not the kernel's clearing,
// is most of the cost; a huge page takes one fault where ordinary ones take 512. Where the
// system gives huge pages only on request (Linux's "madvise" setting) the large blocks ask;
// Windows grants them only with the lock-memory privilege, which korvane does not ask for.
#pragma once

#include <cstddef>

// A block to be filled piece by piece through mapRangeNow: huge pages where they can be had.
void adviseStoreBlock(void* block, size_t bytes);

// A block that the real-time thread writes: huge pages where they can be had, every page
// mapped now, so that the buffer switch never takes a page fault. Changes none of the
// block's bytes.
void mapStoreBlockNow(void* block, size_t bytes);

// Maps the pages under a range of one block now, in one call rather than a fault per page.
// Changes none of the range's bytes.
void mapRangeNow(void* start, size_t bytes);

// Writes every page under the range with the byte it holds, so that the system maps each
// one; for systems without a call that maps a range at once.
void touchPages(void* start, size_t bytes);

// Memory freed stays with the process for its next allocations instead of going back to the
// system, and large blocks come from one heap, shared by every thread, that asks for huge
// pages: a command that frees and allocates the same large buffers again, channel after
// channel, faults each page in once, a huge page at a time. Its peak is what it holds at
// once, as before. Call first thing in main.
void keepFreedMemory();
