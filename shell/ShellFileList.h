#pragma once
// The model behind one folder list view: the folder shown, its items after the
// owner's filter, sorted through the folder's own comparison, re-read when the
// folder changes on disk. The view stores no rows; it fetches them by index.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/system/FileKind.h"
#include "shell/RowsByName.h"
#include "shell/ShellCtrls.h"

class FolderReadAhead;
class TShFilesWatcher;

// What the list needs of the view that owns it.
class IShellFileListOwner {
 public:
  virtual ~IShellFileListOwner() = default;

  virtual bool GetIncludeHidden() const = 0;
  virtual TShVirtuaItems GetShVirtuaItems() const = 0;
  virtual TViewStyle GetViewStyle() const = 0;
  virtual void SetViewStyle(TViewStyle style) = 0;
  // The window exists and is not between being destroyed and re-created.
  virtual bool HandleAllocated() const = 0;
  virtual bool RecreatingWnd() const = 0;
  // A mouse button went down on a row and is still held (a drag may start).
  virtual bool MouseDownOnItem() const = 0;

  virtual void SetItemsCount(int count) = 0;
  virtual void BeginItemsUpdate() = 0;
  virtual void EndItemsUpdate() = 0;
  virtual void BeginSelUpdate() = 0;
  virtual void EndSelUpdate() = 0;
  virtual bool IsRowSelected(int row) const = 0;
  virtual void SetRowSelected(int row, bool selected) = 0;
  virtual void SelectAllRows(bool selected) = 0;
  // The selected rows as spans first..last, ascending and apart; and
  // selecting such spans, the other rows left as they are. A view that keeps
  // its selection as ranges answers both without a pass over the rows.
  virtual std::vector<std::pair<int, int>> SelectedSpans(int rows) const {
    std::vector<std::pair<int, int>> spans;
    for (int row = 0, n = SelectedCount() > 0 ? rows : 0; row < n; ++row) {
      if (!IsRowSelected(row)) continue;
      if (!spans.empty() && spans.back().second == row - 1)
        spans.back().second = row;
      else
        spans.emplace_back(row, row);
    }
    return spans;
  }
  virtual void SelectSpans(const std::vector<std::pair<int, int>>& spans) {
    for (const auto& [first, last] : spans)
      for (int row = first; row <= last; ++row) SetRowSelected(row, true);
  }
  virtual int SelectedCount() const = 0;
  virtual int FocusedRow() const = 0;  // -1 when none
  virtual void SetFocusedRow(int row) = 0;
  virtual void MakeRowVisible(int row) = 0;
  // One row came in at row, or left from it; the rows after it moved. The
  // owner keeps its selection, focus and scroll on the same rows.
  virtual void RowInserted(int row) = 0;
  virtual void RowRemoved(int row) = 0;
  // Selected rows took new sizes in place: their sum went from was to now.
  virtual void SelectedSizeChanged(uint64_t /*was*/, uint64_t /*now*/) {}
  virtual void Repaint() = 0;
  // One row took new contents in place.
  virtual void RepaintRow(int /*row*/) { Repaint(); }

  virtual int ColumnCount() const = 0;
  virtual std::vector<int> ColumnOrder() const = 0;
  virtual int ColumnWidth(int column) const = 0;
  virtual void ClearColumns() = 0;
  virtual void AddColumn(const std::string& caption, int width, bool rightAligned) = 0;
  virtual void SetColumnOrder(const std::vector<int>& order) = 0;
  virtual int ClientWidth() const = 0;

  virtual bool DoShFilter(TShellFileItem* item) = 0;
  // A test of a folder entry's name alone, the same as DoShFilter gives for
  // its row, that may run on several threads at once; empty when only
  // DoShFilter can tell. A million rows are parted on all cores with it.
  virtual std::function<bool(std::string_view)> NameFilter() { return {}; }
  // DoShFilter lets every row through now (a mask of all files).
  virtual bool FilterPassesAll() { return false; }
  virtual void DoShListChange(TShellFileList* list) = 0;
  // Sizes or names are to be read ahead again (IdleWorkLeft) after a change.
  virtual void IdleWorkAdded() {}
  // The linked tree's selected folder; null without a tree.
  virtual PCItemIDList LinkedTreeSelectedIDList() const = 0;
};

// The list's columns: name, size, type, modification time, attributes.
constexpr int kColumnCount = 5;
extern const char* const ColumnCaptions[kColumnCount];
inline bool IsColumn(int column) { return column >= 0 && column < kColumnCount; }
// Room for the rows of a folder and some that may come: a new file must not
// move a million rows to a larger array.
inline size_t RowsWithRoom(size_t rows) { return rows + rows / 64 + 16; }

