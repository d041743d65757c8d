#pragma once
// Large blocks of memory for pools that hand out many small pieces.
#include <cstddef>

// The size of a huge page, where the kernel has them.
constexpr size_t kHugePageBytes = size_t{2} << 20;

// A block of bytes aligned to its size (a power of two), never freed by the
// caller's pool; a block of kHugePageBytes is hinted for a huge page, which
// takes one fault instead of hundreds. Null when out of memory.
void* AllocateMemoryBlock(size_t bytes);
