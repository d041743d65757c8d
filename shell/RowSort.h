#pragma once
// Sorting the rows of a large folder: keys prepared once per row, so most
// comparisons read a small array instead of following two pointers per row,
// and the parts sorted on the machine's cores at once.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "shell/ShellCtrls.h"
#include "shell/ShellFileList.h"

// Sorts items in parts on as many threads as there are cores (at most 8) and
// merges them; small lists on this thread. A thread that cannot start leaves
// its part to this one.
template <class T, class Before>
void SortInParallel(std::vector<T>& items, const Before& before) {
  constexpr size_t kRowsPerPart = 8192;
  size_t parts = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  while (parts > 1 && items.size() / parts < kRowsPerPart) parts /= 2;
  if (parts < 2) {
    std::sort(items.begin(), items.end(), before);
    return;
  }
  std::vector<size_t> bounds;
  for (size_t p = 0; p <= parts; ++p) bounds.push_back(items.size() * p / parts);
  auto sortPart = [&](size_t p) {
    std::sort(items.begin() + static_cast<std::ptrdiff_t>(bounds[p]),
              items.begin() + static_cast<std::ptrdiff_t>(bounds[p + 1]), before);
  };
  std::vector<std::thread> helpers;
  size_t p = 1;
  for (; p < parts; ++p) {
    try {
      helpers.emplace_back(sortPart, p);
    } catch (const std::system_error&) {
      break;
    }
  }
  for (size_t q = p; q < parts; ++q) sortPart(q);
  sortPart(0);
  for (auto& helper : helpers) helper.join();
  // Neighbouring parts merged pairwise, the moves into a second array and back.
  std::vector<T> other;
  other.reserve(RowsWithRoom(items.size()));
  other.resize(items.size());
  for (size_t width = 1; width < parts; width *= 2) {
    for (size_t first = 0; first < parts; first += 2 * width) {
      const size_t middle = std::min(first + width, parts), last = std::min(first + 2 * width, parts);
      auto at = [&](std::vector<T>& v, size_t bound) { return v.begin() + static_cast<std::ptrdiff_t>(bounds[bound]); };
      std::merge(std::make_move_iterator(at(items, first)), std::make_move_iterator(at(items, middle)),
                 std::make_move_iterator(at(items, middle)), std::make_move_iterator(at(items, last)), at(other, first),
                 before);
    }
    items.swap(other);
  }
}

// Sorts items by the unsigned key keyOf gives, keeping the order of equal
// keys, with passes of a radix sort over the key's bytes that differ among
// the items: a million items take a few passes over memory rather than
// twenty comparisons each. other is room the passes use.
template <class T, class KeyOf>
void SortByKeyBytes(std::vector<T>& items, std::vector<T>& other, const KeyOf& keyOf) {
  uint64_t allOr = 0, allAnd = ~uint64_t{0};
  for (const T& item : items) {
    allOr |= keyOf(item);
    allAnd &= keyOf(item);
  }
  other.resize(items.size());
  for (int shift = 0; shift < 64; shift += 8) {
    if (((allOr ^ allAnd) >> shift & 0xFF) == 0) continue;  // the same byte in every key
    size_t at[257] = {};
    for (const T& item : items) ++at[(keyOf(item) >> shift & 0xFF) + 1];
    for (int b = 0; b < 256; ++b) at[b + 1] += at[b];
    for (T& item : items) other[at[keyOf(item) >> shift & 0xFF]++] = std::move(item);
    items.swap(other);
  }
}

// Runs work(first, last) over parts of 0..n on the machine's cores (at most
// 8); parts whose thread cannot start run on this one.
template <class Work>
inline void InParts(size_t n, const Work& work) {
  size_t parts = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  if (n < 65536) parts = 1;
  std::vector<std::thread> helpers;
  size_t p = 1;
  for (; p < parts; ++p) {
    try {
      helpers.emplace_back(work, n * p / parts, n * (p + 1) / parts);
    } catch (const std::system_error&) {
      break;
    }
  }
  for (size_t q = p; q < parts; ++q) work(n * q / parts, n * (q + 1) / parts);
  work(size_t{0}, n / parts);
  for (auto& helper : helpers) helper.join();
}

// Asks the memory for the row count ahead of the one at hand and for the ID
// of the row half as far ahead: rows and IDs lie where the folder's own order
// put them, so a pass in another order waits on each unless they are fetched
// early. rowAt(i) gives the row at i of n.
template <class RowAt>
inline void FetchRowAhead(size_t i, size_t n, const RowAt& rowAt) {
  constexpr size_t kAhead = 64;
  if (i + kAhead < n) __builtin_prefetch(rowAt(i + kAhead));
  if (i + kAhead / 2 < n) {
    // An ID may start near the end of a cache line: its name lies in the next.
    const char* id = reinterpret_cast<const char*>(rowAt(i + kAhead / 2)->RelativeIDList.get());
    __builtin_prefetch(id);
    __builtin_prefetch(id + 40);
  }
}

// Adds row, which follows every row in spans, to the spans first..last.
inline void AppendToSpans(std::vector<std::pair<int, int>>& spans, int row) {
  if (!spans.empty() && spans.back().second == row - 1)
    spans.back().second = row;
  else
    spans.emplace_back(row, row);
}

// Where the rows' name order comes from: each row's NameRank as stored, the
// rows' places (they are in the order of the names, or its reverse), or a
// sort by name made first.
enum class NameRanks { Stored, Ascending, Descending, Unknown };

// The rows of the file-system folder dir in the order CompareFileEntries
// gives column (times order); false, with the rows untouched, for a column or
// rows it has no keys for. ranksStored tells whether every row's NameRank
// is now its place among the names (of its group).
bool SortRowsByKeys(std::vector<std::unique_ptr<TShellFileItem>>& rows, int column, int order, const std::string& dir,
                    NameRanks ranks, bool& ranksStored);

// IDs of one file-system folder in the order CompareFileEntries gives the
// name column (times order), by keys prepared once and on several cores;
// false, with the IDs untouched, when one is not a folder entry.
bool SortIDsByName(std::vector<IDListPtr>& ids, int order);
