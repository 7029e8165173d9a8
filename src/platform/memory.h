// Large stores are filled once, right after allocation. Faulting them in page by page costs
// far more than the filling on some systems (virtual machines above all).
#pragma once

#include <cstddef>

// Asks the system to back the block with large pages where it can and to map all of it now.
// Only a hint: does nothing where unsupported, and the block stays an ordinary allocation.
void prepareLargeBlock(void* block, size_t bytes);
