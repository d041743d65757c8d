#include "platform/state/AtomicFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system/UniqueFd.h"

bool ReadWholeFile(const std::string& path, std::string& data, size_t maxSize) {
  data.clear();
  // O_NONBLOCK so that a FIFO given by mistake cannot hang the caller.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > maxSize) return false;
  std::string buffer;
  buffer.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  bool ok = true;
  for (;;) {
    if (got == buffer.size()) {
      // The file may have grown since fstat; read on up to the limit.
      if (buffer.size() >= maxSize) break;
      buffer.resize(std::min(maxSize, buffer.size() + 4096));
    }
    ssize_t n = ::read(fd.Get(), buffer.data() + got, buffer.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (!ok) return false;
  buffer.resize(got);
  data = std::move(buffer);
  return true;
}

static std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) return resolved;
  }
  return path;
}

static bool WriteAll(int fd, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool IsLinkToNonRegularFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  return ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode);
}

bool WriteFileAtomically(const std::string& path, std::string_view data) {
  if (path.empty()) return false;
  // Renaming over a link's device target would replace the device itself.
  if (IsLinkToNonRegularFile(path)) {
    errno = EINVAL;
    return false;
  }
  std::string target = ResolveTarget(path);
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  std::string temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
    temp = (folder == "/" ? std::string() : folder) + "/." + base + ".tmp" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + "-" + std::to_string(rd() % 100000);
    // Mode 0666 lets the umask decide, as for any newly created file.
    fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd && errno != EEXIST) return false;
  }
  if (!fd) return false;

  struct stat old {};
  bool ok = WriteAll(fd.Get(), data);
  if (ok && ::stat(target.c_str(), &old) == 0) ::fchmod(fd.Get(), old.st_mode & 07777);
  if (ok) ok = ::fsync(fd.Get()) == 0;
  if (!fd.Close()) ok = false;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  if (UniqueFd dfd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dfd) ::fsync(dfd.Get());
  return true;
}
