#include "shell/RowSort.h"

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/NameCompare.h"

namespace {

struct KeyedRow {
  uint8_t group;   // folders first
  uint64_t value;  // what the column compares before the name
  NameKey name;
  TShellFileItem* row;
};

}  // namespace

bool SortRowsByKeys(std::vector<std::unique_ptr<TShellFileItem>>& rows, int column, int order, const std::string& dir) {
  if (column == 2 || !IsColumn(column)) return false;
  for (const auto& row : rows)
    if (!row || IDKind(row->RelativeIDList.get()) != ItemKind::FileEntry) return false;
  std::vector<KeyedRow> keyed;
  keyed.reserve(rows.size());
  for (const auto& row : rows) {
    PCItemIDList id = row->RelativeIDList.get();
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
    keyed.push_back({static_cast<uint8_t>(folder ? 0 : 1), value, MakeNameKey(IDPayloadText(id)), row.get()});
  }
  auto before = [&](const KeyedRow& a, const KeyedRow& b) {
    int r = a.group != b.group ? (a.group < b.group ? -1 : 1) : 0;
    if (!r && a.value != b.value) r = a.value < b.value ? -1 : 1;
    if (!r) r = CompareNameKeys(a.name, b.name);
    if (!r) r = CompareNames(IDPayloadText(a.row->RelativeIDList.get()), IDPayloadText(b.row->RelativeIDList.get()));
    return r * order < 0;
  };
  SortInHalves(keyed, before);
  // The rows only change places: nothing is freed or made.
  for (size_t i = 0; i < rows.size(); ++i) static_cast<void>(rows[i].release());
  for (size_t i = 0; i < rows.size(); ++i) rows[i].reset(keyed[i].row);
  return true;
}
