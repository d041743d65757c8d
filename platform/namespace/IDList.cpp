#include "platform/namespace/IDList.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/system/MemoryBlocks.h"

namespace {

// A large folder makes its IDs by the million, each a few dozen bytes, where
// the heap's header and rounding add a third. Small lists come from blocks
// that each serve one size (a multiple of 8 bytes, no header); freed ones are
// reused. Blocks stay with the program, as the rows' pool does.
constexpr uint32_t kStep = 8;
constexpr uint32_t kPooledMax = 128;
// A size's first block is small, so that a small folder does not clear a
// huge page per size; the later ones are huge pages, which a pass over a
// million IDs in another order than they were made walks with few misses of
// the address cache.
constexpr size_t kFirstBlockBytes = size_t{256} << 10;

struct FreePiece {
  FreePiece* next;
};

struct SizeClass {
  FreePiece* freed = nullptr;
  char* next = nullptr;
  char* end = nullptr;
  size_t nextBlockBytes = kFirstBlockBytes;
};

struct IDPool {
  std::mutex lock;
  SizeClass classes[kPooledMax / kStep + 1];
  struct Block {
    uint32_t cls;
    size_t bytes;
  };
  std::unordered_map<uintptr_t, Block> blocks;  // by address
};

// Never destroyed: lists are freed until the very end.
IDPool& Pool() {
  static IDPool* pool = new IDPool;
  return *pool;
}

void* PoolAllocate(uint32_t size) {
#if defined(__SANITIZE_ADDRESS__)
  // The address checker sees a use after free only of memory it handed out.
  return nullptr;
#endif
  const uint32_t cls = (size + kStep - 1) / kStep;
  const size_t bytes = size_t{cls} * kStep;
  IDPool& pool = Pool();
  std::lock_guard<std::mutex> hold(pool.lock);
  SizeClass& c = pool.classes[cls];
  void* piece;
  if (c.freed) {
    piece = c.freed;
    c.freed = c.freed->next;
  } else {
    if (!c.next || static_cast<size_t>(c.end - c.next) < bytes) {
      const size_t blockBytes = c.nextBlockBytes;
      auto* block = static_cast<char*>(AllocateMemoryBlock(blockBytes));
      if (!block) return nullptr;
      pool.blocks[reinterpret_cast<uintptr_t>(block)] = {cls, blockBytes};
      c.nextBlockBytes = kHugePageBytes;
      c.next = block;
      c.end = block + blockBytes;
    }
    piece = c.next;
    c.next += bytes;
  }
  std::memset(piece, 0, bytes);
  return piece;
}

bool PoolFree(void* piece) {
  IDPool& pool = Pool();
  std::lock_guard<std::mutex> hold(pool.lock);
  // Blocks are aligned to their size: a piece's block starts at one of the
  // two alignments below it, and a block found there must reach the piece.
  const auto address = reinterpret_cast<uintptr_t>(piece);
  const IDPool::Block* block = nullptr;
  for (size_t bytes : {kFirstBlockBytes, kHugePageBytes}) {
    const uintptr_t base = address & ~(uintptr_t{bytes} - 1);
    auto it = pool.blocks.find(base);
    if (it != pool.blocks.end() && address - base < it->second.bytes) {
      block = &it->second;
      break;
    }
  }
  if (!block) return false;
  SizeClass& c = pool.classes[block->cls];
  auto* freed = static_cast<FreePiece*>(piece);
  freed->next = c.freed;
  c.freed = freed;
  return true;
}

}  // namespace

void* ShellAlloc(size_t size) { return size ? std::calloc(1, size) : nullptr; }
void ShellFree(void* block) {
  if (block && !PoolFree(block)) std::free(block);
}

static uint16_t ReadCount(const void* p) {
  uint16_t cb;
  std::memcpy(&cb, p, 2);
  return cb;
}

