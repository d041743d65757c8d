#include "platform/system/UniqueFd.h"

#include <unistd.h>

void UniqueFd::Reset(int fd) noexcept {
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

bool UniqueFd::Close() noexcept {
  if (fd_ < 0) return false;
  return ::close(Release()) == 0;
}

DirPtr OpenDirStream(UniqueFd fd) {
  if (!fd) return nullptr;
  DirPtr dir(::fdopendir(fd.Get()));
  if (dir) fd.Release();
  return dir;
}
