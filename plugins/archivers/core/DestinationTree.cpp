#include "DestinationTree.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace arc {

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
  struct open_how how {};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(syscall(SYS_openat2, dirFd, rel.c_str(), &how, sizeof how));
}

bool DestinationTree::Open(const std::string& root) {
  root_ = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (root_ < 0) return false;
  int probe = OpenBeneath(root_, ".");
  if (probe < 0) {
    close(root_);
    root_ = -1;
    return false;
  }
  close(probe);
  return true;
}

int DestinationTree::Folder(const std::string& relDir) {
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
        if (mkdirat(dir, part.c_str(), 0777) != 0 && errno != EEXIST) next = -1;
        else next = OpenBeneath(dir, part);
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
