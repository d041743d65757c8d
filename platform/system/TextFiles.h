#pragma once
// The text preview's file access and conversions: reading a regular file by
// its descriptor, the charset detector, and the C library's converter.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/system/UniqueFd.h"

// A regular file open for reading. What is read is always the file that was
// opened, whatever later happens to its name.
class TReadOnlyFile {
 public:
  TReadOnlyFile() = default;
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  // 0 on success, an errno value on a failed call, -1 when path is not a
  // regular file. Never waits on a pipe or a device named like a file.
  int Open(const std::string& path);
  uint64_t Size() const { return size_; }
  // Reads up to size bytes at offset into data: the count read (short only at
  // the end of the file), or minus an errno value.
  ssize_t ReadAt(uint64_t offset, char* data, size_t size) const;

 private:
  UniqueFd fd_;
  uint64_t size_ = 0;
};

// The detector's name for the charset of bytes ("SHIFT_JIS", "EUC-JP",
// "ISO-2022-JP", "UTF-8", "ASCII", "WINDOWS-1252", ...), empty when unsure.
std::string GuessCharset(std::string_view bytes);

// Converts bytes from the encoding from (or alternative, where the C library
// knows only that name) into UTF-16, after prefix (an escape sequence that
// sets a stateful encoding's state; it gives no output). A character that
// cannot be mapped, or a cut one at the end, becomes one U+FFFD; charLength
// tells how many bytes the character at an offset takes. False when neither
// encoding is known.
bool ConvertToUtf16(std::string_view bytes, const char* from, const char* alternative,
                    size_t (*charLength)(std::string_view, size_t), std::u16string& out, std::string_view prefix = {});
