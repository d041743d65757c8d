// Reading a text file for the preview: the encoding is decided from a
// byte-order mark, else by strict validation (UTF-8 first, then CP932 and
// EUC-JP, and when both read, by which one gives Japanese text), and the
// bytes are converted by the platform's converter.
#include "app/TextPreview.h"

#include <QStringDecoder>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/system/Exception.h"
#include "platform/system/TextFiles.h"

namespace {

using Bytes = std::string_view;

// A line longer than this is shown in pieces: laying out one line of
// megabytes would stall the window.
constexpr qsizetype kLongestLine = 4096;
// How much text is decoded twice to choose between CP932 and EUC-JP.
constexpr size_t kScoreSample = 64 * 1024;

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
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c == 0xE0) len = 3, lo = 0xA0;
    else if (c == 0xED) len = 3, hi = 0x9F;  // no surrogates
    else if (c >= 0xE1 && c <= 0xEF) len = 3;
    else if (c == 0xF0) len = 4, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) len = 4;
    else if (c == 0xF4) len = 4, hi = 0x8F;
    else return i;
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
    if (c == 0x8F) len = 3;
    else if (c == 0x8E || EucByte(c)) len = 2;
    else return i;
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

// A character that cannot be mapped becomes U+FFFD.
QString Convert(Bytes b, const char* from, const char* alternative, size_t (*charLength)(Bytes, size_t)) {
  std::u16string out;
  if (!ConvertToUtf16(b, from, alternative, charLength, out))
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
    if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xFF01 && u <= 0xFF5E)) score += 2;
    else if (u >= 0xFF61 && u <= 0xFF9F) score -= 1;
    else if (u == 0xFFFD) score -= 4;
  }
  return score;
}

// The head of bytes that ends on a character boundary of the encoding.
Bytes Sample(Bytes b, PrefixFn prefix) {
  Bytes head = b.substr(0, kScoreSample);
  bool incomplete = false;
  return head.substr(0, prefix(head, incomplete));
}

QString Utf16(Bytes b, bool bigEndian) {
  QStringDecoder decoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE);
  return decoder.decode(QByteArrayView(b.data(), static_cast<qsizetype>(b.size() & ~size_t{1})));
}

// One pass: CR LF and lone CR end lines as LF does, and a line longer than
// kLongestLine goes on in the next one (never between the halves of a pair).
QString ShapeLines(const QString& text) {
  QString out;
  out.reserve(text.size() + text.size() / kLongestLine + 1);
  const QChar* p = text.constData();
  const qsizetype n = text.size();
  qsizetype lineLength = 0;
  for (qsizetype i = 0; i < n; ++i) {
    QChar c = p[i];
    if (c == u'\r') {
      if (i + 1 < n && p[i + 1] == u'\n') ++i;
      c = u'\n';
    }
    if (c == u'\n') {
      out.append(c);
      lineLength = 0;
      continue;
    }
    if (lineLength >= kLongestLine && !c.isLowSurrogate()) {
      out.append(u'\n');
      lineLength = 0;
    }
    out.append(c);
    ++lineLength;
  }
  return out;
}

QString SizeText(size_t bytes) {
  if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0) return QString("%1 MB").arg(bytes / (1024 * 1024));
  if (bytes >= 1024 && bytes % 1024 == 0) return QString("%1 KB").arg(bytes / 1024);
  return QString("%1 バイト").arg(bytes);
}

QString HexDump(Bytes b) {
  static const char digits[] = "0123456789abcdef";
  QString out;
  out.reserve(static_cast<qsizetype>(b.size() / 16 + 1) * 80);
  for (size_t row = 0; row < b.size(); row += 16) {
    char line[100];
    int len = std::snprintf(line, sizeof line, "%08zx  ", row);
    for (size_t k = 0; k < 16; ++k) {
      if (row + k < b.size()) {
        unsigned char c = At(b, row + k);
        line[len++] = digits[c >> 4];
        line[len++] = digits[c & 15];
      } else {
        line[len++] = ' ';
        line[len++] = ' ';
      }
      line[len++] = ' ';
      if (k == 7) line[len++] = ' ';
    }
    line[len++] = ' ';
    line[len++] = '|';
    for (size_t k = 0; k < 16 && row + k < b.size(); ++k) {
      unsigned char c = At(b, row + k);
      line[len++] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    }
    line[len++] = '|';
    line[len++] = '\n';
    out.append(QLatin1StringView(line, len));
  }
  return out;
}