PItemIDList AllocIDList(uint32_t size) {
  // A list travels with 16-bit sizes; a longer one cannot be represented, and
  // wrapping the request would hand out a block too short for it.
  if (size > 0xFFFF) return nullptr;
  if (size >= sizeof(FreePiece) && size <= kPooledMax)
    if (void* piece = PoolAllocate(size)) return static_cast<PItemIDList>(piece);
  return static_cast<PItemIDList>(ShellAlloc(size));
}

void FreeIDList(PItemIDList& list) {
  ShellFree(list);
  list = nullptr;
}

uint32_t GetIDListSize(PCItemIDList list) {
  if (!list) return 0;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(list);
  uint32_t size = 2;
  for (uint16_t cb; (cb = ReadCount(p)) != 0; p += cb) size += cb;
  return size;
}

uint32_t GetFirstIDSize(PCItemIDList list) {
  if (!list) return 0;
  uint16_t cb = ReadCount(list);
  return cb ? cb + 2u : 0;
}

PItemIDList NextID(PCItemIDList list) {
  if (!list) return nullptr;
  uint16_t cb = ReadCount(list);
  if (cb == 0) return nullptr;
  auto* next = reinterpret_cast<const uint8_t*>(list) + cb;
  if (ReadCount(next) == 0) return nullptr;
  return reinterpret_cast<PItemIDList>(const_cast<uint8_t*>(next));
}

PItemIDList CopyIDList(PCItemIDList list) {
  if (!list) return nullptr;
  uint32_t size = GetIDListSize(list);
  PItemIDList copy = AllocIDList(size);
  if (copy) std::memcpy(copy, list, size);
  return copy;
}

static PItemIDList CopyOneID(const uint8_t* id) {
  uint16_t cb = ReadCount(id);
  PItemIDList copy = AllocIDList(cb + 2u);
  if (copy) std::memcpy(copy, id, cb);
  return copy;
}

PItemIDList CopyFirstID(PCItemIDList list) {
  if (!list || ReadCount(list) == 0) return nullptr;
  return CopyOneID(reinterpret_cast<const uint8_t*>(list));
}

PItemIDList CopyLastID(PCItemIDList list) {
  if (!list) return nullptr;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(list);
  const uint8_t* last = nullptr;
  for (uint16_t cb; (cb = ReadCount(p)) != 0; p += cb) last = p;
  return last ? CopyOneID(last) : nullptr;
}

PItemIDList CopyParentIDList(PCItemIDList list) {
  if (!list) return nullptr;
  PItemIDList result = nullptr;
  for (PCItemIDList id = list; id; id = NextID(id)) {
    if (!NextID(id)) break;  // the last ID is left out
    PItemIDList one = CopyFirstID(id);
    result = AppendIDList(result, one);
  }
  return result;
}

PItemIDList ConcatIDLists(PCItemIDList a, PCItemIDList b) {
  if (!a || !b) return nullptr;
  uint32_t sa = GetIDListSize(a) - 2, sb = GetIDListSize(b);
  PItemIDList result = AllocIDList(sa + sb);
  if (!result) return nullptr;
  std::memcpy(result, a, sa);
  std::memcpy(reinterpret_cast<uint8_t*>(result) + sa, b, sb);
  return result;
}

PItemIDList AppendIDList(PItemIDList& a, PItemIDList& b) {
  PItemIDList result;
  if (a && b)
    result = ConcatIDLists(a, b);
  else
    result = CopyIDList(a ? a : b);
  FreeIDList(a);
  FreeIDList(b);
  return result;
}

int CountIDs(PCItemIDList list) {
  if (!list) return 0;
  int n = 0;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(list);
  for (uint16_t cb; (cb = ReadCount(p)) != 0; p += cb) ++n;
  return n;
}

bool IDListsEqual(PCItemIDList a, PCItemIDList b) {
  if (!a || !b) return a == b;
  uint32_t sa = GetIDListSize(a);
  return sa == GetIDListSize(b) && std::memcmp(a, b, sa) == 0;
}
