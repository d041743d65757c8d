#include "DestinationTree.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace arc {

namespace {
std::atomic<bool> noOpenat2{false};
constexpr int kDirFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
}  // namespace

DestinationTree::~DestinationTree() {
  Forget();
  if (root_ >= 0) close(root_);
}

void DestinationTree::Forget() {
  if (cachedFd_ >= 0) close(cachedFd_);
  cachedFd_ = -1;
  cachedRel_.clear();
}

int DestinationTree::OpenBeneath(int dirFd, const std::string& rel) {
  if (!noOpenat2.load(std::memory_order_relaxed)) {
    struct open_how how {};
    how.flags = kDirFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    int fd = static_cast<int>(syscall(SYS_openat2, dirFd, rel.c_str(), &how, sizeof how));
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
    noOpenat2 = true;  // an older kernel, or a filter that forbids the call
  }
  // One component at a time, none of them a link and none of them "..".
  int dir = dirFd;
  size_t pos = 0;
  bool any = false;
  while (pos <= rel.size()) {
    size_t slash = rel.find('/', pos);
    if (slash == std::string::npos) slash = rel.size();
    std::string part = rel.substr(pos, slash - pos);
    pos = slash + 1;
    if (part.empty() || part == ".") continue;
    int next = part == ".." ? -1 : openat(dir, part.c_str(), kDirFlags | O_NOFOLLOW);
    int err = part == ".." ? EXDEV : errno;
    if (next < 0 && err == ENOTDIR) {
      // A link in the way is ELOOP, as openat2 says; a plain file stays ENOTDIR.
      struct stat st {};
      if (fstatat(dir, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) err = ELOOP;
    }
    if (dir != dirFd) close(dir);
    if (next < 0) {
      errno = err;
      return -1;
    }
    dir = next;
    any = true;
  }
  return any ? dir : openat(dirFd, ".", kDirFlags);
}

bool DestinationTree::Open(const std::string& root) {
  root_ = open(root.c_str(), kDirFlags);
  return root_ >= 0;
}

int DestinationTree::OpenFolder(const std::string& relDir) { return OpenBeneath(root_, relDir.empty() ? "." : relDir); }

int DestinationTree::Folder(const std::string& relDir, bool* made) {
  if (made) *made = false;
  if (relDir.empty()) return root_;
  if (cachedFd_ >= 0 && relDir == cachedRel_) return cachedFd_;
  int fd = OpenBeneath(root_, relDir);
  if (fd < 0 && errno == ENOENT) {
    // Made one part at a time, each opened beneath the one before.
    int dir = root_;
    size_t pos = 0;
    fd = -1;
    while (pos <= relDir.size()) {
      size_t slash = relDir.find('/', pos);
      if (slash == std::string::npos) slash = relDir.size();
      std::string part = relDir.substr(pos, slash - pos);
      pos = slash + 1;
      if (part.empty()) continue;
      int next = OpenBeneath(dir, part);
      if (next < 0 && errno == ENOENT) {
        if (mkdirat(dir, part.c_str(), 0777) != 0 && errno != EEXIST) {
          next = -1;
        } else {
          if (made) *made = pos > relDir.size();
          next = OpenBeneath(dir, part);
        }
      }
      int saved = errno;
      if (dir != root_) close(dir);
      errno = saved;
      if (next < 0) return -1;
      dir = next;
    }
    fd = dir == root_ ? OpenBeneath(root_, ".") : dir;
  }
  if (fd < 0) return -1;
  Forget();
  cachedRel_ = relDir;
  cachedFd_ = fd;
  return fd;
}

}  // namespace arc