bool LooksBinary(Bytes b) {
  // A NUL in the head marks data, not text (UTF-16 was told by its mark).
  return b.substr(0, 8192).find('\0') != Bytes::npos;
}

}  // namespace

TTextEncoding DetectTextEncoding(Bytes b, bool cut) {
  if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") return TTextEncoding::Utf8;
  if (b.size() >= 2 && b.substr(0, 2) == "\xFF\xFE") return TTextEncoding::Utf16LE;
  if (b.size() >= 2 && b.substr(0, 2) == "\xFE\xFF") return TTextEncoding::Utf16BE;
  if (LooksBinary(b)) return TTextEncoding::Binary;
  if (ValidIn(Utf8Prefix, b, cut)) return TTextEncoding::Utf8;
  const bool sjis = ValidIn(Cp932Prefix, b, cut);
  const bool euc = ValidIn(EucPrefix, b, cut);
  if (sjis && euc) {
    // Both read: the one that gives Japanese text; a tie stays with CP932,
    // what Japanese Windows writes.
    return JapaneseScore(FromEucJp(Sample(b, EucPrefix))) > JapaneseScore(FromCp932(Sample(b, Cp932Prefix)))
               ? TTextEncoding::EucJp
               : TTextEncoding::ShiftJis;
  }
  if (euc) return TTextEncoding::EucJp;
  // Neither reads cleanly: CP932 with replacement characters, as a Japanese
  // system reads a broken text file.
  return TTextEncoding::ShiftJis;
}

TTextPreview DecodeTextPreview(Bytes b, bool cut) {
  TTextPreview preview;
  preview.Cut = cut;
  preview.Encoding = DetectTextEncoding(b, cut);
  const size_t shown = b.size();
  QString text;
  bool incomplete = false;
  switch (preview.Encoding) {
    case TTextEncoding::Utf8: {
      if (b.substr(0, 3) == "\xEF\xBB\xBF") b.remove_prefix(3);
      // A character cut at the end of the head is left out, not replaced.
      size_t valid = Utf8Prefix(b, incomplete);
      if (cut && incomplete) b = b.substr(0, valid);
      text = QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size()));
      break;
    }
    case TTextEncoding::Utf16LE:
    case TTextEncoding::Utf16BE:
      text = Utf16(b.substr(2), preview.Encoding == TTextEncoding::Utf16BE);
      break;
    case TTextEncoding::ShiftJis: {
      size_t valid = Cp932Prefix(b, incomplete);
      if (cut && incomplete) b = b.substr(0, valid);
      text = FromCp932(b);
      break;
    }
    case TTextEncoding::EucJp: {
      size_t valid = EucPrefix(b, incomplete);
      if (cut && incomplete) b = b.substr(0, valid);
      text = FromEucJp(b);
      break;
    }
    case TTextEncoding::Binary: {
      const bool longer = cut || b.size() > kBinaryPreviewLimit;
      Bytes head = b.substr(0, kBinaryPreviewLimit);
      preview.Cut = longer;
      preview.Text = longer ? QString("（バイナリファイルのため、先頭の %1 を 16 進数で表示しています）\n").arg(SizeText(head.size()))
                            : QString("（バイナリファイルのため、16 進数で表示しています）\n");
      preview.Text += HexDump(head);
      return preview;
    }
  }
  preview.Text = ShapeLines(text);
  if (cut) preview.Text.prepend(QString("（ファイルが大きいため、先頭の %1 だけを表示しています）\n").arg(SizeText(shown)));
  return preview;
}

TTextPreview LoadTextPreview(const std::string& path, size_t limit) {
  const std::string failure = "ファイルを読み込めません: " + path;
  // One byte more than shown tells whether there is more.
  std::string data;
  if (int error = ReadFileHead(path, limit, data); error != 0)
    throw Exception(error > 0 ? failure + " (" + std::strerror(error) + ")" : failure);
  const bool cut = data.size() > limit;
  data.resize(std::min(data.size(), limit));
  return DecodeTextPreview(data, cut);
}
