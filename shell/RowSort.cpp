#include "shell/RowSort.h"

#include <atomic>

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/NameCompare.h"

namespace {

struct NamedRow {
  bool file;  // folders first
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

// The rows in the order of the name column (times order), by keys.
std::vector<NamedRow> ByName(const std::vector<std::unique_ptr<TShellFileItem>>& rows, int order) {
  std::vector<NamedRow> named;
  named.reserve(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    FetchRowAhead(i, rows.size(), [&](size_t j) { return rows[j].get(); });
    TShellFileItem* row = rows[i].get();
    named.push_back({!(IDFlags(row->RelativeIDList.get()) & itemflag::kFolder), MakeNameKey(row->EntryName()), row});
  }
  auto less = [](const NamedRow& a, const NamedRow& b) {
    if (a.file != b.file) return b.file;
    const int r = CompareNameKeys(a.name, b.name);
    return r ? r < 0 : CompareNames(a.row->EntryName(), b.row->EntryName()) < 0;
  };
  SortInParallel(named, [&](const NamedRow& a, const NamedRow& b) { return order < 0 ? less(b, a) : less(a, b); });
  return named;
}

// The rows change places: nothing is freed or made.
template <class Sorted, class RowOf>
void Reorder(std::vector<std::unique_ptr<TShellFileItem>>& rows, const Sorted& sorted, const RowOf& rowOf) {
  for (auto& row : rows) static_cast<void>(row.release());
  for (size_t i = 0; i < rows.size(); ++i) rows[i].reset(rowOf(sorted[i]));
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

// Sorts keys by group, value and name rank, ascending, with passes of a
// radix sort over the bytes of the values in which they differ: a million
// keys take a few passes over memory, not twenty comparisons each. False,
// with keys untouched, when the ranks do not number the keys 0..n-1.
bool SortByValueThenRank(std::vector<PackedKey>& keys) {
  const size_t n = keys.size();
  std::vector<PackedKey> other(n);
  // In the order of the ranks first: every later pass keeps it among equals.
  std::vector<uint8_t> seen(n, 0);
  for (const PackedKey& key : keys) {
    const uint32_t rank = key.groupRank & ~kFileGroup;
    if (rank >= n || seen[rank]) return false;
    seen[rank] = 1;
    other[rank] = key;
  }
  keys.swap(other);
  SortByKeyBytes(keys, other, [](const PackedKey& key) { return key.value; });
  // Folders first, each group in the order it has.
  size_t folders = 0;
  for (const PackedKey& key : keys) folders += !(key.groupRank & kFileGroup);
  size_t folderAt = 0, fileAt = folders;
  for (const PackedKey& key : keys) other[key.groupRank & kFileGroup ? fileAt++ : folderAt++] = key;
  keys.swap(other);
  return true;
}

}  // namespace

bool SortRowsByKeys(std::vector<std::unique_ptr<TShellFileItem>>& rows, int column, int order, const std::string& dir,
                    NameRanks ranks, bool& ranksStored) {
  if (column == 2 || !IsColumn(column) || rows.size() >= kFileGroup) return false;
  const size_t n = rows.size();
  std::atomic<bool> foreign{false};
  for (const auto& row : rows)
    if (!row) return false;
  if (column == 0) {
    InParts(n, [&](size_t first, size_t last) {
      for (size_t i = first; i < last && !foreign; ++i)
        if (IDKind(rows[i]->RelativeIDList.get()) != ItemKind::FileEntry) foreign = true;
    });
    if (foreign) return false;
  }
  ranksStored = ranks == NameRanks::Stored;
  if (column == 0) {
    // Rows in the order of the names, either way, only turn round.
    if (ranks == NameRanks::Ascending || ranks == NameRanks::Descending) {
      if ((ranks == NameRanks::Ascending) != (order > 0)) std::reverse(rows.begin(), rows.end());
      return true;
    }
    std::vector<TShellFileItem*> sorted(n, nullptr);
    if (ranks == NameRanks::Stored && PlaceByRank(rows, order, sorted))
      Reorder(rows, sorted, [](TShellFileItem* row) { return row; });
    else
      Reorder(rows, ByName(rows, order), [](const NamedRow& named) { return named.row; });
    return true;
  }
  if (ranks == NameRanks::Unknown) {
    const std::vector<NamedRow> byName = ByName(rows, 1);
    for (size_t i = 0; i < n; ++i) byName[i].row->NameRank = static_cast<uint32_t>(i);
  }
  // Each key needs its row and its ID, two reads from far apart in memory:
  // made on all cores, each part writing only its own rows and keys, in the
  // one pass over them that also finds a row of another kind.
  std::vector<PackedKey> keys(n);
  InParts(n, [&](size_t first, size_t last) {
    for (size_t i = first; i < last; ++i) {
      FetchRowAhead(i, last, [&](size_t j) { return rows[j].get(); });
      TShellFileItem* row = rows[i].get();
      // Within a group the places follow the names; the group goes in the key.
      if (ranks == NameRanks::Ascending || ranks == NameRanks::Descending)
        row->NameRank = static_cast<uint32_t>(ranks == NameRanks::Ascending ? i : n - 1 - i);
      PCItemIDList id = row->RelativeIDList.get();
      if (IDKind(id) != ItemKind::FileEntry) {
        foreign = true;
        break;
      }
      const uint8_t flags = IDFlags(id);
      const bool folder = flags & itemflag::kFolder;
      FileStat stat;
      // A folder's size is none: its stat data is not needed.
      if (column == 1 && folder) {
        keys[i] = {0, row->NameRank, static_cast<uint32_t>(i)};
        continue;
      }
      if (!IDFileStat(id, stat)) {
        // Stat data the sort's preparation could not get: the comparison fetches it.
        CompareFileEntries(column, dir, id, id);
        IDFileStat(id, stat);
      }
      uint64_t value;
      if (column == 1)
        value = folder ? 0 : stat.size;
      else if (column == 3)
        value = stat.mtime;
      else
        value = FindAttributesOf(stat.mode, folder, flags & itemflag::kHidden);
      keys[i] = {value, (folder ? 0 : kFileGroup) | row->NameRank, static_cast<uint32_t>(i)};
    }
  });
  // Ranks are unique, so no two keys are equal and the order is whole: the
  // keys taken in the order of the names and sorted stably by value, then by
  // group, give that order without comparing them.
  if (foreign) return false;
  std::vector<TShellFileItem*> before(n);
  for (size_t i = 0; i < n; ++i) before[i] = rows[i].get();
  if (!SortByValueThenRank(keys)) return false;
  if (order < 0) std::reverse(keys.begin(), keys.end());
  Reorder(rows, keys, [&](const PackedKey& key) { return before[key.index]; });
  ranksStored = true;
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
