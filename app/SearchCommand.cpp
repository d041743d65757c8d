#include "app/SearchCommand.h"

#include <QLabel>
#include <QMenu>
#include <QTabBar>
#include <set>
#include <sys/stat.h>

#include "app/FormSearch.h"
#include "app/MainForm.h"
#include "app/Pane.h"
#include "platform/namespace/FolderEntries.h"
#include "platform/namespace/PathText.h"
#include "platform/state/LineList.h"
#include "platform/state/StateFolder.h"
#include "platform/system/Exception.h"
#include "shell/actions/NameMasks.h"

namespace {

std::string HistoryFile() { return LogFolder() + "/SearchHistory.txt"; }

// The encoded query of the results folder a list shows; empty for any other folder.
std::string ShownKey(TShellListView* list) {
  SearchQuery query;
  return list && SearchQueryOf(list->FolderIDList(), query) ? query.Encode() : std::string();
}

// Rows whose file is there now; compared with the rows shown, it tells when a
// file went (deleted from the results) or came back (an undo).
constexpr size_t kCheckedHitsLimit = 20000;
size_t ExistingHits(const SearchResults& store) {
  size_t count = 0;
  struct stat st;
  for (const SearchHit& hit : store.Hits()) count += lstat(hit.path.c_str(), &st) == 0;
  return count;
}

}  // namespace

TSearchController* TSearchController::Of(TForm1* form) {
  if (auto* existing =
          form->findChild<TSearchController*>(QStringLiteral("searchController"), Qt::FindDirectChildrenOnly))
    return existing;
  return new TSearchController(form);
}

TSearchController::TSearchController(TForm1* form) : QObject(form), form_(form) {
  setObjectName(QStringLiteral("searchController"));
  RegisterSearchResultsFolders();
  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Guarded([&] { Tick(); }); });
  AskQuery = [this](TShellListView* list, SearchQuery& query) { return AskWithDialog(list, query); };
}

std::vector<SearchQuery> TSearchController::History() {
  TLineList lines;
  lines.LoadFromFile(HistoryFile());
  std::vector<SearchQuery> queries;
  for (const std::string& line : lines.Lines) {
    SearchQuery q;
    if (SearchQuery::Decode(line, q)) queries.push_back(std::move(q));
  }
  return queries;
}

void TSearchController::AddToHistory(const SearchQuery& query) {
  TLineList lines;
  lines.LoadFromFile(HistoryFile());
  const std::string line = query.Encode();
  for (int at = lines.IndexOf(line); at >= 0; at = lines.IndexOf(line)) lines.Delete(at);
  lines.Insert(0, line);
  while (lines.Count() > kHistoryLimit) lines.Delete(lines.Count() - 1);
  CreateFolderChain(LogFolder());
  lines.SaveToFile(HistoryFile());
}

bool TSearchController::AskWithDialog(TShellListView* list, SearchQuery& query) {
  // From a results tab, the folder that was searched.
  SearchQuery shown;
  std::string folder = SearchQueryOf(list->FolderIDList(), shown) ? shown.folder : list->GetPathName();
  if (folder.empty()) folder = HomeDirectory();
  std::vector<std::string> folders{folder};
  for (const TLineList* lines : {&form_->HistoryPath1, &form_->HistoryPath2})
    for (const std::string& line : lines->Lines) folders.push_back(line);
  TFormSearch dialog(form_, folder, folders, History());
  const bool accepted = dialog.exec() == QDialog::Accepted;
  // Without a window manager to hand it back, the window stays inactive once
  // the dialog has gone, and the keys (CC on the hits) go nowhere.
  form_->activateWindow();
  list->setFocus(Qt::OtherFocusReason);
  QString message;
  return accepted && dialog.Query(query, message);
}

void TSearchController::OpenDialog(TShellListView* list) {
  if (!list) return;
  SearchQuery query;
  if (!AskQuery || !AskQuery(list, query)) return;
  AddToHistory(query);
  Start(list, query);
}

