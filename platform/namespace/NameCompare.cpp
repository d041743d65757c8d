#include "platform/namespace/NameCompare.h"

#include <cstdint>
#include <cstring>

namespace {

inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Reads one code point; an invalid byte reads as itself above the Unicode range.
inline uint32_t Decode(const unsigned char* s, size_t n, size_t& i) {
  unsigned char c = s[i];
  if (c < 0x80) {
    ++i;
    return c;
  }
  int extra = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
  if (extra == 0 || i + extra >= n) {
    ++i;
    return 0x110000u + c;
  }
  uint32_t cp = c & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    unsigned char cc = s[i + k];
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0x110000u + c;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += 1 + extra;
  return cp;
}

// Simple case folding of the scripts a file name is likely to use.
inline uint32_t Fold(uint32_t cp) {
  if (cp >= 'A' && cp <= 'Z') return cp + 0x20;
  if (cp < 0xC0) return cp;
  if (cp <= 0xDE && cp != 0xD7) return cp + 0x20;  // Latin-1
  if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x131 && cp != 0x138 && cp != 0x149 && cp != 0x17F) {
    bool evenUpper = (cp < 0x138) || (cp >= 0x14A && cp < 0x178);  // Latin Extended-A pairs
    if (evenUpper) return (cp & 1) ? cp : cp + 1;
    if (cp >= 0x139 && cp < 0x149) return (cp & 1) ? cp + 1 : cp;
    if (cp >= 0x179 && cp < 0x17F) return (cp & 1) ? cp + 1 : cp;
    return cp;
  }
  if (cp >= 0x391 && cp <= 0x3A9 && cp != 0x3A2) return cp + 0x20;  // Greek
  if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;                 // Cyrillic
  if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;
  if (cp >= 0xFF21 && cp <= 0xFF3A) return cp + 0x20;  // fullwidth Latin
  return cp;
}

inline int Sign(int v) { return (v > 0) - (v < 0); }

int CompareRaw(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  int r = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (r) return Sign(r);
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace

int CompareNames(std::string_view a, std::string_view b) {
  int r = CompareNamesFolded(a, b);
  return r ? r : CompareRaw(a, b);
}

int CompareNamesFolded(std::string_view a, std::string_view b) {
  const auto* s = reinterpret_cast<const unsigned char*>(a.data());
  const auto* t = reinterpret_cast<const unsigned char*>(b.data());
  const size_t n = a.size(), m = b.size();
  // Skip the common prefix byte by byte: sorting a large folder compares names
  // that mostly share their beginning. Then step back to where the full
  // comparison must start: the start of a character, and of a digit run.
  const size_t common = n < m ? n : m;
  size_t k = 0;
  while (k < common && s[k] == t[k]) ++k;
  if (k == n && k == m) return 0;
  auto continuation = [&](size_t p) { return (p < n && (s[p] & 0xC0) == 0x80) || (p < m && (t[p] & 0xC0) == 0x80); };
  while (k > 0 && continuation(k)) --k;
  if ((k < n && IsDigit(s[k])) || (k < m && IsDigit(t[k])))
    while (k > 0 && IsDigit(s[k - 1])) --k;
  size_t i = k, j = k;
  while (i < n && j < m) {
    unsigned char c = s[i], d = t[j];
    if (IsDigit(c) && IsDigit(d)) {
      // Digit runs by value: skip leading zeros, then the longer run is larger.
      while (i < n && s[i] == '0') ++i;
      while (j < m && t[j] == '0') ++j;
      size_t ei = i, ej = j;
      while (ei < n && IsDigit(s[ei])) ++ei;
      while (ej < m && IsDigit(t[ej])) ++ej;
      if (ei - i != ej - j) return ei - i < ej - j ? -1 : 1;
      for (; i < ei; ++i, ++j)
        if (s[i] != t[j]) return s[i] < t[j] ? -1 : 1;
      continue;
    }
    if ((c | d) < 0x80) {
      // ASCII fast path. A digit against a non-digit compares as a character,
      // which places numbers between the characters below '0' and above '9'.
      unsigned char fc = (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
      unsigned char fd = (d >= 'A' && d <= 'Z') ? d + 0x20 : d;
      if (fc != fd) return fc < fd ? -1 : 1;
      ++i;
      ++j;
      continue;
    }
    uint32_t x = Fold(Decode(s, n, i)), y = Fold(Decode(t, m, j));
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < n || j < m) return i < n ? 1 : -1;
  return 0;
}

std::string_view NameExtension(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

// Letters folded to lower case; a digit run as 0x30, the count of its digits
// without leading zeros, then those digits (so the longer run is larger); any
// other character beyond ASCII as 0x80, which ends the key; the end of the
// name as zeros.
NameKey MakeNameKey(std::string_view name) {
  uint8_t bytes[16] = {};
  size_t o = 0;
  auto put = [&](unsigned v) {
    if (o < sizeof bytes) bytes[o++] = static_cast<uint8_t>(v);
  };
  const auto* s = reinterpret_cast<const unsigned char*>(name.data());
  const size_t n = name.size();
  for (size_t i = 0; i < n && o < sizeof bytes;) {
    const unsigned char c = s[i];
    if (c >= 0x80) {
      put(0x80);
      break;
    }
    if (IsDigit(c)) {
      while (i < n && s[i] == '0') ++i;
      size_t end = i;
      while (end < n && IsDigit(s[end])) ++end;
      if (end - i >= 0xFF) {
        // Too long to count in a byte: above every shorter run, equal to the others.
        put('0');
        put(0xFF);
        break;
      }
      put('0');
      put(static_cast<unsigned>(end - i));
      for (; i < end; ++i) put(s[i]);
      continue;
    }
    put(c >= 'A' && c <= 'Z' ? c + 0x20 : c);
    ++i;
  }
  NameKey key;
  for (int k = 0; k < 8; ++k) {
    key.high = (key.high << 8) | bytes[k];
    key.low = (key.low << 8) | bytes[k + 8];
  }
  return key;
}
