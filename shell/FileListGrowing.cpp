// Rows that come late: a folder still read (an archive being listed) hands
// its rows over in batches, taken here on the window's thread between paints.
// And a folder inside an archive file is watched through that file.
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "shell/ShellFileList.h"

namespace {
// Often enough that rows seem to stream in, seldom enough that sorting them in stays cheap.
constexpr int kBatchMs = 60;
}  // namespace

void TShellFileList::ScheduleMoreRows() {
  std::weak_ptr<unsigned> alive = alive_;
  // A timer of a folder left meanwhile finds another round and lets it be.
  QTimer::singleShot(kBatchMs, QCoreApplication::instance(), [this, alive, round = *alive_] {
    if (alive.lock() && *alive_ == round) TakeMoreRows();
  });
}

void TShellFileList::FocusWhenListed(const std::string& name) {
  focusWhenListed_ = Growing() && ListView ? name : std::string();
  focusedSince_ = focusWhenListed_.empty() ? nullptr : Items(ListView->FocusedRow());
}

TShellFileItem* TShellFileList::TakeFocusWhenListed(const std::vector<std::unique_ptr<TShellFileItem>>& added) {
  if (focusWhenListed_.empty()) return nullptr;
  // A focus moved since the last batch is the user's: it stays where they put it.
  if (!ListView || Items(ListView->FocusedRow()) != focusedSince_) {
    focusWhenListed_.clear();
    return nullptr;
  }
  for (const auto& item : added) {
    if (BaseName(item->GetItemPath()) != focusWhenListed_ && item->GetDisplayName() != focusWhenListed_) continue;
    focusWhenListed_.clear();
    return item.get();
  }
  return nullptr;
}

void TShellFileList::TakeMoreRows() {
  if (!growing_) {
    focusWhenListed_.clear();
    return;
  }
  const int level = GetLevel();
  const TShItemIDType folderType = level == 1 ? GetFolderType() : itUnknown;
  std::vector<std::unique_ptr<TShellFileItem>> added;
  PItemIDList id = nullptr;
  while (growing_->Next(id)) {
    auto item = std::make_unique<TShellFileItem>(this, id);
    if (!KeepVirtualItem(item.get(), level, folderType) || (ListView && !ListView->DoShFilter(item.get()))) continue;
    added.push_back(std::move(item));
  }
  const bool more = growing_->Incomplete();
  if (!more) growing_.reset();
  if (!added.empty() || !more) {
    // Rows came after the mask's split and the names' ranks: both made again when next needed.
    if (!allRows_.empty()) ForgetMaskedOut();
    allRowsKept_ = false;
    nameRanked_ = false;
    if (!added.empty()) {
      RestartSizePrefetch();
      ForgetNameIndex();
    }
  }
  TShellFileItem* wanted = TakeFocusWhenListed(added);
  if (!added.empty() && ListView) {
    // The focus and the selection stay on their rows wherever these land.
    TShellFileItem* focused = wanted ? wanted : Items(ListView->FocusedRow());
    std::vector<TShellFileItem*> selected;
    for (int row = 0; row < Count() && static_cast<int>(selected.size()) < ListView->SelectedCount(); ++row)
      if (ListView->IsRowSelected(row)) selected.push_back(items_[row].get());
    ShellFolderPtr folder;
    const int column = SortType;
    if (sortedColumn_ == column && IsColumn(column) && GetFolder(folder)) {
      // The rows there are in order already: the new ones are sorted and merged in.
      sortFolder_ = folder.get();
      auto before = [&](const auto& a, const auto& b) { return Compare(a.get(), b.get(), column) < 0; };
      std::sort(added.begin(), added.end(), before);
      const auto middle = static_cast<std::ptrdiff_t>(items_.size());
      for (auto& item : added) items_.push_back(std::move(item));
      std::inplace_merge(items_.begin(), items_.begin() + middle, items_.end(), before);
      sortFolder_ = nullptr;
    } else {
      for (auto& item : added) items_.push_back(std::move(item));
      if (IsColumn(column)) Sort(column);
    }
    ListView->BeginItemsUpdate();
    ListView->SetItemsCount(Count());
    for (TShellFileItem* item : selected) ListView->SetRowSelected(IndexOf(item), true);
    ListView->SetFocusedRow(focused ? IndexOf(focused) : 0);
    ListView->EndItemsUpdate();
    if (wanted) ListView->MakeRowVisible(IndexOf(wanted));
  }
  if (!more) focusWhenListed_.clear();
  if (!focusWhenListed_.empty()) focusedSince_ = Items(ListView->FocusedRow());
  if (ListView && (!added.empty() || !more)) ListView->DoShListChange(this);
  if (more) ScheduleMoreRows();
}

std::string TShellFileList::WatchedFolder() {
  archiveFile_.clear();
  const std::string path = GetPathName();
  if (!FolderIDList || !IsArchiveIDList(FolderIDList.get())) return path;
  // Inside an archive the file on the disk is watched: the first name along the path that is no folder.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (!FolderExists(prefix)) {
      if (!ReadFileVersion(prefix, archiveVersion_)) return {};
      archiveFile_ = prefix;
      return DirName(prefix);
    }
    if (slash == std::string::npos) return path;
  }
}

bool TShellFileList::ArchiveFileChanged() {
  if (archiveFile_.empty()) return false;
  FileVersion now;
  if (ReadFileVersion(archiveFile_, now) && now == archiveVersion_) return true;
  if (!NonFolderExists(archiveFile_)) {
    // Gone: the list goes to the folder that held it.
    IDListPtr folder = PathToIDList(NearestExistingFolder(DirName(archiveFile_)));
    if (folder) SetFolder(folder.get());
    return true;
  }
  // Another archive now, or the same one changed: bound and listed again.
  folder_.reset();
  Populate();
  return true;
}
