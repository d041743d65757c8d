#pragma once
// A read that is short only at the end of the file: a signal or a pipe may
// hand back less than was asked for long before it.
#include <cerrno>
#include <cstddef>
#include <sys/types.h>
#include <unistd.h>

// -1 on an error, else the bytes read (fewer than size only at the end).
inline ssize_t ReadFull(int fd, char* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, data + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}
