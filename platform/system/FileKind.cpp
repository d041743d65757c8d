#include "platform/system/FileKind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int CheckRegularFile(const std::string& path) {
  // Devices are not even opened (some act on open or close); the name's look is only a
  // first sieve, the descriptor decides.
  struct stat first {};
  if (stat(path.c_str(), &first) != 0) return errno;
  if (!S_ISREG(first.st_mode)) return -1;
  // O_NONBLOCK: opening a FIFO for reading would wait for a writer forever.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno;
  struct stat st {};
  int result = fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : -1;
  close(fd);
  return result;
}

bool ReadFileVersion(const std::string& path, FileVersion& version) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  version = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
             st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
             st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
  return true;
}
