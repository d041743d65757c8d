#pragma once
// The commands on a location GVfs gives no FUSE path, through GIO on the
// calling thread (a worker): copy and move with the conflict question and a
// record for undo, delete to the server's trash or (asked first) for good,
// new folder, rename, and a private local copy of a file. An item is named
// by its URI (a location) or its path (the disk); questions go to the UI.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fileops/FileOperation.h"

typedef struct _GFile GFile;

namespace network {

// What undoes one item of a job: the item it made is removed, or moved back.
struct GioUndoStep {
  std::string made;
  std::string from;  // where a moved item came from; empty for a copy
  // The made item as it was made: undo leaves it alone once it has changed
  // (a server cannot tell identity; size and time stand in for it).
  uint64_t size = 0;
  int64_t mtime = 0;
  bool folder = false;
};

class GioJob {
 public:
  explicit GioJob(IFileOperationUI* ui) : ui_(ui), started_(std::chrono::steady_clock::now()) {}
  // Where the questions go from now on (a runner's timed UI before the job starts).
  void UseUi(IFileOperationUI* ui) { ui_ = ui; }

  // Copies or moves sources into the folder destination. Each item is made
  // in a private hidden folder beside its place and renamed to its name once
  // whole; a moved source goes only once its copy is whole.
  FileOperationResult Transfer(const std::vector<std::string>& sources, const std::string& destination, bool move);
  // To the trash where the backend has one; else, after the question, for
  // good: folders with what they hold, never following a link.
  FileOperationResult Delete(const std::vector<std::string>& items);
  // Undoes steps, newest first; false when some could not be (said to the UI).
  bool Undo(const std::vector<GioUndoStep>& steps);

  // Any thread.
  void Cancel() { cancel_ = true; }
  FileOperationProgress Progress() const;
  // What undoes the job's items, in the order they were done.
  std::vector<GioUndoStep> TakeUndo() { return std::move(undo_); }

 private:
  enum class Done { Whole, Skipped, Stop };
  // counted: the item's bytes are in the total already (inside a merge).
  Done TransferOne(const std::string& source, const std::string& destination, bool move, bool counted = false);
  // The items of the folder source into the folder target of the same name.
  Done MergeInto(GFile* source, GFile* target, bool move);
  void Count(uint64_t bytes, const std::string& current);

  IFileOperationUI* ui_;
  std::chrono::steady_clock::time_point started_;
  std::atomic<bool> cancel_{false};
  std::atomic<uint64_t> itemsDone_{0}, itemsTotal_{0}, bytesDone_{0}, bytesTotal_{0};
  mutable std::mutex lock_;
  std::string current_;
  uint32_t function_ = FO_COPY;
  int conflictAll_ = 0;  // 1 replace all, -1 skip all
  bool failed_ = false;
  std::vector<GioUndoStep> undo_;
};

// Runs work (a call of job) on a worker, its progress in the engine's window
// and its cancel (Esc) stopping job; questions go to ui.
FileOperationResult RunGioJob(GioJob& job, IFileOperationUI* ui, const std::function<FileOperationResult()>& work);

// Makes the folder name in folder; empty, or why not in Japanese.
std::string MakeFolderThroughGio(const std::string& folder, const std::string& name);
// Renames item within its folder, never over another name; empty, or why not.
std::string RenameThroughGio(const std::string& item, const std::string& newName);
// Copies the file uri into the new local file path (a private copy to show
// or open); empty, or why not. cancel turning true stops it.
std::string DownloadThroughGio(const std::string& uri, const std::string& path, const std::atomic<bool>& cancel);

}  // namespace network
