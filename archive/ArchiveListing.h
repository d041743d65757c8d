#pragma once
// The entries of an archive file read once through the archive component and
// kept per file (path, device, inode, size and time), arranged as folders:
// folders that the archive stores only as parts of paths are folders too.
#include <cstdint>
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

// The listing of the archive at path (a regular file), read through the
// archiver library of its format or taken from the cache while the file is
// unchanged. Null with a Japanese message when it cannot be read.
std::shared_ptr<const ArchiveListing> ReadArchiveListing(const std::string& path, std::string& error);
// Whether the name's format has an archiver library that lists it (by name only).
bool IsListableArchiveName(const std::string& path);
