#pragma once

// Fault injection for the nothrow array form of operator new, which every store and work
// block is taken with. A binary that calls these gets a replacement operator that forwards
// to the ordinary one unless a fault is armed. Single-threaded tests only.

#include <cstddef>

// The `index`-th nothrow new[] from now (0 is the next one) returns null; later ones succeed.
void failNthNothrowArrayNew(long index);
// Every nothrow new[] of more than `bytes` bytes returns null.
void failNothrowArrayNewAbove(size_t bytes);
// Disarms both faults and clears the counters below.
void clearNothrowArrayNewFault();
// Nothrow new[] calls since the last arm or clear, failed ones included.
long nothrowArrayNewCalls();
// Largest size requested from nothrow new[] since the last arm or clear.
size_t largestNothrowArrayNewRequest();
