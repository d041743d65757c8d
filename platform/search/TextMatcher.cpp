#include "platform/search/TextMatcher.h"
#include "platform/system/ReadFull.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::string Folded(std::string s) {
  for (char& c : s) c = FoldAscii(c);
  return s;
}

// How common a byte is in text and code, roughly: the search looks for a needle's least
// common byte with memchr, which runs far faster than comparing at every position.
int Commonness(unsigned char c) {
  static const char kLetters[] = "etaoinsrhldcumfpgwybvkxjqz";
  if (c == ' ') return 255;
  if (c >= 'a' && c <= 'z') return 250 - 5 * static_cast<int>(std::strchr(kLetters, c) - kLetters);
  if (c >= 'A' && c <= 'Z') return 150 - 2 * static_cast<int>(std::strchr(kLetters, c + 32) - kLetters);
  if (c == '\n' || c == '\t') return 200;
  if (c >= '0' && c <= '9') return 130;
  if (std::strchr(".,;:()=_-/\"'<>{}", c) && c != 0) return 140;
  if (c == 0xE3) return 200;  // the lead byte of kana in UTF-8
  if (c >= 0x80 && c <= 0xBF) return 150;
  if (c >= 0x80) return 110;
  return 60;
}

size_t RarestByte(const std::string& bytes) {
  size_t best = 0;
  for (size_t i = 1; i < bytes.size(); ++i)
    if (Commonness(static_cast<unsigned char>(bytes[i])) < Commonness(static_cast<unsigned char>(bytes[best])))
      best = i;
  return best;
}

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Valid UTF-8 but for a sequence cut at the end.
bool LooksUtf8(const unsigned char* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0) return false;
    if (i + len > n) return true;
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

// Turns blocks of one file into UTF-8; a byte that fits no character becomes '?'.
class Decoder {
 public:
  explicit Decoder(const char* from) : cd_(iconv_open("UTF-8", from)) {}
  ~Decoder() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Appends what input decodes to; keeps an incomplete last character for the next call.
  void Feed(const char* data, size_t size, bool last, std::string& out) {
    pending_.append(data, size);
    char* in = pending_.data();
    size_t left = pending_.size();
    char chunk[16384];
    while (left > 0) {
      char* o = chunk;
      size_t room = sizeof chunk;
      size_t r = iconv(cd_, &in, &left, &o, &room);
      out.append(chunk, static_cast<size_t>(o - chunk));
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (errno == EINVAL && !last) break;  // a character cut at the block's end
      out += '?';
      ++in;
      --left;
    }
    pending_.erase(0, pending_.size() - left);
  }

 private:
  iconv_t cd_;
  std::string pending_;
};

}  // namespace

bool ConvertFromUtf8(const std::string& text, const char* encoding, std::string& out) {
  out.clear();
  iconv_t cd = iconv_open(encoding, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input = text;
  char* in = input.data();
  size_t left = input.size();
  char chunk[1024];
  bool ok = true;
  while (left > 0) {
    char* o = chunk;
    size_t room = sizeof chunk;
    size_t r = iconv(cd, &in, &left, &o, &room);
    out.append(chunk, static_cast<size_t>(o - chunk));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      ok = false;
      break;
    }
  }
  iconv_close(cd);
  return ok;
}

bool TextMatcher::Prepare(const SearchQuery& query, std::string& error) {
  needles_.clear();
  longest_ = 0;
  anyFolded_ = false;
  regex_ = false;
  encoding_ = query.encoding;
  binary_ = query.binary;
  if (query.text.empty()) return true;
  if (query.regex) {
    QRegularExpression::PatternOptions options = QRegularExpression::MultilineOption;
    if (!query.matchCase) options |= QRegularExpression::CaseInsensitiveOption;
    expression_ = QRegularExpression(QString::fromUtf8(query.text), options);
    if (!expression_.isValid()) {
      error = "正規表現が正しくありません: " + expression_.errorString().toStdString();
      return false;
    }
    expression_.optimize();  // compiled once here, not by the first worker that matches
    regex_ = true;
    return true;
  }
  struct Form {
    TextEncoding encoding;
    const char* name;
  };
  const Form forms[] = {{TextEncoding::Utf8, "UTF-8"},
                        {TextEncoding::Cp932, "CP932"},
                        {TextEncoding::EucJp, "EUC-JP"},
                        {TextEncoding::Utf16, "UTF-16LE"},
                        {TextEncoding::Utf16, "UTF-16BE"}};
  const bool asciiText = IsAscii(query.text);
  for (const Form& form : forms) {
    if (query.encoding != TextEncoding::Auto && query.encoding != form.encoding) continue;
    std::string bytes;
    if (!ConvertFromUtf8(query.text, form.name, bytes) || bytes.empty()) {
      if (query.encoding != TextEncoding::Auto) {
        error = std::string("検索する文字列を ") + form.name + " で表せません。";
        return false;
      }
      continue;
    }
    // Letters fold only where an ASCII byte is always a character of its own;
    // in CP932 and UTF-16 it can be half of another character.
    bool safeToFold = form.encoding == TextEncoding::Utf8 || form.encoding == TextEncoding::EucJp || asciiText;
    bool folded = !query.matchCase && safeToFold;
    if (folded) bytes = Folded(bytes);
    bool duplicate = std::any_of(needles_.begin(), needles_.end(),
                                 [&](const Needle& n) { return n.bytes == bytes && n.folded == folded; });
    if (duplicate) continue;
    needles_.push_back({bytes, folded, RarestByte(bytes)});
    longest_ = std::max(longest_, bytes.size());
    anyFolded_ = anyFolded_ || folded;
  }
  if (needles_.empty()) {
    error = "検索する文字列をどの文字コードでも表せません。";
    return false;
  }
  return true;
}

