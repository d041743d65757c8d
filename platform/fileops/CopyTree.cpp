// Copying and moving entries and trees for FileOperationJob. A copy is made
// under a temporary name and put in place whole; a move across file systems
// copies, checks the copy, then removes the source, entry by entry, so every
// file is whole in at least one place whenever the job stops.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cerrno>

#include "platform/fileops/ErrorText.h"
#include "platform/fileops/FileOperationJob.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/system/UniqueFd.h"

namespace {

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

UniqueFd OpenFolderAt(int dir, const std::string& name) {
  return UniqueFd(openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Still the very file that was copied, unchanged.
bool Unchanged(const struct stat& now, const struct stat& copied, bool ctime) {
  return SameInode(now, copied) && (now.st_mode & S_IFMT) == (copied.st_mode & S_IFMT) &&
         now.st_size == copied.st_size && SameTime(now.st_mtim, copied.st_mtim) &&
         (!ctime || SameTime(now.st_ctim, copied.st_ctim));
}

}  // namespace

std::string FileOperationJob::FreeCopyName(int dir, const std::string& name, bool folder, int& k) {
  for (;; ++k) {
    std::string candidate = CopyNameFor(name, folder, k);
    struct stat st;
    // Any failure ends the search: a name too long shows up when it is made.
    if (k >= 100000 || fstatat(dir, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return candidate;
  }
}

// Case folded, as file systems that ignore case compare names.
static std::string FoldedName(const std::string& name) {
  return QString::fromUtf8(name.data(), qsizetype(name.size())).toCaseFolded().toUtf8().toStdString();
}

void FileOperationJob::MadeName(const Place& dst, const std::string& name) {
  if (!copier_->StableIdentity(dst.fd, dst.dev)) madeNames_[dst.path + "/" + FoldedName(name)] = name;
}

bool FileOperationJob::MadeUnderOtherSpelling(const Place& dst, const std::string& name) {
  if (copier_->StableIdentity(dst.fd, dst.dev)) return false;
  auto it = madeNames_.find(dst.path + "/" + FoldedName(name));
  return it != madeNames_.end() && it->second != name;
}

bool FileOperationJob::RefusedName(const Place& dst, const std::string& name, int error, bool targetSide,
                                   const std::string& srcPath) {
  if (!targetSide || (error != EINVAL && error != EILSEQ && error != EPERM) || copier_->StableIdentity(dst.fd, dst.dev))
    return false;
  // Characters FAT does not take, a name ending in a dot or a blank; some
  // FUSE FAT drivers take no name beyond ASCII either.
  bool foreign = name.find_first_of("\"*:<>?\\|") != std::string::npos || name.back() == '.' || name.back() == ' ' ||
                 std::any_of(name.begin(), name.end(), [&](char c) {
                   return (unsigned char)c < 0x20 || (error == EPERM && (unsigned char)c >= 0x80);
                 });
  if (!foreign) return false;
  refusedNames_.push_back(srcPath);
  failed_ = true;
  return true;
}

void FileOperationJob::SkipTree(const Entry& entry) {
  uint64_t items = 0, bytes = 0;
  CountTree(entry, items, bytes);
  itemsDone_.fetch_add(items, std::memory_order_relaxed);
  bytesDone_.fetch_add(bytes, std::memory_order_relaxed);
}

FileOperationJob::Done FileOperationJob::RemoveMovedSource(int srcDir, const std::string& srcPath,
                                                           const std::string& name, bool folder) {
  for (;;) {
    if (unlinkat(srcDir, name.c_str(), folder ? AT_REMOVEDIR : 0) == 0) return Done::Whole;
    // Something arrived in the folder meanwhile: it was not part of the move.
    if (folder && (errno == ENOTEMPTY || errno == EEXIST)) return Done::Partly;
    Next next = OnError(srcPath, "移動元を削除", errno);
    if (next == Next::Stop) return Done::Stop;
    if (next == Next::Skip) return Done::Partly;  // whole in both places
  }
}

FileOperationJob::Done FileOperationJob::RemoveMovedFile(int srcDir, const std::string& srcPath,
                                                         const std::string& name, const struct stat& copied,
                                                         bool ctime) {
  for (;;) {
    int error = 0;
    struct stat now, aside;
    if (fstatat(srcDir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
      error = errno;
    } else if (!Unchanged(now, copied, ctime)) {
      error = kErrorChangedMeanwhile;  // saved over meanwhile: the new file is no part of the move
    } else {
      // Aside under a hidden name first, so that what goes is what is checked
      // there (the rename itself moves the change time, the rest must hold).
      std::string hidden;
      for (int attempt = 0; attempt < 100; ++attempt) {
        hidden = TemporaryName();
        error = RenameNoReplaceAt(srcDir, name.c_str(), srcDir, hidden.c_str());
        if (error != EEXIST) break;
      }
      if (!error) {
        if (fstatat(srcDir, hidden.c_str(), &aside, AT_SYMLINK_NOFOLLOW) == 0 && Unchanged(aside, copied, false)) {
          if (unlinkat(srcDir, hidden.c_str(), 0) == 0) return Done::Whole;
          error = errno;
        } else {
          error = kErrorChangedMeanwhile;
        }
        if (int back = RenameNoReplaceAt(srcDir, hidden.c_str(), srcDir, name.c_str())) {
          // Its name was taken meanwhile: it stays whole under the hidden one.
          std::string dir = srcPath.substr(0, srcPath.size() - name.size());
          Next next = OnError(dir + hidden, "移動元を元の名前に戻す", back);
          return next == Next::Stop ? Done::Stop : Done::Partly;
        }
      }
    }
    if (error == ENOENT) return Done::Partly;  // removed by someone else: nothing of ours to remove
    Next next = OnError(srcPath, "移動元を削除", error);
    if (next == Next::Stop) return Done::Stop;
    if (next == Next::Skip) return Done::Partly;  // whole in both places
  }
}

bool FileOperationJob::LinkToEarlierCopy(const struct stat& src, const Place& dst, const std::string& name,
                                         bool replace, struct stat& made) {
  auto it = copiesOf_.find({src.st_dev, src.st_ino});
  if (it == copiesOf_.end()) return false;
  struct stat first;
  // Only to our own copy, still there and on the same file system.
  if (lstat(it->second.c_str(), &first) != 0 || !S_ISREG(first.st_mode) || !MadeHere(first) || first.st_dev != dst.dev)
    return false;
  std::string temp = replace ? TemporaryName() : name;
  if (linkat(AT_FDCWD, it->second.c_str(), dst.fd, temp.c_str(), 0) != 0) return false;
  if (replace && renameat(dst.fd, temp.c_str(), dst.fd, name.c_str()) != 0) {
    unlinkat(dst.fd, temp.c_str(), 0);
    return false;
  }
  if (fstatat(dst.fd, name.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0) made = first;
  Relinked(made);
  return true;
}

FileOperationJob::Done FileOperationJob::CopyEntry(int srcDir, const std::string& srcPath, Entry& entry,
                                                   const Place& dst, std::string dstName, bool move, bool freshParent,
                                                   bool record, bool autoName) {
  SetCurrent(srcPath);
  while (entry.statError) {
    // Listed but not looked up (a folder without search right): never a silent skip.
    Next next = OnError(srcPath, Action(), entry.statError);
    if (next != Next::Retry) {
      ItemDone();
      return next == Next::Stop ? Done::Stop : Done::Partly;
    }
    entry.statError = fstatat(srcDir, entry.name.c_str(), &entry.st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
    entry.listed = false;
  }
  switch (entry.st.st_mode & S_IFMT) {
    case S_IFDIR:
      return CopyFolder(srcDir, srcPath, entry, dst, std::move(dstName), move, record, autoName);
    case S_IFREG:
    case S_IFLNK:
    case S_IFIFO:
      return CopyLeaf(srcDir, srcPath, entry, dst, std::move(dstName), move, !freshParent || autoName, record,
                      autoName);
    default: {
      // Devices and sockets cannot be made again as such. Told once at the end.
      mode_t kind = entry.st.st_mode & S_IFMT;
      specialSkipped_.push_back(srcPath + (kind == S_IFSOCK  ? " (ソケット)"
                                           : kind == S_IFCHR ? " (キャラクター デバイス)"
                                           : kind == S_IFBLK ? " (ブロック デバイス)"
                                                             : " (特殊なファイル)"));
      ItemDone();
      return Done::Partly;
    }
  }
}

FileOperationJob::Done FileOperationJob::CopyLeaf(int srcDir, const std::string& srcPath, Entry& entry,
                                                  const Place& dst, std::string name, bool move, bool check,
                                                  bool record, bool autoName) {
  const bool link = S_ISLNK(entry.st.st_mode), fifo = S_ISFIFO(entry.st.st_mode);
  const uint64_t size = S_ISREG(entry.st.st_mode) ? entry.st.st_size : 0;
  const std::string base = name;
  int k = 1;
  if (autoName) name = FreeCopyName(dst.fd, base, false, k);
  bool replace = false, again = false, caseTwin = false;
  struct stat st = entry.st, made{};
  auto skipped = [&] {
    ItemDone(size);
    return Done::Partly;
  };
  for (;;) {
    if (Stopping()) return Done::Stop;
    std::string dstPath = JoinPath(dst.path, name);
    if (check && !replace) {
      struct stat there;
      if (fstatat(dst.fd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
        Resolve resolve;
        if (autoName) {
          resolve = Resolve::NewName;
        } else if (SameInode(there, entry.st)) {
          // The source itself under another path: a move has nothing to do,
          // a copy becomes "NAME - コピー".
          if (move) return skipped();
          resolve = Resolve::NewName;
        } else if (!S_ISDIR(there.st_mode) && MadeUnderOtherSpelling(dst, name)) {
          // Our own copy of a name that differs in case only, on a file
          // system that does not tell them apart: both kept, told at the end.
          autoName = caseTwin = true;
          name = FreeCopyName(dst.fd, base, false, k);
          continue;
        } else if (S_ISDIR(there.st_mode) || (MadeHere(there) && !(request_.flags & FOF_RENAMEONCOLLISION))) {
          // A file never replaces a folder, nor what this job put there itself.
          Next next = OnError(dstPath, Action(), EEXIST);
          if (next == Next::Retry) continue;
          return next == Next::Stop ? Done::Stop : skipped();
        } else {
          resolve = OnConflict(dstPath, there, srcPath, entry.st);
        }
        if (resolve == Resolve::Stop) return Done::Stop;
        if (resolve == Resolve::Skip) return skipped();
        if (resolve == Resolve::NewName) {
          if (autoName) ++k;
          autoName = true;
          name = FreeCopyName(dst.fd, base, false, k);
          continue;
        }
        replace = true;
      } else if (errno != ENOENT) {
        Next next = OnError(dstPath, Action(), errno);
        if (next == Next::Retry) continue;
        return next == Next::Stop ? Done::Stop : skipped();
      }
    }
    if (Stopping()) return Done::Stop;  // cancelled while a question was open
    // A second name of a file in the tree stays a second name of its copy.
    if (!link && !fifo && entry.st.st_nlink > 1 && LinkToEarlierCopy(entry.st, dst, name, replace, made)) {
      ItemDone(size);
      break;
    }
    uint64_t before = bytesDone_.load(std::memory_order_relaxed);
    CopyStatus status = link ? copier_->CopySymlink(srcDir, entry.name.c_str(), entry.st, dst.fd, name.c_str(), replace)
                        : fifo ? copier_->CopyFifo(entry.st, dst.fd, name.c_str(), replace)
                               : copier_->CopyRegular(srcDir, entry.name.c_str(), {dst.fd, dst.dev, dst.defaultAcl},
                                                      name.c_str(), replace, move, &st, &made);
    if (status.ok()) {
      if ((link || fifo) && fstatat(dst.fd, name.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0) made = entry.st;
      if (status.dropped.any()) dropped_.push_back(dstPath + ": " + status.dropped.Text());
      itemsDone_.fetch_add(1, std::memory_order_relaxed);
      if (!link && !fifo && st.st_nlink > 1) copiesOf_[{st.st_dev, st.st_ino}] = dstPath;
      break;
    }
    bytesDone_.store(before, std::memory_order_relaxed);
    if (status.error == ECANCELED) return Done::Stop;
    if (status.changed && !again) {
      again = true;  // written while copied: once more, as it is now
      continue;
    }
    if (status.kindChanged) {
      // Not a regular file any more since it was listed: take it as it is now.
      Entry now;
      now.name = entry.name;
      if (fstatat(srcDir, entry.name.c_str(), &now.st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(now.st.st_mode)) {
        bytesTotal_.fetch_sub(size, std::memory_order_relaxed);
        entry = std::move(now);
        return CopyEntry(srcDir, srcPath, entry, dst, base, move, !check, record, autoName);
      }
    }
    if (status.error == EEXIST && status.targetSide && !replace) {
      check = true;  // made by someone else meanwhile: ask about it
      continue;
    }
    if (RefusedName(dst, name, status.error, status.targetSide, srcPath)) return skipped();
    Next next = OnError(status.targetSide ? dstPath : srcPath, Action(), status.error);
    if (next == Next::Retry) {
      again = false;
      continue;
    }
    return next == Next::Stop ? Done::Stop : skipped();
  }
  Made(made);
  MadeName(dst, name);
  if (caseTwin) caseRenamed_.push_back(srcPath + " → " + name);
  std::string dstPath = JoinPath(dst.path, name);
  if (move && !link && !fifo) {
    // The source goes only once the file under its final name is confirmed whole.
    for (;;) {
      int error = copier_->ConfirmCopy(srcDir, entry.name.c_str(), st, dst.fd, name.c_str(), made);
      if (!error) break;
      if (error == ECANCELED) return Done::Stop;
      Next next = OnError(dstPath, Action(), error);
      if (next == Next::Retry) continue;
      return next == Next::Stop ? Done::Stop : Done::Partly;
    }
  }
  if (move) {
    // A second name of a file whose first name went already: that removal
    // moved its change time.
    bool firstName = !(!link && !fifo && entry.st.st_nlink > 1 && copiesOf_.count({st.st_dev, st.st_ino}) &&
                       copiesOf_[{st.st_dev, st.st_ino}] != dstPath);
    Done done = RemoveMovedFile(srcDir, srcPath, entry.name, st, firstName);
    if (done == Done::Whole && record) Record(srcPath, dstPath, made, false);
    return done;
  }
  Note(dstPath, made);
  // A copy that replaced a file is not undone by removing it: the old file
  // could not come back.
  if (record && !replace) Record(srcPath, dstPath, made, false);
  return Done::Whole;
}

FileOperationJob::Done FileOperationJob::CopyFolder(int srcDir, const std::string& srcPath, Entry& entry,
                                                    const Place& dst, std::string name, bool move, bool record,
                                                    bool autoName) {
  const std::string base = name;
  int k = 1;
  if (autoName) name = FreeCopyName(dst.fd, base, true, k);
  bool created = false, caseTwin = false;
  auto skipped = [&] {
    SkipTree(entry);
    return Done::Partly;
  };
  for (;;) {
    if (Stopping()) return Done::Stop;
    // Owner rights only while it fills: the source's mode, or what its ACL
    // allows, once it is full.
    if (mkdirat(dst.fd, name.c_str(), S_IRWXU) == 0) {
      created = true;
      break;
    }
    int error = errno;
    if (error == EEXIST) {
      struct stat there;
      if (fstatat(dst.fd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) continue;
      bool sameFolder = S_ISDIR(there.st_mode) && SameInode(there, entry.st);
      if (sameFolder && move) return skipped();
      bool ownSpelling = S_ISDIR(there.st_mode) && MadeUnderOtherSpelling(dst, name);
      caseTwin = caseTwin || ownSpelling;
      if (autoName || sameFolder || ownSpelling || (request_.flags & FOF_RENAMEONCOLLISION)) {
        if (autoName) ++k;
        autoName = true;
        name = FreeCopyName(dst.fd, base, true, k);
        continue;
      }
      if (S_ISDIR(there.st_mode)) break;  // merge: its files conflict one by one
      // A folder never replaces a file: error stays EEXIST.
    }
    if (RefusedName(dst, name, error, true, srcPath)) return skipped();
    Next next = OnError(JoinPath(dst.path, name), Action(), error);
    if (next == Next::Retry) continue;
    return next == Next::Stop ? Done::Stop : skipped();
  }
  const std::string dstPath = JoinPath(dst.path, name);
  Done result = Done::Whole;
  UniqueFd dstFd, srcFd;
  for (;;) {
    dstFd = OpenFolderAt(dst.fd, name);
    if (dstFd) break;
    Next next = OnError(dstPath, Action(), errno);
    if (next == Next::Retry) continue;
    result = next == Next::Stop ? Done::Stop : skipped();
    break;
  }
  while (result == Done::Whole) {
    srcFd = OpenFolderAt(srcDir, entry.name);
    if (srcFd) break;
    Next next = OnError(srcPath, Action(), errno);
    if (next == Next::Retry) continue;
    result = next == Next::Stop ? Done::Stop : skipped();
  }
  if (result == Done::Whole && !entry.listed && !ListFolderAsking(srcDir, srcPath, entry))
    result = Stopping() ? Done::Stop : skipped();
  if (intoItself_) {
    RefuseIntoItself(srcPath);
    result = Done::Stop;
  }
  struct stat ds {};
  if (dstFd && fstat(dstFd.Get(), &ds) == 0 && created) Made(ds);
  if (created) MadeName(dst, name);
  if (created && caseTwin) caseRenamed_.push_back(srcPath + " → " + name);
  if (!created && dstFd) SweepStaleParts(dstFd.Get());
  // What is made inside a folder we copied is undone with it, once all of
  // it is checked unchanged; inside a folder that was there, and in a move
  // until the whole folder has moved, each entry is a top of its own.
  const bool noteTop = record && created && !move && (request_.flags & FOF_ALLOWUNDO) && !noting_;
  if (noteTop) {
    noting_ = true;
    noted_.clear();
  }
  const size_t movedBefore = undo_.items.size();
  if (result == Done::Whole) {
    dev_t dev = dst.dev;
    if (!created && ds.st_dev) dev = ds.st_dev;  // a mount point may sit there
    Place inner{dstFd.Get(), dev, dstPath, HasDefaultAcl(dstFd.Get())};
    bool recordChildren = record && (!created || move);
    for (Entry& child : entry.children) {
      Done done = CopyEntry(srcFd.Get(), JoinPath(srcPath, child.name), child, inner, child.name, move, created,
                            recordChildren, false);
      if (done == Done::Stop) {
        result = Done::Stop;
        break;
      }
      if (done == Done::Partly) result = Done::Partly;
    }
    itemsDone_.fetch_add(1, std::memory_order_relaxed);
  }
  // Mode and times also when the job stops here: a half-filled folder
  // should not keep the owner rights it was made with.
  if (created && dstFd) {
    if (srcFd) {
      DroppedAttributes dropped = copier_->ApplyFolderMetadata(srcFd.Get(), dstFd.Get(), entry.st);
      if (dropped.any()) dropped_.push_back(dstPath + ": " + dropped.Text());
    }
    if (fstat(dstFd.Get(), &ds) != 0) ds = entry.st;
  }
  // Let go before the moved source is removed.
  dstFd.Reset();
  srcFd.Reset();
  if (noteTop)
    noting_ = false;
  else if (created && !move)
    Note(dstPath, ds);
  if (move && result == Done::Whole) result = RemoveMovedSource(srcDir, srcPath, entry.name, true);
  if (record && created && (!move || result == Done::Whole)) {
    // Moved whole: the folder stands for what moved inside it.
    if (move && undo_.items.size() > movedBefore)
      undo_.items.erase(undo_.items.begin() + movedBefore, undo_.items.end());
    Record(srcPath, dstPath, ds, true);
  }
  return result;
}

FileOperationJob::Done FileOperationJob::MoveWithin(int srcDir, const std::string& srcPath, const std::string& name,
                                                    const struct stat& st, const Place& dst, std::string dstName,
                                                    bool record) {
  SetCurrent(srcPath);
  const bool folder = S_ISDIR(st.st_mode);
  const uint64_t size = S_ISREG(st.st_mode) ? st.st_size : 0;
  const bool renameOnCollision = request_.flags & FOF_RENAMEONCOLLISION;
  bool autoName = false;
  int k = 1;
  auto moved = [&] {
    ItemDone(size);
    struct stat now;  // the rename moved its change time
    if (fstatat(dst.fd, dstName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) now = st;
    Made(now);
    if (record) Record(srcPath, JoinPath(dst.path, dstName), now, folder);
    return Done::Whole;
  };
  auto skipped = [&] {
    ItemDone(size);
    return Done::Partly;
  };
  for (;;) {
    if (Stopping()) return Done::Stop;
    std::string dstPath = JoinPath(dst.path, dstName);
    int error = RenameNoReplaceAt(srcDir, name.c_str(), dst.fd, dstName.c_str());
    if (error == 0) return moved();
    if (error == EXDEV) {
      // Another mount of the same file system: copy, check, remove.
      Entry entry;
      entry.name = name;
      entry.st = st;
      if (folder && !ListFolderAsking(srcDir, srcPath, entry)) return Stopping() ? Done::Stop : skipped();
      if (intoItself_) {
        RefuseIntoItself(srcPath);
        return Done::Stop;
      }
      return CopyEntry(srcDir, srcPath, entry, dst, dstName, true, false, record, autoName);
    }
    if (error == EEXIST) {
      struct stat there;
      if (fstatat(dst.fd, dstName.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) continue;
      bool thereFolder = S_ISDIR(there.st_mode);
      if (!autoName) {
        if (SameInode(there, st)) return skipped();  // onto itself
        if (!thereFolder && MadeHere(there) && !renameOnCollision) {
          // Moved here by this very job: never replaced by it.
          Next next = OnError(dstPath, Action(), EEXIST);
          if (next == Next::Retry) continue;
          return next == Next::Stop ? Done::Stop : skipped();
        }
        if (folder && thereFolder && !renameOnCollision)
          return MergeWithin(srcDir, srcPath, name, dst, dstName, record);
      }
      // Never a file for a folder or a folder for a file: error stays EEXIST.
      if (autoName || renameOnCollision || folder == thereFolder) {
        Resolve resolve = autoName ? Resolve::NewName : OnConflict(dstPath, there, srcPath, st);
        if (resolve == Resolve::Stop) return Done::Stop;
        if (resolve == Resolve::Skip) return skipped();
        if (resolve == Resolve::NewName) {
          if (autoName) ++k;
          autoName = true;
          dstName = FreeCopyName(dst.fd, name, folder, k);
          continue;
        }
        // The old file goes only as the new one takes its name.
        if (renameat(srcDir, name.c_str(), dst.fd, dstName.c_str()) == 0) return moved();
        error = errno;
      }
    }
    Next next = OnError(error == EEXIST ? dstPath : srcPath, Action(), error);
    if (next == Next::Retry) continue;
    return next == Next::Stop ? Done::Stop : skipped();
  }
}

FileOperationJob::Done FileOperationJob::MergeWithin(int srcDir, const std::string& srcPath, const std::string& name,
                                                     const Place& dst, const std::string& dstName, bool record) {
  const std::string dstPath = JoinPath(dst.path, dstName);
  DirPtr dir;
  UniqueFd dstFd;
  for (;;) {
    UniqueFd fd = OpenFolderAt(srcDir, name);
    dir.reset(fd ? fdopendir(fd.Get()) : nullptr);
    if (dir) {
      fd.Release();  // the listing owns it now
      break;
    }
    int error = errno;
    fd.Reset();
    Next next = OnError(srcPath, Action(), error);
    if (next == Next::Retry) continue;
    if (next == Next::Stop) return Done::Stop;
    ItemDone();
    return Done::Partly;
  }
  for (;;) {
    dstFd = OpenFolderAt(dst.fd, dstName);
    if (dstFd) break;
    Next next = OnError(dstPath, Action(), errno);
    if (next == Next::Retry) continue;
    if (next == Next::Stop) return Done::Stop;
    ItemDone();
    return Done::Partly;
  }
  // The names first: the folder changes as its entries leave.
  int srcFd = dirfd(dir.get());
  std::vector<std::pair<std::string, struct stat>> children;
  std::vector<std::pair<std::string, int>> lookupFailed;
  while (struct dirent* d = readdir(dir.get())) {
    const char* n = d->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    struct stat st;
    if (fstatat(srcFd, n, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      children.emplace_back(n, st);
      continue;
    }
    if (errno == ENOENT) continue;
    lookupFailed.emplace_back(n, errno);
  }
  Done result = Done::Whole;
  // Listed but not looked up (no search right): asked, never passed over.
  for (auto& [n, error] : lookupFailed) {
    for (;;) {
      Next next = OnError(JoinPath(srcPath, n), Action(), error);
      if (next == Next::Stop) return Done::Stop;
      if (next == Next::Skip) {
        result = Done::Partly;
        break;
      }
      struct stat st;
      if (fstatat(srcFd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        children.emplace_back(n, st);
        break;
      }
      if (errno == ENOENT) break;
      error = errno;
    }
  }
  itemsTotal_.fetch_add(children.size(), std::memory_order_relaxed);
  for (const auto& [n, st] : children)
    if (S_ISREG(st.st_mode)) bytesTotal_.fetch_add(st.st_size, std::memory_order_relaxed);
  Place inner{dstFd.Get(), dst.dev, dstPath, HasDefaultAcl(dstFd.Get())};
  for (const auto& [n, st] : children) {
    Done done = MoveWithin(srcFd, JoinPath(srcPath, n), n, st, inner, n, record);
    if (done == Done::Stop) {
      result = Done::Stop;
      break;
    }
    if (done == Done::Partly) result = Done::Partly;
  }
  // Let go before the moved source is removed.
  dir.reset();
  dstFd.Reset();
  if (result == Done::Stop) return result;
  ItemDone();
  return result == Done::Whole ? RemoveMovedSource(srcDir, srcPath, name, true) : result;
}
