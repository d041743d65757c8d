#include "platform/system/MemoryBlocks.h"

#include <sys/mman.h>

#include <cstdlib>

void* AllocateMemoryBlock(size_t bytes) {
  void* block = std::aligned_alloc(bytes, bytes);
  // Only a hint: without transparent huge pages the block is paged as usual.
  if (block && bytes == kHugePageBytes) madvise(block, bytes, MADV_HUGEPAGE);
  return block;
}