bool TextMatcher::LooksBinary(const char* data, size_t size) const {
  if (binary_ || encoding_ == TextEncoding::Utf16) return false;
  if (size >= 2 && ((data[0] == '\xFF' && data[1] == '\xFE') || (data[0] == '\xFE' && data[1] == '\xFF'))) return false;
  return std::memchr(data, 0, std::min<size_t>(size, 8192)) != nullptr;
}

bool TextMatcher::MatchFile(int fd, std::vector<char>& buffer, const std::atomic<bool>& cancel) const {
  if (Empty()) return true;
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return regex_ ? MatchRegex(fd, buffer, cancel) : MatchPlain(fd, buffer, cancel);
}

const char* TextMatcher::Find(const char* hay, size_t size, const Needle& needle) {
  const size_t m = needle.bytes.size();
  if (m == 0 || size < m) return m == 0 ? hay : nullptr;
  const char* pattern = needle.bytes.data();
  const size_t r = needle.rare;
  const char* p = hay + r;
  const char* last = hay + (size - m) + r;  // the rare byte of the last possible match
  while (p <= last) {
    p = static_cast<const char*>(std::memchr(p, pattern[r], static_cast<size_t>(last - p) + 1));
    if (!p) return nullptr;
    if (std::memcmp(p - r, pattern, m) == 0) return p - r;
    ++p;
  }
  return nullptr;
}

bool TextMatcher::MatchPlain(int fd, std::vector<char>& buffer, const std::atomic<bool>& cancel) const {
  const size_t overlap = longest_ - 1;
  buffer.resize(kBlockSize + overlap);
  std::vector<char> folded;
  size_t carried = 0;
  bool first = true;
  for (;;) {
    if (cancel.load(std::memory_order_relaxed)) return false;
    ssize_t n = ReadFull(fd, buffer.data() + carried, kBlockSize);
    if (n < 0) return false;
    if (first && LooksBinary(buffer.data(), static_cast<size_t>(n))) return false;
    first = false;
    const size_t size = carried + static_cast<size_t>(n);
    const char* data = buffer.data();
    const char* lower = nullptr;
    if (anyFolded_) {
      folded.resize(size);
      std::transform(data, data + size, folded.begin(), FoldAscii);
      lower = folded.data();
    }
    for (const Needle& needle : needles_) {
      const char* hay = needle.folded ? lower : data;
      if (Find(hay, size, needle)) return true;
    }
    if (static_cast<size_t>(n) < kBlockSize) return false;  // the end of the file
    // The last bytes may start a match that the next block ends.
    carried = std::min(overlap, size);
    std::memmove(buffer.data(), buffer.data() + size - carried, carried);
  }
}

bool TextMatcher::MatchRegex(int fd, std::vector<char>& buffer, const std::atomic<bool>& cancel) const {
  buffer.resize(kBlockSize);
  ssize_t n = ReadFull(fd, buffer.data(), kBlockSize);
  if (n < 0 || LooksBinary(buffer.data(), static_cast<size_t>(n))) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
  const size_t size = static_cast<size_t>(n);
  const char* from = "UTF-8";
  switch (encoding_) {
    case TextEncoding::Cp932:
      from = "CP932";
      break;
    case TextEncoding::EucJp:
      from = "EUC-JP";
      break;
    case TextEncoding::Utf16:
      from = size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF ? "UTF-16BE" : "UTF-16LE";
      break;
    case TextEncoding::Utf8:
      break;
    case TextEncoding::Auto:
      if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        from = "UTF-16LE";
      else if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
        from = "UTF-16BE";
      else if (!LooksUtf8(bytes, size)) {
        // Japanese text that is not UTF-8: CP932 unless it reads only as EUC-JP.
        std::string sample;
        Decoder probe("CP932");
        probe.Feed(buffer.data(), std::min<size_t>(size, 65536), false, sample);
        from = sample.find('?') == std::string::npos ? "CP932" : "EUC-JP";
      }
      break;
  }
  Decoder decoder(from);
  if (!decoder.Ok()) return false;
  std::string text;  // decoded, from the start of a line
  constexpr size_t kLongLine = 4 * kBlockSize;
  for (;;) {
    if (cancel.load(std::memory_order_relaxed)) return false;
    const bool last = static_cast<size_t>(n) < kBlockSize;
    decoder.Feed(buffer.data(), static_cast<size_t>(n), last, text);
    // Matched up to the last line break; the rest waits for its line's end,
    // unless a line grows beyond all reason.
    size_t cut = last ? text.size() : text.rfind('\n');
    if (cut == std::string::npos) cut = text.size() > kLongLine ? text.size() : 0;
    if (cut > 0) {
      if (expression_.match(QString::fromUtf8(text.data(), static_cast<qsizetype>(cut))).hasMatch()) return true;
      text.erase(0, cut);
    }
    if (last) return false;
    n = ReadFull(fd, buffer.data(), kBlockSize);
    if (n < 0) return false;
  }
}
