#pragma once
// A folder of the file system: the home folder, a drive, any folder below
// them, and the desktop folder's own entries. Children are FileEntry IDs that
// hold the name's raw bytes; stat data is filled only when a sort needs it.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/namespace/ShellFolderBase.h"

struct stat;
// The size, time and mode a row shows, from a stat record.
FileStat ToFileStat(const struct stat& st);

class FileSystemFolder : public ShellFolderBase {
 public:
  FileSystemFolder(IDListPtr absolute, std::string path);

  bool ParseDisplayName(std::string_view name, PItemIDList& list) override;
  std::unique_ptr<IEnumIDList> EnumObjects(uint32_t flags) override;
  void PrepareCompare(int column, PItemIDList* items, size_t count) override;

 protected:
  int CompareChildren(int column, PCItemIDList a, PCItemIDList b) override;
  uint32_t ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext& context) override;
  bool ChildName(PCItemIDList id, uint32_t flags, std::string& name) override;
  bool RenameChild(PCItemIDList id, std::string_view newName, PItemIDList* newItem) override;
  bool ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) override;
};

// The enumerator of a folder path (getdents64, no stat but for links and
// entries of unknown type); null when the folder cannot be opened. stop (may
// be null) turning true ends a slow listing of the lister below early.
std::unique_ptr<IEnumIDList> EnumerateFolder(const std::string& path, uint32_t flags,
                                             const std::atomic<bool>* stop = nullptr);

// A layer above that lists some folders better than the file system does (a
// network location's FUSE path, a stat a round trip) sets this at start-up;
// it answers null for a path it does not take, and what it found so far once stop turns true.
using FolderLister =
    std::function<std::unique_ptr<IEnumIDList>(const std::string& path, uint32_t flags, const std::atomic<bool>* stop)>;
void SetFolderLister(FolderLister lister);

// The ID of the entry name of the open folder dirfd as its enumeration with
// flags (SHCONTF_*) would make it, with its stat data; null when the entry is
// gone or the flags leave it out.
PItemIDList MakeEntryIDAt(int dirfd, const char* name, uint32_t flags);

// Appends a FileEntry per name below base; each must exist (lstat), and all
// but the last must be folders.
bool AppendPathIDs(std::string base, const std::vector<std::string_view>& names, IDListBuilder& builder);

// Order of two FileEntry IDs of the folder dir (see IShellFolder::CompareIDs).
// dir is only used to stat IDs that lack stat data; the data found is kept in
// the ID. -1, 0 or 1.
int CompareFileEntries(int column, const std::string& dir, PCItemIDList a, PCItemIDList b);

// The find-data attributes of a mode (lstat) and the item's folder-ness.
uint32_t FindAttributesOf(uint32_t mode, bool folder, bool hidden);
// Fills find data from lstat of path (the folder bit from the link's target);
// cFileName receives name, cut at a character boundary to fit.
bool FillFindData(const std::string& path, std::string_view name, WIN32_FIND_DATAA& data);

// Renames dir/oldName to dir/newName without ever replacing an existing name.
bool RenameNoReplace(const std::string& dir, std::string_view oldName, std::string_view newName);
