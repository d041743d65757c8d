#pragma once
// Sorting the rows of a large folder: keys prepared once per row, so most
// comparisons read a small array instead of following two pointers per row,
// and the two halves sorted on two threads.
#include <algorithm>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "shell/ShellCtrls.h"
#include "shell/ShellFileList.h"

// Sorts the two halves on two threads and merges them; small lists on this one.
template <class T, class Before>
void SortInHalves(std::vector<T>& items, const Before& before) {
  constexpr size_t kHalvesFrom = 8192;
  if (items.size() < kHalvesFrom) {
    std::sort(items.begin(), items.end(), before);
    return;
  }
  auto middle = items.begin() + static_cast<std::ptrdiff_t>(items.size() / 2);
  std::thread helper;
  try {
    helper = std::thread([&] { std::sort(middle, items.end(), before); });
  } catch (const std::system_error&) {
    std::sort(items.begin(), items.end(), before);
    return;
  }
  std::sort(items.begin(), middle, before);
  helper.join();
  std::vector<T> merged;
  merged.reserve(RowsWithRoom(items.size()));
  merged.resize(items.size());
  std::merge(std::make_move_iterator(items.begin()), std::make_move_iterator(middle), std::make_move_iterator(middle),
             std::make_move_iterator(items.end()), merged.begin(), before);
  items.swap(merged);
}

// The rows of the file-system folder dir in the order CompareFileEntries
// gives column (times order); false, with the rows untouched, for a column or
// rows it has no keys for.
bool SortRowsByKeys(std::vector<std::unique_ptr<TShellFileItem>>& rows, int column, int order, const std::string& dir);
