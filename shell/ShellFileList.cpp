#include "shell/ShellFileList.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/desktop/DropTarget.h"
#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/PathText.h"
#include "platform/network/Location.h"
#include "platform/system/ChangeNotification.h"
#include "platform/system/ScopeGuard.h"
#include "shell/FolderReadAhead.h"
#include "shell/RowSort.h"
#include "shell/WaitCursor.h"
#include "shell/watch/ShFilesWatcher.h"

const char* const ColumnCaptions[kColumnCount] = {"名前", "サイズ", "ファイルの種類", "更新日時", "属性"};

namespace {
long long SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Stopping the owner's screen updates for a scope; none without an owner.
auto ItemsUpdate(IShellFileListOwner* owner) {
  return BeginEnd(
      [owner] {
        if (owner) owner->BeginItemsUpdate();
      },
      [owner] {
        if (owner) owner->EndItemsUpdate();
      });
}
}  // namespace

TShellFileList::TShellFileList(IShellFileListOwner* listView, bool runTime) : ListView(listView) {
  items_.reserve(1000);
  if (runTime) {
    auto handler = [this](TShFilesWatcher* w, const std::string& path) { FolderChanged(w, path); };
    auto ended = [this](TShFilesWatcher* w) { WatcherTerminated(w); };
    NameWatcher = new TShFilesWatcher("", FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, handler);
    NameWatcher->OnTerminate = ended;
    AttrWatcher = new TShFilesWatcher(
        "", FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE, handler);
    AttrWatcher->OnTerminate = ended;
  }
}

TShellFileList::~TShellFileList() {
  for (TShFilesWatcher* w : {NameWatcher, AttrWatcher}) {
    if (!w) continue;
    w->OnTerminate = nullptr;
    w->Stop();
  }
  FreeFolderLists();
  Clear();
}

TShellFileItem* TShellFileList::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[index].get();
}