void TSearchController::Start(TShellListView* list, const SearchQuery& query) {
  if (!list) return;
  // A search asked for again runs again, whatever an earlier one found.
  const std::string key = query.Encode();
  jobs_.erase(key);
  SearchResults::Drop(key);
  Run(query);
  if (!Running(key) && jobs_.count(key) == 0) return;  // it could not start; the message was shown
  const std::string line = SearchParseName(query);
  QTabBar* tabs = form_->PaneOf(list)->Tabs;
  if (form_->Life.ListsLoaded) form_->PaneOf(list)->Lines.Add(line);
  tabs->setCurrentIndex(tabs->addTab(QString::fromStdString(TabCaption(line))));
  Show(list, line);
  list->setFocus();
}

void TSearchController::Run(const SearchQuery& query) {
  const std::string key = query.Encode();
  Job job;
  job.store = SearchResults::Of(key);
  job.store->Clear();
  std::shared_ptr<SearchResults> store = job.store;
  auto masks = std::make_shared<NameMasks>(query.masks);
  job.search = std::make_unique<FileSearch>(
      query, [masks](std::string_view name) { return masks->Matches(name); },
      [this, store](std::vector<SearchHit>&& hits) {
        const bool first = store->Count() == 0;
        store->Add(std::move(hits));
        // The first hits show at once, not at the next tick.
        if (first)
          QMetaObject::invokeMethod(
              this, [this] { Guarded([&] { Tick(); }); }, Qt::QueuedConnection);
      });
  if (!job.search->Start()) {
    form_->Hooks.ShowMessage(QString::fromStdString(job.search->Error()));
    return;
  }
  jobs_[key] = std::move(job);
  timer_.start();
}

bool TSearchController::Running(const std::string& key) const {
  auto it = jobs_.find(key);
  return it != jobs_.end() && it->second.search->Running();
}

void TSearchController::Show(TShellListView* list, const std::string& line) {
  SearchQuery query;
  if (!list || !IsSearchParseName(line) || !SearchQuery::Decode(line.substr(kSearchParsePrefix.size()), query)) return;
  if (jobs_.count(query.Encode()) == 0) Run(query);  // a tab kept from the last session
  PItemIDList id = SearchResultsIDList(query);
  shown_.erase(list);
  list->SetFolderIDList(id);
  FreeIDList(id);
  timer_.start();
  Follow(list);
}

bool TSearchController::Stop(TShellListView* list) {
  auto it = jobs_.find(ShownKey(list));
  if (it == jobs_.end() || !it->second.search->Running()) return false;
  it->second.search->Cancel();
  Follow(list);
  return true;
}

bool TSearchController::OpenHitFolder(TShellListView* list, TShellFileItem* item) {
  if (!item || ShownKey(list).empty()) return false;
  const std::string path = item->GetItemPath();
  if (path.empty()) return true;
  const std::string folder = DirName(path);
  QTabBar* tabs = form_->PaneOf(list)->Tabs;
  if (form_->Life.ListsLoaded) form_->PaneOf(list)->Lines.Add(folder);
  tabs->setCurrentIndex(tabs->addTab(QString()));
  list->SetPathName(folder);
  for (int row = 0; row < list->FileList()->Count(); ++row) {
    TShellFileItem* candidate = list->FileList()->Items(row);
    if (candidate && candidate->GetItemPath() == path) {
      list->SelectAllRows(false);
      list->SetFocusedRow(row);
      list->SetRowSelected(row, true);
      list->MakeRowVisible(row);
      break;
    }
  }
  return true;
}

std::string TSearchController::TabLine(TShellListView* list) {
  SearchQuery query;
  return list && SearchQueryOf(list->FolderIDList(), query) ? SearchParseName(query) : std::string();
}

std::string TSearchController::TabCaption(const std::string& line) {
  SearchQuery query;
  if (!IsSearchParseName(line) || !SearchQuery::Decode(line.substr(kSearchParsePrefix.size()), query)) return "検索";
  return SearchResultsTitle(query);
}

