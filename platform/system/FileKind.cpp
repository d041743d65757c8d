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