int TShellFileList::IndexOf(const TShellFileItem* item) const {
  auto it = std::find_if(items_.begin(), items_.end(), [item](const auto& row) { return row.get() == item; });
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

namespace {

// The rows of a huge folder and their IDs go back to their pools in the
// order of their addresses: the next read then takes its memory in runs, not
// scattered over the last folder's, which made reading it again half as slow.
void FreeInAddressOrder(std::vector<std::unique_ptr<TShellFileItem>>& rows) {
  constexpr size_t kScattered = 1 << 16;
  if (rows.size() < kScattered) {
    rows.clear();
    return;
  }
  // The room is taken first: nothing after it may fail in a destructor.
  std::vector<PItemIDList> ids, room;
  std::vector<std::unique_ptr<TShellFileItem>> rowRoom;
  try {
    ids.reserve(rows.size());
    room.reserve(rows.size());
    rowRoom.reserve(rows.size());
  } catch (const std::bad_alloc&) {
    rows.clear();
    return;
  }
  for (auto& row : rows) ids.push_back(row->RelativeIDList.release());
  SortByKeyBytes(ids, room, [](PItemIDList id) { return reinterpret_cast<uintptr_t>(id); });
  for (PItemIDList id : ids) FreeIDList(id);
  SortByKeyBytes(rows, rowRoom, [](const auto& row) { return reinterpret_cast<uintptr_t>(row.get()); });
  rows.clear();
}

}  // namespace

void TShellFileList::Clear() {
  ForgetMaskedOut();
  FreeInAddressOrder(items_);
  nameRanked_ = false;
  SetSorted(-1);
  changesMissed_ = false;
  RestartSizePrefetch();
  ForgetNameIndex();
}

void TShellFileList::FreeFolderLists() {
  FolderIDList.reset();
  FolderParentIDList.reset();
  FolderLastID.reset();
  folder_.reset();
}

int TShellFileList::GetLevel() const { return GetIDListLevel(FolderIDList.get()); }

std::string TShellFileList::GetPathName() const {
  int level = GetLevel();
  if (level < 0) return {};
  if (level == 0) {
    IDListPtr desktopDir = GetSpecialFolderIDList(CSIDL_DESKTOPDIRECTORY);
    return desktopDir ? IDListToPath(desktopDir.get()) : std::string();
  }
  return IDListToPath(FolderIDList.get());
}

bool TShellFileList::GetFolder(ShellFolderPtr& folder) {
  if (!folder_ && FolderIDList) folder_ = BindToFolder(FolderIDList.get());
  folder = folder_;
  return folder != nullptr;
}

bool TShellFileList::GetParentFolder(ShellFolderPtr& folder) {
  int level = GetLevel();
  if (level < 0) {
    folder.reset();
    return false;
  }
  folder = level <= 1 ? SHGetDesktopFolder() : BindToFolder(GetFolderParentIDList());
  return folder != nullptr;
}

PCItemIDList TShellFileList::GetFolderParentIDList() {
  if (!FolderParentIDList && FolderIDList) {
    if (GetLevel() == 1)
      FolderParentIDList = GetSpecialFolderIDList(CSIDL_DESKTOP);
    else
      FolderParentIDList.reset(CopyParentIDList(FolderIDList.get()));
  }
  return FolderParentIDList.get();
}

PCItemIDList TShellFileList::GetFolderLastID() {
  if (!FolderLastID && FolderIDList) FolderLastID.reset(CopyLastID(FolderIDList.get()));
  return FolderLastID.get();
}

bool TShellFileList::FolderHasAttribute(uint32_t mask) {
  int level = GetLevel();
  if (level < 0) return false;
  ShellFolderPtr folder;
  PCItemIDList list;
  if (level <= 1) {
    folder = SHGetDesktopFolder();
    list = FolderIDList.get();
  } else {
    if (!GetParentFolder(folder)) return false;
    list = GetFolderLastID();
  }
  if (!folder || !list) return false;
  uint32_t attrs = mask;
  return folder->GetAttributesOf(1, &list, attrs) && (attrs & mask) == mask;
}

TShItemIDType TShellFileList::GetFolderType() {
  return ClassifyItem(GetLevel(), FolderIDList.get(), [this](uint32_t mask) { return FolderHasAttribute(mask); });
}

std::unique_ptr<IDropTarget> TShellFileList::GetFolderDropTarget() {
  std::string path = GetPathName();
  if (path.empty()) return nullptr;
  ShellFolderPtr folder;
  if (!FolderHasAttribute(SFGAO_DROPTARGET) && !(GetFolder(folder) && folder->TakesDrops())) return nullptr;
  return std::make_unique<IDropTarget>(path);
}

TShellIDList* TShellFileList::GetSelectedIDList() {
  Selection.Clear();
  Selection.ParentIDList = FolderIDList.get();
  if (ListView)
    for (const auto& [first, last] : ListView->SelectedSpans(Count()))
      for (int i = first; i <= last; ++i) Selection.Add(items_[i]->RelativeIDList.get());
  return &Selection;
}

void TShellFileList::DeleteSelected() {
  if (!ListView || ListView->SelectedCount() == 0) return;
  // The rows masked out would keep pointers to the rows deleted here.
  if (!allRows_.empty()) ForgetMaskedOut();
  size_t kept = 0;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (ListView->IsRowSelected(static_cast<int>(i)))
      items_[i].reset();
    else
      items_[kept++] = std::move(items_[i]);
  }
  items_.resize(kept);
  RestartSizePrefetch();
  ForgetNameIndex();
  ListView->SetItemsCount(Count());
  ListView->SelectAllRows(false);
  ListView->Repaint();
  ListView->DoShListChange(this);
}

void TShellFileList::SetFolder(PCItemIDList idList) {
  if (!ListView || !ListView->HandleAllocated() || ListView->RecreatingWnd()) return;
  if (ListView->ColumnCount() > 1) {
    SavedColumnOrder = ListView->ColumnOrder();
    SavedColumnWidths.clear();
    for (int i = 0; i < ListView->ColumnCount(); ++i) SavedColumnWidths.push_back(ListView->ColumnWidth(i));
  }
  FreeFolderLists();
  FolderIDList.reset(CopyIDList(idList));
  {
    auto update = ItemsUpdate(ListView);
    Populate();
    ListView->SetItemsCount(Count());
    if (Count() > 0) ListView->MakeRowVisible(0);
  }
  ApplyColumns();
}

