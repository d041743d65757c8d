#pragma once
// Copying one file system entry so that nothing half-made ever carries the
// final name: the data goes to a part file that has no name yet (O_TMPFILE)
// or a hidden temporary name in the target folder, and only a complete copy,
// with its permissions and times, is put in place. Everything works on
// directory descriptors and raw byte names.
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/fileops/CopyAttributes.h"

// The result of a copy step: 0 or an errno, and which side failed (the
// reading of the source or the writing of the target), for the message.
struct CopyStatus {
  CopyStatus() = default;
  CopyStatus(int error, bool targetSide) : error(error), targetSide(targetSide) {}
  int error = 0;
  bool targetSide = false;
  bool kindChanged = false;
  bool changed = false;       // the source was written while it was copied
  DroppedAttributes dropped;  // what the target could not keep
  bool ok() const { return error == 0; }
};

// Copies the file from to the new name to with an engine of its own: the
// file systems of network locations (a FUSE mount of GVfs) copy far faster
// through their own client than through reads and writes of the FUSE path.
// Returns -1 when neither path is its business, else 0 or an errno;
// progress gets the bytes copied so far, cancel stops it (ECANCELED).
using ForeignCopier = std::function<int(const std::string& from, const std::string& to, const std::atomic<bool>& cancel,
                                        const std::function<void(uint64_t)>& progress)>;
// The layer that knows such file systems sets it at start-up.
void SetForeignCopier(ForeignCopier copier);

// Times of a stat record, as futimens/utimensat take them.
void StatTimes(const struct stat& st, struct timespec times[2]);

// A rename that never replaces; where the file system lacks RENAME_NOREPLACE,
// files go by way of a hard link and folders only when the name is free.
int RenameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to);

// A free hidden name in the folder for a temporary entry.
std::string TemporaryName();
// Removes part files of our naming that a crashed copy left in the open
// folder dirFd: regular files and part folders only (never what a link points to), unchanged
// for over a minute, so that a running copy's part is left alone.
void SweepStaleParts(int dirFd);
// Removes a private part folder of a copy through a foreign copier, with its part.
void RemovePartFolder(int dirFd, const char* name);

// A target folder: open, its file system, and whether a default ACL (not
// the umask) decides the permissions of what is made in it.
struct CopyTarget {
  int dir;
  dev_t dev;
  bool defaultAcl;
};
bool HasDefaultAcl(int dirFd);

// Copies entries for one job. It remembers per pair of file systems which
// fast ways (reflink, in-kernel copy) were refused, so a refusal costs one
// system call per job, not per file. Not thread-safe; one per job.
class FileCopier {
 public:
  // cancel is read between blocks; bytesDone grows as data is copied.
  FileCopier(const std::atomic<bool>& cancel, std::atomic<uint64_t>& bytesDone);
  ~FileCopier();
  FileCopier(const FileCopier&) = delete;
  FileCopier& operator=(const FileCopier&) = delete;

  // Copies the regular file name in srcDir to dstName in dstDir. With
  // replace, an existing file there is replaced (only once the copy is
  // whole); without, EEXIST comes back when the name is taken. With verify
  // the copy is compared with the source before it is put in place (EIO when
  // they differ). srcStat receives the source's facts as copied. On any
  // failure, ECANCELED included, no trace is left in dstDir.
  // kindChanged comes back when the source is no longer a regular file (it
  // changed since it was listed); changed, with kErrorChangedMeanwhile, when
  // its size or times differ after the copy (nothing is left then either).
  // dstStat receives the copy's facts once it is in place. Holes stay holes.
  CopyStatus CopyRegular(int srcDir, const char* name, const CopyTarget& to, const char* dstName, bool replace,
                         bool verify, struct stat* srcStat, struct stat* dstStat = nullptr);

  // Copies a symbolic link as a link (never what it points to), with its times.
  CopyStatus CopySymlink(int srcDir, const char* name, const struct stat& st, int dstDir, const char* dstName,
                         bool replace);
  // Makes a named pipe like the source (as cp -a does; a pipe has no content).
  CopyStatus CopyFifo(const struct stat& st, int dstDir, const char* dstName, bool replace);

  // Sets what a copied folder keeps of its source folder srcFd: owner,
  // extended attributes, ACLs, permission bits, then times.
  DroppedAttributes ApplyFolderMetadata(int srcFd, int dstFd, const struct stat& st);

  // Whether the file system of the open folder dirFd gives a file the same
  // inode number under every spelling of its name and over time (FAT and
  // FUSE file systems need not).
  bool StableIdentity(int dirFd, dev_t dev);
  // Checks that dstName in dstDir is the whole copy of name in srcDir (st:
  // the source as copied, made: the copy as made): size and identity, and
  // the contents where identity cannot tell. kErrorNotConfirmed otherwise.
  int ConfirmCopy(int srcDir, const char* name, const struct stat& st, int dstDir, const char* dstName,
                  const struct stat& made);

 private:
  struct Ways;
  enum class Way { ReadWrite, Cloned, Kernel };
  int CopyData(int src, int dst, const struct stat& st, dev_t dstDev, Way& way);
  // The copy through the foreign copier, into a private folder of the
  // target's, then renamed out; -1 when the copier does not take the paths.
  int CopyForeign(int src, int srcDir, const char* name, const struct stat& st, const CopyTarget& to,
                  const char* dstName, bool replace, CopyStatus& status, struct stat* dstStat);
  int ReadWriteData(int src, int dst, off_t from, off_t size);
  int CopySparse(int src, int dst, off_t size);
  int CompareData(int a, int b);
  int OpenPart(int dstDir, dev_t dstDev, mode_t mode, std::string& tempName);
  int InstallPart(int fd, int dstDir, const std::string& tempName, const char* dstName, bool replace);
  Ways& WaysFor(dev_t src, dev_t dst);

  const std::atomic<bool>& cancel_;
  std::atomic<uint64_t>& bytesDone_;
  std::vector<std::unique_ptr<Ways>> ways_;
  std::vector<char> buffer_;  // for read/write and for comparing; made on first use
  AttributeCopier attributes_;
};
