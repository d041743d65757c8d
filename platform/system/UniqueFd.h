#pragma once
// A file descriptor with one owner: closed when the owner goes, so no path
// out of a function leaks it.
#include <dirent.h>

#include <memory>

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  // Hands the descriptor over; this owns none afterwards.
  int Release() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) noexcept;
  // Closes now and tells whether the close went well: a file just written
  // may report its last write error only here. False when none was open.
  bool Close() noexcept;

 private:
  int fd_ = -1;
};

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
// A folder listing; closing it closes the descriptor it reads.
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// A listing of the folder open as fd, which passes to it; null when the
// listing cannot be made (fd is closed then too).
DirPtr OpenDirStream(UniqueFd fd);
