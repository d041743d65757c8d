#include "platform/system/TextFiles.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

int ReadFileHead(const std::string& path, size_t limit, std::string& data) {
  data.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  data.resize(limit + 1);
  size_t got = 0;
  while (got < data.size()) {
    ssize_t r = ::read(fd, data.data() + got, data.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      int error = errno;
      ::close(fd);
      data.clear();
      return error;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  ::close(fd);
  data.resize(got);
  return 0;
}

bool ConvertToUtf16(std::string_view bytes, const char* from, const char* alternative,
                    size_t (*charLength)(std::string_view, size_t), std::u16string& out) {
  const char* to = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1) && alternative) cd = iconv_open(to, alternative);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  // Every byte gives at most one UTF-16 unit in the encodings converted here.
  out.assign(bytes.size() + 1, u'\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* dst = reinterpret_cast<char*>(out.data());
  size_t outLeft = out.size() * sizeof(char16_t);
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