class TShellFileList {
 public:
  explicit TShellFileList(IShellFileListOwner* listView, bool runTime = true);
  ~TShellFileList();
  TShellFileList(const TShellFileList&) = delete;
  TShellFileList& operator=(const TShellFileList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  TShellFileItem* Items(int index) const;
  int IndexOf(const TShellFileItem* item) const;
  void Clear();

  int GetLevel() const;
  std::string GetPathName() const;
  bool GetFolder(ShellFolderPtr& folder);
  bool GetParentFolder(ShellFolderPtr& folder);
  PCItemIDList GetFolderParentIDList();
  PCItemIDList GetFolderLastID();
  bool FolderHasAttribute(uint32_t mask);
  TShItemIDType GetFolderType();
  std::unique_ptr<IDropTarget> GetFolderDropTarget();
  TShellIDList* GetSelectedIDList();
  TViewStyle ViewStyle() const { return ListView ? ListView->GetViewStyle() : vsReport; }

  void DeleteSelected();
  void SetFolder(PCItemIDList idList);
  int Populate();
  void Sort(int column);
  void SortByColumn(int column);
  // Shows the rows the owner's filter lets through now, of those the folder
  // was read with, in the order they have; false when the folder must be
  // read again. Focus and selection stay on the rows still shown.
  bool ApplyFilter();
  void SuspendWatching();
  // Watches the folder shown, and waits until the watch is armed.
  void ResumeWatching();
  void WatcherTerminated(TShFilesWatcher* watcher);
  // Reads the sizes of rows first..last that have none yet, on two threads.
  void FetchSizes(int first, int last);
  // Reads the sizes of up to count more rows in the background order; false
  // when every row has one (a selection sum then never waits on the disk).
  bool PrefetchSizes(int count);
  // The sizes of all rows added up, once the pass above has been over every
  // row; false until then. Selecting all or inverting then needs no pass.
  bool SizeTotal(uint64_t& total) const;
  // Sizes or names are still to be read ahead.
  bool IdleWorkLeft() const;
  // Every row can be found by its name at once, as the rows sorted by a
  // column other than the name need for the changes reported.
  bool RowsFoundByName() const { return rowsByNameAt_ == RowsRead(); }
  // The entry name of a shown row from the index of names, when that index
  // holds every shown row in order; empty otherwise (EntryName tells then).
  std::string_view IndexedName(int row) const {
    if (!allRows_.empty() || nameAt_.size() != items_.size() || row < 0 || row >= Count()) return {};
    const char* at = names_.data() + nameAt_[static_cast<size_t>(row)];
    return {at + 1, static_cast<unsigned char>(*at)};
  }
  void FolderChanged(TShFilesWatcher* watcher, const std::string& path);
  // Takes out the rows of the names and puts in what the folder holds under
  // them now, each in its place; false when the folder must be read whole.
  bool ApplyChangedNames(const std::vector<std::string>& names);
  // A row took a new name in place: its place in the order is not known.
  void RowRenamed() {
    sortedColumn_ = -1;
    nameRanked_ = false;
    ForgetNameIndex();
  }
  // Reads the folder path on a worker, sorted as this list sorts now; the
  // next Populate of that folder takes the read, waiting for it at most until
  // waitMs after this call. A read not over by then leaves the list empty and
  // Reading() true; so does a read of more than rowsInWait rows, which the
  // next Populate takes in any case. done runs on the worker when it is over.
  void ReadAhead(const std::string& path, int waitMs, size_t rowsInWait, std::function<void()> done);
  bool Reading() const { return reading_; }
  bool ReadsAhead() const { return readAhead_ != nullptr; }
  // The folder is still read: more rows come in batches.
  bool Growing() const { return growing_ != nullptr; }
  // Ends the read under way early: the next Populate shows what it found.
  void StopReading();
  // The focus goes to the row of name once it comes in a later batch, unless
  // the user moves the focus first or the folder is left or read again.
  void FocusWhenListed(const std::string& name);
  // The name the focus waits for; empty when none.
  const std::string& FocusAwaited() const { return focusWhenListed_; }

  int SortType = 0;
  std::array<int, kColumnCount> SortOrder{1, 1, 1, 1, 1};
  std::vector<int> SavedColumnOrder{0, 1, 2, 3, 4};
  std::vector<int> SavedColumnWidths{200, 80, 120, 120, 50};
  IShellFileListOwner* ListView;  // not owned
  IDListPtr FolderIDList;
  IDListPtr FolderParentIDList;
  IDListPtr FolderLastID;
  TShellIDList Selection;
  TShFilesWatcher* NameWatcher = nullptr;
  TShFilesWatcher* AttrWatcher = nullptr;

 private:
  int Enumerate(int level);
  bool KeepVirtualItem(TShellFileItem* item, int level, TShItemIDType folderType) const;
  int Compare(TShellFileItem* a, TShellFileItem* b, int column);
  void QuickSort(int left, int right, int column);
  void FreeFolderLists();
  void ApplyColumns();
  void RefreshFindDataAll();
  // Rows of a folder still read: taken in batches on the window's thread.
  void ScheduleMoreRows();
  void TakeMoreRows();
  // The row of the name waited for among rows just come, if it is there.
  TShellFileItem* TakeFocusWhenListed(const std::vector<std::unique_ptr<TShellFileItem>>& added);
  // The folder the watchers watch: the one shown, or for a folder inside an
  // archive the folder that holds the archive file (remembered with its version).
  std::string WatchedFolder();
  // Sets the watchers on the folder shown without waiting for them.
  void WatchShownFolder();
  // For a folder inside an archive: reads the list again when the archive file
  // changed and leaves it when it has gone; false when the list is no such folder.
  bool ArchiveFileChanged();
  // Parts the rows into the shown and the masked out by the owner's filter,
  // the order kept; all gets every row read, in order, and shown whether the
  // filter shows it.
  void SplitByFilter(std::vector<TShellFileItem*>& all, std::vector<uint8_t>& shown);
  // The masked out rows are let go: the rows shown are all the list knows.
  void ForgetMaskedOut();
  // Adds the names of up to count more rows to the index; false when every
  // row is in it.
  bool IndexMoreNames(int count);
  // Both indexes of the names: the one in the order of the rows and the one
  // that finds a row by its name.
  void ForgetNameIndex();
  void ForgetNamesInRowOrder();
  // Only for an order the names do not give: sizes, times, attributes.
  bool RowsByNameWanted() const { return sortedColumn_ == 1 || sortedColumn_ == 3 || sortedColumn_ == 4; }
  // Adds up to count more rows to the index by name; false when it is whole.
  bool IndexMoreRowsByName(int count);
  // Empties the index by name, with at rows counted in it: 0 to make it
  // again, SIZE_MAX when it is given up for want of memory.
  void DropRowsByName(size_t at) {
    rowsByName_.Clear();
    rowsByNameAt_ = at;
  }
  // Every row read, shown and masked out.
  size_t RowsRead() const { return allRows_.empty() ? items_.size() : allRows_.size(); }
  // The index by name after the rows left went and the rows came came.
  void RowsByNameFollow(const std::vector<TShellFileItem*>& left, const std::vector<TShellFileItem*>& came);
  // The index after rows left from gone (places before) and came in at
  // insertedAt (places after, rising); false when it was let go instead.
  bool MoveNameIndex(const std::vector<size_t>& gone, const std::vector<int>& insertedAt);

  std::vector<std::unique_ptr<TShellFileItem>> items_;
  // Rows of the folder the filter left out, and every row read in the order
  // of items_; empty when nothing is masked out.
  std::vector<std::unique_ptr<TShellFileItem>> maskedOut_;
  std::vector<TShellFileItem*> allRows_;
  // items_ and maskedOut_ hold every row the folder was read with.
  bool allRowsKept_ = false;
  ShellFolderPtr folder_;  // bound folder of FolderIDList, cached
  IShellFolder* sortFolder_ = nullptr;
  int prefetchCursor_ = 0;
  // The sizes of rows before prefetchCursor_, or of all rows once known.
  uint64_t sizeSum_ = 0;
  bool sizeTotalKnown_ = false;
  // The entry names of all rows (allRows_ when masked, else items_) one after
  // another in the order of the rows, each after a byte of its length, with
  // where each begins: a mask tests a million names in one sweep of memory
  // rather than by a visit to each row and ID, which lie scattered in the
  // order of the folder's read. Made while idle, behind the sizes.
  std::vector<char> names_;
  std::vector<uint32_t> nameAt_;
  // Made while idle in the same order, after the other index; rowsByNameAt_
  // rows are in it, SIZE_MAX when it was given up for want of memory.
  RowsByName rowsByName_;
  size_t rowsByNameAt_ = 0;
  // The pass over the sizes starts again, the total unknown until it ends.
  void RestartSizePrefetch();
  std::unique_ptr<FolderReadAhead> readAhead_;
  long long readAheadDeadlineMs_ = 0;  // steady clock
  size_t readAheadRowsInWait_ = SIZE_MAX;
  bool reading_ = false;
  // The column and direction the rows are in order of; -1 when not known.
  int sortedColumn_ = -1;
  int sortedOrder_ = 0;
  bool changesMissed_ = false;            // a report was let go since the folder was read
  bool nameRanked_ = false;               // every row's NameRank is its place among the names
  std::unique_ptr<IEnumIDList> growing_;  // the enumeration of a folder still read
  std::string focusWhenListed_;
  const TShellFileItem* focusedSince_ = nullptr;  // where the focus was when the last batch came
  // For the timer of the next batch: gone with the list, counts the folders that grew.
  std::shared_ptr<unsigned> alive_ = std::make_shared<unsigned>(0);
  std::string archiveFile_;  // the archive file the shown folder lies in, if any
  FileVersion archiveVersion_;
  void SetSorted(int column) {
    sortedColumn_ = column;
    sortedOrder_ = IsColumn(column) ? SortOrder[column] : 0;
  }
};
