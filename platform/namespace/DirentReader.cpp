#include "platform/namespace/DirentReader.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace {

// The kernel's record of getdents64.
struct Dirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[256];
};

constexpr size_t kDirBufferSize = 64 * 1024;

}  // namespace

DirentReader::DirentReader(int fd) : fd_(fd), buffer_(new char[kDirBufferSize]) {}

bool DirentReader::Next(const char*& name, unsigned char& type) {
  for (;;) {
    if (pos_ >= length_) {
      if (done_) return false;
      long n = syscall(SYS_getdents64, fd_, buffer_.get(), kDirBufferSize);
      if (n <= 0) {
        done_ = true;
        return false;
      }
      length_ = static_cast<size_t>(n);
      pos_ = 0;
    }
    const auto* d = reinterpret_cast<const Dirent64*>(buffer_.get() + pos_);
    pos_ += d->d_reclen;
    name = d->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    type = d->d_type;
    return true;
  }
}