void TSearchController::Tick() {
  ++ticks_;
  // A search that no tab shows any more stops.
  std::set<std::string> wanted;
  for (TShellListView* list : {form_->LV1, form_->LV2}) {
    if (!form_->Life.ListsLoaded) break;
    for (const std::string& line : form_->PaneOf(list)->Lines.Lines)
      if (SearchQuery q; IsSearchParseName(line) && SearchQuery::Decode(line.substr(kSearchParsePrefix.size()), q))
        wanted.insert(q.Encode());
  }
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    bool shown = ShownKey(form_->LV1) == it->first || ShownKey(form_->LV2) == it->first;
    if (form_->Life.ListsLoaded && !shown && wanted.count(it->first) == 0) {
      it->second.search->Cancel();
      SearchResults::Drop(it->first);
      it = jobs_.erase(it);
    } else {
      ++it;
    }
  }
  bool any = false;
  for (TShellListView* list : {form_->LV1, form_->LV2}) {
    if (ShownKey(list).empty()) continue;
    any = true;
    Follow(list);
  }
  if (!any && std::none_of(jobs_.begin(), jobs_.end(), [](const auto& j) { return j.second.search->Running(); }))
    timer_.stop();
}

void TSearchController::Follow(TShellListView* list) {
  const std::string key = ShownKey(list);
  auto it = jobs_.find(key);
  if (it == jobs_.end()) return;
  const SearchResults& store = *it->second.store;
  const uint64_t generation = store.Generation();
  bool refresh = shown_.count(list) == 0 || shown_[list] != generation;
  // Once a second, files that went (a delete) or came back (its undo) are seen.
  if (!refresh && ticks_ % (1000 / kTickMs) == 0 && store.Count() <= kCheckedHitsLimit)
    refresh = ExistingHits(store) != static_cast<size_t>(list->FileList()->Count());
  if (refresh && !list->IsEditingLabel()) {
    shown_[list] = generation;
    RefreshKeepingSelection(list);
  }
  StatusText(list, key);
}

void TSearchController::RefreshKeepingSelection(TShellListView* list) {
  TShellFileList* rows = list->FileList();
  std::string focused;
  if (TShellFileItem* item = rows->Items(list->FocusedRow())) focused = item->GetItemPath();
  std::set<std::string> selected;
  for (int row = list->NextSelectedRow(-1); row >= 0; row = list->NextSelectedRow(row))
    if (TShellFileItem* item = rows->Items(row)) selected.insert(item->GetItemPath());
  list->RefreshList();
  if (focused.empty() && selected.empty()) return;
  list->SelectAllRows(false);
  for (int row = 0; row < rows->Count(); ++row) {
    TShellFileItem* item = rows->Items(row);
    const std::string path = item ? item->GetItemPath() : std::string();
    if (selected.count(path)) list->SetRowSelected(row, true);
    if (path == focused) list->SetFocusedRow(row);
  }
}

void TSearchController::StatusText(TShellListView* list, const std::string& key) {
  auto it = jobs_.find(key);
  if (it == jobs_.end()) return;
  const SearchProgress p = it->second.search->Progress();
  QString text = p.running ? QStringLiteral("検索中… ") : QStringLiteral("検索終了　");
  text += QStringLiteral("%1 件　フォルダ %2 個").arg(list->FileList()->Count()).arg(p.folders);
  if (p.unreadable) text += QStringLiteral("　読めないフォルダ %1 個").arg(p.unreadable);
  if (p.running) text += QStringLiteral("　") + QString::fromUtf8(p.current);
  QLabel* status = form_->PaneOf(list)->Status;
  status->setText(text);
  // The folders that could not be read, listed where the count is.
  QString tip;
  if (p.unreadable) {
    tip = QStringLiteral("読めないフォルダ:");
    for (const std::string& folder : it->second.search->UnreadableFolders()) tip += "\n" + QString::fromUtf8(folder);
  }
  status->setToolTip(tip);
}

// --- The window's keys and menu entry -------------------------------------------------

void FindFilesKey(TForm1& form, TPane& pane) { TSearchController::Of(&form)->OpenDialog(pane.List); }

void StopSearchKey(TForm1& form, TPane& pane) { TSearchController::Of(&form)->Stop(pane.List); }

void AddFindFilesEntry(TForm1& form, QMenu* menu) {
  QAction* find = menu->addAction(QStringLiteral("ファイルを検索(&F)...\tCtrl+F"));
  find->setObjectName("FindFiles1");
  QObject::connect(find, &QAction::triggered, &form, [&form] {
    Guarded([&] {
      TShellListView* list = form.CurrentList();
      TSearchController::Of(&form)->OpenDialog(list ? list : form.LV1);
    });
  });
}
