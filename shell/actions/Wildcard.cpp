#include "shell/actions/Wildcard.h"

#include <QChar>
#include <algorithm>
#include <cstdint>

#include "platform/namespace/Drives.h"

namespace {

// Values of bytes that are not part of a valid UTF-8 sequence lie above
// every code point, so they never equal a real character.
constexpr uint32_t kInvalidByte = 0x80000000u;

// Length of the valid UTF-8 sequence at p (1..4) with its code point, or 0
// when the byte at p does not start one.
int DecodeUtf8(const unsigned char* p, uint32_t& cp) {
  unsigned char b = p[0];
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  int len;
  uint32_t min;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    cp = b & 0x1F;
    min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    cp = b & 0x0F;
    min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    cp = b & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  // A NUL terminator is no continuation byte, so a cut sequence stops here.
  for (int i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

// Reads one character and moves past it; an ended or null part yields 0 and stays.
uint32_t ReadChar(const char*& p) {
  if (!p || !*p) return 0;
  auto* u = reinterpret_cast<const unsigned char*>(p);
  uint32_t cp;
  int len = DecodeUtf8(u, cp);
  if (len == 0) {
    ++p;
    return kInvalidByte | u[0];
  }
  p += len;
  return cp;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Cuts at the last '.'; '.' never occurs inside a multi-byte UTF-8 sequence,
// so a byte scan finds the same dot as a scan by characters.
void SplitAtLastDot(const std::string& s, std::string& base, std::string& ext) {
  size_t dot = s.rfind('.');
  if (dot == std::string::npos) {
    base = s;
    ext.clear();
  } else {
    base = s.substr(0, dot);
    ext = s.substr(dot + 1);
  }
}

}  // namespace

std::string UpperCaseName(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  const auto* u = reinterpret_cast<const unsigned char*>(s.c_str());
  size_t i = 0;
  while (i < s.size()) {
    uint32_t cp;
    int len = u[i] ? DecodeUtf8(u + i, cp) : 0;
    if (len == 0) {
      out += static_cast<char>(u[i]);
      ++i;
      continue;
    }
    if (cp >= 'a' && cp <= 'z')
      cp -= 'a' - 'A';
    else if (cp >= 0x80)
      cp = QChar::toUpper(static_cast<char32_t>(cp));
    // A mapping that would bring in a '.' or a NUL would move the split; keep those as they are.
    if (cp == '.' || cp == 0)
      out.append(s, i, static_cast<size_t>(len));
    else
      AppendUtf8(out, cp);
    i += static_cast<size_t>(len);
  }
  return out;
}

bool MatchWildcardPart(const char* namePart, const char* maskPart) {
  const char* name = namePart;
  const char* mask = maskPart;
  for (;;) {
    uint32_t n = ReadChar(name);
    uint32_t m = ReadChar(mask);
    if (m == 0) return n == 0;
    if (m == '*') return true;
    if (m == '?') {
      if (n == 0) return false;
    } else if (m != n) {
      return false;
    }
  }
}

namespace {

bool IsPlainAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c == 0 || c >= 0x80) return false;
  return true;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

// MatchWildcardPart for ASCII text between pointers, letter case ignored.
bool MatchAsciiPart(const char* name, const char* nameEnd, const char* mask, const char* maskEnd) {
  for (;; ++name, ++mask) {
    if (mask == maskEnd) return name == nameEnd;
    if (*mask == '*') return true;
    if (name == nameEnd) return false;
    if (*mask != '?' && AsciiUpper(*name) != AsciiUpper(*mask)) return false;
  }
}

}  // namespace

bool MatchWildcard(const std::string& name, const std::string& mask) {
  if (mask.empty() || mask == "*.*" || mask == "*") return true;
  // A mask over a million names: ASCII ones are matched in place, without
  // the copies that folding other letters takes.
  if (IsPlainAscii(name) && IsPlainAscii(mask)) {
    const size_t nameDot = std::min(name.rfind('.'), name.size());
    const size_t maskDot = std::min(mask.rfind('.'), mask.size());
    const char* n = name.data();
    const char* m = mask.data();
    if (!MatchAsciiPart(n, n + nameDot, m, m + maskDot)) return false;
    const char* nameExt = n + std::min(nameDot + 1, name.size());
    const char* maskExt = m + std::min(maskDot + 1, mask.size());
    return MatchAsciiPart(nameExt, n + name.size(), maskExt, m + mask.size());
  }
  std::string nameBase, nameExt, maskBase, maskExt;
  SplitAtLastDot(UpperCaseName(name), nameBase, nameExt);
  SplitAtLastDot(UpperCaseName(mask), maskBase, maskExt);
  if (!MatchWildcardPart(nameBase.c_str(), maskBase.c_str())) return false;
  return MatchWildcardPart(nameExt.c_str(), maskExt.c_str());
}

void ListLogicalDrives(std::vector<std::string>* list) {
  if (!list) return;
  list->clear();
  std::string drives = GetLogicalDriveStrings();
  size_t pos = 0;
  while (pos < drives.size()) {
    size_t end = drives.find('\0', pos);
    if (end == std::string::npos) end = drives.size();
    if (end == pos) break;  // the empty string that ends the sequence
    list->push_back(drives.substr(pos, end - pos));
    pos = end + 1;
  }
}
