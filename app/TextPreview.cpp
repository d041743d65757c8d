// Reading text for the preview: the encoding is decided from a byte-order
// mark, the look of UTF-16 without one, NUL bytes (binary data), then by the
// charset detector checked against what a Japanese user's files are; rows are
// found and decoded one at a time, so no file is ever read whole.
#include "app/TextPreview.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/system/Exception.h"
#include "platform/system/TextFiles.h"

namespace {

using Bytes = std::string_view;

// How much text is decoded twice to choose between CP932 and EUC-JP.
constexpr size_t kScoreSample = 64 * 1024;
// NUL bytes in this much of the head make a file binary.
constexpr size_t kBinaryProbe = 8192;

unsigned char At(Bytes b, size_t i) { return static_cast<unsigned char>(b[i]); }
// Each validator returns the length of the longest valid prefix that ends on
// a character boundary; the bytes are valid when that is all of them, or,
// for the head of a cut file, all but an incomplete last character.
size_t Utf8Prefix(Bytes b, bool& incompleteTail) {
  incompleteTail = false;
  size_t i = 0, n = b.size();
  while (i < n) {
    // Eight plain ASCII bytes at a time: most text is mostly ASCII.
    while (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, b.data() + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    unsigned char c = At(b, i);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF)
      len = 2;
    else if (c == 0xE0)
      len = 3, lo = 0xA0;
    else if (c == 0xED)
      len = 3, hi = 0x9F;  // no surrogates
    else if (c >= 0xE1 && c <= 0xEF)
      len = 3;
    else if (c == 0xF0)
      len = 4, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3)
      len = 4;
    else if (c == 0xF4)
      len = 4, hi = 0x8F;
    else
      return i;
    for (size_t k = 1; k < len; ++k) {
      if (i + k >= n) {
        incompleteTail = true;
        return i;
      }
      unsigned char t = At(b, i + k);
      if (k == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) return i;
    }
    i += len;
  }
  return i;
}

bool Cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool Cp932Trail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

// Bytes of the CP932 character at i (a broken one counts as one byte).
size_t Cp932Length(Bytes b, size_t i) {
  return Cp932Lead(At(b, i)) && i + 1 < b.size() && Cp932Trail(At(b, i + 1)) ? 2 : 1;
}

size_t Cp932Prefix(Bytes b, bool& incompleteTail) {
  incompleteTail = false;
  size_t i = 0, n = b.size();
  while (i < n) {
    unsigned char c = At(b, i);
    if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) {
      ++i;
    } else if (Cp932Lead(c)) {
      if (i + 1 >= n) {
        incompleteTail = true;
        return i;
      }
      if (!Cp932Trail(At(b, i + 1))) return i;
      i += 2;
    } else {
      return i;
    }
  }
  return i;
}

bool EucByte(unsigned char c) { return c >= 0xA1 && c <= 0xFE; }

size_t EucLength(Bytes b, size_t i) {
  unsigned char c = At(b, i);
  if (c == 0x8F) return i + 2 < b.size() && EucByte(At(b, i + 1)) && EucByte(At(b, i + 2)) ? 3 : 1;
  if (c == 0x8E) return i + 1 < b.size() && At(b, i + 1) >= 0xA1 && At(b, i + 1) <= 0xDF ? 2 : 1;
  if (EucByte(c)) return i + 1 < b.size() && EucByte(At(b, i + 1)) ? 2 : 1;
  return 1;
}

size_t EucPrefix(Bytes b, bool& incompleteTail) {
  incompleteTail = false;
  size_t i = 0, n = b.size();
  while (i < n) {
    unsigned char c = At(b, i);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    if (c == 0x8F)
      len = 3;
    else if (c == 0x8E || EucByte(c))
      len = 2;
    else
      return i;
    if (i + len > n) {
      incompleteTail = true;
      return i;
    }
    if (c == 0x8E ? !(At(b, i + 1) >= 0xA1 && At(b, i + 1) <= 0xDF) : !EucByte(At(b, i + 1))) return i;
    if (len == 3 && !EucByte(At(b, i + 2))) return i;
    i += len;
  }
  return i;
}

