#pragma once
// The text preview's reading of bytes: the encoding of a file (byte-order
// marks first, UTF-16 without one, binary data, then the charset detector
// with the encodings a Japanese user meets), where one row of the view ends,
// and the text of a row. Invalid bytes become U+FFFD.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string_view>

// How much of the head of a file decides its encoding.
constexpr size_t kDetectSample = 64u * 1024;
// A line longer than this many bytes goes on in the next row: laying out a
// line of megabytes would stall the window.
constexpr size_t kRowBytes = 4096;
// How much of a binary file the hex dump shows, 16 bytes a row.
constexpr size_t kBinaryPreviewLimit = 64u * 1024;

enum class TTextEncoding { Utf8, Utf16LE, Utf16BE, ShiftJis, EucJp, Iso2022Jp, Latin1, Binary };
constexpr TTextEncoding kAllTextEncodings[] = {
    TTextEncoding::Utf8,  TTextEncoding::Utf16LE,   TTextEncoding::Utf16BE, TTextEncoding::ShiftJis,
    TTextEncoding::EucJp, TTextEncoding::Iso2022Jp, TTextEncoding::Latin1,  TTextEncoding::Binary};

// The menu's name of an encoding.
QString EncodingLabel(TTextEncoding encoding);

// Decides the encoding of sample, the head of a file (cut: more follows, so
// a character cut in two at the end is no fault).
TTextEncoding DetectTextEncoding(std::string_view sample, bool cut);

// Bytes of the byte-order mark that head starts with in encoding, if any.
size_t ByteOrderMarkLength(std::string_view head, TTextEncoding encoding);

// Where the row that starts data ends: its text is data[0, length), the next
// row starts at next, in the encoding's state (ISO-2022-JP's character set).
struct TRowEnd {
  size_t length = 0;
  size_t next = 0;
  uint8_t state = 0;
};
// False when data is too short to tell and more of the file follows (atEnd
// false); kRowBytes + 8 bytes always suffice.
bool FindRowEnd(std::string_view data, bool atEnd, TTextEncoding encoding, uint8_t state, TRowEnd& row);

// The text of a row that starts in state.
QString DecodeRow(std::string_view bytes, TTextEncoding encoding, uint8_t state);

// A hex dump row: offset, 16 bytes in hex, the printable ones as they are.
QString HexRow(std::string_view bytes, uint64_t offset);
// The first row of a hex dump, saying why and how much.
QString HexDumpNote(uint64_t fileSize);
