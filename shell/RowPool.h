#pragma once
// Memory for the rows of folder lists. A huge folder makes its rows by the
// hundred thousand, and on virtual machines every first touch of a fresh page
// costs a fault of several microseconds; rows therefore come from large
// blocks the kernel may back with huge pages, and freed rows are reused for
// the next folder. Blocks stay with the program: their size follows the
// largest folder shown.
#include <cstddef>

namespace rowpool {

// size must be the same for every call; null when out of memory.
void* Allocate(size_t size);
void Free(void* row);

}  // namespace rowpool
