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
}  // namespace

std::string Cp932ToUtf8(const std::string& raw) {
  static std::mutex mutex;
  static iconv_t cd = iconv_open("UTF-8", "CP932");
  std::string out;
  out.reserve(raw.size() * 3 / 2 + 4);
  std::lock_guard<std::mutex> lock(mutex);
  for (size_t i = 0; i < raw.size();) {
    unsigned char c = static_cast<unsigned char>(raw[i]);
    size_t len = (IsCp932Lead(c) && i + 1 < raw.size()) ? 2 : 1;
    if (len == 1 && c < 0x80) {
      out += c == '\\' ? '/' : static_cast<char>(c);
      ++i;
      continue;
    }
    bool ok = false;
    if (cd != reinterpret_cast<iconv_t>(-1)) {
      char in[2] = {raw[i], len == 2 ? raw[i + 1] : '\0'};
      char buf[8];
      char* inp = in;
      size_t inLeft = len;
      char* outp = buf;
      size_t outLeft = sizeof buf;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && inLeft == 0) {
        out.append(buf, sizeof buf - outLeft);
        ok = true;
      }
    }
    if (!ok) out += '_';
    i += len;
  }
  return out;
}

std::string StoredNameToUtf8(const std::string& raw) {
  if (IsValidUtf8(raw)) return raw;
  return Cp932ToUtf8(raw);
}

namespace {
locale_t Utf8LocaleObject() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_ALL_MASK, "en_US.UTF-8", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}
}  // namespace

Utf8Locale::Utf8Locale() {
  if (locale_t l = Utf8LocaleObject()) previous_ = uselocale(l);
}

Utf8Locale::~Utf8Locale() {
  if (previous_) uselocale(static_cast<locale_t>(previous_));
}

}  // namespace arc
