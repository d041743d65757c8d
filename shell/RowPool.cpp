#include "shell/RowPool.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>

#include "platform/system/MemoryBlocks.h"

namespace rowpool {
namespace {

// Blocks grow from a few pages, so a small folder does not clear a huge page,
// to one huge page for the big ones.
constexpr size_t kFirstBlockBytes = size_t{64} << 10;

struct FreeRow {
  FreeRow* next;
};

std::mutex lock;
FreeRow* freeRows = nullptr;
char* blockNext = nullptr;
char* blockEnd = nullptr;
size_t nextBlockBytes = kFirstBlockBytes;

}  // namespace

void* Allocate(size_t size) {
#if defined(__SANITIZE_ADDRESS__)
  // The address checker sees a use after free only of memory it handed out.
  return std::malloc(size);
#endif
  if (size < sizeof(FreeRow)) size = sizeof(FreeRow);
  // Rows hold pointers and integers: eight bytes align them.
  size = (size + alignof(void*) - 1) & ~(alignof(void*) - 1);
  std::lock_guard<std::mutex> hold(lock);
  if (freeRows) {
    FreeRow* row = freeRows;
    freeRows = row->next;
    return row;
  }
  if (blockNext == nullptr || static_cast<size_t>(blockEnd - blockNext) < size) {
    const size_t bytes = nextBlockBytes;
    void* block = AllocateMemoryBlock(bytes);
    if (!block) return nullptr;
    nextBlockBytes = std::min(bytes * 2, kHugePageBytes);
    blockNext = static_cast<char*>(block);
    blockEnd = blockNext + bytes;
  }
  void* row = blockNext;
  blockNext += size;
  return row;
}

void Free(void* row) {
#if defined(__SANITIZE_ADDRESS__)
  std::free(row);
  return;
#endif
  if (!row) return;
  std::lock_guard<std::mutex> hold(lock);
  auto* freed = static_cast<FreeRow*>(row);
  freed->next = freeRows;
  freeRows = freed;
}

}  // namespace rowpool