void TShellFileList::ApplyColumns() {
  int columns = ListView->ColumnCount();
  // Search results have no path of their own but list files like a folder.
  if (GetPathName().empty() && IDKind(LastID(FolderIDList.get())) != ItemKind::Results) {
    if (columns > 1) ListView->ClearColumns();
    if (ListView->ColumnCount() == 0) ListView->AddColumn(ColumnCaptions[0], ListView->ClientWidth() / 2, false);
    return;
  }
  if (columns > 1) return;
  ListView->ClearColumns();
  for (size_t i = 0; i < SavedColumnOrder.size() && i < kColumnCount; ++i) {
    int width = i < SavedColumnWidths.size() ? SavedColumnWidths[i] : 100;
    ListView->AddColumn(ColumnCaptions[i], width, i == 1);
  }
  ListView->SetColumnOrder(SavedColumnOrder);
}

bool TShellFileList::KeepVirtualItem(TShellFileItem* item, int level, TShItemIDType folderType) const {
  TShVirtuaItems virtuals = ListView ? ListView->GetShVirtuaItems() : DefaultShVirtuaItems();
  if (level == 0) {
    TShItemIDType type = item->GetItemType();
    if (type == itBitBucket) return virtuals.Contains(itBitBucket);
    if (type == itNetWork) return virtuals.Contains(itNetWork);
    return type != itVirtual;
  }
  if (level == 1) {
    if (folderType == itMyComputer) return item->GetItemType() != itVirtual || virtuals.Contains(itVirtual);
    if (folderType == itNetWork) return virtuals.Contains(itNetWork);
  }
  return true;
}

int TShellFileList::Enumerate(int level) {
  ShellFolderPtr folder;
  if (!GetFolder(folder)) return 0;
  uint32_t flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
  if (ListView && ListView->GetIncludeHidden()) flags |= SHCONTF_INCLUDEHIDDEN;
  // A folder read ahead is taken from the worker, already sorted.
  std::vector<IDListPtr> readIds;
  std::vector<std::unique_ptr<TShellFileItem>> readRows;
  bool sorted = false, stopped = false;
  reading_ = false;
  if (readAhead_) {
    if (readAhead_->Path() != GetPathName() || readAhead_->Flags() != flags) {
      readAhead_.reset();
    } else {
      // The limit holds for the first showing only; the next one takes any read.
      const size_t rowsInWait = std::exchange(readAheadRowsInWait_, SIZE_MAX);
      const bool over = readAhead_->Wait(static_cast<int>(std::max(0LL, readAheadDeadlineMs_ - SteadyMs())));
      if (!over || readAhead_->Count() > rowsInWait) {
        reading_ = true;
        return 0;
      }
      readRows = readAhead_->TakeRows();
      if (readRows.empty()) readIds = readAhead_->Take();
      stopped = readAhead_->Stopped();
      sorted = readAhead_->Column() == SortType && readAhead_->Order() == SortOrder[SortType] &&
               (SortType == 0 || SortType == 2);
      readAhead_.reset();
    }
  }
  std::unique_ptr<IEnumIDList> list;
  growing_.reset();
  focusWhenListed_.clear();
  // A read stopped by the user is not done again here, where it would hold the window.
  if (readIds.empty() && readRows.empty() && !stopped) {
    sorted = false;
    list = folder->EnumObjects(flags | SHCONTF_ENABLE_ASYNC);
    if (!list) return 0;
  }
  TShItemIDType folderType = level == 1 ? GetFolderType() : itUnknown;
  if (!readRows.empty()) {
    // Only the top levels hold rows that may be left out.
    if (level <= 1)
      std::erase_if(readRows, [&](const auto& row) { return !KeepVirtualItem(row.get(), level, folderType); });
    if (items_.empty())
      items_.swap(readRows);
    else
      for (auto& row : readRows) items_.push_back(std::move(row));
  } else {
    WaitCursor wait;
    items_.reserve(RowsWithRoom(items_.size() + readIds.size()));
    size_t next = 0;
    PItemIDList id = nullptr;
    while (list ? list->Next(id) : next < readIds.size()) {
      if (!list) id = readIds[next++].release();  // the row owns it from here
      auto item = std::make_unique<TShellFileItem>(this, id);
      if (!KeepVirtualItem(item.get(), level, folderType)) continue;
      items_.push_back(std::move(item));
    }
  }
  // Every row is sorted and kept, the masked out too: a change of the mask
  // then parts them again without a read.
  if (!sorted && (!GetPathName().empty() || SortType != 4))
    Sort(SortType);
  else
    SetSorted(sorted ? SortType : -1);
  std::vector<TShellFileItem*> all;
  std::vector<uint8_t> shown;
  SplitByFilter(all, shown);
  allRowsKept_ = true;
  if (list && list->Incomplete()) {
    growing_ = std::move(list);
    ++*alive_;
    ScheduleMoreRows();
  }
  return Count();
}

