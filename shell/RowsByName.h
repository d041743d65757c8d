#pragma once
// The rows of a folder found by their entry names. Sorted by size or time,
// a row's place does not follow from its name, and the row of a file
// reported changed must still be found without a pass over a million rows.
#include <cstddef>
#include <string_view>
#include <vector>

class TShellFileItem;

class RowsByName {
 public:
  // Lets go of every row and the memory.
  void Clear();
  // Adds a row with a name no row here has; rows without an entry name are
  // not kept. False when out of memory, the rows then unchanged.
  bool Add(TShellFileItem* row);
  void Remove(const TShellFileItem* row);
  TShellFileItem* Find(std::string_view name) const;
  size_t Count() const { return count_; }

 private:
  size_t Home(std::string_view name) const;
  bool Grow();

  // Open addressing with linear probing, at most half full.
  std::vector<TShellFileItem*> slots_;
  size_t count_ = 0;
};
