#pragma once
// Entries copied out of an archive straight to a folder of the disk: the
// library extracts them into a hidden staging folder made inside the
// destination (so on its file system), and the file-operation engine then
// moves them into place, asking about names taken; what it placed is kept
// for undo as a copy. Nothing is ever written under a final name half done.
#include <memory>
#include <string>
#include <vector>

#include "archive/ArchiveCache.h"

class IFileOperationUI;
class QWidget;

struct ArchiveCopyOutRequest {
  std::string archive;              // the real archive file
  std::string shownArchive;         // its path as the lists show it (for undo)
  std::string inner;                // the folder inside the archive ("" its root)
  std::vector<std::string> names;   // the chosen names in that folder
  std::vector<std::string> stored;  // the stored names they bring
  std::string destination;
  QWidget* owner = nullptr;
};

class ArchiveCopyOut {
 public:
  explicit ArchiveCopyOut(ArchiveCopyOutRequest request);
  // The staging folder goes, with whatever is left in it.
  ~ArchiveCopyOut();
  ArchiveCopyOut(const ArchiveCopyOut&) = delete;
  ArchiveCopyOut& operator=(const ArchiveCopyOut&) = delete;

  size_t Entries() const { return request_.stored.size(); }
  // Any thread: extracts into the staging folder. False with a Japanese
  // message on failure, or "中止しました。" when onEntry stopped it.
  bool Extract(std::string& error, const EntryHook& onEntry = {});
  // The window's thread, after Extract: moves the entries into place with the
  // engine (progress, conflict question) and records undo of the items it
  // placed under names that were free. The engine's result code.
  int Place(IFileOperationUI* ui = nullptr);

 private:
  ArchiveCopyOutRequest request_;
  std::string staging_;
};
