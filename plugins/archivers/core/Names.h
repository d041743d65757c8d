#pragma once
// Entry names as UTF-8, whatever the archiver that made the archive stored.
#include <string>

namespace arc {

bool IsValidUtf8(const std::string& s);

// Japanese Windows stores names in CP932 without saying so. The name is scanned character
// by character, so a trail byte 0x5C stays part of its character; a backslash that is a
// character of its own is a Windows separator and becomes "/". Bytes that do not decode
// are kept as they are, so distinct stored names stay distinct.
std::string Cp932ToUtf8(const std::string& raw);

// A stored name as UTF-8: kept when it already is UTF-8, else read as CP932 or EUC-JP,
// whichever decodes it better.
std::string StoredNameToUtf8(const std::string& raw);

// Makes the calling thread use a UTF-8 locale while it lives, so libarchive converts names
// (7z, RAR 5, flagged ZIP) to UTF-8 whatever locale the host process runs in.
class Utf8Locale {
 public:
  Utf8Locale();
  ~Utf8Locale();
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

 private:
  void* previous_ = nullptr;
};

}  // namespace arc
