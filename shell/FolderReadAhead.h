#pragma once
// A folder read on a worker thread, sorted there as the list will sort it:
// the start reads both panes' folders at once, and shows the window without
// waiting for one that takes long.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/namespace/IDList.h"

class TShellFileItem;
class TShellFileList;

class FolderReadAhead {
 public:
  // Starts reading path (a file-system folder) with the SHCONTF flags, sorted
  // by column in order (1 or -1). done runs on the worker once the IDs are there.
  // With rowsFor, a large folder's rows of that list are made there too.
  FolderReadAhead(std::string path, uint32_t flags, int column, int order, std::function<void()> done,
                  TShellFileList* rowsFor = nullptr);
  // Stops the worker and waits for it; IDs not taken are freed.
  ~FolderReadAhead();
  FolderReadAhead(const FolderReadAhead&) = delete;
  FolderReadAhead& operator=(const FolderReadAhead&) = delete;

  const std::string& Path() const { return path_; }
  uint32_t Flags() const { return flags_; }
  int Column() const { return column_; }
  int Order() const { return order_; }
  // Waits at most ms (-1: for good); true once the read is over.
  bool Wait(int ms);
  // How many IDs the read found; 0 until it is over.
  size_t Count();
  // The IDs, owned by the caller from now on; empty when the folder could not be read.
  std::vector<IDListPtr> Take();
  // The rows made of the IDs in their order, owned by the caller from now on;
  // empty when none were made (Take gives the IDs then).
  std::vector<std::unique_ptr<TShellFileItem>> TakeRows();
  // Ends a slow read (a network location's) early, with the IDs found so far.
  void Stop() { stop_ = true; }
  bool Stopped() const { return stop_; }

 private:
  void Run();
  // Rows for ids in their order, made beside the sort; empty when not made.
  std::vector<std::unique_ptr<TShellFileItem>> SortWithRows(std::vector<IDListPtr>& ids);
  void Sort(std::vector<IDListPtr>& ids);

  const std::string path_;
  const uint32_t flags_;
  const int column_, order_;
  std::function<void()> done_;
  std::mutex lock_;
  std::condition_variable finished_;
  bool over_ = false;
  std::atomic<bool> stop_{false};
  TShellFileList* const rowsFor_;
  std::vector<IDListPtr> ids_;
  std::vector<std::unique_ptr<TShellFileItem>> rows_;
  size_t count_ = 0;
  std::thread worker_;
};
