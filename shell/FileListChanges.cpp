// Changes the watchers report by name, applied to the sorted rows one by one:
// a huge folder is not read and sorted again for each file that appears.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <unordered_map>
#include <unordered_set>

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/ItemID.h"
#include "platform/system/UniqueFd.h"
#include "shell/ShellFileList.h"

namespace {

// Above this many names a burst is read whole: the rows move once either way.
constexpr size_t kMaxNamesApplied = 2048;
// Up to this many rows in and out are moved within the rows' array.
constexpr size_t kInPlaceChanges = 16;

struct Carried {
  bool selected = false;
  bool focused = false;
};

// Each new row takes the place of the old row of its name, between the same
// neighbours: places are where a search among the old rows put the new ones.
bool ReplaceInPlace(const std::vector<size_t>& gone, const std::vector<std::unique_ptr<TShellFileItem>>& added,
                    const std::vector<size_t>& places, const std::vector<std::unique_ptr<TShellFileItem>>& rows) {
  if (gone.empty() || gone.size() != added.size()) return false;
  for (size_t k = 0; k < gone.size(); ++k)
    if ((places[k] != gone[k] && places[k] != gone[k] + 1) ||
        IDPayloadText(added[k]->RelativeIDList.get()) != IDPayloadText(rows[gone[k]]->RelativeIDList.get()))
      return false;
  return true;
}

// Takes the rows at gone (ascending) out of rows into old, and puts each of
// added (sorted) at its place by before.
template <class Before>
void ReplaceRows(std::vector<std::unique_ptr<TShellFileItem>>& rows, const std::vector<size_t>& gone,
                 std::vector<std::unique_ptr<TShellFileItem>>& added, const Before& before,
                 std::vector<std::unique_ptr<TShellFileItem>>& old) {
  if (gone.size() + added.size() <= kInPlaceChanges) {
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
      old.push_back(std::move(rows[*it]));
      rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(*it));
    }
    for (auto& item : added) {
      auto at = std::lower_bound(rows.begin(), rows.end(), item.get(),
                                 [&](const auto& row, const TShellFileItem* p) { return before(row.get(), p); });
      rows.insert(at, std::move(item));
    }
    return;
  }
  std::vector<std::unique_ptr<TShellFileItem>> merged;
  merged.reserve(RowsWithRoom(rows.size() - gone.size() + added.size()));
  size_t nextGone = 0, nextAdded = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (nextGone < gone.size() && gone[nextGone] == i) {
      ++nextGone;
      old.push_back(std::move(rows[i]));
      continue;
    }
    for (; nextAdded < added.size() && before(added[nextAdded].get(), rows[i].get()); ++nextAdded)
      merged.push_back(std::move(added[nextAdded]));
    merged.push_back(std::move(rows[i]));
  }
  for (; nextAdded < added.size(); ++nextAdded) merged.push_back(std::move(added[nextAdded]));
  rows.swap(merged);
}

// The order of all rows, shown and masked out, without removed and with
// inserted (sorted) at their places. The removed rows are still alive.
template <class Before>
void ReplaceInOrder(std::vector<TShellFileItem*>& all, const std::vector<TShellFileItem*>& removed,
                    const std::vector<TShellFileItem*>& inserted, const Before& before) {
  auto place = [&](TShellFileItem* item) { return std::lower_bound(all.begin(), all.end(), item, before); };
  if (removed.size() + inserted.size() <= kInPlaceChanges) {
    for (TShellFileItem* item : removed) {
      auto at = place(item);
      while (at != all.end() && *at != item) ++at;
      if (at != all.end()) all.erase(at);
    }
    for (TShellFileItem* item : inserted) all.insert(place(item), item);
    return;
  }
  const std::unordered_set<TShellFileItem*> out(removed.begin(), removed.end());
  std::vector<TShellFileItem*> merged;
  merged.reserve(all.size() - removed.size() + inserted.size());
  size_t next = 0;
  for (TShellFileItem* item : all) {
    if (out.count(item)) continue;
    for (; next < inserted.size() && before(inserted[next], item); ++next) merged.push_back(inserted[next]);
    merged.push_back(item);
  }
  for (; next < inserted.size(); ++next) merged.push_back(inserted[next]);
  all.swap(merged);
}

}  // namespace

