#pragma once
// An archive file as a folder of the namespace: its children are the entries
// of one folder inside it, as ArchiveEntry IDs that carry size, time and mode.
// Nothing here writes; the listing comes from ReadArchiveListing.
#include <atomic>
#include <memory>
#include <string>

#include "archive/ArchiveListing.h"
#include "platform/namespace/ShellFolderBase.h"

class ArchiveFolder : public ShellFolderBase {
 public:
  // archive: the archive file's path (a real file, or an entry of an outer
  // archive); inner: the folder inside it, "" for its root.
  ArchiveFolder(IDListPtr absolute, std::string archive, std::string inner);

  bool ParseDisplayName(std::string_view name, PItemIDList& list) override;
  std::unique_ptr<IEnumIDList> EnumObjects(uint32_t flags) override;
  // No verbs of the file system for files that are not on the disk.
  std::unique_ptr<IContextMenu> GetContextMenu(QWidget* owner, int count, const PCItemIDList* items) override;

  const std::string& Archive() const { return archive_; }
  const std::string& Inner() const { return inner_; }
  // The listing (read once); null with the reason when it cannot be read.
  std::shared_ptr<const ArchiveListing> Listing(std::string* error = nullptr);
  // The listing's reading, started (or joined) without waiting for it; null
  // with the reason when the archive file cannot be had.
  std::shared_ptr<ArchiveListingReading> StartListing(std::string& error);
  // After the archive was written: the next look reads it again.
  void ForgetListing() { listing_.reset(); }
  // Files dropped here are added to the archive: one of the disk, in a
  // format a library writes.
  bool TakesDrops() override;

 protected:
  int CompareChildren(int column, PCItemIDList a, PCItemIDList b) override;
  uint32_t ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext& context) override;
  bool ChildName(PCItemIDList id, uint32_t flags, std::string& name) override;
  bool ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) override;

 private:
  std::string archive_;
  std::string inner_;
  std::shared_ptr<const ArchiveListing> listing_;
  std::atomic<int> writable_{-1};  // -1 not looked at yet
};

// The real file behind an archive path: the path itself when it is on the
// disk, else the entry of the outer archive extracted into the private cache.
// Empty with a message when it cannot be had.
std::string LocalArchiveFile(const std::string& archive, std::string& error);

// Makes the namespace list archive files as folders (once, at start-up).
void RegisterArchiveFolderKind();

// Where a list asked for path goes: path itself when it is a folder or an
// archive's folder; when it runs through an archive that is gone or has no
// such folder, the archive (or, if it has gone, the nearest folder above it);
// else path unchanged.
std::string ArchiveFolderOrFallback(const std::string& path);
