// A mask changed on a shown folder: the rows read are parted again by the
// owner's filter, in the order they have. A million rows are neither read
// nor sorted again for a letter typed.
#include <algorithm>
#include <functional>
#include <string_view>

#include "shell/RowSort.h"
#include "shell/ShellFileList.h"

// all stays empty when every row was shown and still is.
void TShellFileList::SplitByFilter(std::vector<TShellFileItem*>& all, std::vector<uint8_t>& shown) {
  all.clear();
  const bool wasMasked = !allRows_.empty();
  const size_t total = wasMasked ? allRows_.size() : items_.size();
  shown.assign(total, 1);
  size_t kept = 0;
  auto rowAt = [&](size_t i) { return wasMasked ? allRows_[i] : items_[i].get(); };
  const bool passesAll = !ListView || ListView->FilterPassesAll();
  const std::function<bool(std::string_view)> byName = ListView && !passesAll ? ListView->NameFilter() : nullptr;
  constexpr uint8_t kAskOwner = 2;
  if (passesAll) {
    // A million rows shown as they are need no visit each.
    kept = total;
  } else if (byName && nameAt_.size() == total) {
    InParts(total, [&](size_t first, size_t last) {
      for (size_t i = first; i < last; ++i) {
        const char* at = names_.data() + nameAt_[i];
        const std::string_view name(at + 1, static_cast<unsigned char>(*at));
        shown[i] = name.empty() ? kAskOwner : byName(name);
      }
    });
    for (size_t i = 0; i < total; ++i) {
      if (shown[i] == kAskOwner) shown[i] = ListView->DoShFilter(rowAt(i));
      kept += shown[i];
    }
  } else if (byName) {
    // Most of the time goes to fetching rows and IDs from memory: the parts
    // wait for them side by side. Rows without an entry name are left to the
    // owner's filter, on this thread.
    InParts(total, [&](size_t first, size_t last) {
      for (size_t i = first; i < last; ++i) {
        FetchRowAhead(i, last, rowAt);
        const std::string_view name = rowAt(i)->EntryName();
        shown[i] = name.empty() ? kAskOwner : byName(name);
      }
    });
    for (size_t i = 0; i < total; ++i) {
      if (shown[i] == kAskOwner) shown[i] = ListView->DoShFilter(rowAt(i));
      kept += shown[i];
    }
  } else {
    for (size_t i = 0; i < total; ++i) {
      FetchRowAhead(i, total, rowAt);
      shown[i] = !ListView || ListView->DoShFilter(rowAt(i));
      kept += shown[i];
    }
  }
  // Every row shown before and now: nothing changes hands.
  if (kept == total && !wasMasked) return;
  if (wasMasked) {
    all = allRows_;
  } else {
    all.reserve(total);
    for (const auto& row : items_) all.push_back(row.get());
  }
  // Everything that may fail is done before the rows change hands.
  std::vector<std::unique_ptr<TShellFileItem>> rows, out;
  rows.reserve(RowsWithRoom(kept));
  out.reserve(all.size() - kept);
  std::vector<TShellFileItem*> order;
  if (kept < all.size()) order = all;
  for (auto& row : items_) static_cast<void>(row.release());
  for (auto& row : maskedOut_) static_cast<void>(row.release());
  for (size_t i = 0; i < all.size(); ++i) (shown[i] ? rows : out).emplace_back(all[i]);
  items_.swap(rows);
  maskedOut_.swap(out);
  allRows_.swap(order);
  // The arrays taken out own nothing now.
  for (auto& row : rows) static_cast<void>(row.release());
  for (auto& row : out) static_cast<void>(row.release());
}

void TShellFileList::ForgetMaskedOut() {
  // The index held the rows masked out too.
  if (!allRows_.empty()) ForgetNameIndex();
  allRows_.clear();
  allRows_.shrink_to_fit();
  maskedOut_.clear();
  maskedOut_.shrink_to_fit();
  allRowsKept_ = false;
}

bool TShellFileList::IndexMoreNames(int count) {
  const bool masked = !allRows_.empty();
  const size_t total = RowsRead();
  auto rowAt = [&](size_t i) { return masked ? allRows_[i] : items_[i].get(); };
  const size_t last = std::min(total, nameAt_.size() + static_cast<size_t>(count));
  for (size_t i = nameAt_.size(); i < last; ++i) {
    FetchRowAhead(i, last, rowAt);
    const std::string_view name = rowAt(i)->EntryName();
    nameAt_.push_back(static_cast<uint32_t>(names_.size()));
    names_.push_back(static_cast<char>(name.size()));
    names_.insert(names_.end(), name.begin(), name.end());
  }
  return nameAt_.size() < total;
}

void TShellFileList::ForgetNameIndex() {
  ForgetNamesInRowOrder();
  DropRowsByName(0);
}