bool TShellFileList::ApplyChangedNames(const std::vector<std::string>& names) {
  if (changesMissed_ || sortedColumn_ != SortType || !IsColumn(SortType) || sortedOrder_ != SortOrder[SortType] ||
      names.size() > kMaxNamesApplied || GetLevel() < 1)
    return false;
  ShellFolderPtr folder;
  if (!GetFolder(folder) || !dynamic_cast<FileSystemFolder*>(folder.get())) return false;
  const std::string dir = GetPathName();
  if (dir.empty()) return false;
  UniqueFd fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return false;
  if (names.empty()) return true;
  // The rows masked out take the same changes, so a new mask needs no read.
  bool masked = !allRows_.empty();
  const bool wasRanked = nameRanked_;
  nameRanked_ = false;
  // An index by name made part way holds rows by places that move now.
  const bool byName = RowsByNameWanted() && RowsFoundByName();
  if (!byName) DropRowsByName(0);

  const int column = SortType, order = SortOrder[column];
  auto before = [&](const TShellFileItem* a, const TShellFileItem* b) {
    return CompareFileEntries(column, dir, a->RelativeIDList.get(), b->RelativeIDList.get()) * order < 0;
  };

  // The rows that bear a reported name: found by their place in the order
  // where it follows from the name alone, else by a pass over the rows.
  auto named = [&](const std::vector<std::unique_ptr<TShellFileItem>>& rows, std::vector<size_t>& found) {
    if (column == 0 || column == 2) {
      for (const std::string& name : names) {
        for (uint8_t flags : {uint8_t{0}, itemflag::kFolder}) {
          TShellFileItem probe(this, MakeFileEntryID(name, flags, nullptr));
          if (!probe.RelativeIDList) return false;
          auto at = std::lower_bound(rows.begin(), rows.end(), &probe,
                                     [&](const auto& row, const TShellFileItem* p) { return before(row.get(), p); });
          if (at != rows.end() && IDPayloadText((*at)->RelativeIDList.get()) == name)
            found.push_back(static_cast<size_t>(at - rows.begin()));
        }
      }
      std::sort(found.begin(), found.end());
      found.erase(std::unique(found.begin(), found.end()), found.end());
    } else {
      std::unordered_set<std::string_view> wanted(names.begin(), names.end());
      for (size_t i = 0; i < rows.size(); ++i)
        if (wanted.count(IDPayloadText(rows[i]->RelativeIDList.get()))) found.push_back(i);
    }
    return true;
  };
  // The row of a name from the index, at the place its old key gives it.
  auto place = [&](const std::vector<std::unique_ptr<TShellFileItem>>& rows, const TShellFileItem* row,
                   std::vector<size_t>& found) {
    auto at = std::lower_bound(rows.begin(), rows.end(), row,
                               [&](const auto& r, const TShellFileItem* p) { return before(r.get(), p); });
    for (; at != rows.end() && !before(row, at->get()); ++at)
      if (at->get() == row) {
        found.push_back(static_cast<size_t>(at - rows.begin()));
        return true;
      }
    return false;
  };
  auto indexed = [&](std::vector<size_t>& found, std::vector<size_t>& foundOut) {
    for (const std::string& name : names) {
      const TShellFileItem* row = rowsByName_.Find(name);
      if (row && !place(items_, row, found) && !(masked && place(maskedOut_, row, foundOut))) return false;
    }
    for (auto* rows : {&found, &foundOut}) {
      std::sort(rows->begin(), rows->end());
      rows->erase(std::unique(rows->begin(), rows->end()), rows->end());
    }
    return true;
  };
  std::vector<size_t> gone, goneOut;
  // A row not where its key says (its stat data fetched anew) is left to the pass.
  if (!byName || !indexed(gone, goneOut)) {
    gone.clear();
    goneOut.clear();
    if (!named(items_, gone) || (masked && !named(maskedOut_, goneOut))) return false;
  }

  // What the owner shows of a row goes to the row that takes its name.
  std::unordered_map<std::string, Carried> carried;
  const int focusedRow = ListView ? ListView->FocusedRow() : -1;
  const bool anySelected = ListView && ListView->SelectedCount() > 0;
  // The size of the selected rows that go, as the owner summed it.
  uint64_t selectedGone = 0;
  for (size_t i : gone) {
    Carried c;
    c.selected = anySelected && ListView->IsRowSelected(static_cast<int>(i));
    if (c.selected) selectedGone += items_[i]->GetSize();
    c.focused = static_cast<int>(i) == focusedRow;
    carried[std::string(IDPayloadText(items_[i]->RelativeIDList.get()))] = c;
  }

  uint32_t flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
  if (ListView && ListView->GetIncludeHidden()) flags |= SHCONTF_INCLUDEHIDDEN;
  const int level = GetLevel();
  const TShItemIDType folderType = level == 1 ? GetFolderType() : itUnknown;
  std::vector<std::unique_ptr<TShellFileItem>> added, addedOut;
  for (const std::string& name : names) {
    PItemIDList id = MakeEntryIDAt(fd.Get(), name.c_str(), flags);
    if (!id) continue;
    auto item = std::make_unique<TShellFileItem>(this, id);
    if (!KeepVirtualItem(item.get(), level, folderType)) continue;
    if (ListView && !ListView->DoShFilter(item.get())) {
      // Kept aside with the rows masked out; without those, the next mask reads the folder.
      if (allRowsKept_) addedOut.push_back(std::move(item));
      continue;
    }
    added.push_back(std::move(item));
  }
  auto sorted = [&](std::vector<std::unique_ptr<TShellFileItem>>& rows) {
    std::sort(rows.begin(), rows.end(), [&](const auto& a, const auto& b) { return before(a.get(), b.get()); });
  };
  sorted(added);
  sorted(addedOut);
  // The index by name is told before the rows change hands.
  std::vector<TShellFileItem*> left, came;
  if (byName) {
    for (size_t i : gone) left.push_back(items_[i].get());
    for (size_t i : goneOut) left.push_back(maskedOut_[i].get());
    for (const auto& item : added) came.push_back(item.get());
    for (const auto& item : addedOut) came.push_back(item.get());
  }
  if (!addedOut.empty() && !masked) {
    // The first row masked out: the order of all rows is the shown rows' so far.
    allRows_.reserve(RowsWithRoom(items_.size() + addedOut.size()));
    for (const auto& row : items_) allRows_.push_back(row.get());
    masked = true;
  }
  if (masked) {
    // The rows still live until the end: the order is mended by them first.
    std::vector<TShellFileItem*> removed, inserted;
    for (size_t i : gone) removed.push_back(items_[i].get());
    for (size_t i : goneOut) removed.push_back(maskedOut_[i].get());
    for (const auto& item : added) inserted.push_back(item.get());
    for (const auto& item : addedOut) inserted.push_back(item.get());
    std::sort(inserted.begin(), inserted.end(), before);
    ReplaceInOrder(allRows_, removed, inserted, before);
    ForgetNamesInRowOrder();
  }

  // Each new row's place among the old ones by a binary search.
  std::vector<size_t> places;
  for (const auto& item : added)
    places.push_back(static_cast<size_t>(
        std::lower_bound(items_.begin(), items_.end(), item.get(),
                         [&](const auto& row, const TShellFileItem* p) { return before(row.get(), p); }) -
        items_.begin()));
  // A known total follows the rows out and in, as the view's sum of the
  // selected does; one still summed up starts again.
  if (sizeTotalKnown_) {
    for (size_t i : gone) sizeSum_ -= std::min(sizeSum_, items_[i]->GetSize());
    for (const auto& item : added) sizeSum_ += item->GetSize();
  }
  std::vector<std::unique_ptr<TShellFileItem>> old;
  if (masked) ReplaceRows(maskedOut_, goneOut, addedOut, before, old);
  if (ReplaceInPlace(gone, added, places, items_)) {
    // Every file written is reported twice, by name and by size: the second
    // report moves no row and repaints only its own.
    nameRanked_ = wasRanked;
    uint64_t selectedNow = 0;
    for (size_t k = 0; k < gone.size(); ++k) {
      if (anySelected && ListView->IsRowSelected(static_cast<int>(gone[k]))) selectedNow += added[k]->GetSize();
      // A sum still made covers the rows before its cursor.
      if (!sizeTotalKnown_ && gone[k] < static_cast<size_t>(prefetchCursor_))
        sizeSum_ = sizeSum_ - std::min(sizeSum_, items_[gone[k]]->GetSize()) + added[k]->GetSize();
      added[k]->NameRank = items_[gone[k]]->NameRank;
      old.push_back(std::exchange(items_[gone[k]], std::move(added[k])));
    }
    if (byName) RowsByNameFollow(left, came);
    if (ListView) {
      if (selectedGone != selectedNow) ListView->SelectedSizeChanged(selectedGone, selectedNow);
      for (size_t row : gone) ListView->RepaintRow(static_cast<int>(row));
      ListView->DoShListChange(this);
    }
    return true;
  }
  std::vector<int> insertedAt;
  if (gone.size() + added.size() <= kInPlaceChanges && items_.capacity() >= items_.size() + added.size()) {
    // A few rows move the rest in place: a fresh array of a million rows
    // costs more in page faults than the moves.
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
      old.push_back(std::move(items_[*it]));
      items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(*it));
    }
    for (size_t k = 0; k < added.size(); ++k) {
      const size_t goneBefore =
          static_cast<size_t>(std::lower_bound(gone.begin(), gone.end(), places[k]) - gone.begin());
      const size_t at = places[k] - goneBefore + k;
      items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(at), std::move(added[k]));
      insertedAt.push_back(static_cast<int>(at));
    }
  } else {
    std::vector<std::unique_ptr<TShellFileItem>> merged;
    merged.reserve(RowsWithRoom(items_.size() - gone.size() + added.size()));
    size_t nextGone = 0, nextAdded = 0;
    for (size_t next = 0; next <= items_.size(); ++next) {
      for (; nextAdded < added.size() && places[nextAdded] == next; ++nextAdded) {
        insertedAt.push_back(static_cast<int>(merged.size()));
        merged.push_back(std::move(added[nextAdded]));
      }
      if (next == items_.size()) break;
      if (nextGone < gone.size() && gone[nextGone] == next) {
        ++nextGone;
        continue;
      }
      merged.push_back(std::move(items_[next]));
    }
    old.swap(items_);
    items_.swap(merged);
  }
  if (sizeTotalKnown_)
    prefetchCursor_ = std::min(prefetchCursor_, Count());
  else
    RestartSizePrefetch();
  // Or let go, to be made again while idle.
  if (!masked) MoveNameIndex(gone, insertedAt);
  if (byName) RowsByNameFollow(left, came);

  if (ListView) {
    // Rows leave from the bottom up and come in from the top down, so each
    // index is right when it is told.
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) ListView->RowRemoved(static_cast<int>(*it));
    if (selectedGone) ListView->SelectedSizeChanged(selectedGone, 0);
    int focus = -1;
    for (int row : insertedAt) {
      ListView->RowInserted(row);
      auto c = carried.find(std::string(IDPayloadText(items_[row]->RelativeIDList.get())));
      if (c == carried.end()) continue;
      if (c->second.selected) ListView->SetRowSelected(row, true);
      if (c->second.focused) focus = row;
    }
    if (focus >= 0) ListView->SetFocusedRow(focus);
    ListView->DoShListChange(this);
  }
  // The rows taken out go last: the owner may still have asked about them.
  old.clear();
  return true;
}
