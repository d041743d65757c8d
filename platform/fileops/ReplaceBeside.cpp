#include "platform/fileops/ReplaceBeside.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/system/UniqueFd.h"

namespace {

std::atomic<unsigned> workingCounter{0};

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = st.st_size;
  id.mtimeNs = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  id.mode = st.st_mode;
  id.owner = st.st_uid;
  id.group = st.st_gid;
  return id;
}

std::string Reason(int error) { return std::string(" (") + std::strerror(error) + ")"; }

bool CopyData(int from, int to) {
  char buffer[1 << 16];
  off_t offset = 0;
  for (;;) {
    ssize_t n = ::pread(from, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
    offset += n;
  }
}

void SyncFolderOf(const std::string& path) {
  UniqueFd dir(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) ::fsync(dir.Get());
}

}  // namespace

bool ReadFileIdentity(const std::string& path, FileIdentity& identity, std::string& error) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!fd) {
    error = (errno == ELOOP ? "リンクを通して書き換えることはできません: " : "書庫を開けませんでした: ") + path +
            (errno == ELOOP ? std::string() : Reason(errno));
    return false;
  }
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "通常のファイルではないため書き換えられません: " + path;
    return false;
  }
  identity = IdentityOf(st);
  return true;
}

bool NameInUse(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

std::string WorkingNameBeside(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // Keep the end of a long name: the extension decides the format.
  if (name.size() > 120) name = name.substr(name.size() - 120);
  std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return folder + ".tvw-" + std::to_string(::getpid()) + "-" + std::to_string(++workingCounter) + "-" + name;
}

bool MakeWorkingFile(const std::string& path, const FileIdentity& expected, const std::string& working,
                     std::string& error) {
  UniqueFd source(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!source || ::fstat(source.Get(), &st) != 0 || !S_ISREG(st.st_mode) || !IdentityOf(st).SameAs(expected)) {
    error = "書庫が読み込んだ後に変更されています。一覧を読み直してからやり直してください: " + path;
    return false;
  }
  // A second name of the very file that was opened, not of whatever has the name now.
  const std::string self = "/proc/self/fd/" + std::to_string(source.Get());
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, working.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  if (errno == EEXIST) {
    error = "作業用のファイルを作れません: " + working + Reason(EEXIST);
    return false;
  }
  // No links here (a FAT stick, some network shares): a copy then.
  UniqueFd copy(::open(working.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!copy) {
    error = "作業用のファイルを作れません: " + working + Reason(errno);
    return false;
  }
  if (!CopyData(source.Get(), copy.Get()) || ::fsync(copy.Get()) != 0) {
    int e = errno;
    ::unlink(working.c_str());
    error = "作業用のファイルに書き込めません: " + working + Reason(e);
    return false;
  }
  return true;
}

ReplaceOutcome ReplaceWithWorkingFile(const std::string& path, const FileIdentity& expected, const std::string& working,
                                      std::string& error) {
  auto fail = [&](ReplaceOutcome outcome, const std::string& text) {
    ::unlink(working.c_str());
    error = text;
    return outcome;
  };
  {
    UniqueFd fd(::open(working.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
      return fail(ReplaceOutcome::Failed, "新しい書庫が見つかりません: " + working);
    // Owner first: changing it clears set-ID bits, which the mode then restores.
    if (st.st_uid != expected.owner || st.st_gid != expected.group)
      (void)!::fchown(fd.Get(), expected.owner, expected.group);
    if (::fchmod(fd.Get(), expected.mode & 07777) != 0 || ::fsync(fd.Get()) != 0)
      return fail(ReplaceOutcome::Failed, "新しい書庫を仕上げられません: " + working + Reason(errno));
  }
  const std::string changed = "書庫がほかのプログラムによって変更されたため、書き換えませんでした: " + path;
  // Swapped in one step, then the one that came out checked: a change made by
  // another program at the last moment is put back rather than lost.
  if (::renameat2(AT_FDCWD, working.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0) {
    struct stat st {};
    if (::lstat(working.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !IdentityOf(st).SameAs(expected)) {
      if (::renameat2(AT_FDCWD, working.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) == 0)
        return fail(ReplaceOutcome::Changed, changed);
      // Could not swap back: keep both rather than lose the other program's file.
      error = changed + "\n(ほかのプログラムの版は " + working + " にあります)";
      return ReplaceOutcome::Changed;
    }
    ::unlink(working.c_str());
    SyncFolderOf(path);
    return ReplaceOutcome::Replaced;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
    return fail(ReplaceOutcome::Failed, "書庫を置き換えられません: " + path + Reason(errno));
  // A file system without the swap: check, then rename.
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !IdentityOf(st).SameAs(expected))
    return fail(ReplaceOutcome::Changed, changed);
  if (::rename(working.c_str(), path.c_str()) != 0)
    return fail(ReplaceOutcome::Failed, "書庫を置き換えられません: " + path + Reason(errno));
  SyncFolderOf(path);
  return ReplaceOutcome::Replaced;
}

bool RenameIntoFreeName(const std::string& working, const std::string& path, std::string& error) {
  if (::renameat2(AT_FDCWD, working.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
    SyncFolderOf(path);
    return true;
  }
  int e = errno;
  if (e == EINVAL || e == ENOSYS || e == EOPNOTSUPP) {
    // No such rename here: a link refuses an existing name the same way.
    if (::link(working.c_str(), path.c_str()) == 0) {
      ::unlink(working.c_str());
      SyncFolderOf(path);
      return true;
    }
    e = errno;
  }
  ::unlink(working.c_str());
  error = (e == EEXIST ? "同じ名前のファイルが既にあります: " : "書庫を作れません: ") + path +
          (e == EEXIST ? std::string() : Reason(e));
  return false;
}
