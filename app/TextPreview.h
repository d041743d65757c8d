#pragma once
// The text preview's reading of a file: the encodings a Japanese user meets
// (UTF-8 with or without a byte-order mark, UTF-16 with one, Shift_JIS as
// CP932 and EUC-JP when the text is not valid UTF-8), only the head of a
// large file, and binary files as a hex dump, so nothing freezes the window.
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

// How much of a file the preview reads at most.
constexpr size_t kTextPreviewLimit = 8u * 1024 * 1024;
// How much of a binary file the hex dump shows.
constexpr size_t kBinaryPreviewLimit = 64u * 1024;

enum class TTextEncoding { Utf8, Utf16LE, Utf16BE, ShiftJis, EucJp, Binary };

struct TTextPreview {
  QString Text;  // lines separated by '\n'; a note first when the file was cut
  TTextEncoding Encoding = TTextEncoding::Utf8;
  bool Cut = false;  // the file is longer than what is shown
};

// Decides the encoding of bytes (the head of a file when cut is true, so a
// character cut in two at the end is no fault).
TTextEncoding DetectTextEncoding(std::string_view bytes, bool cut);

// The text of bytes as the preview shows it.
TTextPreview DecodeTextPreview(std::string_view bytes, bool cut);

// Reads the head of the file at path (at most limit bytes) and decodes it.
// Throws Exception when the file cannot be read; a device or a pipe is not
// read at all, since a read from it could wait for ever.
TTextPreview LoadTextPreview(const std::string& path, size_t limit = kTextPreviewLimit);
