#pragma once
// One file operation, run start to end on one thread (RunFileOperation gives
// it a worker). Its states are those of FileOperation.h:
//   Checking  - the sources are looked up, a folder into itself or a bad
//               request is refused; nothing is touched;
//   Counting  - items and bytes for the progress, in the same pass; the
//               trees to copy are read once here and walked from memory later;
//   Running   - item by item, each done whole or not at all; questions go to
//               the UI from this thread;
//   Done | Cancelled | Failed.
// Progress() and Cancel() may be called from any thread meanwhile: the
// counters are atomics and the current file sits under a mutex, so the GUI
// reads them on its timer and the job never waits for the GUI to draw.
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/fileops/CopyFile.h"
#include "platform/fileops/FileOperation.h"
#include "platform/system/UniqueFd.h"

class FileOperationJob {
 public:
  FileOperationJob(FileOperationRequest request, IFileOperationUI* ui);
  ~FileOperationJob();
  FileOperationJob(const FileOperationJob&) = delete;
  FileOperationJob& operator=(const FileOperationJob&) = delete;

  FileOperationResult Run();

  // Any thread: stop at the next safe point (as the cancel button).
  void Cancel() { cancel_.store(true); }
  // Any thread: a snapshot for the progress dialog.
  FileOperationProgress Progress() const;
  // Called on the job's thread at every safe point; for a job that runs on
  // the thread of its UI, which then polls cancel and progress from here.
  void SetSafePointHook(std::function<void()> hook) { safePoint_ = std::move(hook); }

 private:
  enum class Next { Retry, Skip, Stop };
  enum class Resolve { Replace, Skip, NewName, Stop };
  // How far one item got: done whole (a moved item's source is gone), partly
  // or not at all (skipped; what is left stays where it was), or the job ends.
  enum class Done { Whole, Partly, Stop };

  // An entry as counted: its lstat record and, for a folder, its children.
  struct Entry {
    std::string name;
    struct stat st {};
    std::vector<Entry> children;
    int listError = 0;  // reading the folder failed (asked about when reached)
    int statError = 0;  // listed, but could not be looked up (asked about when reached)
    bool listed = false;
  };
  struct Source {
    std::string path, parent, name;
    int error = 0;  // lstat failed: asked about when reached
    Entry entry;
  };
  // A source as kept for the whole job: where its name begins in the block
  // of names (each ended by NUL) and the number of its folder.
  struct SourceName {
    size_t at;
    uint32_t folder;
  };
  // Where an item goes: an open folder, its file system and its path.
  struct Place {
    int fd;
    dev_t dev;
    const std::string& path;
    bool defaultAcl;  // see CopyTarget
  };

  // --- Checking and counting (FileOperationJob.cpp)
  // The sources as folders and names; false for a bad request.
  bool PrepareSources();
  // Every source as a path, for the functions that take few.
  std::vector<std::string> SourcePaths() const;
  Source SourceAt(size_t index) const;
  // Looks up every source, refuses a folder into itself, reads the trees to
  // copy and counts; false when the job ends here.
  bool LookUpSources(bool move);
  // A folder among the destination and the folders above it.
  bool HoldsDestination(const struct stat& folder) const;
  void RefuseIntoItself(const std::string& path);
  // Reads the tree of entry, a folder in parentFd; failures are noted in it.
  void ListFolder(int parentFd, Entry& entry);
  // The same, asking about a failure (false: skipped or stopped).
  bool ListFolderAsking(int parentFd, const std::string& path, Entry& entry);
  void CountTree(const Entry& entry, uint64_t& items, uint64_t& bytes) const;

  // --- The functions
  void RunCopyMove();
  void RunDelete();
  void RunRename();
  bool OpenDestination();
  // The open folder of a source (kept while the next source shares it); -1
  // after asking when it cannot be opened (stopStatus tells what to do).
  int ParentFd(const std::string& parent, Next& next);

