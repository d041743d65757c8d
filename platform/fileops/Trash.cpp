#include "platform/fileops/Trash.h"
#include "platform/namespace/PathText.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "platform/namespace/Drives.h"
#include "platform/namespace/ShellApi.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/namespace/TrashFolder.h"
#include "platform/system/UniqueFd.h"

namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";

// Keeps errno across cleanup calls that may change it.
struct ErrnoKeeper {
  int saved = errno;
  ~ErrnoKeeper() { errno = saved; }
};

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// As URIs escape paths: unreserved ASCII and '/' stay, every other byte is %XX.
std::string PercentEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~' || c == '/') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string Now() {
  time_t t = time(nullptr);
  struct tm local;
  localtime_r(&t, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

// An absolute path without "." components, doubled or trailing slashes; a
// parent with ".." is resolved on disk (by name it could point elsewhere).
bool AbsolutePath(const std::string& path, std::string& out) {
  std::string full = path;
  errno = EINVAL;
  if (full.empty() || full.find('\0') != std::string::npos) return false;
  if (full[0] != '/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return false;
    full = JoinPath(cwd, full);
  }
  std::vector<std::string> names;
  bool dotdot = false;
  size_t i = 0;
  while (i < full.size()) {
    size_t j = full.find('/', i);
    if (j == std::string::npos) j = full.size();
    std::string name = full.substr(i, j - i);
    if (name == "..") dotdot = true;
    if (!name.empty() && name != ".") names.push_back(std::move(name));
    i = j + 1;
  }
  if (names.empty() || names.back() == "..") return errno = EINVAL, false;
  out.clear();
  for (size_t k = 0; k + 1 < names.size(); ++k) out += "/" + names[k];
  if (dotdot) {
    char real[PATH_MAX];
    if (!realpath(out.empty() ? "/" : out.c_str(), real)) return false;
    out = real;
    if (out == "/") out.clear();
  }
  out += "/" + names.back();
  return true;
}

// The parent resolved on disk, the name kept (the item itself may be a link).
bool RealPathOfItem(const std::string& abs, std::string& out) {
  char real[PATH_MAX];
  if (!realpath(DirName(abs).c_str(), real)) return false;
  out = JoinPath(real, BaseName(abs));
  return true;
}

// mkdir that accepts an existing folder (not a link to one).
bool MakeFolder(const std::string& path, mode_t mode) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return false;
    if (mkdir(path.c_str(), mode) == 0) return true;
    if (errno != EEXIST || lstat(path.c_str(), &st) != 0) return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

// Creates path and its missing parents; created receives those made, outermost first.
bool MakeFolders(const std::string& path, mode_t mode, std::vector<std::string>* created) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  if (errno != ENOENT) return false;
  std::string parent = DirName(path);
  if (parent != path && !MakeFolders(parent, mode, created)) return false;
  if (mkdir(path.c_str(), mode) != 0) return errno == EEXIST;
  if (created) created->push_back(path);
  return true;
}

// A trash folder of ours: a real folder (no link) owned by this user.
bool IsOwnFolder(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
    errno = EACCES;
    return false;
  }
  return true;
}

// --- directorysizes --------------------------------------------------------------

std::mutex& SizesLock() {
  static std::mutex lock;
  return lock;
}

