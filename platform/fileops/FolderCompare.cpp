#include "platform/fileops/FolderCompare.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <thread>

#include "platform/fileops/ErrorText.h"
#include "platform/system/ReadFull.h"

namespace {

constexpr size_t kBlock = 1 << 20;

int64_t Ns(const struct timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

CompareSide SideOf(const struct stat& st) {
  CompareSide side;
  side.present = true;
  side.folder = S_ISDIR(st.st_mode);
  side.mode = st.st_mode;
  side.size = side.folder ? 0 : uint64_t(st.st_size);
  side.mtimeNs = Ns(st.st_mtim);
  side.dev = st.st_dev;
  side.ino = st.st_ino;
  return side;
}

// The entries of an open folder, looked at without following links.
bool List(int dirFd, std::map<std::string, CompareSide>& out) {
  int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    if (fd >= 0) close(fd);
    return false;
  }
  while (dirent* e = readdir(dir)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    struct stat st;
    if (fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) out[e->d_name] = SideOf(st);
  }
  closedir(dir);
  return true;
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

// Still the file that was listed, and unchanged since.
bool Same(const struct stat& st, const CompareSide& side) {
  return st.st_dev == side.dev && st.st_ino == side.ino && uint64_t(st.st_size) == side.size &&
         Ns(st.st_mtim) == side.mtimeNs;
}

bool Unchanged(const struct stat& before, const struct stat& after) {
  return before.st_size == after.st_size && Ns(before.st_mtim) == Ns(after.st_mtim) &&
         Ns(before.st_ctim) == Ns(after.st_ctim);
}

}  // namespace

CompareCounts CompareResult::Counts() const {
  CompareCounts c;
  for (const CompareEntry& e : entries) {
    switch (e.state) {
      case CompareState::OnlyLeft:
        ++c.onlyLeft;
        break;
      case CompareState::OnlyRight:
        ++c.onlyRight;
        break;
      case CompareState::NewerLeft:
        ++c.newerLeft;
        break;
      case CompareState::NewerRight:
        ++c.newerRight;
        break;
      case CompareState::Equal:
        ++c.equal;
        break;
      case CompareState::DifferentContent:
        ++c.different;
        break;
      case CompareState::Changed:
        ++c.changed;
        break;
      case CompareState::Unreadable:
        ++c.unreadable;
        break;
    }
  }
  return c;
}

const char* CompareStateText(CompareState state) {
  switch (state) {
    case CompareState::OnlyLeft:
      return "左だけ";
    case CompareState::OnlyRight:
      return "右だけ";
    case CompareState::NewerLeft:
      return "左が新しい";
    case CompareState::NewerRight:
      return "右が新しい";
    case CompareState::Equal:
      return "同じ";
    case CompareState::DifferentContent:
      return "内容が違う";
    case CompareState::Changed:
      return "比較中に変更された";
    case CompareState::Unreadable:
      return "読めない";
  }
  return "";
}

CompareState FolderCompare::ByTime(const CompareEntry& e, bool sameBytes, bool bytesKnown) const {
  if (bytesKnown && sameBytes) return CompareState::Equal;
  int64_t diff = e.left.mtimeNs - e.right.mtimeNs;
  bool sameTime = diff <= options_.toleranceNs && -diff <= options_.toleranceNs;
  if (sameTime)
    return !bytesKnown && e.left.size == e.right.size ? CompareState::Equal : CompareState::DifferentContent;
  return diff > 0 ? CompareState::NewerLeft : CompareState::NewerRight;
}

CompareResult FolderCompare::Run() {
  CompareResult result;
  Fd left{open(left_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  Fd right{open(right_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (left.fd < 0 || right.fd < 0) {
    result.error = "「" + (left.fd < 0 ? left_ : right_) + "」を開けません: " + SystemErrorText(errno);
    return result;
  }
  leftRoot_ = left.fd;
  rightRoot_ = right.fd;
  Walk(left.fd, right.fd, "", result);
  std::sort(result.entries.begin(), result.entries.end(),
            [](const CompareEntry& a, const CompareEntry& b) { return a.path < b.path; });
  std::vector<size_t> pending;
  for (size_t i = 0; i < result.entries.size(); ++i) {
    CompareEntry& e = result.entries[i];
    if (!e.left.present || !e.right.present || e.left.folder || e.right.folder) continue;
    bool readable = S_ISREG(e.left.mode) && S_ISREG(e.right.mode);
    if (options_.content && readable && e.left.size == e.right.size) {
      pending.push_back(i);
      bytesTotal_ += 2 * e.left.size;
    } else {
      e.state = ByTime(e, false, options_.content && readable);
    }
  }
  if (!pending.empty()) CompareContents(result, pending);
  result.cancelled = cancel_.load();
  return result;
}

void FolderCompare::Walk(int leftFd, int rightFd, const std::string& prefix, CompareResult& result) {
  std::map<std::string, CompareSide> l, r;
  if (!List(leftFd, l) || !List(rightFd, r)) {
    if (result.error.empty())
      result.error = "「" + (prefix.empty() ? "." : prefix) + "」を読めません: " + SystemErrorText(errno);
    return;
  }
  std::map<std::string, std::pair<CompareSide, CompareSide>> both;
  for (auto& [name, side] : l) both[name].first = side;
  for (auto& [name, side] : r) both[name].second = side;
  for (auto& [name, sides] : both) {
    if (cancel_.load()) return;
    CompareEntry e;
    e.path = prefix.empty() ? name : prefix + "/" + name;
    e.left = sides.first;
    e.right = sides.second;
    if (!e.right.present) {
      e.state = CompareState::OnlyLeft;
    } else if (!e.left.present) {
      e.state = CompareState::OnlyRight;
    } else if (e.left.folder && e.right.folder) {
      if (!options_.subfolders) continue;
      Fd a{openat(leftFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
      Fd b{openat(rightFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
      if (a.fd < 0 || b.fd < 0) {
        e.state = CompareState::Unreadable;
        result.entries.push_back(std::move(e));
        continue;
      }
      Walk(a.fd, b.fd, e.path, result);
      continue;
    } else if (e.left.folder != e.right.folder) {
      e.state = CompareState::DifferentContent;
    }
    result.entries.push_back(std::move(e));
  }
}

void FolderCompare::CompareContents(CompareResult& result, const std::vector<size_t>& pending) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    std::vector<char> a(kBlock), b(kBlock);
    for (size_t k; (k = next++) < pending.size();) {
      if (cancel_.load()) return;
      CompareEntry& e = result.entries[pending[k]];
      e.state = ContentState(e, a, b);
    }
  };
  unsigned threads =
      options_.threads > 0 ? unsigned(options_.threads) : std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  threads = std::min<unsigned>(threads, unsigned(pending.size()));
  std::vector<std::thread> workers;
  for (unsigned i = 1; i < threads; ++i) workers.emplace_back(work);
  work();
  for (std::thread& t : workers) t.join();
}

CompareState FolderCompare::ContentState(const CompareEntry& e, std::vector<char>& a, std::vector<char>& b) {
  Fd l{openat(leftRoot_, e.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
  Fd r{openat(rightRoot_, e.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
  if (l.fd < 0 || r.fd < 0) return errno == ENOENT || errno == ELOOP ? CompareState::Changed : CompareState::Unreadable;
  struct stat ls, rs;
  if (fstat(l.fd, &ls) != 0 || fstat(r.fd, &rs) != 0) return CompareState::Unreadable;
  // The very files that were listed, as they were listed.
  if (!S_ISREG(ls.st_mode) || !S_ISREG(rs.st_mode) || !Same(ls, e.left) || !Same(rs, e.right))
    return CompareState::Changed;
  if (beforeRead_) beforeRead_(e.path);
  posix_fadvise(l.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  posix_fadvise(r.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  bool same = true;
  uint64_t left = e.left.size;
  while (left > 0 && same) {
    if (cancel_.load()) return CompareState::Unreadable;
    size_t want = size_t(std::min<uint64_t>(left, kBlock));
    ssize_t x = ReadFull(l.fd, a.data(), want), y = ReadFull(r.fd, b.data(), want);
    if (x < 0 || y < 0) return CompareState::Unreadable;
    if (x != ssize_t(want) || y != ssize_t(want)) {
      bytesDone_ += 2 * left;
      return CompareState::Changed;  // cut short meanwhile
    }
    same = memcmp(a.data(), b.data(), want) == 0;
    left -= want;
    bytesDone_ += 2 * want;
  }
  bytesDone_ += 2 * left;  // what a difference spared reading
  struct stat la, ra;
  if (fstat(l.fd, &la) != 0 || fstat(r.fd, &ra) != 0 || !Unchanged(ls, la) || !Unchanged(rs, ra))
    return CompareState::Changed;
  return ByTime(e, same, true);
}
