#include "shell/RowsByName.h"

#include <functional>
#include <new>

#include "shell/ShellCtrls.h"

void RowsByName::Clear() {
  slots_.clear();
  slots_.shrink_to_fit();
  count_ = 0;
}

size_t RowsByName::Home(std::string_view name) const {
  return std::hash<std::string_view>()(name) & (slots_.size() - 1);
}

bool RowsByName::Grow() {
  std::vector<TShellFileItem*> old;
  try {
    old.assign(slots_.empty() ? 1024 : slots_.size() * 2, nullptr);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The new slots go in; old gets the rows to place in them.
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  // Names are unique here: each row takes the first free slot from its home.
  for (TShellFileItem* row : old) {
    if (!row) continue;
    size_t at = Home(row->EntryName());
    while (slots_[at]) at = (at + 1) & mask;
    slots_[at] = row;
  }
  return true;
}

bool RowsByName::Add(TShellFileItem* row) {
  const std::string_view name = row->EntryName();
  if (name.empty()) return true;
  if ((count_ + 1) * 2 > slots_.size() && !Grow()) return false;
  const size_t mask = slots_.size() - 1;
  size_t at = Home(name);
  while (slots_[at]) at = (at + 1) & mask;
  slots_[at] = row;
  ++count_;
  return true;
}

TShellFileItem* RowsByName::Find(std::string_view name) const {
  if (slots_.empty() || name.empty()) return nullptr;
  const size_t mask = slots_.size() - 1;
  for (size_t at = Home(name); slots_[at]; at = (at + 1) & mask)
    if (slots_[at]->EntryName() == name) return slots_[at];
  return nullptr;
}

void RowsByName::Remove(const TShellFileItem* row) {
  if (slots_.empty()) return;
  const size_t mask = slots_.size() - 1;
  size_t at = Home(row->EntryName());
  while (slots_[at] && slots_[at] != row) at = (at + 1) & mask;
  if (!slots_[at]) return;
  // The rows after it in its run move back where their probes would stop
  // short of them otherwise: no tombstones, finds stay short.
  size_t hole = at;
  for (size_t next = (hole + 1) & mask; slots_[next]; next = (next + 1) & mask) {
    const size_t home = Home(slots_[next]->EntryName());
    // next may fill the hole when its home is not between the hole and next.
    const bool homeBetween = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
    if (!homeBetween) {
      slots_[hole] = slots_[next];
      hole = next;
    }
  }
  slots_[hole] = nullptr;
  --count_;
}