  // --- Copy and move of one entry (CopyTree.cpp)
  // srcDir holds entry; it goes into dst as dstName. move: check the copy
  // and remove the source (across file systems). freshParent: dst was made
  // by us just now, so nothing there can conflict. record: the entry is a
  // top of what the journal keeps. autoName: pick "NAME - コピー" names.
  Done CopyEntry(int srcDir, const std::string& srcPath, Entry& entry, const Place& dst, std::string dstName, bool move,
                 bool freshParent, bool record, bool autoName);
  Done CopyFolder(int srcDir, const std::string& srcPath, Entry& entry, const Place& dst, std::string dstName,
                  bool move, bool record, bool autoName);
  Done CopyLeaf(int srcDir, const std::string& srcPath, Entry& entry, const Place& dst, std::string dstName, bool move,
                bool check, bool record, bool autoName);
  // A move by rename within one file system; folders onto folders merge.
  Done MoveWithin(int srcDir, const std::string& srcPath, const std::string& name, const struct stat& st,
                  const Place& dst, std::string dstName, bool record);
  Done MergeWithin(int srcDir, const std::string& srcPath, const std::string& name, const Place& dst,
                   const std::string& dstName, bool record);
  Done RemoveMovedSource(int srcDir, const std::string& srcPath, const std::string& name, bool folder);
  // Removes a moved file only while its name still holds the very file that
  // was copied (copied: its facts then; ctime: compare the change time too).
  Done RemoveMovedFile(int srcDir, const std::string& srcPath, const std::string& name, const struct stat& copied,
                       bool ctime);
  // A hard link inside the tree: a link to the copy of its first name.
  bool LinkToEarlierCopy(const struct stat& src, const Place& dst, const std::string& name, bool replace,
                         struct stat& made);
  // The first free "NAME - コピー" name in dir, counting on from *k.
  std::string FreeCopyName(int dir, const std::string& name, bool folder, int& k);
  void SkipTree(const Entry& entry);
  // Names this job made in a folder of a file system that may ignore case,
  // so that its own copy under another spelling is never taken for a
  // conflict (the inode numbers there differ per spelling).
  void MadeName(const Place& dst, const std::string& name);
  bool MadeUnderOtherSpelling(const Place& dst, const std::string& name);
  // A name such a file system refuses: skipped and named in the summary.
  bool RefusedName(const Place& dst, const std::string& name, int error, bool targetSide, const std::string& srcPath);
  // The summaries at the end of a copy or move.
  void ShowSummaries();

  // --- Questions and bookkeeping
  Next OnError(const std::string& path, const char* action, int error);
  Resolve OnConflict(const std::string& existingPath, const struct stat& existing, const std::string& incomingPath,
                     const struct stat& incoming);
  bool Stopping() const { return stop_ || cancel_.load(std::memory_order_relaxed); }
  void SetCurrent(const std::string& path);
  void ItemDone(uint64_t bytes = 0);
  // st: the item as it is left (stat right after writing).
  void Record(const std::string& from, const std::string& to, const struct stat& st, bool folder,
              const std::string& trashInfo = {});
  // An entry written inside a copied folder that the journal keeps.
  void Note(const std::string& path, const struct stat& st);
  // A copy got another link (its change time moved): what was noted follows.
  void Relinked(const struct stat& now);
  // What this job put at the destination is never replaced by this job.
  void Made(const struct stat& st) { made_.insert({st.st_dev, st.st_ino}); }
  bool MadeHere(const struct stat& st) const { return made_.count({st.st_dev, st.st_ino}) > 0; }
  const char* Action() const;

  FileOperationRequest request_;
  IFileOperationUI* ui_;
  std::function<void()> safePoint_;
  std::vector<std::string> sourceFolders_;
  std::string sourceNames_;
  std::vector<SourceName> sourceList_;
  // Sources that are folders (their trees read) or could not be looked up,
  // by number; the others are looked up again when their turn comes, so a
  // million files keep no record each.
  std::unordered_map<size_t, Source> prepared_;
  // The destination and every folder above it, by identity.
  std::vector<struct stat> destinationAncestors_;
  std::string destination_;
  UniqueFd destFd_;
  struct stat destStat_ {};
  std::string cachedParent_;
  UniqueFd cachedParentFd_;
  struct stat cachedParentStat_ {};

  // Answers that hold for the rest of the job.
  bool yesToAll_ = false, noToAll_ = false;
  bool stop_ = false;       // the job ends (cancelled, or an error without questions)
  bool cancelled_ = false;  // the user answered "cancel"
  bool badRequest_ = false;
  bool failed_ = false;    // an item failed or was skipped after an error
  bool declined_ = false;  // the user said no to something
  std::atomic<bool> cancel_{false};
  bool intoItself_ = false;  // a source tree holds the destination (through a mount)
  std::vector<std::string> specialSkipped_;
  std::vector<std::string> dropped_;              // "path: what the target could not keep"
  std::vector<std::string> caseRenamed_;          // kept under another name: their case-only twin was there
  std::vector<std::string> refusedNames_;         // names the target file system refused
  std::map<std::string, std::string> madeNames_;  // folder path + folded name -> the name as made
  UndoRecord undo_;
  bool noting_ = false;  // inside a copied folder that is recorded
  std::vector<UndoItem> noted_;
  std::set<std::pair<dev_t, ino_t>> made_;
  std::map<std::pair<dev_t, ino_t>, std::string> copiesOf_;  // hard-linked sources -> their copy

  const std::chrono::steady_clock::time_point started_;  // when made, before any thread reads it
  std::atomic<uint64_t> itemsDone_{0}, itemsTotal_{0}, bytesDone_{0}, bytesTotal_{0};
  std::atomic<uint64_t> sourcesChecked_{0};
  uint64_t sourcesTotal_ = 0;  // set when made
  std::atomic<bool> preparing_{false};
  mutable std::mutex currentLock_;
  std::string current_;

  std::unique_ptr<FileCopier> copier_;
};

// "NAME - コピー.EXT" for k = 1, "NAME - コピー (k).EXT" after that; a folder's
// name keeps no extension apart.
std::string CopyNameFor(const std::string& name, bool folder, int k);