using PrefixFn = size_t (*)(Bytes, bool&);

// The bytes read whole in the encoding; cut allows an incomplete last character.
bool ValidIn(PrefixFn prefix, Bytes b, bool cut) {
  bool incomplete = false;
  size_t valid = prefix(b, incomplete);
  return valid == b.size() || (cut && incomplete);
}

size_t OneByte(Bytes, size_t) { return 1; }

// A character that cannot be mapped becomes U+FFFD.
QString Convert(Bytes b, const char* from, const char* alternative, size_t (*charLength)(Bytes, size_t),
                Bytes prefix = {}) {
  std::u16string out;
  if (!ConvertToUtf16(b, from, alternative, charLength, out, prefix))
    throw Exception(std::string("文字コードを変換できません: ") + from);
  return QString::fromUtf16(out.data(), static_cast<qsizetype>(out.size()));
}

QString FromCp932(Bytes b) { return Convert(b, "CP932", "SHIFT_JIS", Cp932Length); }
QString FromEucJp(Bytes b) { return Convert(b, "EUC-JP-MS", "EUC-JP", EucLength); }

// How Japanese a decoded text reads: kana, kanji and full-width signs count
// for it, half-width katakana (what EUC-JP bytes become when read as CP932)
// and replacement characters against it.
long JapaneseScore(const QString& text) {
  long score = 0;
  for (QChar ch : text) {
    char16_t u = ch.unicode();
    if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xFF01 && u <= 0xFF5E))
      score += 2;
    else if (u >= 0xFF61 && u <= 0xFF9F)
      score -= 1;
    else if (u == 0xFFFD)
      score -= 4;
  }
  return score;
}

// The head of bytes that ends on a character boundary of the encoding.
Bytes Sample(Bytes b, PrefixFn prefix) {
  Bytes head = b.substr(0, kScoreSample);
  bool incomplete = false;
  return head.substr(0, prefix(head, incomplete));
}

// Without the detector's word: CP932 or EUC-JP, whichever reads as Japanese;
// a tie, or neither reading cleanly, stays with CP932, what Japanese Windows writes.
TTextEncoding JapaneseGuess(Bytes b, bool cut) {
  const bool sjis = ValidIn(Cp932Prefix, b, cut);
  const bool euc = ValidIn(EucPrefix, b, cut);
  if (sjis && euc)
    return JapaneseScore(FromEucJp(Sample(b, EucPrefix))) > JapaneseScore(FromCp932(Sample(b, Cp932Prefix)))
               ? TTextEncoding::EucJp
               : TTextEncoding::ShiftJis;
  return euc ? TTextEncoding::EucJp : TTextEncoding::ShiftJis;
}

// Valid multi-byte UTF-8 sequences and invalid bytes: text that is UTF-8 but
// for a few broken bytes has many of the first and few of the second.
struct TUtf8Count {
  size_t multi = 0, invalid = 0;
};
TUtf8Count CountUtf8(Bytes b, bool cut) {
  TUtf8Count count;
  size_t i = 0;
  while (i < b.size()) {
    bool incomplete = false;
    size_t valid = Utf8Prefix(b.substr(i), incomplete);
    for (size_t k = i; k < i + valid; ++k) count.multi += (At(b, k) & 0xC0) == 0xC0;
    i += valid;
    if (i >= b.size() || (incomplete && cut)) break;
    ++count.invalid;
    ++i;
  }
  return count;
}

char16_t Unit(Bytes b, size_t i, bool bigEndian) {
  return bigEndian ? static_cast<char16_t>(At(b, i) << 8 | At(b, i + 1))
                   : static_cast<char16_t>(At(b, i + 1) << 8 | At(b, i));
}

// Characters of the scripts and signs text is written in; what other byte
// pairs give (controls, NUL, lone surrogates, rare blocks) is not.
bool Plausible(char16_t u) {
  return u == 9 || u == 10 || u == 13 || (u >= 0x20 && u < 0x7F) || (u >= 0xA0 && u < 0x0530) ||
         (u >= 0x2000 && u < 0x2C00) || (u >= 0x3000 && u < 0x3100) || (u >= 0x4E00 && u < 0xA000) ||
         (u >= 0xAC00 && u < 0xD7A4) || (u >= 0xFF00 && u < 0xFFF0);
}