void TShellFileList::ForgetNamesInRowOrder() {
  names_.clear();
  names_.shrink_to_fit();
  nameAt_.clear();
  nameAt_.shrink_to_fit();
}

bool TShellFileList::IndexMoreRowsByName(int count) {
  if (!RowsByNameWanted()) return false;
  const bool masked = !allRows_.empty();
  const size_t total = RowsRead();
  if (rowsByNameAt_ >= total) return false;
  auto rowAt = [&](size_t i) { return masked ? allRows_[i] : items_[i].get(); };
  const size_t last = std::min(total, rowsByNameAt_ + static_cast<size_t>(count));
  for (size_t i = rowsByNameAt_; i < last; ++i) {
    FetchRowAhead(i, last, rowAt);
    if (!rowsByName_.Add(rowAt(i))) {
      // Changes then find their rows by a pass, as without the index.
      DropRowsByName(SIZE_MAX);
      return false;
    }
  }
  rowsByNameAt_ = last;
  return last < total;
}

void TShellFileList::RowsByNameFollow(const std::vector<TShellFileItem*>& left,
                                      const std::vector<TShellFileItem*>& came) {
  for (const TShellFileItem* row : left) rowsByName_.Remove(row);
  for (TShellFileItem* row : came) {
    if (!rowsByName_.Add(row)) {
      DropRowsByName(SIZE_MAX);
      return;
    }
  }
  rowsByNameAt_ = RowsRead();
}

bool TShellFileList::MoveNameIndex(const std::vector<size_t>& gone, const std::vector<int>& insertedAt) {
  // A few rows move the offsets in place; more are indexed again when idle.
  constexpr size_t kMovedInPlace = 16;
  if (nameAt_.size() != items_.size() + gone.size() - insertedAt.size() ||
      gone.size() + insertedAt.size() > kMovedInPlace || names_.size() > UINT32_MAX - 4096) {
    ForgetNamesInRowOrder();
    return false;
  }
  for (auto it = gone.rbegin(); it != gone.rend(); ++it)
    nameAt_.erase(nameAt_.begin() + static_cast<std::ptrdiff_t>(*it));
  for (int row : insertedAt) {
    const std::string_view name = items_[row]->EntryName();
    nameAt_.insert(nameAt_.begin() + row, static_cast<uint32_t>(names_.size()));
    names_.push_back(static_cast<char>(name.size()));
    names_.insert(names_.end(), name.begin(), name.end());
  }
  return true;
}

bool TShellFileList::ApplyFilter() {
  if (!allRowsKept_ || !ListView) return false;
  // Selection and focus are carried by each row's place in the order of all
  // rows, which the parting keeps: no lookup per row.
  const int n = Count();
  const int focusedRow = ListView->FocusedRow();
  const std::vector<std::pair<int, int>> spans = ListView->SelectedSpans(n);
  // Which rows of the order of all were shown: one byte each.
  std::vector<uint8_t> wasShown;
  if (allRows_.empty()) {
    wasShown.assign(items_.size(), 1);
  } else {
    wasShown.assign(allRows_.size(), 0);
    for (size_t i = 0, row = 0; i < allRows_.size() && row < items_.size(); ++i) {
      if (allRows_[i] != items_[row].get()) continue;
      wasShown[i] = 1;
      ++row;
    }
  }

  std::vector<TShellFileItem*> all;
  std::vector<uint8_t> shown;
  SplitByFilter(all, shown);
  if (all.empty()) {
    ListView->Repaint();
    ListView->DoShListChange(this);
    return true;
  }

  std::vector<std::pair<int, int>> newSpans;
  int focus = -1, nextSpan = 0;
  bool focusPassed = false;
  for (size_t i = 0, wasRow = 0, nowRow = 0; i < all.size(); ++i) {
    bool selected = false;
    if (wasShown[i]) {
      const int row = static_cast<int>(wasRow++);
      while (nextSpan < static_cast<int>(spans.size()) && spans[nextSpan].second < row) ++nextSpan;
      selected = nextSpan < static_cast<int>(spans.size()) && spans[nextSpan].first <= row;
      if (row == focusedRow) focusPassed = true;
    }
    if (!shown[i]) continue;
    const int row = static_cast<int>(nowRow++);
    // The focus stays on its row, or goes to the next one still shown.
    if (focusPassed && focus < 0) focus = row;
    if (selected) AppendToSpans(newSpans, row);
  }
  if (focus < 0 && Count() > 0) focus = focusedRow >= 0 ? Count() - 1 : 0;

  RestartSizePrefetch();
  ListView->BeginSelUpdate();
  ListView->SetItemsCount(Count());
  ListView->SelectAllRows(false);
  ListView->SelectSpans(newSpans);
  if (focus >= 0) {
    ListView->SetFocusedRow(focus);
    ListView->MakeRowVisible(focus);
  }
  ListView->EndSelUpdate();
  ListView->Repaint();
  ListView->DoShListChange(this);
  return true;
}
