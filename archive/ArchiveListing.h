#pragma once
// The entries of an archive file read once through the archive component and
// kept per file (path, device, inode, size and time), arranged as folders:
// folders that the archive stores only as parts of paths are folders too.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/fileops/ReplaceBeside.h"
#include "platform/namespace/ItemID.h"

struct ArchiveListingEntry {
  std::string name;  // one name, no '/'
  bool folder = false;
  FileStat stat;
};

class ArchiveListing {
 public:
  // The children of a folder inside the archive ("" is the root); null when
  // there is no such folder.
  const std::vector<ArchiveListingEntry>* Children(std::string_view folder) const;
  // The entry at a path inside the archive ("docs/a.txt"); null when none.
  const ArchiveListingEntry* Find(std::string_view path) const;
  // The stored names below a path (the path itself included), as the library
  // knows them: what an extraction of that folder names.
  std::vector<std::string> StoredNamesBelow(std::string_view path) const;
  size_t EntryCount() const { return stored_.size(); }
  // Entries left out because their names would lead out of any folder.
  size_t Refused() const { return refused_; }
  // The archive file as it was when it was read (device, inode, size, time):
  // a write refuses to replace a file that has changed since.
  FileIdentity Identity;

  // Adds one record of the library; folders on its path appear as needed.
  void Add(const std::string& storedName, bool folder, const FileStat& stat);

 private:
  struct Folder {
    std::vector<ArchiveListingEntry> children;
    std::unordered_map<std::string, size_t> index;
  };
  Folder& FolderAt(const std::string& path);
  std::unordered_map<std::string, Folder> folders_;
  std::vector<std::pair<std::string, std::string>> stored_;  // clean path, stored name
  size_t refused_ = 0;
};

// An entry's stored name made a clean relative path ("a/b"): "./", "." and
// doubled '/' go; empty for a name that is absolute or holds "..", which no
// command may follow.
std::string CleanEntryName(std::string_view stored);

// A listing read on a thread of its own, so that a folder can show the
// entries that have come while the rest are still read. Dropping the last
// handle of a reading under way stops it.
class ArchiveListingReading {
 public:
  struct State;
  explicit ArchiveListingReading(std::shared_ptr<State> state) : state_(std::move(state)) {}
  ~ArchiveListingReading();
  ArchiveListingReading(const ArchiveListingReading&) = delete;
  ArchiveListingReading& operator=(const ArchiveListingReading&) = delete;

  // Appends to out the children of folder after the first `from` (and moves
  // from on), waiting at most waitMs for one to come; true while more may come.
  bool TakeChildren(const std::string& folder, size_t& from, std::vector<ArchiveListingEntry>& out, int waitMs);
  // Waits until the library has opened the archive and given its first entry
  // (or the reading ended); false with the message when it cannot be read.
  bool WaitOpened(std::string& error);
  // Waits at most ms for the end; true when the reading is over.
  bool WaitOver(int ms);
  // Waits for the end: the whole listing, or null with the message.
  std::shared_ptr<const ArchiveListing> Wait(std::string& error);
  // The whole listing when the reading is over, else null (never waits).
  std::shared_ptr<const ArchiveListing> Finished();

 private:
  friend std::shared_ptr<ArchiveListingReading> StartArchiveListing(const std::string& path, std::string& error);
  std::shared_ptr<State> state_;
};

// The reading of the archive at path (a regular file): over at once with the
// cached listing while the file is unchanged, else the reading under way of
// the same file version, else a new one. Null with a Japanese message when the
// file is not one to read.
std::shared_ptr<ArchiveListingReading> StartArchiveListing(const std::string& path, std::string& error);

// The listing of the archive at path (a regular file), read through the
// archiver library of its format or taken from the cache while the file is
// unchanged. Null with a Japanese message when it cannot be read. A reading
// that takes long is waited for through the waiter, when one is set.
std::shared_ptr<const ArchiveListing> ReadArchiveListing(const std::string& path, std::string& error);

// Waits for a reading that did not end at once (e.g. while the window goes on
// answering); false when the user stopped it. Set once by the program.
using ArchiveListingWaiter = std::function<bool(ArchiveListingReading& reading, const std::string& path)>;
void SetArchiveListingWaiter(ArchiveListingWaiter waiter);
// Whether the name's format has an archiver library that lists it (by name only).
bool IsListableArchiveName(const std::string& path);