// UTF-16 without a byte-order mark: it has NUL bytes (the high half of ASCII
// and line ends), and read in the right byte order nearly all of it is text.
bool LooksUtf16(Bytes b, bool& bigEndian) {
  const size_t n = std::min(b.size(), kDetectSample) & ~size_t{1};
  if (n < 2 || std::memchr(b.data(), 0, n) == nullptr) return false;
  size_t plausible[2] = {0, 0};
  for (size_t i = 0; i < n; i += 2) {
    plausible[0] += Plausible(Unit(b, i, false));
    plausible[1] += Plausible(Unit(b, i, true));
  }
  bigEndian = plausible[1] > plausible[0];
  return plausible[bigEndian] * 100 >= (n / 2) * 95;
}

bool HasEightBit(Bytes b) {
  return std::any_of(b.begin(), b.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Windows-1252 for the bytes 0x80-0x9F; the five it leaves undefined stay C1
// controls, as browsers read "Latin-1".
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString FromLatin1(Bytes b) {
  QString out(static_cast<qsizetype>(b.size()), Qt::Uninitialized);
  QChar* dst = out.data();
  for (size_t i = 0; i < b.size(); ++i) {
    unsigned char c = At(b, i);
    dst[i] = QChar(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
  }
  return out;
}

// ISO-2022-JP: the escape sequences that choose a character set, by state;
// states 2, 4 and 5 take two bytes a character.
constexpr Bytes kIsoEscapes[] = {"\x1b(B", "\x1b(J", "\x1b$B", "\x1b(I", "\x1b$(D", "\x1b$(Q"};
bool IsoDoubleByte(uint8_t state) { return state == 2 || state == 4 || state == 5; }

// The length of the escape sequence at i and the state it sets (0 when unknown).
size_t IsoEscape(Bytes b, size_t i, uint8_t& state) {
  if (At(b, i) != 0x1B) return 0;
  for (uint8_t s = 0; s < std::size(kIsoEscapes); ++s) {
    if (b.substr(i, kIsoEscapes[s].size()) == kIsoEscapes[s]) {
      state = s;
      return kIsoEscapes[s].size();
    }
  }
  if (b.substr(i, 3) == "\x1b$@") {  // the older JIS C 6226 set, read as JIS X 0208
    state = 2;
    return 3;
  }
  return 0;
}

// Walks ISO-2022-JP bytes from the start up to limit: the last character
// boundary at or before it, and the state there.
size_t IsoWalk(Bytes b, size_t limit, uint8_t& state) {
  size_t i = 0;
  while (i < limit && i < b.size()) {
    uint8_t next = state;
    size_t step = IsoEscape(b, i, next);
    if (step == 0) step = IsoDoubleByte(state) && At(b, i) >= 0x21 ? 2 : 1;
    if (i + step > limit) break;
    state = next;
    i += step;
  }
  return std::min(i, b.size());
}

// The last character boundary at or before kRowBytes in a row with no line end there.
size_t CutPoint(Bytes d, TTextEncoding encoding, uint8_t& state) {
  size_t i = 0;
  switch (encoding) {
    case TTextEncoding::Utf8:
      i = kRowBytes;
      for (int back = 0; back < 3 && i > 1 && (At(d, i) & 0xC0) == 0x80; ++back) --i;
      return i;
    case TTextEncoding::ShiftJis:
    case TTextEncoding::EucJp: {
      auto length = encoding == TTextEncoding::ShiftJis ? Cp932Length : EucLength;
      while (i < kRowBytes) {
        size_t step = length(d, i);
        if (i + step > kRowBytes) break;
        i += step;
      }
      return std::max<size_t>(i, 1);
    }
    case TTextEncoding::Iso2022Jp:
      return std::max<size_t>(IsoWalk(d, kRowBytes, state), 1);
    default:
      return kRowBytes;
  }
}

// A row of an ASCII-compatible encoding: LF, CR LF or a lone CR ends it.
bool FindByteRowEnd(Bytes d, bool atEnd, TTextEncoding encoding, uint8_t state, TRowEnd& row) {
  const size_t window = std::min(d.size(), kRowBytes + 1);
  const char* p = d.data();
  const void* lf = std::memchr(p, '\n', window);
  size_t end = lf ? static_cast<const char*>(lf) - p : window;
  if (const void* cr = std::memchr(p, '\r', end)) end = static_cast<const char*>(cr) - p;
  if (end < window) {
    size_t next = end + 1;
    if (p[end] == '\r') {
      if (next >= d.size() && !atEnd) return false;  // an LF may follow
      if (next < d.size() && p[next] == '\n') ++next;
    }
    row.length = end;
    row.next = next;
  } else if (d.size() <= kRowBytes) {
    if (!atEnd) return false;
    row.length = row.next = d.size();
  } else {
    row.state = state;
    row.length = row.next = CutPoint(d, encoding, row.state);
    return true;
  }
  row.state = state;
  if (encoding == TTextEncoding::Iso2022Jp && std::memchr(p, 0x1B, row.length))
    IsoWalk(d.substr(0, row.length), row.length, row.state);
  return true;
}

// A row of UTF-16: the units LF and CR end it, and a cut never parts a surrogate pair.
bool FindUtf16RowEnd(Bytes d, bool atEnd, bool bigEndian, TRowEnd& row) {
  const size_t window = std::min(d.size(), kRowBytes + 2) & ~size_t{1};
  size_t end = 0;
  while (end < window && Unit(d, end, bigEndian) != u'\n' && Unit(d, end, bigEndian) != u'\r') end += 2;
  if (end < window) {
    size_t next = end + 2;
    if (Unit(d, end, bigEndian) == u'\r') {
      if (next + 2 > d.size() && !atEnd) return false;
      if (next + 2 <= d.size() && Unit(d, next, bigEndian) == u'\n') next += 2;
    }
    row.length = end;
    row.next = next;
  } else if (d.size() <= kRowBytes) {
    if (!atEnd) return false;
    row.length = row.next = d.size();
  } else {
    size_t cut = kRowBytes;
    if (char16_t u = Unit(d, cut - 2, bigEndian); u >= 0xD800 && u < 0xDC00) cut -= 2;
    row.length = row.next = cut;
  }
  return true;
}

}  // namespace

QString EncodingLabel(TTextEncoding encoding) {
  switch (encoding) {
    case TTextEncoding::Utf8:
      return "UTF-8";
    case TTextEncoding::Utf16LE:
      return "UTF-16 (リトルエンディアン)";
    case TTextEncoding::Utf16BE:
      return "UTF-16 (ビッグエンディアン)";
    case TTextEncoding::ShiftJis:
      return "シフト JIS (CP932)";
    case TTextEncoding::EucJp:
      return "EUC-JP";
    case TTextEncoding::Iso2022Jp:
      return "JIS (ISO-2022-JP)";
    case TTextEncoding::Latin1:
      return "西欧 (Latin-1)";
    case TTextEncoding::Binary:
      return "バイナリ (16 進数)";
  }
  return {};
}

TTextEncoding DetectTextEncoding(Bytes b, bool cut) {
  if (b.substr(0, 3) == "\xEF\xBB\xBF") return TTextEncoding::Utf8;
  if (b.substr(0, 2) == "\xFF\xFE") return TTextEncoding::Utf16LE;
  if (b.substr(0, 2) == "\xFE\xFF") return TTextEncoding::Utf16BE;
  if (bool bigEndian = false; LooksUtf16(b, bigEndian))
    return bigEndian ? TTextEncoding::Utf16BE : TTextEncoding::Utf16LE;
  // A NUL in the head marks data, not text.
  if (b.substr(0, kBinaryProbe).find('\0') != Bytes::npos) return TTextEncoding::Binary;
  if (!HasEightBit(b)) {
    // Seven bits: ASCII, or JIS when its escape sequences choose a Japanese set.
    if (b.find('\x1b') != Bytes::npos && GuessCharset(b) == "ISO-2022-JP") return TTextEncoding::Iso2022Jp;
    return TTextEncoding::Utf8;
  }
  // UTF-8 with a few broken bytes stays UTF-8: those show as U+FFFD.
  const TUtf8Count utf8 = CountUtf8(b, cut);
  if (utf8.invalid == 0 || (utf8.multi > 0 && utf8.invalid * 8 <= utf8.multi)) return TTextEncoding::Utf8;
  const std::string guess = GuessCharset(b);
  if (guess == "SHIFT_JIS") return TTextEncoding::ShiftJis;
  if (guess == "EUC-JP") return TTextEncoding::EucJp;
  if (guess == "ISO-2022-JP") return TTextEncoding::Iso2022Jp;
  if (guess == "ISO-8859-1" || guess == "WINDOWS-1252" || guess == "ISO-8859-15") {
    // Bytes that are also whole CP932 text are a Japanese user's more likely.
    return ValidIn(Cp932Prefix, b, cut) ? TTextEncoding::ShiftJis : TTextEncoding::Latin1;
  }
  return JapaneseGuess(b, cut);
}

size_t ByteOrderMarkLength(Bytes head, TTextEncoding encoding) {
  switch (encoding) {
    case TTextEncoding::Utf8:
      return head.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    case TTextEncoding::Utf16LE:
      return head.substr(0, 2) == "\xFF\xFE" ? 2 : 0;
    case TTextEncoding::Utf16BE:
      return head.substr(0, 2) == "\xFE\xFF" ? 2 : 0;
    default:
      return 0;
  }
}

bool FindRowEnd(Bytes data, bool atEnd, TTextEncoding encoding, uint8_t state, TRowEnd& row) {
  if (encoding == TTextEncoding::Utf16LE || encoding == TTextEncoding::Utf16BE)
    return FindUtf16RowEnd(data, atEnd, encoding == TTextEncoding::Utf16BE, row);
  return FindByteRowEnd(data, atEnd, encoding, state, row);
}

QString DecodeRow(Bytes b, TTextEncoding encoding, uint8_t state) {
  switch (encoding) {
    case TTextEncoding::Utf8:
      return QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size()));
    case TTextEncoding::Utf16LE:
    case TTextEncoding::Utf16BE: {
      QStringDecoder decoder(encoding == TTextEncoding::Utf16BE ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                             QStringConverter::Flag::Stateless);
      QString text = decoder.decode(QByteArrayView(b.data(), static_cast<qsizetype>(b.size() & ~size_t{1})));
      if (b.size() % 2) text += QChar(0xFFFD);
      return text;
    }
    case TTextEncoding::ShiftJis:
      return FromCp932(b);
    case TTextEncoding::EucJp:
      return FromEucJp(b);
    case TTextEncoding::Iso2022Jp:
      return Convert(b, "ISO-2022-JP-3", "ISO-2022-JP", OneByte,
                     state < std::size(kIsoEscapes) ? kIsoEscapes[state] : Bytes{});
    case TTextEncoding::Latin1:
      return FromLatin1(b);
    case TTextEncoding::Binary:
      break;
  }
  return {};
}

QString HexRow(Bytes b, uint64_t offset) {
  static const char digits[] = "0123456789abcdef";
  char line[100];
  int len = std::snprintf(line, sizeof line, "%08llx  ", static_cast<unsigned long long>(offset));
  for (size_t k = 0; k < 16; ++k) {
    if (k < b.size()) {
      line[len++] = digits[At(b, k) >> 4];
      line[len++] = digits[At(b, k) & 15];
    } else {
      line[len++] = ' ';
      line[len++] = ' ';
    }
    line[len++] = ' ';
    if (k == 7) line[len++] = ' ';
  }
  line[len++] = ' ';
  line[len++] = '|';
  for (size_t k = 0; k < 16 && k < b.size(); ++k) {
    unsigned char c = At(b, k);
    line[len++] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
  }
  line[len++] = '|';
  return QString::fromLatin1(line, len);
}

QString HexDumpNote(uint64_t fileSize) {
  if (fileSize <= kBinaryPreviewLimit) return "（バイナリファイルのため、16 進数で表示しています）";
  return QString("（バイナリファイルのため、先頭の %1 KB を 16 進数で表示しています）").arg(kBinaryPreviewLimit / 1024);
}
