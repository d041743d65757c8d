#include "platform/fileops/CopyFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <linux/magic.h>
#include <sys/sendfile.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <string_view>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/fileops/ErrorText.h"
#include "platform/system/UniqueFd.h"

namespace {

// Big enough that the per-call cost vanishes, small enough that cancel and
// the progress counters stay lively on a slow disk.
constexpr size_t kChunk = 16u << 20;
constexpr size_t kBufferSize = 1u << 20;
constexpr size_t kCompareBlock = 256u << 10;
constexpr long kFuseMagic = 0x65735546;
constexpr long kExfatMagic = 0x2011BAB0;

bool TargetSideError(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS; }

// A refusal that says "not this way between these files", as opposed to a
// real failure of the data (no space, I/O error).
bool WayRefused(int error) {
  return error == EXDEV || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL || error == ENOTTY ||
         error == EBADF || error == EPERM || error == ETXTBSY;
}

}  // namespace

void StatTimes(const struct stat& st, struct timespec times[2]) {
  times[0] = st.st_atim;
  times[1] = st.st_mtim;
}

int RenameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to) {
  if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
  int error = errno;
  if (error != EINVAL && error != ENOSYS) return error;
  // No RENAME_NOREPLACE here (or a folder into itself, which the plain
  // rename refuses the same way). A hard link never replaces anything.
  struct stat st;
  if (fstatat(fromDir, from, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) {
    if (linkat(fromDir, from, toDir, to, 0) == 0) {
      if (unlinkat(fromDir, from, 0) == 0) return 0;
      int e = errno;
      unlinkat(toDir, to, 0);
      return e;
    }
    if (errno == EEXIST) return EEXIST;
  }
  struct stat there;
  if (fstatat(toDir, to, &there, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
}

std::string TemporaryName() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::string name = ".tolvane-part-";
  for (int i = 0; i < 8; ++i) name += kChars[random() % (sizeof kChars - 1)];
  return name;
}

void SweepStaleParts(int dirFd) {
  static constexpr std::string_view kPrefix = ".tolvane-part-";
  DirPtr dir = OpenDirStream(UniqueFd(openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
  if (!dir) return;
  const time_t now = time(nullptr);
  std::vector<std::string> stale;
  while (dirent* e = readdir(dir.get())) {
    std::string_view name = e->d_name;
    if (name.size() != kPrefix.size() + 8 || name.substr(0, kPrefix.size()) != kPrefix) continue;
    if (!std::all_of(name.begin() + kPrefix.size(), name.end(), [](char c) { return std::isalnum((unsigned char)c); }))
      continue;
    struct stat st;
    // A part being written is touched with every block.
    if (fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) &&
        now - st.st_mtim.tv_sec > 60)
      stale.emplace_back(name);
  }
  dir.reset();
  for (const std::string& name : stale)
    if (unlinkat(dirFd, name.c_str(), 0) != 0 && errno == EISDIR) RemovePartFolder(dirFd, name.c_str());
}

// --- FileCopier ---------------------------------------------------------------

struct FileCopier::Ways {
  enum State : uint8_t { Unknown, Yes, No };
  dev_t src = 0, dst = 0;
  State clone = Unknown, range = Unknown, send = Unknown, tmpfile = Unknown, emptyPathLink = Unknown,
        stableIdentity = Unknown, foreign = Unknown;
};

FileCopier::FileCopier(const std::atomic<bool>& cancel, std::atomic<uint64_t>& bytesDone)
    : cancel_(cancel), bytesDone_(bytesDone) {}

FileCopier::~FileCopier() = default;

FileCopier::Ways& FileCopier::WaysFor(dev_t src, dev_t dst) {
  for (auto& w : ways_)
    if (w->src == src && w->dst == dst) return *w;
  auto w = std::make_unique<Ways>();
  w->src = src;
  w->dst = dst;
  ways_.push_back(std::move(w));
  return *ways_.back();
}

// The process's umask, read without changing it (umask() would, for a
// moment, for every thread); -1 when unknown.
static int ProcessUmask() {
  static const int mask = [] {
    FILE* f = std::fopen("/proc/self/status", "re");
    if (!f) return -1;
    char line[256];
    int value = -1;
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "Umask: %o", &value) == 1) break;
    std::fclose(f);
    return value;
  }();
  return mask;
}

DroppedAttributes FileCopier::ApplyFolderMetadata(int srcFd, int dstFd, const struct stat& st) {
  attributes_.Read(srcFd, st);
  // Made with owner rights only: every bit is set here.
  DroppedAttributes dropped = attributes_.Apply(srcFd, dstFd, st, mode_t(-1));
  struct stat made;
  if (fstat(dstFd, &made) == 0) attributes_.CheckKept(st, made, dropped);
  return dropped;
}

bool FileCopier::StableIdentity(int dirFd, dev_t dev) {
  Ways& w = WaysFor(dev, dev);
  if (w.stableIdentity == Ways::Unknown) {
    struct statfs fs;
    bool unstable = fstatfs(dirFd, &fs) == 0 &&
                    (fs.f_type == MSDOS_SUPER_MAGIC || fs.f_type == kExfatMagic || fs.f_type == kFuseMagic);
    w.stableIdentity = unstable ? Ways::No : Ways::Yes;
  }
  return w.stableIdentity == Ways::Yes;
}

int FileCopier::ConfirmCopy(int srcDir, const char* name, const struct stat& st, int dstDir, const char* dstName,
                            const struct stat& made) {
  struct stat there;
  if (fstatat(dstDir, dstName, &there, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(there.st_mode) ||
      there.st_size != st.st_size)
    return kErrorNotConfirmed;
  if (StableIdentity(dstDir, made.st_dev))
    return there.st_dev == made.st_dev && there.st_ino == made.st_ino ? 0 : kErrorNotConfirmed;
  // The same number may name another file here: the contents decide.
  UniqueFd dst(openat(dstDir, dstName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
  if (!dst) return kErrorNotConfirmed;
  UniqueFd src(openat(srcDir, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
  int error = kErrorNotConfirmed;
  struct stat now, dstNow;
  if (src && fstat(src.Get(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
      fstat(dst.Get(), &dstNow) == 0 && dstNow.st_size == st.st_size) {
    int compared = CompareData(src.Get(), dst.Get());
    error = compared == ECANCELED ? ECANCELED : compared ? kErrorNotConfirmed : 0;
  }
  return error;
}

int FileCopier::OpenPart(int dstDir, dev_t dstDev, mode_t mode, std::string& tempName) {
  tempName.clear();
  // An unnamed file is named through /proc where linking it by descriptor
  // needs a capability we may lack; without /proc, named temporaries only.
  static const bool procFd = access("/proc/self/fd", X_OK) == 0;
  Ways& w = WaysFor(dstDev, dstDev);
  if (w.tmpfile != Ways::No && procFd) {
    int fd = openat(dstDir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd >= 0) {
      w.tmpfile = Ways::Yes;
      return fd;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
    w.tmpfile = Ways::No;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName = TemporaryName();
    int fd = openat(dstDir, tempName.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

int FileCopier::InstallPart(int fd, int dstDir, const std::string& tempName, const char* dstName, bool replace) {
  if (!tempName.empty()) {
    if (replace) return renameat(dstDir, tempName.c_str(), dstDir, dstName) == 0 ? 0 : errno;
    return RenameNoReplaceAt(dstDir, tempName.c_str(), dstDir, dstName);
  }
  // An unnamed part gets its name by a link, which never replaces anything.
  Ways& w = WaysFor(0, 0);
  auto linkTo = [&](const char* name) {
    if (w.emptyPathLink != Ways::No) {
      if (linkat(fd, "", dstDir, name, AT_EMPTY_PATH) == 0) return 0;
      if (errno != ENOENT && errno != EPERM && errno != EINVAL) return errno;
      w.emptyPathLink = Ways::No;  // needs a capability we lack
    }
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, procPath, dstDir, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
  };
  if (!replace) return linkTo(dstName);
  // Replacing: link under a free hidden name, then rename over the old file,
  // which thus stays until the new one is whole.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = TemporaryName();
    int error = linkTo(temp.c_str());
    if (error == EEXIST) continue;
    if (error) return error;
    if (renameat(dstDir, temp.c_str(), dstDir, dstName) == 0) return 0;
    error = errno;
    unlinkat(dstDir, temp.c_str(), 0);
    return error;
  }
  return EEXIST;
}

int FileCopier::ReadWriteData(int src, int dst, off_t from, off_t size) {
  if (buffer_.empty()) buffer_.resize(kBufferSize);
  if (lseek(src, from, SEEK_SET) < 0 || lseek(dst, from, SEEK_SET) < 0) return errno;
  for (;;) {
    if (cancel_.load(std::memory_order_relaxed)) return ECANCELED;
    ssize_t n = read(src, buffer_.data(), buffer_.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    for (ssize_t written = 0; written < n;) {
      ssize_t w = write(dst, buffer_.data() + written, n - written);
      if (w < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      written += w;
    }
    bytesDone_.fetch_add(n, std::memory_order_relaxed);
    from += n;
    if (from >= size && size > 0) return 0;
  }
}

// The data parts only, found with SEEK_DATA and SEEK_HOLE; -1 when the file
// system cannot tell (nothing written then).
int FileCopier::CopySparse(int src, int dst, off_t size) {
  if (buffer_.empty()) buffer_.resize(kBufferSize);
  bool sized = false;
  for (off_t at = 0; at < size;) {
    if (cancel_.load(std::memory_order_relaxed)) return ECANCELED;
    off_t data = lseek(src, at, SEEK_DATA);
    if (data < 0) {
      if (errno != ENXIO) return at == 0 && (errno == EINVAL || errno == EOPNOTSUPP) ? -1 : errno;
      data = size;  // a hole up to the end
    }
    data = std::min(data, size);
    if (!sized && ftruncate(dst, size) != 0) return errno;
    sized = true;
    bytesDone_.fetch_add(data - at, std::memory_order_relaxed);
    if (data >= size) break;
    off_t hole = lseek(src, data, SEEK_HOLE);
    if (hole < 0) return errno;
    hole = std::min(hole, size);
    for (off_t pos = data; pos < hole;) {
      if (cancel_.load(std::memory_order_relaxed)) return ECANCELED;
      ssize_t n = pread(src, buffer_.data(), std::min<off_t>(buffer_.size(), hole - pos), pos);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) return 0;  // shrunk meanwhile: the check after the copy sees it
      for (ssize_t written = 0; written < n;) {
        ssize_t w = pwrite(dst, buffer_.data() + written, n - written, pos + written);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return errno;
        written += w;
      }
      bytesDone_.fetch_add(n, std::memory_order_relaxed);
      pos += n;
    }
    at = hole;
  }
  if (!sized && ftruncate(dst, size) != 0) return errno;
  return 0;
}

int FileCopier::CopyData(int src, int dst, const struct stat& st, dev_t dstDev, Way& way) {
  way = Way::ReadWrite;
  Ways& w = WaysFor(st.st_dev, dstDev);
  if (st.st_size > 0 && w.clone != Ways::No) {
    if (ioctl(dst, FICLONE, src) == 0) {
      w.clone = Ways::Yes;
      way = Way::Cloned;
      bytesDone_.fetch_add(st.st_size, std::memory_order_relaxed);
      return 0;
    }
    if (w.clone == Ways::Unknown) w.clone = Ways::No;
  }
  // A sparse file keeps its holes, as cp does: written out it may not fit.
  if (st.st_size > 0 && off_t(st.st_blocks) * 512 < st.st_size) {
    int r = CopySparse(src, dst, st.st_size);
    if (r >= 0) return r;
  }
  if (st.st_size > (off_t)kBufferSize) posix_fadvise(src, 0, 0, POSIX_FADV_SEQUENTIAL);

  // In-kernel copy, then sendfile (which also crosses file systems), then a
  // plain buffer. The file offsets advance as data goes, so a fallback goes
  // on from where the faster way stopped.
  off_t done = 0;
  auto kernelCopy = [&](Ways::State& state, auto&& call) -> int {
    while (state != Ways::No) {
      if (cancel_.load(std::memory_order_relaxed)) return ECANCELED;
      ssize_t n = call();
      if (n > 0) {
        done += n;
        state = Ways::Yes;
        way = Way::Kernel;
        bytesDone_.fetch_add(n, std::memory_order_relaxed);
        // The size as opened is the copy: no extra call to meet the end.
        if (done >= st.st_size && st.st_size > 0) return 0;
        continue;
      }
      if (n == 0) {
        // Nothing at all from a file that claims data (some pseudo file
        // systems): let the plain read decide.
        if (done == 0 && st.st_size > 0) return -1;
        return 0;
      }
      if (errno == EINTR) continue;
      if (done == 0 && WayRefused(errno)) {
        if (state == Ways::Unknown) state = Ways::No;
        return -1;
      }
      return errno;
    }
    return -1;
  };
  int r = kernelCopy(w.range, [&] { return copy_file_range(src, nullptr, dst, nullptr, kChunk, 0); });
  if (r >= 0) return r;
  r = kernelCopy(w.send, [&] { return sendfile(dst, src, nullptr, kChunk); });
  if (r >= 0) return r;
  return ReadWriteData(src, dst, done, st.st_size);
}

int FileCopier::CompareData(int a, int b) {
  if (buffer_.empty()) buffer_.resize(kBufferSize);
  char* ba = buffer_.data();
  char* bb = buffer_.data() + kCompareBlock;
  auto readBlock = [](int fd, char* into, off_t at, ssize_t& got) {
    got = 0;
    while (got < (ssize_t)kCompareBlock) {
      ssize_t n = pread(fd, into + got, kCompareBlock - got, at + got);
      if (n < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (n == 0) break;
      got += n;
      // A short read of a regular file is its end; spare the extra call.
      if (got < (ssize_t)kCompareBlock) break;
    }
    return 0;
  };
  for (off_t at = 0;; at += kCompareBlock) {
    if (cancel_.load(std::memory_order_relaxed)) return ECANCELED;
    ssize_t na, nb;
    if (int e = readBlock(a, ba, at, na)) return e;
    if (int e = readBlock(b, bb, at, nb)) return e;
    if (na != nb || std::memcmp(ba, bb, na) != 0) return EIO;
    if (na < (ssize_t)kCompareBlock) return 0;
  }
}

bool HasDefaultAcl(int dirFd) { return fgetxattr(dirFd, "system.posix_acl_default", nullptr, 0) > 0; }

CopyStatus FileCopier::CopyRegular(int srcDir, const char* name, const CopyTarget& to, const char* dstName,
                                   bool replace, bool verify, struct stat* srcStat, struct stat* dstStat) {
  const int dstDir = to.dir;
  CopyStatus status;
  struct stat st;
  // O_NONBLOCK: a source swapped for a pipe since it was listed must not hang us.
  UniqueFd src(openat(srcDir, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
  if (!src) {
    status.error = errno;
    if (status.error == ELOOP) status.kindChanged = true;
    return status;
  }
  if (fstat(src.Get(), &st) != 0) {
    status.error = errno;
    return status;
  }
  if (srcStat) *srcStat = st;
  if (!S_ISREG(st.st_mode)) {
    status.error = EINVAL;
    status.kindChanged = true;
    return status;
  }
  // Made with the final permission bits where the umask lets them through
  // (set-id bits only once the data is written: a write drops them).
  // A folder's default ACL, not the umask, decides then. A source with an
  // ACL shows its mask as group bits: its copy is made no more open than
  // what the ACL gives the owning group.
  attributes_.Read(src.Get(), st);
  int umask = ProcessUmask();
  mode_t mode = attributes_.SafeMode() | S_IRUSR | S_IWUSR;
  mode_t madeWith = umask < 0 || to.defaultAcl ? mode_t(-1) : mode & ~mode_t(umask);
  if (CopyForeign(src.Get(), srcDir, name, st, to, dstName, replace, status, dstStat) == 0) return status;
  std::string tempName;
  UniqueFd part(OpenPart(to.dir, to.dev, mode, tempName));
  if (!part) {
    status = {errno, true};
    return status;
  }
  Way way;
  int error = CopyData(src.Get(), part.Get(), st, to.dev, way);
  bool targetSide = TargetSideError(error);
  if (!error && verify && way != Way::Cloned) {
    // Some FUSE file systems answer a read through the descriptor that
    // wrote with stale data; a descriptor of its own reads what is stored.
    UniqueFd check;
    if (!StableIdentity(to.dir, to.dev)) {
      char procPath[64];
      std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", part.Get());
      check.Reset(open(procPath, O_RDONLY | O_CLOEXEC));
    }
    error = CompareData(src.Get(), check ? check.Get() : part.Get());
    check.Reset();
    if (error == EIO && way == Way::Kernel) {
      // Some FUSE file systems read back what sendfile or the in-kernel copy
      // wrote there wrongly (and refuse to write that part again): once more
      // into a new part by read and write, and no more that way.
      Ways& w = WaysFor(st.st_dev, to.dev);
      w.range = w.send = Ways::No;
      if (!tempName.empty()) unlinkat(dstDir, tempName.c_str(), 0);
      // Not held open through the second attempt.
      part.Reset();
      src.Reset();
      bytesDone_.fetch_sub(st.st_size, std::memory_order_relaxed);
      return CopyRegular(srcDir, name, to, dstName, replace, verify, srcStat, dstStat);
    }
  }
  if (!error) {
    // Written meanwhile, the copy may mix old and new: not put in place.
    struct stat after;
    if (fstat(src.Get(), &after) != 0) {
      error = errno;
    } else if (after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
               after.st_mtim.tv_nsec != st.st_mtim.tv_nsec || after.st_ctim.tv_sec != st.st_ctim.tv_sec ||
               after.st_ctim.tv_nsec != st.st_ctim.tv_nsec) {
      error = kErrorChangedMeanwhile;
      status.changed = true;
    }
  }
  if (!error) {
    status.dropped = attributes_.Apply(src.Get(), part.Get(), st, madeWith);
    error = InstallPart(part.Get(), dstDir, tempName, dstName, replace);
    targetSide = true;
    struct stat made;
    if (!error && fstat(part.Get(), &made) == 0) {
      attributes_.CheckKept(st, made, status.dropped);
      if (dstStat) *dstStat = made;
    } else if (!error && dstStat) {
      *dstStat = st;
    }
  }
  if (error && !tempName.empty()) unlinkat(dstDir, tempName.c_str(), 0);
  status.error = error;
  status.targetSide = error && targetSide;
  return status;
}

CopyStatus FileCopier::CopyFifo(const struct stat& st, int dstDir, const char* dstName, bool replace) {
  std::string temp = replace ? TemporaryName() : std::string();
  const char* made = replace ? temp.c_str() : dstName;
  if (mkfifoat(dstDir, made, st.st_mode & 0777 & ~mode_t(S_IWGRP | S_IWOTH)) != 0) return {errno, true};
  static const uid_t uid = geteuid();
  static const gid_t gid = getegid();
  if (st.st_uid != uid || st.st_gid != gid) (void)!fchownat(dstDir, made, st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
  fchmodat(dstDir, made, st.st_mode & 07777, 0);
  struct timespec times[2];
  StatTimes(st, times);
  utimensat(dstDir, made, times, AT_SYMLINK_NOFOLLOW);
  if (replace && renameat(dstDir, made, dstDir, dstName) != 0) {
    CopyStatus status{errno, true};
    unlinkat(dstDir, made, 0);
    return status;
  }
  return {};
}

CopyStatus FileCopier::CopySymlink(int srcDir, const char* name, const struct stat& st, int dstDir, const char* dstName,
                                   bool replace) {
  CopyStatus status;
  std::string target(st.st_size > 0 ? st.st_size + 1 : 256, '\0');
  for (;;) {
    ssize_t n = readlinkat(srcDir, name, target.data(), target.size());
    if (n < 0) return {errno, false};
    if ((size_t)n < target.size()) {
      target.resize(n);
      break;
    }
    target.resize(target.size() * 2);
  }
  std::string temp;
  const char* made = dstName;
  for (int attempt = 0;; ++attempt) {
    if (replace) {
      temp = TemporaryName();
      made = temp.c_str();
    }
    if (symlinkat(target.c_str(), dstDir, made) == 0) break;
    if (errno == EEXIST && replace && attempt < 100) continue;
    return {errno, true};
  }
  if (replace && renameat(dstDir, made, dstDir, dstName) != 0) {
    status = {errno, true};
    unlinkat(dstDir, made, 0);
    return status;
  }
  static const uid_t uid = geteuid();
  static const gid_t gid = getegid();
  if (st.st_uid != uid || st.st_gid != gid) (void)!fchownat(dstDir, dstName, st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW);
  struct timespec times[2];
  StatTimes(st, times);
  utimensat(dstDir, dstName, times, AT_SYMLINK_NOFOLLOW);
  return status;
}

// --- Through a foreign copier ---------------------------------------------------

namespace {

// The part's name inside its private folder.
constexpr const char* kPartName = "part";

ForeignCopier& Copier() {
  static ForeignCopier copier;
  return copier;
}

bool OnFuse(int fd) {
  struct statfs fs;
  return fstatfs(fd, &fs) == 0 && fs.f_type == kFuseMagic;
}

std::string PathOfFd(int fd) {
  char link[64], path[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path);
  return n > 0 && path[0] == '/' ? std::string(path, n) : std::string();
}

}  // namespace

void SetForeignCopier(ForeignCopier copier) { Copier() = std::move(copier); }

void RemovePartFolder(int dirFd, const char* name) {
  UniqueFd folder(openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  // The part itself only, and never what a link there points to.
  if (folder && fstatat(folder.Get(), kPartName, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
    unlinkat(folder.Get(), kPartName, 0);
  unlinkat(dirFd, name, AT_REMOVEDIR);
}

int FileCopier::CopyForeign(int src, int srcDir, const char* name, const struct stat& st, const CopyTarget& to,
                            const char* dstName, bool replace, CopyStatus& status, struct stat* dstStat) {
  const ForeignCopier& copier = Copier();
  if (!copier) return -1;
  Ways& w = WaysFor(st.st_dev, to.dev);
  if (w.foreign == Ways::No) return -1;
  const bool srcFuse = OnFuse(src);
  if (w.foreign == Ways::Unknown && !srcFuse && !OnFuse(to.dir)) {
    w.foreign = Ways::No;
    return -1;
  }
  const std::string from = PathOfFd(srcDir), folder = PathOfFd(to.dir);
  if (from.empty() || folder.empty()) return -1;

  std::string partDir;
  for (int attempt = 0;; ++attempt) {
    partDir = TemporaryName();
    if (mkdirat(to.dir, partDir.c_str(), 0700) == 0) break;
    if (errno != EEXIST || attempt == 100) {
      status = {errno, true};
      return 0;
    }
  }
  uint64_t reported = 0;
  int error = copier(from + "/" + name, folder + "/" + partDir + "/" + kPartName, cancel_, [&](uint64_t done) {
    if (done <= reported) return;
    bytesDone_.fetch_add(done - reported, std::memory_order_relaxed);
    reported = done;
  });
  if (error < 0) {
    w.foreign = Ways::No;
    unlinkat(to.dir, partDir.c_str(), AT_REMOVEDIR);
    return -1;
  }
  w.foreign = Ways::Yes;
  // The remote side is the one that fails, unless the target is full.
  bool targetSide = error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS || !srcFuse;
  UniqueFd part;
  struct stat made;
  if (!error) {
    UniqueFd partFolder(openat(to.dir, partDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (partFolder) part.Reset(openat(partFolder.Get(), kPartName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    targetSide = true;
    if (!part)
      error = errno;
    else if (fstat(part.Get(), &made) != 0)
      error = errno;
    else if (!S_ISREG(made.st_mode) || made.st_size != st.st_size)
      error = EIO;
    struct stat after;
    if (!error && fstat(src, &after) == 0 &&
        (after.st_size != st.st_size || after.st_mtim.tv_sec != st.st_mtim.tv_sec ||
         after.st_mtim.tv_nsec != st.st_mtim.tv_nsec)) {
      error = kErrorChangedMeanwhile;
      status.changed = true;
    }
    if (!error) {
      // Made by the other engine with bits of its own: every one is set here.
      status.dropped = attributes_.Apply(src, part.Get(), st, mode_t(-1));
      error = replace ? (renameat(partFolder.Get(), kPartName, to.dir, dstName) == 0 ? 0 : errno)
                      : RenameNoReplaceAt(partFolder.Get(), kPartName, to.dir, dstName);
    }
  }
  if (!error && fstat(part.Get(), &made) == 0) {
    attributes_.CheckKept(st, made, status.dropped);
    if (dstStat) *dstStat = made;
  }
  RemovePartFolder(to.dir, partDir.c_str());
  status.error = error;
  status.targetSide = error && targetSide;
  return 0;
}
