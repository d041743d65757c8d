#include "TempFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace arc {

namespace {
constexpr char kTempPrefix[] = ".tvx-";

// A name of the form TempName makes, and the process that made it.
bool IsTempName(const char* name, long& pid) {
  if (strncmp(name, kTempPrefix, sizeof kTempPrefix - 1) != 0) return false;
  const char* p = name + sizeof kTempPrefix - 1;
  char* end = nullptr;
  pid = strtol(p, &end, 10);
  if (end == p || *end != '-') return false;
  p = end + 1;
  strtoul(p, &end, 10);
  if (end == p || *end != '-') return false;
  p = end + 1;
  if (!*p) return false;
  for (; *p; ++p)
    if (!isxdigit(static_cast<unsigned char>(*p))) return false;
  return true;
}

}  // namespace

std::string TempName() {
  static std::atomic<unsigned> counter{0};
  char buf[64];
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  snprintf(buf, sizeof buf, "%s%d-%u-%lx", kTempPrefix, static_cast<int>(getpid()), counter++,
           static_cast<unsigned long>(ts.tv_nsec));
  return buf;
}

void SweepStaleTemps(int dirFd) {
  int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* d = fdopendir(fd);
  if (!d) {
    close(fd);
    return;
  }
  const time_t now = time(nullptr);
  while (struct dirent* e = readdir(d)) {
    long pid = 0;
    if (!IsTempName(e->d_name, pid)) continue;
    struct stat st {};
    if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (st.st_uid != geteuid() || now - st.st_mtime < 60) continue;
    if (pid > 0 && pid != getpid() && kill(static_cast<pid_t>(pid), 0) == 0) continue;
    unlinkat(fd, e->d_name, 0);
  }
  closedir(d);
}

}  // namespace arc
