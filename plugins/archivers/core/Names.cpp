#include "Names.h"

#include <iconv.h>
#include <locale.h>

#include <mutex>

namespace arc {

bool IsValidUtf8(const std::string& s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size(), i = 0;
  while (i < n) {
    unsigned char c = p[i];
    size_t len;
    unsigned int cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += len;
  }
  return true;
}

namespace {
bool IsCp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsEucLead(unsigned char c) { return c == 0x8E || c == 0x8F || (c >= 0xA1 && c <= 0xFE); }

// One character of the legacy code page to UTF-8, or false when it does not decode.
bool DecodeChar(iconv_t cd, const char* in, size_t len, std::string& out) {
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char src[3] = {in[0], len > 1 ? in[1] : '\0', len > 2 ? in[2] : '\0'};
  char buf[8];
  char* inp = src;
  size_t inLeft = len;
  char* outp = buf;
  size_t outLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return false;
  out.append(buf, sizeof buf - outLeft);
  return true;
}

// Decodes a name character by character. A lone backslash is a Windows separator. Bytes
// that do not decode stay as they are (a Linux name is bytes), so two different stored
// names never become one; `bad` counts them and `halfKana` the half-width katakana.
// Made once, and closed when the library is unloaded.
struct OwnedConverter {
  iconv_t value;
  explicit OwnedConverter(const char* from) : value(iconv_open("UTF-8", from)) {}
  OwnedConverter(const OwnedConverter&) = delete;
  OwnedConverter& operator=(const OwnedConverter&) = delete;
  ~OwnedConverter() {
    if (value != reinterpret_cast<iconv_t>(-1)) iconv_close(value);
  }
};

std::string Decode(const std::string& raw, bool euc, int& bad, int& halfKana) {
  static std::mutex mutex;
  static OwnedConverter cp932("CP932");
  static OwnedConverter eucjp("EUC-JP");
  std::lock_guard<std::mutex> lock(mutex);
  iconv_t cd = euc ? eucjp.value : cp932.value;
  bad = halfKana = 0;
  std::string out;
  out.reserve(raw.size() * 3 / 2 + 4);
  for (size_t i = 0; i < raw.size();) {
    unsigned char c = static_cast<unsigned char>(raw[i]);
    if (c < 0x80) {
      out += c == '\\' ? '/' : static_cast<char>(c);
      ++i;
      continue;
    }
    size_t len = 1;
    if (euc)
      len = c == 0x8F ? 3 : IsEucLead(c) ? 2 : 1;
    else if (IsCp932Lead(c))
      len = 2;
    if (i + len > raw.size()) len = 1;
    if (DecodeChar(cd, raw.data() + i, len, out)) {
      if ((!euc && c >= 0xA1 && c <= 0xDF) || (euc && c == 0x8E)) ++halfKana;
      i += len;
    } else {
      // Only the byte that failed is kept; the next one starts a character of its own.
      out += static_cast<char>(c);
      ++bad;
      ++i;
    }
  }
  return out;
}
}  // namespace

std::string Cp932ToUtf8(const std::string& raw) {
  int bad, kana;
  return Decode(raw, false, bad, kana);
}

std::string StoredNameToUtf8(const std::string& raw) {
  if (IsValidUtf8(raw)) return raw;
  int cpBad, cpKana, eucBad, eucKana;
  std::string cp = Decode(raw, false, cpBad, cpKana);
  std::string euc = Decode(raw, true, eucBad, eucKana);
  // EUC-JP (Unix archivers) reads as CP932 mostly as half-width katakana and broken pairs;
  // CP932 rarely decodes cleanly as EUC-JP. The reading with fewer faults wins, CP932 on a tie.
  if (eucBad < cpBad || (eucBad == cpBad && eucKana < cpKana)) return euc;
  return cp;
}

namespace {
// Made once, and freed when the library is unloaded.
struct OwnedLocale {
  locale_t value = static_cast<locale_t>(0);
  OwnedLocale() {
    value = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!value) value = newlocale(LC_ALL_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
  }
  ~OwnedLocale() {
    if (value) freelocale(value);
  }
};

locale_t Utf8LocaleObject() {
  static OwnedLocale loc;
  return loc.value;
}
}  // namespace

Utf8Locale::Utf8Locale() {
  if (locale_t l = Utf8LocaleObject()) previous_ = uselocale(l);
}

Utf8Locale::~Utf8Locale() {
  if (previous_) uselocale(static_cast<locale_t>(previous_));
}

}  // namespace arc
