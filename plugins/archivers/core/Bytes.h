#pragma once
// Little-endian fields of archive headers, and reading them at an offset of a file.
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace arc {

inline uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Le64(const unsigned char* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

// All len bytes at offset at, or false.
inline bool ReadAt(int fd, void* buf, size_t len, off_t at) {
  size_t got = 0;
  while (got < len) {
    ssize_t r = pread(fd, static_cast<char*>(buf) + got, len - got, at + static_cast<off_t>(got));
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

}  // namespace arc
