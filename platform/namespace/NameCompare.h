#pragma once
// File name order as desktop file managers sort: letter case ignored, digit
// runs compared by value (file2 before file10), then the raw bytes, so that
// two different names never compare equal. Any bytes are accepted; a byte
// that is not valid UTF-8 sorts after every character.
#include <cstdint>
#include <string_view>

// -1, 0 or 1. Allocates nothing; ASCII names take a fast path.
int CompareNames(std::string_view a, std::string_view b);
// The same order without the final byte comparison: 0 for names that differ
// only in letter case or leading zeros.
int CompareNamesFolded(std::string_view a, std::string_view b);

// The extension of a name ("" for none; a leading dot does not start one).
std::string_view NameExtension(std::string_view name);

// A key of the first characters of a name, prepared once for a sort: keys
// that differ order their names as CompareNames does; equal keys leave the
// order to CompareNames.
struct NameKey {
  uint64_t high = 0, low = 0;
};
NameKey MakeNameKey(std::string_view name);
inline int CompareNameKeys(const NameKey& a, const NameKey& b) {
  if (a.high != b.high) return a.high < b.high ? -1 : 1;
  if (a.low != b.low) return a.low < b.low ? -1 : 1;
  return 0;
}
