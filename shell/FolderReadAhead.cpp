#include "shell/FolderReadAhead.h"

#include <algorithm>
#include <chrono>

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/ShellApi.h"
#include "shell/RowSort.h"

FolderReadAhead::FolderReadAhead(std::string path, uint32_t flags, int column, int order, std::function<void()> done)
    : path_(std::move(path)), flags_(flags), column_(column), order_(order), done_(std::move(done)) {
  worker_ = std::thread([this] { Run(); });
}

FolderReadAhead::~FolderReadAhead() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

void FolderReadAhead::Run() {
  std::vector<IDListPtr> ids;
  if (std::unique_ptr<IEnumIDList> list = EnumerateFolder(path_, flags_, &stop_)) {
    PItemIDList id = nullptr;
    while (list->Next(id)) ids.emplace_back(id);
  }
  // Names and extensions sort from the IDs alone; the other columns need the
  // disk and are sorted by the list.
  const bool keyed = column_ == 0 && SortIDsByName(ids, order_);
  if (!keyed && (column_ == 0 || column_ == 2)) {
    const int column = column_, order = order_;
    const std::string& dir = path_;
    std::sort(ids.begin(), ids.end(), [&](const IDListPtr& a, const IDListPtr& b) {
      return static_cast<int16_t>(CompareFileEntries(column, dir, a.get(), b.get())) * order < 0;
    });
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    ids_ = std::move(ids);
    over_ = true;
  }
  finished_.notify_all();
  if (done_) done_();
}

bool FolderReadAhead::Wait(int ms) {
  std::unique_lock<std::mutex> hold(lock_);
  if (ms < 0) {
    finished_.wait(hold, [this] { return over_; });
    return true;
  }
  return finished_.wait_for(hold, std::chrono::milliseconds(ms), [this] { return over_; });
}

size_t FolderReadAhead::Count() {
  std::lock_guard<std::mutex> hold(lock_);
  return ids_.size();
}

std::vector<IDListPtr> FolderReadAhead::Take() {
  Wait(-1);
  std::lock_guard<std::mutex> hold(lock_);
  return std::move(ids_);
}
