#pragma once
// Renames a batch of files as one job: all of them, or none. Chains and
// cycles in the batch (a -> b, b -> a) go by way of temporary names; each
// step first checks that the name still holds the very item that was listed
// (device and inode), never replaces anything, and a failure halfway puts
// every file back under its old name and says why. Done, the batch is one
// undo step of the journal.
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct BatchRenameItem {
  std::string folder, oldName, newName;
  dev_t dev = 0;  // the item as listed; 0: take what the name holds at the start
  ino_t ino = 0;
};

struct BatchRenameResult {
  bool ok = false;
  bool cancelled = false;
  size_t renamed = 0;   // items whose name changed
  std::string message;  // Japanese: why it failed, and whether all went back
};

class BatchRename {
 public:
  explicit BatchRename(std::vector<BatchRenameItem> items) : items_(std::move(items)) {}

  // record: keep the batch in the undo journal.
  BatchRenameResult Run(bool record);

  // Any thread.
  void Cancel() { cancel_ = true; }
  size_t StepsDone() const { return stepsDone_.load(); }
  size_t ItemsTotal() const { return items_.size(); }
  // Runs before step n (counted from 0) touches anything.
  void SetStepHook(std::function<void(size_t)> hook) { hook_ = std::move(hook); }

 private:
  struct Step {
    int dirFd;
    std::string from, to;
    dev_t dev;
    ino_t ino;
  };
  bool Prepare(std::string& why);
  // One rename after the identity check; appends to the log.
  int Move(size_t item, const std::string& from, const std::string& to);
  bool RunGraph(std::string& why);
  // Back along the log; the names that could not go back.
  std::vector<std::string> Rollback();
  void RecordUndo();
  void CloseFolders();

  std::vector<BatchRenameItem> items_;
  std::vector<int> dirFds_;  // per item
  std::vector<int> opened_;
  std::vector<Step> log_;
  std::function<void(size_t)> hook_;
  std::atomic<bool> cancel_{false};
  std::atomic<size_t> stepsDone_{0};
  int failedError_ = 0;
};
