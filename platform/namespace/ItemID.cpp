#include "platform/namespace/ItemID.h"

#include <cstring>

static PItemIDList MakeID(ItemKind kind, uint8_t flags, size_t fixed, std::string_view text) {
  size_t cb = fixed + text.size();
  if (cb > 0xFFF0) return nullptr;
  PItemIDList list = AllocIDList(static_cast<uint32_t>(cb + 2));
  if (!list) return nullptr;
  auto* p = reinterpret_cast<uint8_t*>(list);
  uint16_t c16 = static_cast<uint16_t>(cb);
  std::memcpy(p, &c16, 2);
  p[2] = static_cast<uint8_t>(kind);
  p[3] = flags;
  if (!text.empty()) std::memcpy(p + fixed, text.data(), text.size());
  return list;
}

PItemIDList MakeSimpleID(ItemKind kind, uint8_t flags) { return MakeID(kind, flags, kItemHeader, {}); }

PItemIDList MakeDriveID(std::string_view mountPoint, bool network) {
  return MakeID(ItemKind::Drive, itemflag::kFolder | (network ? itemflag::kNetwork : 0), kItemHeader, mountPoint);
}

PItemIDList MakeFileEntryID(std::string_view name, uint8_t flags, const FileStat* stat) {
  if (!name.empty() && name[0] == '.') flags |= itemflag::kHidden;
  PItemIDList list = MakeID(ItemKind::FileEntry, flags & ~itemflag::kStatValid, kFileEntryFixed, name);
  if (list && stat) SetIDFileStat(list, *stat);
  return list;
}

PItemIDList MakeTrashEntryID(std::string_view pathInTrash, uint8_t flags) {
  return MakeID(ItemKind::TrashEntry, flags, kItemHeader, pathInTrash);
}

PItemIDList MakeResultsID(std::string_view payload) {
  return MakeID(ItemKind::Results, itemflag::kFolder, kItemHeader, payload);
}

PItemIDList MakeLocationID(std::string_view rootUri) {
  return MakeID(ItemKind::Location, itemflag::kFolder, kItemHeader, rootUri);
}

PItemIDList MakePathEntryID(std::string_view path, uint8_t flags) {
  size_t slash = path.rfind('/');
  if (slash != std::string_view::npos && slash + 1 < path.size() && path[slash + 1] == '.') flags |= itemflag::kHidden;
  return MakeID(ItemKind::PathEntry, flags & ~itemflag::kStatValid, kItemHeader, path);
}

PItemIDList MakeArchiveEntryID(std::string_view name, uint8_t flags, const FileStat& stat) {
  if (!name.empty() && name[0] == '.') flags |= itemflag::kHidden;
  PItemIDList list = MakeID(ItemKind::ArchiveEntry, flags & ~itemflag::kStatValid, kFileEntryFixed, name);
  if (list) SetIDFileStat(list, stat);
  return list;
}

bool IDFileStat(PCItemIDList id, FileStat& out) {
  if (!HasStatLayout(IDKind(id)) || !(IDFlags(id) & itemflag::kStatValid)) return false;
  auto* p = reinterpret_cast<const uint8_t*>(id) + kItemHeader;
  std::memcpy(&out.size, p, 8);
  std::memcpy(&out.mtime, p + 8, 8);
  std::memcpy(&out.mode, p + 16, 4);
  return true;
}

void SetIDFileStat(PItemIDList id, const FileStat& stat) {
  if (!HasStatLayout(IDKind(id))) return;
  auto* p = reinterpret_cast<uint8_t*>(id);
  std::memcpy(p + kItemHeader, &stat.size, 8);
  std::memcpy(p + kItemHeader + 8, &stat.mtime, 8);
  std::memcpy(p + kItemHeader + 16, &stat.mode, 4);
  p[3] |= itemflag::kStatValid;
}

void ClearIDFileStat(PItemIDList id) {
  if (IDKind(id) == ItemKind::FileEntry) reinterpret_cast<uint8_t*>(id)[3] &= ~itemflag::kStatValid;
}

PCItemIDList LastID(PCItemIDList list) {
  if (!list || IDCount(list) == 0) return nullptr;
  PCItemIDList last = list;
  for (PCItemIDList next = NextID(list); next; next = NextID(next)) last = next;
  return last;
}
