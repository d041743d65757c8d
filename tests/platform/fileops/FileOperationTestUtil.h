#pragma once
// Helpers for the file-operation engine tests: a folder on a second file
// system, a tiny mounted tmpfs, file times, and listings.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "FileChecks.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"

// A temporary folder in /dev/shm (a tmpfs, unlike /tmp here).
class ShmDir {
 public:
  ShmDir() {
    std::string templ = "/dev/shm/tolvane-test-XXXXXX";
    char* made = mkdtemp(templ.data());
    path_ = made ? made : "";
  }
  ~ShmDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline dev_t DeviceOf(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_dev;
}

// A tmpfs of the given size mounted on a fresh folder; mounted() is false
// where mounting is not permitted.
class TinyMount {
 public:
  explicit TinyMount(const std::string& options = "size=1m") {
    dir_ = base_.dir("mnt");
    mounted_ = mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~TinyMount() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  bool MakeReadOnly() { return mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
  const std::string& path() const { return dir_; }
  std::string operator/(const std::string& name) const { return dir_ + "/" + name; }

 private:
  TempDir base_;
  std::string dir_;
  bool mounted_ = false;
};

inline void SetMtime(const std::string& path, time_t sec, long nsec) {
  struct timespec times[2] = {{sec, nsec}, {sec, nsec}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

inline struct stat Lstat(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) st.st_mode = 0;
  return st;
}

// The names in a folder, sorted (raw bytes, no conversion).
inline std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// True when a temporary part file was left anywhere below dir.
inline bool HasPartFiles(const std::string& dir) {
  for (const std::string& n : Names(dir)) {
    if (n.rfind(".tolvane-part-", 0) == 0) return true;
    std::string p = dir + "/" + n;
    if (S_ISDIR(Lstat(p).st_mode) && HasPartFiles(p)) return true;
  }
  return false;
}

inline FileOperationResult RunOp(uint32_t function, std::vector<std::string> sources, const std::string& destination,
                                 uint32_t flags, IFileOperationUI& ui) {
  FileOperationRequest request;
  request.function = function;
  request.sources = std::move(sources);
  request.destination = destination;
  request.flags = flags;
  return RunFileOperation(request, &ui);
}

// Data that differs from block to block, so a misplaced block shows.
inline std::string PatternData(size_t size, unsigned seed = 1) {
  std::string data(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    data[i] = char(x >> 24);
  }
  return data;
}

// A bind mount for a test's span; mounted() is false where it is not permitted.
class BindMount {
 public:
  BindMount(const std::string& from, const std::string& onto) : onto_(onto) {
    mounted_ = mount(from.c_str(), onto.c_str(), nullptr, MS_BIND, nullptr) == 0;
  }
  ~BindMount() {
    if (mounted_) umount2(onto_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string onto_;
  bool mounted_ = false;
};

// Runs fn on a thread of its own as user and group 65534, as an ordinary
// user would run the engine (the raw calls change that thread only, and it
// ends with fn). false where that is not permitted.
inline bool RunAsNobody(const std::function<void()>& fn) {
  bool ran = false;
  std::thread worker([&] {
    if (syscall(SYS_setresgid, -1, 65534, -1) != 0) return;
    if (syscall(SYS_setresuid, -1, 65534, -1) != 0) return;
    ran = true;
    fn();
  });
  worker.join();
  return ran;
}

// Holds each read of path until action(fd of the file) has run, for the
// first times reads: another program acting right while the engine reads the
// file, after it has looked at it. active() is false where fanotify is not
// permitted.
class OnRead {
 public:
  OnRead(const std::string& path, std::function<void(int)> action, int times = 1)
      : action_(std::move(action)), times_(times) {
    fd_ = fanotify_init(FAN_CLOEXEC | FAN_CLASS_CONTENT | FAN_NONBLOCK, O_RDWR | O_LARGEFILE);
    if (fd_ >= 0 && fanotify_mark(fd_, FAN_MARK_ADD, FAN_ACCESS_PERM, AT_FDCWD, path.c_str()) != 0) {
      close(fd_);
      fd_ = -1;
    }
    if (fd_ >= 0) thread_ = std::thread([this] { Serve(); });
  }
  ~OnRead() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  bool active() const { return fd_ >= 0; }
  int acted() const { return acted_; }

 private:
  void Serve() {
    alignas(fanotify_event_metadata) char buffer[4096];
    while (!stop_) {
      struct pollfd p {
        fd_, POLLIN, 0
      };
      if (poll(&p, 1, 20) <= 0) continue;
      ssize_t n = read(fd_, buffer, sizeof buffer);
      auto* m = reinterpret_cast<fanotify_event_metadata*>(buffer);
      for (; n > 0 && FAN_EVENT_OK(m, n); m = FAN_EVENT_NEXT(m, n)) {
        if (m->fd < 0) continue;
        if (acted_ < times_) {
          action_(m->fd);
          ++acted_;
        }
        struct fanotify_response allow {
          m->fd, FAN_ALLOW
        };
        (void)!write(fd_, &allow, sizeof allow);
        close(m->fd);
      }
    }
  }
  std::function<void(int)> action_;
  int times_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> acted_{0};
  std::thread thread_;
};
