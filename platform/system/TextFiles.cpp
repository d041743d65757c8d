#include "platform/system/TextFiles.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

int TReadOnlyFile::Open(const std::string& path) {
  fd_.Reset();
  fd_.Reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd_) return errno;
  struct stat st {};
  int error = ::fstat(fd_.Get(), &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : -1;
  if (error != 0) {
    fd_.Reset();
    return error;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  return 0;
}

ssize_t TReadOnlyFile::ReadAt(uint64_t offset, char* data, size_t size) const {
  size_t got = 0;
  while (got < size) {
    ssize_t r = ::pread(fd_.Get(), data + got, size - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -errno;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

std::string GuessCharset(std::string_view bytes) {
  uchardet_t detector = uchardet_new();
  if (!detector) return {};
  std::string name;
  if (uchardet_handle_data(detector, bytes.data(), bytes.size()) == 0) {
    uchardet_data_end(detector);
    if (const char* found = uchardet_get_charset(detector)) name = found;
  }
  uchardet_delete(detector);
  return name;
}

bool ConvertToUtf16(std::string_view bytes, const char* from, const char* alternative,
                    size_t (*charLength)(std::string_view, size_t), std::u16string& out, std::string_view prefix) {
  const char* to = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1) && alternative) cd = iconv_open(to, alternative);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  // Every byte gives at most one UTF-16 unit in the encodings converted here.
  out.assign(bytes.size() + 1, u'\0');
  char* dst = reinterpret_cast<char*>(out.data());
  size_t outLeft = out.size() * sizeof(char16_t);
  if (!prefix.empty()) {
    char* in = const_cast<char*>(prefix.data());
    size_t inLeft = prefix.size();
    iconv(cd, &in, &inLeft, &dst, &outLeft);
  }
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) break;  // cannot happen with the size above
    // Unmapped or cut: one replacement for the whole character.
    size_t at = bytes.size() - inLeft;
    size_t skip = errno == EINVAL ? inLeft : std::min(inLeft, std::max<size_t>(1, charLength(bytes, at)));
    if (outLeft < sizeof(char16_t)) break;
    char16_t replacement = 0xFFFD;
    std::memcpy(dst, &replacement, sizeof replacement);
    dst += sizeof(char16_t);
    outLeft -= sizeof(char16_t);
    in += skip;
    inLeft -= skip;
  }
  iconv_close(cd);
  out.resize(static_cast<size_t>(dst - reinterpret_cast<char*>(out.data())) / sizeof(char16_t));
  return true;
}