int TShellFileList::Populate() {
  // However the reading ends, the list is watched and painted again. The
  // folder shown is watched on through its read: a file made while a huge
  // folder is read is reported after it, not lost.
  const std::string shown = GetPathName();
  const bool same = !shown.empty() && NameWatcher && NameWatcher->GetPath() == shown && archiveFile_.empty();
  // Another folder of the disk is watched from before its read: the watch
  // is armed beside the read rather than after it.
  auto watching = BeginEnd(
      [this, same] {
        if (same) return;
        if (FolderIDList && IsArchiveIDList(FolderIDList.get()))
          SuspendWatching();
        else
          WatchShownFolder();
      },
      [this] { ResumeWatching(); });
  auto update = ItemsUpdate(ListView);
  ShellFolderPtr folder;
  if (GetFolder(folder)) {
    TViewStyle style = ListView ? ListView->GetViewStyle() : vsReport;
    Clear();
    if (ListView) {
      if (style == vsList && Count() > 0) ListView->MakeRowVisible(0);
      ListView->SetItemsCount(0);
      ListView->SetViewStyle(vsIcon);
    }
    ScopeGuard restoreStyle([this, style] {
      if (ListView) ListView->SetViewStyle(style);
    });
    // Rows kept before a failure stay shown, so the view never counts rows the list lacks.
    ScopeGuard showKept([this] {
      if (ListView) ListView->SetItemsCount(Count());
    });
    int found = Enumerate(GetLevel());
    showKept.Dismiss();
    if (ListView && found > 0) {
      ListView->SetItemsCount(found);
      ListView->SetFocusedRow(0);
    }
  }
  if (ListView) ListView->DoShListChange(this);
  return Count();
}

int TShellFileList::Compare(TShellFileItem* a, TShellFileItem* b, int column) {
  int result;
  if (!sortFolder_->CompareIDs(column, a->RelativeIDList.get(), b->RelativeIDList.get(), result)) return 0;
  return static_cast<int16_t>(result) * SortOrder[column];
}

