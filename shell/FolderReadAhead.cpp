#include "shell/FolderReadAhead.h"

#include <algorithm>
#include <chrono>

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/ShellApi.h"
#include "shell/RowSort.h"
#include "shell/ShellCtrls.h"
#include "shell/ShellFileList.h"

namespace {
// Below this many rows a thread of its own costs more than making them.
constexpr size_t kRowsMadeBesideSort = 4096;
}  // namespace

FolderReadAhead::FolderReadAhead(std::string path, uint32_t flags, int column, int order, std::function<void()> done,
                                 TShellFileList* rowsFor)
    : path_(std::move(path)), flags_(flags), column_(column), order_(order), done_(std::move(done)), rowsFor_(rowsFor) {
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
  std::vector<std::unique_ptr<TShellFileItem>> rows = SortWithRows(ids);
  {
    std::lock_guard<std::mutex> hold(lock_);
    count_ = rows.empty() ? ids.size() : rows.size();
    ids_ = std::move(ids);
    rows_ = std::move(rows);
    over_ = true;
  }
  finished_.notify_all();
  if (done_) done_();
}

void FolderReadAhead::Sort(std::vector<IDListPtr>& ids) {
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
}

std::vector<std::unique_ptr<TShellFileItem>> FolderReadAhead::SortWithRows(std::vector<IDListPtr>& ids) {
  std::vector<std::unique_ptr<TShellFileItem>> rows;
  std::thread maker;
  if (rowsFor_ && ids.size() >= kRowsMadeBesideSort && !stop_) {
    try {
      rows.reserve(RowsWithRoom(ids.size()));
      // A million rows cost the window's thread a fifth of a second in fresh
      // memory alone: they are made here, while the IDs sort, and get their
      // IDs in the sorted order after.
      maker = std::thread([&rows, count = ids.size(), list = rowsFor_] {
        try {
          for (size_t i = 0; i < count; ++i) rows.push_back(std::make_unique<TShellFileItem>(list, nullptr));
        } catch (...) {
          rows.clear();  // out of memory: the list makes them
        }
      });
    } catch (...) {
      rows.clear();
    }
  }
  Sort(ids);
  if (maker.joinable()) maker.join();
  if (rows.size() != ids.size()) {
    rows.clear();
    return rows;
  }
  for (size_t i = 0; i < ids.size(); ++i) rows[i]->RelativeIDList.reset(ids[i].release());
  ids.clear();
  return rows;
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
  return count_;
}

std::vector<IDListPtr> FolderReadAhead::Take() {
  Wait(-1);
  std::lock_guard<std::mutex> hold(lock_);
  return std::move(ids_);
}

std::vector<std::unique_ptr<TShellFileItem>> FolderReadAhead::TakeRows() {
  Wait(-1);
  std::lock_guard<std::mutex> hold(lock_);
  return std::move(rows_);
}
