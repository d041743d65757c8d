#pragma once
// The opaque bytes of one ID in our namespace: a kind tag, a flag byte, then a
// payload that depends on the kind. Only platform/ reads or writes them.
//
//   [cb:2][kind:1][flags:1][payload]
//   FileEntry:  [size:8][mtime:8 file time][mode:4][name bytes]   (size/mtime/mode valid with kStatValid)
//   Drive:      [mount point bytes]
//   TrashEntry: [path of the entry inside the trash's files/ folder]
//   Results:    [what the folder's layer needs to make it again (a search's query)]
//   PathEntry:  [absolute path of a file that a Results folder lists]
//   ArchiveEntry: as FileEntry; one name of an entry inside an archive file
//   Home, Computer, Network, RecycleBin: no payload
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/namespace/IDList.h"

enum class ItemKind : uint8_t {
  Invalid = 0,
  Home = 'H',
  Computer = 'C',
  Network = 'N',
  RecycleBin = 'B',
  Drive = 'D',
  FileEntry = 'F',
  TrashEntry = 'T',
  Results = 'S',
  PathEntry = 'P',
  ArchiveEntry = 'A',
  Location = 'L',
};

namespace itemflag {
constexpr uint8_t kFolder = 1;     // a folder, or a link that resolves to one
constexpr uint8_t kLink = 2;       // a symbolic link
constexpr uint8_t kStatValid = 4;  // size, mtime and mode were filled
constexpr uint8_t kNetwork = 8;    // a drive that is a network file system; an entry a server listed
constexpr uint8_t kHidden = 16;    // name begins with '.'
}  // namespace itemflag

struct FileStat {
  uint64_t size = 0;
  uint64_t mtime = 0;  // file time: 100 ns units since 1601-01-01 UTC
  uint32_t mode = 0;
};

constexpr size_t kItemHeader = 4;  // cb, kind, flags
constexpr size_t kFileEntryFixed = kItemHeader + 8 + 8 + 4;

// Builders return a one-ID list (ID + terminator), owned by the caller.
PItemIDList MakeSimpleID(ItemKind kind, uint8_t flags = 0);
PItemIDList MakeDriveID(std::string_view mountPoint, bool network);
PItemIDList MakeFileEntryID(std::string_view name, uint8_t flags, const FileStat* stat);
PItemIDList MakeTrashEntryID(std::string_view pathInTrash, uint8_t flags);
PItemIDList MakeResultsID(std::string_view payload);
PItemIDList MakePathEntryID(std::string_view path, uint8_t flags);
PItemIDList MakeArchiveEntryID(std::string_view name, uint8_t flags, const FileStat& stat);
PItemIDList MakeLocationID(std::string_view rootUri);

// FileEntry and ArchiveEntry carry size, time and mode ahead of the name.
inline bool HasStatLayout(ItemKind kind) { return kind == ItemKind::FileEntry || kind == ItemKind::ArchiveEntry; }

// Readers of the first ID of a list; a null or empty list reads as Invalid.
// Inline: a sort calls them millions of times.
inline uint16_t IDCount(PCItemIDList id) {
  uint16_t cb;
  std::memcpy(&cb, id, 2);
  return cb;
}
inline ItemKind IDKind(PCItemIDList id) {
  if (!id || IDCount(id) < kItemHeader) return ItemKind::Invalid;
  return static_cast<ItemKind>(reinterpret_cast<const uint8_t*>(id)[2]);
}
inline uint8_t IDFlags(PCItemIDList id) {
  if (!id || IDCount(id) < kItemHeader) return 0;
  return reinterpret_cast<const uint8_t*>(id)[3];
}
// Name of a FileEntry or ArchiveEntry, mount point of a Drive, trash path of a TrashEntry,
// path of a PathEntry.
inline std::string_view IDPayloadText(PCItemIDList id) {
  ItemKind kind = IDKind(id);
  size_t fixed = HasStatLayout(kind) ? kFileEntryFixed : kItemHeader;
  uint16_t cb = id ? IDCount(id) : 0;
  if (kind == ItemKind::Invalid || cb < fixed) return {};
  return {reinterpret_cast<const char*>(id) + fixed, static_cast<size_t>(cb - fixed)};
}
bool IDFileStat(PCItemIDList id, FileStat& out);           // false unless kStatValid
void SetIDFileStat(PItemIDList id, const FileStat& stat);  // fills in place, sets kStatValid
void ClearIDFileStat(PItemIDList id);

// The last ID of a list (the list itself when it has one ID); null for empty.
PCItemIDList LastID(PCItemIDList list);