// Another program updating directorysizes at the same time must not drop our
// line, nor we its: the trash folder itself is locked around read and rewrite.
class SizesFileLock {
 public:
  explicit SizesFileLock(const std::string& trashDir)
      : guard_(SizesLock()), fd_(open(trashDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {
    if (fd_)
      while (flock(fd_.Get(), LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  bool Held() const { return static_cast<bool>(fd_); }

 private:
  std::lock_guard<std::mutex> guard_;
  UniqueFd fd_;  // closing it releases the lock
};

bool ReadFile(const std::string& path, std::string& text) {
  text.clear();
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (!fd) return false;
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd.Get(), buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return n == 0;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Replaces the file through a temporary one and a rename, so that a reader
// (or another program updating it at the same time) never sees half a file.
bool ReplaceFile(const std::string& path, const std::string& text) {
  std::string temp = path + ".XXXXXX";
  UniqueFd fd(mkstemp(temp.data()));
  if (!fd) return false;
  bool ok = WriteAll(fd.Get(), text);
  ok = fd.Close() && ok;
  if (ok && rename(temp.c_str(), path.c_str()) == 0) return true;
  ErrnoKeeper keep;
  unlink(temp.c_str());
  return false;
}

// The entry name of a directorysizes line ("size mtime name"), decoded.
bool SizesLineName(std::string_view line, std::string& name) {
  size_t a = line.find(' ');
  if (a == std::string_view::npos) return false;
  size_t b = line.find(' ', a + 1);
  if (b == std::string_view::npos) return false;
  name = PercentDecode(line.substr(b + 1));
  return true;
}

// Keeps the lines for which keep(name) holds; rewrites the file only when one goes.
void FilterSizes(const std::string& trashDir, const std::function<bool(const std::string&)>& keep) {
  SizesFileLock lock(trashDir);
  if (!lock.Held()) return;
  std::string path = trashDir + "/directorysizes", text, kept, name;
  if (!ReadFile(path, text)) return;
  bool changed = false;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = text.find('\n', i);
    if (j == std::string::npos) j = text.size();
    std::string_view line(text.data() + i, j - i);
    if (!line.empty() && (!SizesLineName(line, name) || keep(name))) {
      kept.append(line);
      kept.push_back('\n');
    } else {
      changed = true;
    }
    i = j + 1;
  }
  if (changed) ReplaceFile(path, kept);
}

void AddSizesLine(const std::string& trashDir, const std::string& name, uint64_t size, int64_t mtime) {
  SizesFileLock lock(trashDir);
  if (!lock.Held()) return;
  std::string path = trashDir + "/directorysizes", text;
  ReadFile(path, text);
  if (!text.empty() && text.back() != '\n') text.push_back('\n');
  text += std::to_string(size) + " " + std::to_string(mtime) + " " + PercentEncode(name) + "\n";
  ReplaceFile(path, text);  // only a cache for the desktop: a failure loses nothing
}

void RemoveSizesLine(const std::string& trashDir, const std::string& name) {
  FilterSizes(trashDir, [&](const std::string& n) { return n != name; });
}

// Disk usage of a tree as du -B1 counts it: allocated blocks, hard links once.
uint64_t DiskUsage(int parentFd, const char* name, std::set<std::pair<dev_t, ino_t>>& seen) {
  struct stat st;
  if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  if (st.st_nlink > 1 && !S_ISDIR(st.st_mode) && !seen.insert({st.st_dev, st.st_ino}).second) return 0;
  uint64_t total = static_cast<uint64_t>(st.st_blocks) * 512;
  if (!S_ISDIR(st.st_mode)) return total;
  DirPtr dir = OpenDirStream(UniqueFd(openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
  if (!dir) return total;
  while (dirent* e = readdir(dir.get())) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    total += DiskUsage(dirfd(dir.get()), e->d_name, seen);
  }
  return total;
}

// --- Trashing into one trash folder ------------------------------------------------

// "name", "name.2.ext", "name.3.ext" ...; cut so that name + ".trashinfo"
// fits in a file name (the original name is kept in the record anyway).
std::string TrashName(const std::string& name, unsigned n) {
  std::string stem = name, ext;
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0 && dot + 1 < name.size() && name.size() - dot <= 16) {
    stem = name.substr(0, dot);
    ext = name.substr(dot);
  }
  std::string suffix = n > 1 ? "." + std::to_string(n) : std::string();
  size_t room = NAME_MAX - kInfoSuffix.size();
  if (stem.size() + suffix.size() + ext.size() > room) {
    size_t keep = room > suffix.size() + ext.size() ? room - suffix.size() - ext.size() : 1;
    stem.resize(keep);
    // Do not leave half a UTF-8 character behind.
    while (stem.size() > 1 && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80) stem.pop_back();
    if (stem.size() > 1 && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0xC0) stem.pop_back();
  }
  return stem + suffix + ext;
}

int RenameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to, bool checkedFree) {
  if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0) return 0;
  if ((errno == EINVAL || errno == ENOSYS) && checkedFree) {
    // No RENAME_NOREPLACE here; the caller made sure the target is free.
    struct stat st;
    if (fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      errno = EEXIST;
      return -1;
    }
    return renameat(fromDir, from, toDir, to);
  }
  return -1;
}

// Moves abs into trashDir, recording pathField as its Path.
bool TrashInto(const std::string& trashDir, const std::string& abs, const std::string& pathField,
               const struct stat& itemStat, TrashedItem& item, int& error) {
  std::string filesDir = trashDir + "/files", infoDir = trashDir + "/info";
  if (!MakeFolder(filesDir, 0700) || !MakeFolder(infoDir, 0700)) return error = errno, false;
  UniqueFd files(open(filesDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  UniqueFd info(open(infoDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!files || !info) return error = errno, false;
  struct stat st;
  if (fstat(files.Get(), &st) != 0) return error = errno, false;
  if (st.st_dev != itemStat.st_dev) return error = EXDEV, false;  // never a copy

  std::string date = Now();
  std::string record = "[Trash Info]\nPath=" + PercentEncode(pathField) + "\nDeletionDate=" + date + "\n";
  std::string base = BaseName(abs), name, infoName;
  UniqueFd fd;
  for (unsigned n = 1; !fd; ++n) {
    if (n > 100000) return error = EEXIST, false;
    name = TrashName(base, n);
    infoName = name + std::string(kInfoSuffix);
    // The record comes first and exclusively: it reserves the name.
    fd.Reset(openat(info.Get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
      if (errno == EEXIST) continue;
      return error = errno, false;
    }
    // A file left without its record also holds the name.
    if (fstatat(files.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
      fd.Reset();
      unlinkat(info.Get(), infoName.c_str(), 0);
    }
  }
  bool written = WriteAll(fd.Get(), record);
  if (!written) error = errno;
  if (!fd.Close() && written) written = false, error = errno;
  if (!written) {
    unlinkat(info.Get(), infoName.c_str(), 0);
    return false;
  }
  if (RenameNoReplaceAt(AT_FDCWD, abs.c_str(), files.Get(), name.c_str(), true) != 0) {
    error = errno;
    unlinkat(info.Get(), infoName.c_str(), 0);
    return false;
  }
  if (S_ISDIR(itemStat.st_mode)) {
    std::set<std::pair<dev_t, ino_t>> seen;
    uint64_t size = DiskUsage(files.Get(), name.c_str(), seen);
    struct stat infoStat;
    int64_t mtime = fstatat(info.Get(), infoName.c_str(), &infoStat, 0) == 0 ? infoStat.st_mtim.tv_sec : time(nullptr);
    AddSizesLine(trashDir, name, size, mtime);
  }
  item.originalPath = abs;
  item.filesPath = filesDir + "/" + name;
  item.infoPath = infoDir + "/" + infoName;
  item.deletionDate = date;
  return true;
}

// The top folder of the file system holding realPath (whose device is dev):
// the mount point from the table, unless a mount it misses lies deeper.
// Empty when the item is a mount point itself.
std::string TopFolderOf(const std::string& realPath, dev_t dev) {
  struct stat st;
  std::string p = DirName(realPath);
  if (stat(p.c_str(), &st) != 0 || st.st_dev != dev) return {};
  std::string top = MountPointOf(realPath);
  bool known = !top.empty() && (top == "/" || realPath.compare(0, top.size() + 1, top + "/") == 0) &&
               stat(top.c_str(), &st) == 0 && st.st_dev == dev;
  while (p != "/" && !(known && p == top)) {
    std::string up = DirName(p);
    if (stat(up.c_str(), &st) != 0 || st.st_dev != dev) return p;
    p = up;
  }
  return p;
}

// The trash folder and its entry name of a trashed item, when its paths are
// those of a trash (a bad item must never let a purge loose elsewhere).
bool SplitItem(const TrashedItem& item, std::string& trashDir, std::string& name, std::string& infoPath) {
  std::string filesDir = DirName(item.filesPath);
  name = BaseName(item.filesPath);
  if (item.filesPath.empty() || item.filesPath[0] != '/' || !EndsWith(filesDir, "/files") || !IsValidChildName(name))
    return false;
  trashDir = filesDir.substr(0, filesDir.size() - 6);
  if (trashDir.empty()) return false;
  infoPath = trashDir + "/info/" + name + std::string(kInfoSuffix);
  return item.infoPath.empty() || item.infoPath == infoPath;
}

bool SameEntry(const struct stat& st, const TrashEntryId& id) {
  return st.st_dev == id.device && st.st_ino == id.inode && st.st_ctim.tv_sec == id.changed.tv_sec &&
         st.st_ctim.tv_nsec == id.changed.tv_nsec;
}

// One of this user's trash folders as listed (never one reached through a
// planted link): compared by identity, not by name.
bool IsListedTrash(const std::string& trashDir) {
  struct stat want, st;
  if (lstat(trashDir.c_str(), &want) != 0 || !S_ISDIR(want.st_mode)) return false;
  for (const std::string& dir : TrashDirectories())
    if (lstat(dir.c_str(), &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino) return true;
  return false;
}

// --- Removing trees ---------------------------------------------------------------

// The file system and the mount of an open folder: a removal never leaves
// them (a bind mount of the same file system has its own mount id).
struct Where {
  dev_t dev = 0;
  uint64_t mount = 0;  // 0: unknown
};

Where WhereIs(int fd) {
  Where where;
  struct statx sx;
  if (statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &sx) == 0) {
    where.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    if (sx.stx_mask & STATX_MNT_ID) where.mount = sx.stx_mnt_id;
  } else {
    struct stat st;
    if (fstat(fd, &st) == 0) where.dev = st.st_dev;
  }
  return where;
}

bool RemoveContent(int dirFd, const Where& where, int& error, const std::function<bool()>& tick);

// Adds the owner's rights to a folder, as rm -rf does as the owner.
bool MakeWritable(int dirFd) {
  struct stat st;
  return fstat(dirFd, &st) == 0 && (st.st_mode & S_IRWXU) != S_IRWXU && fchmod(dirFd, st.st_mode | S_IRWXU) == 0;
}

// Removes the entry name of the folder parentFd, whatever it is. inTree: the
// folder is part of what is being removed, so its rights may be changed.
bool RemoveEntry(int parentFd, const char* name, bool isDir, bool inTree, const Where& where, int& error,
                 const std::function<bool()>& tick) {
  if (tick && !tick()) return error = ECANCELED, false;
  if (!isDir) {
    if (unlinkat(parentFd, name, 0) == 0 || errno == ENOENT) return true;
    int failure = errno;
    if (failure == EACCES && inTree && MakeWritable(parentFd)) {
      if (unlinkat(parentFd, name, 0) == 0) return true;
      failure = errno;
    }
    if (failure != EISDIR && failure != EPERM) return error = failure, false;
    struct stat st;
    if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return error = errno, false;
    if (!S_ISDIR(st.st_mode)) return error = failure, false;
  }
  UniqueFd fd(openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd && errno == EACCES) {
    struct stat st;
    if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
        fchmodat(parentFd, name, (st.st_mode & 07777) | S_IRWXU, 0) == 0)
      fd.Reset(openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    else
      errno = EACCES;
  }
  if (!fd) {
    if (errno == ENOENT) return true;
    if (errno == ENOTDIR || errno == ELOOP) {
      // Not a folder after all (d_type may lie): a plain entry.
      if (unlinkat(parentFd, name, 0) == 0 || errno == ENOENT) return true;
    }
    return error = errno, false;
  }
  Where here = WhereIs(fd.Get());
  if (here.dev != where.dev || (where.mount && here.mount && here.mount != where.mount))
    return error = EXDEV, false;  // another file system mounted here: not ours to empty
  bool ok = RemoveContent(fd.Get(), where, error, tick);
  fd.Reset();
  if (!ok) return false;
  if (unlinkat(parentFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT) return true;
  if (errno == EACCES && inTree && MakeWritable(parentFd) && unlinkat(parentFd, name, AT_REMOVEDIR) == 0) return true;
  return error = errno, false;
}

bool RemoveContent(int dirFd, const Where& where, int& error, const std::function<bool()>& tick) {
  DirPtr dir = OpenDirStream(UniqueFd(dup(dirFd)));
  if (!dir) return error = errno, false;
  // Names first: removing while reading may make readdir skip entries.
  std::vector<std::pair<std::string, bool>> entries;
  errno = 0;
  while (dirent* e = readdir(dir.get())) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    entries.emplace_back(e->d_name, e->d_type == DT_DIR);
  }
  int readError = errno;
  dir.reset();
  if (readError) return error = readError, false;
  for (const auto& [name, isDir] : entries)
    if (!RemoveEntry(dirFd, name.c_str(), isDir, true, where, error, tick)) return false;
  return true;
}

}  // namespace

// --- Public -------------------------------------------------------------------------

bool MoveToTrash(const std::string& path, TrashedItem& item, int& error) {
  error = 0;
  std::string abs;
  if (!AbsolutePath(path, abs)) return error = errno, false;
  struct stat st;
  if (lstat(abs.c_str(), &st) != 0) return error = errno, false;

  // The home trash takes what lies on its file system, and nothing else may:
  // no top-directory trash is ever made on the home trash's file system.
  std::string home = HomeTrashFolder();
  std::string probe = DirName(DirName(HomeTrashDirectory()));
  struct stat hs {};
  while (stat(probe.c_str(), &hs) != 0 && probe != "/") probe = DirName(probe);
  if (hs.st_dev == st.st_dev) {
    if (MakeFolders(home, 0700, nullptr) && IsOwnFolder(home) && TrashInto(home, abs, abs, st, item, error))
      return true;
    if (!error) error = errno ? errno : EACCES;
    return false;
  }
  // Otherwise the top folder of the item's own file system.
  std::string real;
  if (!RealPathOfItem(abs, real)) return error = errno, false;
  std::string top = TopFolderOf(real, st.st_dev);
  if (top.empty() || (top != "/" && (real.size() <= top.size() + 1 || real.compare(0, top.size() + 1, top + "/") != 0)))
    return error = EBUSY, false;
  std::string relative = top == "/" ? real.substr(1) : real.substr(top.size() + 1);
  std::string uid = std::to_string(getuid());
  std::vector<std::string> candidates;
  std::string shared = JoinPath(top, ".Trash");
  struct stat ss;
  // The shared folder only counts when nobody can plant a link or take over others' folders.
  if (lstat(shared.c_str(), &ss) == 0 && S_ISDIR(ss.st_mode) && (ss.st_mode & S_ISVTX))
    candidates.push_back(JoinPath(shared, uid));
  candidates.push_back(JoinPath(top, ".Trash-" + uid));
  int lastError = EXDEV;
  for (const std::string& dir : candidates) {
    struct stat before;
    bool madeHere = lstat(dir.c_str(), &before) != 0 && errno == ENOENT;
    if (MakeFolder(dir, 0700) && IsUsableTopTrash(dir)) {
      if (TrashInto(dir, abs, relative, st, item, error)) {
        item.originalPath = real;
        return true;
      }
      lastError = error;
    } else {
      if (!errno || errno == EEXIST) errno = EACCES;
      lastError = errno;
    }
    // A trash folder we made and could not use (a FAT volume has no owners
    // or modes) is not left behind; only while it is still empty.
    if (madeHere) {
      rmdir((dir + "/files").c_str());
      rmdir((dir + "/info").c_str());
      rmdir(dir.c_str());
    }
  }
  error = lastError;
  return false;
}

bool RestoreFromTrash(const TrashedItem& item, int& error) {
  error = 0;
  std::string trashDir, name, infoPath;
  if (!SplitItem(item, trashDir, name, infoPath) || !IsListedTrash(trashDir) || item.originalPath.empty() ||
      item.originalPath[0] != '/' || item.originalPath.find('\0') != std::string::npos ||
      !IsValidChildName(BaseName(item.originalPath)))
    return error = EINVAL, false;
  struct stat st, there;
  if (lstat(item.filesPath.c_str(), &st) != 0) return error = errno, false;
  if (lstat(item.originalPath.c_str(), &there) == 0) return error = EEXIST, false;
  // A folder that became a link since would take the item somewhere else.
  if (lstat(DirName(item.originalPath).c_str(), &there) == 0 && S_ISLNK(there.st_mode)) return error = ELOOP, false;
  // The original folder may have gone meanwhile: make it again rather than refuse.
  std::vector<std::string> created;
  if (!MakeFolders(DirName(item.originalPath), 0777, &created)) return error = errno, false;
  UniqueFd parent(open(DirName(item.originalPath).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  std::string originalName = BaseName(item.originalPath);
  if (!parent || RenameNoReplaceAt(AT_FDCWD, item.filesPath.c_str(), parent.Get(), originalName.c_str(), true) != 0) {
    error = errno;
    for (auto it = created.rbegin(); it != created.rend(); ++it) rmdir(it->c_str());
    return false;
  }
  unlink(infoPath.c_str());
  if (S_ISDIR(st.st_mode)) RemoveSizesLine(trashDir, name);
  return true;
}

std::vector<TrashedItem> ListTrashedItems() {
  std::vector<TrashedItem> items;
  for (const std::string& root : TrashDirectories()) {
    DIR* dir = opendir((root + "/info").c_str());
    if (!dir) continue;
    while (dirent* e = readdir(dir)) {
      std::string_view info = e->d_name;
      if (info.size() <= kInfoSuffix.size() || !EndsWith(info, kInfoSuffix)) continue;
      TrashedItem item;
      std::string name(info.substr(0, info.size() - kInfoSuffix.size()));
      item.filesPath = root + "/files/" + name;
      item.infoPath = root + "/info/" + std::string(info);
      struct stat st;
      if (lstat(item.filesPath.c_str(), &st) != 0) continue;  // a record without its item
      if (!ReadTrashInfo(item.filesPath, item.originalPath, item.deletionDate)) continue;
      items.push_back(std::move(item));
    }
    closedir(dir);
  }
  return items;
}

bool PurgeTrashedItem(const TrashedItem& item, int& error) { return PurgeTrashedItem(item, error, {}); }

bool PurgeTrashedItem(const TrashedItem& item, int& error, const std::function<bool()>& tick) {
  return PurgeTrashedItemIf(item, nullptr, error, tick);
}

bool PurgeTrashedItemIf(const TrashedItem& item, const TrashEntryId* expected, int& error,
                        const std::function<bool()>& tick) {
  error = 0;
  std::string trashDir, name, infoPath;
  if (!SplitItem(item, trashDir, name, infoPath) || !IsListedTrash(trashDir)) return error = EINVAL, false;
  // Every step goes by descriptor from the trash folder down, following no link.
  UniqueFd root(open(trashDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!root) return error = errno, false;
  UniqueFd files(openat(root.Get(), "files", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!files) return error = errno, false;
  struct stat st;
  if (fstatat(files.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return error = errno, false;
  // Not the item that was counted: somebody emptied the trash and trashed anew.
  if (expected && !SameEntry(st, *expected)) return error = ESTALE, false;
  // The item goes first: an interruption leaves a record without an item,
  // which a later emptying tidies away, never an item nobody lists.
  if (!RemoveEntry(files.Get(), name.c_str(), S_ISDIR(st.st_mode), false, WhereIs(files.Get()), error, tick))
    return false;
  UniqueFd info(openat(root.Get(), "info", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  std::string infoName = name + std::string(kInfoSuffix);
  if (info && unlinkat(info.Get(), infoName.c_str(), 0) != 0 && errno != ENOENT) return error = errno, false;
  RemoveSizesLine(trashDir, name);
  return true;
}

bool RemoveTrashOrphan(const std::string& path, const TrashEntryId& expected, int& error,
                       const std::function<bool()>& tick) {
  error = 0;
  std::string filesDir = DirName(path), name = BaseName(path);
  if (!EndsWith(filesDir, "/files") || !IsValidChildName(name)) return error = EINVAL, false;
  std::string trashDir = filesDir.substr(0, filesDir.size() - 6);
  if (trashDir.empty() || !IsListedTrash(trashDir)) return error = EINVAL, false;
  UniqueFd root(open(trashDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!root) return error = errno, false;
  UniqueFd files(openat(root.Get(), "files", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!files) return error = errno, false;
  struct stat st;
  if (fstatat(files.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return error = errno, false;
  if (!SameEntry(st, expected)) return error = ESTALE, false;
  // It may have got its record meanwhile: then it is an item, not ours to take.
  std::string infoName = "info/" + name + std::string(kInfoSuffix);
  struct stat record;
  if (fstatat(root.Get(), infoName.c_str(), &record, AT_SYMLINK_NOFOLLOW) == 0) return error = ESTALE, false;
  return RemoveEntry(files.Get(), name.c_str(), S_ISDIR(st.st_mode), false, WhereIs(files.Get()), error, tick);
}

bool TrashEntryIdentity(const std::string& pathInTrash, TrashEntryId& id) {
  struct stat st;
  if (lstat(pathInTrash.c_str(), &st) != 0) return false;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.changed = st.st_ctim;
  return true;
}

bool RemoveTree(const std::string& path, int& error) { return RemoveTree(path, error, {}); }

bool RemoveTree(const std::string& path, int& error, const std::function<bool()>& tick) {
  error = 0;
  std::string abs;
  if (!AbsolutePath(path, abs)) return error = errno, false;
  if (abs == "/") return error = EINVAL, false;
  struct stat st;
  if (lstat(abs.c_str(), &st) != 0) return error = errno, false;
  UniqueFd parent(open(DirName(abs).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent) return error = errno, false;
  std::string name = BaseName(abs);
  return RemoveEntry(parent.Get(), name.c_str(), S_ISDIR(st.st_mode), false, WhereIs(parent.Get()), error, tick);
}

std::vector<std::string> ListOrphanTrashFiles() {
  std::vector<std::string> orphans;
  for (const std::string& root : TrashDirectories()) {
    DIR* dir = opendir((root + "/files").c_str());
    if (!dir) continue;
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      struct stat st;
      std::string info = root + "/info/" + name + std::string(kInfoSuffix);
      if (lstat(info.c_str(), &st) != 0 && errno == ENOENT) orphans.push_back(root + "/files/" + name);
    }
    closedir(dir);
  }
  return orphans;
}

void TidyTrashes() {
  time_t now = time(nullptr);
  for (const std::string& root : TrashDirectories()) {
    if (DIR* dir = opendir((root + "/info").c_str())) {
      std::vector<std::string> stale;
      while (dirent* e = readdir(dir)) {
        std::string_view info = e->d_name;
        if (info.size() <= kInfoSuffix.size() || !EndsWith(info, kInfoSuffix)) continue;
        std::string name(info.substr(0, info.size() - kInfoSuffix.size()));
        std::string infoPath = root + "/info/" + std::string(info);
        struct stat st, is;
        if (lstat((root + "/files/" + name).c_str(), &st) == 0 || errno != ENOENT) continue;
        // A fresh record may belong to a program that is trashing its item right now.
        if (lstat(infoPath.c_str(), &is) == 0 && S_ISREG(is.st_mode) && now - is.st_mtim.tv_sec > 60)
          stale.push_back(infoPath);
      }
      closedir(dir);
      for (const std::string& p : stale) unlink(p.c_str());
    }
    std::string files = root + "/files";
    FilterSizes(root, [&](const std::string& name) {
      struct stat st;
      return IsValidChildName(name) && lstat(JoinPath(files, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    });
  }
}