// The classic quicksort of a pointer list: middle pivot, Hoare partitioning,
// recursion on the left part and iteration on the right.
void TShellFileList::QuickSort(int left, int right, int column) {
  int i, j;
  do {
    i = left;
    j = right;
    TShellFileItem* pivot = items_[(left + right) >> 1].get();
    do {
      while (Compare(items_[i].get(), pivot, column) < 0) ++i;
      while (Compare(items_[j].get(), pivot, column) > 0) --j;
      if (i <= j) {
        std::swap(items_[i], items_[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (left < j) QuickSort(left, j, column);
    left = i;
  } while (i < right);
}

void TShellFileList::Sort(int column) {
  // Rows in the order of their names give each its rank by its place.
  NameRanks ranks = nameRanked_ ? NameRanks::Stored : NameRanks::Unknown;
  if (sortedColumn_ == 0) ranks = sortedOrder_ > 0 ? NameRanks::Ascending : NameRanks::Descending;
  SetSorted(-1);
  // A sum part way through covers rows that move now; a whole one holds.
  if (!sizeTotalKnown_) RestartSizePrefetch();
  ForgetNameIndex();
  if (!IsColumn(column)) return;
  ShellFolderPtr folder;
  if (!GetFolder(folder)) return;
  // The masked out rows are sorted with the shown, so that a change of the
  // mask finds them in order.
  const bool masked = !allRows_.empty();
  if (masked) {
    std::vector<std::unique_ptr<TShellFileItem>> all;
    all.reserve(RowsWithRoom(allRows_.size()));
    for (auto& row : items_) static_cast<void>(row.release());
    for (auto& row : maskedOut_) static_cast<void>(row.release());
    for (TShellFileItem* row : allRows_) all.emplace_back(row);
    items_.swap(all);
    maskedOut_.clear();
    allRows_.clear();
  }
  ScopeGuard split([this, masked] {
    std::vector<TShellFileItem*> all;
    std::vector<uint8_t> shown;
    try {
      if (masked) SplitByFilter(all, shown);
    } catch (...) {
      // Out of memory: every row stays shown, none is lost.
    }
  });
  if (Count() < 2) {
    SetSorted(column);
    return;
  }
  try {
    if (column != 0) {
      // A watched folder's rows get fresh stat data with every change
      // reported; only the rows without any need the disk.
      const bool current = AttrWatcher && AttrWatcher->Watching() && AttrWatcher->GetPath() == GetPathName();
      std::vector<PItemIDList> ids;
      if (current && column == 1 && sizeTotalKnown_) {
        // The sizes were all read while idle and kept up with the changes.
      } else if (!current) {
        ids.reserve(items_.size());
        for (const auto& item : items_) ids.push_back(item->RelativeIDList.get());
      } else {
        // Looking at each row's ID waits on memory: done on all cores.
        std::mutex found;
        InParts(items_.size(), [&](size_t first, size_t last) {
          std::vector<PItemIDList> part;
          FileStat unused;
          for (size_t i = first; i < last; ++i) {
            FetchRowAhead(i, last, [&](size_t j) { return items_[j].get(); });
            if (!IDFileStat(items_[i]->RelativeIDList.get(), unused)) part.push_back(items_[i]->RelativeIDList.get());
          }
          std::lock_guard<std::mutex> hold(found);
          ids.insert(ids.end(), part.begin(), part.end());
        });
      }
      if (!ids.empty()) folder->PrepareCompare(column, ids.data(), ids.size());
    }
    // A folder of the file system orders its entries without a call through
    // the folder per comparison; a large one is sorted in parts at once.
    // Names are unique in a folder and every column ends on the name, so the
    // order is the same whichever way it is reached.
    std::string dir;
    if (dynamic_cast<FileSystemFolder*>(folder.get()) && GetLevel() >= 1) dir = GetPathName();
    if (!dir.empty()) {
      const int order = SortOrder[column];
      auto before = [&](const std::unique_ptr<TShellFileItem>& a, const std::unique_ptr<TShellFileItem>& b) {
        return CompareFileEntries(column, dir, a->RelativeIDList.get(), b->RelativeIDList.get()) * order < 0;
      };
      bool ranksStored = false;
      if (SortRowsByKeys(items_, column, order, dir, ranks, ranksStored))
        nameRanked_ = ranksStored;
      else
        SortInParallel(items_, before);
    } else {
      sortFolder_ = folder.get();
      QuickSort(0, Count() - 1, column);
    }
    SetSorted(column);
  } catch (...) {
    // A failed sort leaves the rows partly sorted; nothing to report.
  }
  sortFolder_ = nullptr;
}

void TShellFileList::SortByColumn(int column) {
  if (!ListView || !IsColumn(column)) return;
  if (GetPathName().empty() && column == 4) return;
  auto update = BeginEnd([this] { ListView->BeginSelUpdate(); },
                         [this] {
                           ListView->EndSelUpdate();
                           ListView->Repaint();
                           ListView->IdleWorkAdded();
                         });
  SortType = column;
  TShellFileItem* focused = Items(ListView->FocusedRow());
  // The selection is read and set again as spans: a million selected rows
  // are one span, not a million calls.
  const int n = Count();
  const std::vector<std::pair<int, int>> spans = ListView->SelectedSpans(n);
  int s = 0;
  for (const auto& [first, last] : spans) s += last - first + 1;
  // Of the selected and the unselected rows, the fewer are remembered.
  const bool rememberUnselected = n - s < s;
  std::vector<TShellFileItem*> remembered;
  int next = 0;
  for (const auto& [first, last] : spans) {
    for (int i = rememberUnselected ? next : first; i < (rememberUnselected ? first : last + 1); ++i)
      remembered.push_back(items_[i].get());
    next = last + 1;
  }
  for (; rememberUnselected && next < n; ++next) remembered.push_back(items_[next].get());
  Sort(column);
  // Finding each remembered item by a pass over the rows, not a search per item.
  std::vector<std::pair<int, int>> marked;
  if (!remembered.empty()) {
    std::sort(remembered.begin(), remembered.end());
    for (int i = 0; i < n; ++i)
      if (std::binary_search(remembered.begin(), remembered.end(), items_[i].get())) AppendToSpans(marked, i);
  }
  ListView->SelectAllRows(rememberUnselected);
  if (!rememberUnselected) {
    ListView->SelectSpans(marked);
  } else {
    for (const auto& [first, last] : marked)
      for (int row = first; row <= last; ++row) ListView->SetRowSelected(row, false);
  }
  if (focused) ListView->SetFocusedRow(IndexOf(focused));
}

void TShellFileList::SuspendWatching() {
  if (NameWatcher) NameWatcher->SetPath("");
  if (AttrWatcher) AttrWatcher->SetPath("");
}

void TShellFileList::WatchShownFolder() {
  std::string path = WatchedFolder();
  // inotify on a server's folder would wait on the server; a poll watches it.
  if (network::InFuseMount(path)) path.clear();
  if (NameWatcher) NameWatcher->SetPath(path);
  if (AttrWatcher) AttrWatcher->SetPath(path);
}

void TShellFileList::ResumeWatching() {
  WatchShownFolder();
  // A change right after this must be seen. The threads arm in microseconds,
  // but the first watch on a folder of a million files holds the kernel for
  // some 70 ms, as it marks every entry.
  if (NameWatcher) NameWatcher->WaitUntilArmed(200);
  if (AttrWatcher) AttrWatcher->WaitUntilArmed(200);
}

void TShellFileList::WatcherTerminated(TShFilesWatcher* watcher) {
  if (watcher == NameWatcher) NameWatcher = nullptr;
  if (watcher == AttrWatcher) AttrWatcher = nullptr;
}

void TShellFileList::RefreshFindDataAll() {
  for (const auto& item : items_) {
    // Rows never shown fetch fresh data when they are.
    if (item->HasFindData()) item->RefreshFindData();
    if (item->RelativeIDList) ClearIDFileStat(item->RelativeIDList.get());
  }
  RestartSizePrefetch();
}

void TShellFileList::FetchSizes(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, Count() - 1);
  if (first > last) return;
  ShellFolderPtr folder;
  if (GetPathName().empty() || !GetFolder(folder)) return;
  std::vector<PItemIDList> ids;
  FileStat unused;
  for (int i = first; i <= last; ++i) {
    const TShellFileItem* item = items_[i].get();
    if (item->HasFindData() || !item->RelativeIDList || (IDFlags(item->RelativeIDList.get()) & itemflag::kFolder))
      continue;
    if (!IDFileStat(item->RelativeIDList.get(), unused)) ids.push_back(item->RelativeIDList.get());
  }
  if (!ids.empty()) folder->PrepareCompare(1, ids.data(), ids.size());
}

bool TShellFileList::PrefetchSizes(int count) {
  // The names are indexed after the sizes: a total is the first wanted.
  if (prefetchCursor_ >= Count() && IndexMoreNames(count * 4)) return true;
  if (prefetchCursor_ < Count()) {
    int last = std::min(prefetchCursor_ + count, Count()) - 1;
    FetchSizes(prefetchCursor_, last);
    if (!sizeTotalKnown_)
      for (int i = prefetchCursor_; i <= last; ++i) sizeSum_ += items_[i]->GetSize();
    prefetchCursor_ = last + 1;
  }
  if (prefetchCursor_ < Count()) return true;
  sizeTotalKnown_ = true;
  return IndexMoreNames(0) || IndexMoreRowsByName(count * 4);
}

bool TShellFileList::IdleWorkLeft() const {
  const size_t total = RowsRead();
  return !sizeTotalKnown_ || nameAt_.size() < total || (RowsByNameWanted() && rowsByNameAt_ < total);
}

bool TShellFileList::SizeTotal(uint64_t& total) const {
  if (!sizeTotalKnown_) return false;
  total = sizeSum_;
  return true;
}

void TShellFileList::RestartSizePrefetch() {
  prefetchCursor_ = 0;
  sizeSum_ = 0;
  sizeTotalKnown_ = false;
}

void TShellFileList::ReadAhead(const std::string& path, int waitMs, size_t rowsInWait, std::function<void()> done) {
  readAhead_.reset();
  // A server's folder is not looked at here: the worker finds out.
  const bool remote = network::InFuseMount(path);
  IDListPtr id = !remote && FolderExists(path) ? PathToIDList(path) : nullptr;
  if (!id && !remote) return;
  // The name the list will know the folder by.
  std::string shown = remote ? path : IDListToPath(id.get());
  uint32_t flags = SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
  if (ListView && ListView->GetIncludeHidden()) flags |= SHCONTF_INCLUDEHIDDEN;
  const int column = IsColumn(SortType) ? SortType : 0;
  readAheadDeadlineMs_ = SteadyMs() + std::max(0, waitMs);
  readAheadRowsInWait_ = rowsInWait;
  readAhead_ = std::make_unique<FolderReadAhead>(shown, flags, column, SortOrder[column], std::move(done), this);
}

void TShellFileList::StopReading() {
  if (readAhead_) readAhead_->Stop();
  // A folder whose rows still come (a location listed through GIO): the rows so far stay.
  if (growing_) {
    growing_.reset();
    if (ListView) ListView->DoShListChange(this);
  }
}

void TShellFileList::FolderChanged(TShFilesWatcher* watcher, const std::string& path) {
  if (ArchiveFileChanged()) return;
  if (ListView && ListView->MouseDownOnItem()) {
    // The names of this report are lost: the next one reads the folder whole.
    changesMissed_ = true;
    return;
  }
  if (!FolderExists(path)) {
    auto update = ItemsUpdate(ListView);
    ScopeGuard showCount([this] {
      if (ListView) ListView->SetItemsCount(Count());
    });
    FreeFolderLists();
    Clear();
    PCItemIDList treeFolder = ListView ? ListView->LinkedTreeSelectedIDList() : nullptr;
    // Without a tree to follow, the list moves to the nearest folder that is
    // left, so it never shows one that is gone and every way out still works.
    // A copy: SetFolder may free what the tree handed us.
    IDListPtr folder = treeFolder ? IDListPtr(CopyIDList(treeFolder)) : PathToIDList(NearestExistingFolder(path));
    if (folder) SetFolder(folder.get());
    return;
  }
  std::vector<std::string> names;
  if (watcher && watcher->ChangedNames(names) && ApplyChangedNames(names)) return;
  if (watcher == NameWatcher) {
    Populate();
  } else if (watcher == AttrWatcher) {
    RefreshFindDataAll();
    if (ListView) ListView->Repaint();
  }
}
