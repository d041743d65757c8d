#pragma once
// Item ID lists: a run of IDs, each a 16-bit byte count (counting itself) and
// opaque bytes, closed by a 16-bit zero. The empty list names the desktop.
// Blocks come from the zero-filling task allocator, so a block of n + 2 bytes
// that receives n bytes of IDs is already terminated.
#include <cstddef>
#include <cstdint>
#include <memory>

struct SHITEMID {
  uint16_t cb;
  uint8_t abID[1];
};
struct ITEMIDLIST {
  SHITEMID mkid;
};
using PItemIDList = ITEMIDLIST*;
using PCItemIDList = const ITEMIDLIST*;

// The task allocator: zero-filled blocks, freed with ShellFree.
void* ShellAlloc(size_t size);
void ShellFree(void* block);

PItemIDList AllocIDList(uint32_t size);
void FreeIDList(PItemIDList& list);
uint32_t GetIDListSize(PCItemIDList list);
uint32_t GetFirstIDSize(PCItemIDList list);
PItemIDList NextID(PCItemIDList list);
PItemIDList CopyIDList(PCItemIDList list);
PItemIDList CopyFirstID(PCItemIDList list);
PItemIDList CopyLastID(PCItemIDList list);
PItemIDList CopyParentIDList(PCItemIDList list);
PItemIDList ConcatIDLists(PCItemIDList a, PCItemIDList b);
PItemIDList AppendIDList(PItemIDList& a, PItemIDList& b);
// Number of IDs in the list; 0 for the empty list and for null.
int CountIDs(PCItemIDList list);
// True when both lists hold the same bytes.
bool IDListsEqual(PCItemIDList a, PCItemIDList b);

struct IDListDeleter {
  void operator()(ITEMIDLIST* list) const { ShellFree(list); }
};
// Owning handle for one list; release() hands it back to the raw operations.
using IDListPtr = std::unique_ptr<ITEMIDLIST, IDListDeleter>;
