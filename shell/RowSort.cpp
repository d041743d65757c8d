#include "shell/RowSort.h"

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/NameCompare.h"

namespace {

struct NamedRow {
  NameKey name;
  TShellFileItem* row;
};

// What a column compares, the group (folders first) and the name's place: a
// column sort compares 16 bytes and follows no pointer.
struct PackedKey {
  uint64_t value;
  uint32_t groupRank;  // group in the top bit, name rank below
  uint32_t index;      // the row's place before the sort
};

constexpr uint32_t kFileGroup = 1u << 31;

void RankByName(std::vector<std::unique_ptr<TShellFileItem>>& rows) {
  std::vector<NamedRow> named;
  named.reserve(rows.size());
  for (const auto& row : rows) named.push_back({MakeNameKey(row->EntryName()), row.get()});
  SortInParallel(named, [](const NamedRow& a, const NamedRow& b) {
    const int r = CompareNameKeys(a.name, b.name);
    return r ? r < 0 : CompareNames(a.row->EntryName(), b.row->EntryName()) < 0;
  });
  for (size_t i = 0; i < named.size(); ++i) named[i].row->NameRank = static_cast<uint32_t>(i);
}

// The order by name straight from the ranks when they number the rows
// 0..n-1: folders first, each group by rank, all reversed when descending.
bool PlaceByRank(const std::vector<std::unique_ptr<TShellFileItem>>& rows, int order,
                 std::vector<TShellFileItem*>& sorted) {
  const size_t n = rows.size();
  std::vector<TShellFileItem*> byRank(n, nullptr);
  for (const auto& row : rows) {
    if (row->NameRank >= n || byRank[row->NameRank]) return false;
    byRank[row->NameRank] = row.get();
  }
  size_t next = 0;
  for (bool folders : {true, false})
    for (TShellFileItem* row : byRank)
      if (static_cast<bool>(IDFlags(row->RelativeIDList.get()) & itemflag::kFolder) == folders) sorted[next++] = row;
  if (order < 0) std::reverse(sorted.begin(), sorted.end());
  return true;
}

}  // namespace

bool SortRowsByKeys(std::vector<std::unique_ptr<TShellFileItem>>& rows, int column, int order, const std::string& dir,
                    NameRanks ranks) {
  if (column == 2 || !IsColumn(column) || rows.size() >= kFileGroup) return false;
  for (const auto& row : rows)
    if (!row || IDKind(row->RelativeIDList.get()) != ItemKind::FileEntry) return false;
  const size_t n = rows.size();
  if (ranks == NameRanks::Unknown) {
    RankByName(rows);
  } else if (ranks != NameRanks::Stored) {
    // Within a group the places follow the names; the group goes in the key.
    for (size_t i = 0; i < n; ++i)
      rows[i]->NameRank = static_cast<uint32_t>(ranks == NameRanks::Ascending ? i : n - 1 - i);
  }
  std::vector<TShellFileItem*> sorted(n, nullptr);
  if (column == 0 && PlaceByRank(rows, order, sorted)) {
    for (size_t i = 0; i < n; ++i) static_cast<void>(rows[i].release());
    for (size_t i = 0; i < n; ++i) rows[i].reset(sorted[i]);
    return true;
  }
  std::vector<PackedKey> keys;
  keys.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    PCItemIDList id = rows[i]->RelativeIDList.get();
    const uint8_t flags = IDFlags(id);
    const bool folder = flags & itemflag::kFolder;
    uint64_t value = 0;
    if (column != 0) {
      FileStat stat;
      if (!IDFileStat(id, stat)) {
        // Stat data the sort's preparation could not get: the comparison fetches it.
        CompareFileEntries(column, dir, id, id);
        IDFileStat(id, stat);
      }
      if (column == 1)
        value = folder ? 0 : stat.size;
      else if (column == 3)
        value = stat.mtime;
      else
        value = FindAttributesOf(stat.mode, folder, flags & itemflag::kHidden);
    }
    keys.push_back({value, (folder ? 0 : kFileGroup) | rows[i]->NameRank, static_cast<uint32_t>(i)});
  }
  // Ranks are unique, so no two keys are equal and the order is whole.
  auto less = [](const PackedKey& a, const PackedKey& b) {
    const uint32_t ga = a.groupRank & kFileGroup, gb = b.groupRank & kFileGroup;
    if (ga != gb) return ga < gb;
    if (a.value != b.value) return a.value < b.value;
    return a.groupRank < b.groupRank;
  };
  auto before = [&](const PackedKey& a, const PackedKey& b) { return order < 0 ? less(b, a) : less(a, b); };
  SortInParallel(keys, before);
  for (size_t i = 0; i < n; ++i) sorted[i] = rows[keys[i].index].get();
  // The rows only change places: nothing is freed or made.
  for (size_t i = 0; i < n; ++i) static_cast<void>(rows[i].release());
  for (size_t i = 0; i < n; ++i) rows[i].reset(sorted[i]);
  return true;
}

bool SortIDsByName(std::vector<IDListPtr>& ids, int order) {
  struct NamedID {
    bool file;
    NameKey name;
    PItemIDList id;
  };
  std::vector<NamedID> named;
  named.reserve(ids.size());
  for (const IDListPtr& id : ids) {
    if (IDKind(id.get()) != ItemKind::FileEntry) return false;
    named.push_back({!(IDFlags(id.get()) & itemflag::kFolder), MakeNameKey(IDPayloadText(id.get())), id.get()});
  }
  auto less = [](const NamedID& a, const NamedID& b) {
    if (a.file != b.file) return b.file;
    const int r = CompareNameKeys(a.name, b.name);
    return r ? r < 0 : CompareNames(IDPayloadText(a.id), IDPayloadText(b.id)) < 0;
  };
  SortInParallel(named, [&](const NamedID& a, const NamedID& b) { return order < 0 ? less(b, a) : less(a, b); });
  // The IDs only change places: nothing is freed or made.
  for (IDListPtr& id : ids) static_cast<void>(id.release());
  for (size_t i = 0; i < ids.size(); ++i) ids[i].reset(named[i].id);
  return true;
}
