// Archives as folders in the lists: Enter on an archive goes into it, on an
// entry inside one takes the entry out into the private cache and opens it;
// the parent key leaves an archive for the folder that holds it.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "archive/ArchiveCache.h"
#include "archive/ArchiveCopyOut.h"
#include "archive/ArchiveFolder.h"
#include "platform/desktop/DropTarget.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/system/Exception.h"

namespace {

// Runs work on a worker thread while the window goes on answering.
template <class Work>
void RunAside(Work&& work) {
  std::atomic<bool> done{false};
  QEventLoop loop;
  std::thread worker([&] {
    work();
    done = true;
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  if (!done) loop.exec();
  worker.join();
}

// Esc anywhere in the program stops an extraction, as the progress window's cancel does.
class EscapeStops : public QObject {
 public:
  explicit EscapeStops(std::atomic<bool>& stop) : stop_(stop) { qApp->installEventFilter(this); }
  ~EscapeStops() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) return false;
    stop_ = true;
    return true;
  }

 private:
  std::atomic<bool>& stop_;
};

// Runs an extraction aside; after a moment the progress window shows, and its
// cancel (or Esc) stops the extraction at the next entry. True when stopped.
bool RunExtraction(QWidget* owner, size_t entries, const std::function<void(const EntryHook&)>& work) {
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> done{0};
  std::mutex currentLock;
  std::string current;
  EntryHook hook = [&](const std::string& name, bool starts, bool& abort) {
    if (starts) {
      ++done;
      std::lock_guard lock(currentLock);
      current = name;
    }
    if (stop) abort = true;
  };
  IFileOperationUI* ui = DefaultFileOperationUI(owner);
  QElapsedTimer clock;
  clock.start();
  auto progress = [&] {
    FileOperationProgress p;
    p.function = FO_COPY;
    {
      std::lock_guard lock(currentLock);
      p.currentFile = current;
    }
    p.itemsDone = done;
    p.itemsTotal = entries;
    p.secondsElapsed = static_cast<double>(clock.elapsed()) / 1000;
    return p;
  };
  bool shown = false;
  QTimer timer;
  timer.setInterval(100);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!ui) return;
    if (!shown && clock.elapsed() >= 500) {
      ui->ProgressStarted(progress());
      shown = true;
    } else if (shown) {
      ui->ProgressChanged(progress());
      if (ui->CancelRequested()) stop = true;
    }
  });
  timer.start();
  {
    EscapeStops escape(stop);
    RunAside([&] { work(hook); });
  }
  timer.stop();
  if (shown) ui->ProgressFinished();
  return stop;
}

// One entry taken into the private cache for a preview or for opening; empty when stopped.
std::string CachedEntryAside(TForm1& form, const std::string& archive, const std::string& inner) {
  std::string error, file;
  const bool stopped =
      RunExtraction(&form, 1, [&](const EntryHook& hook) { file = CachedEntryFile(archive, inner, error, hook); });
  if (stopped) return {};
  if (file.empty()) throw Exception(error);
  return file;
}

}  // namespace

bool OpenArchiveItem(TForm1& form, TShellListView* list, TShellFileItem* item) {
  if (!list || !item || !item->RelativeIDList) return false;
  // A copy: the row may be read again while the archive is listed.
  IDListPtr owned(CopyIDList(item->GetAbsoluteIDList()));
  PCItemIDList absolute = owned.get();
  if (!absolute || !IsArchiveIDList(absolute)) return false;
  const bool inside = IDKind(LastID(absolute)) == ItemKind::ArchiveEntry;
  ShellFolderPtr folder = BindAbsoluteIDList(absolute);
  if (auto* archive = dynamic_cast<ArchiveFolder*>(folder.get())) {
    std::string error;
    // Only the opening is waited for (aside): the rows come while the rest is read.
    std::shared_ptr<ArchiveListingReading> reading;
    bool opened = false;
    RunAside([&] {
      reading = archive->StartListing(error);
      opened = reading && reading->WaitOpened(error);
    });
    if (opened) {
      list->SetFolderIDList(absolute);
      return true;
    }
    // A file of the disk that no library reads after all opens as a file.
    if (!inside) return false;
    throw Exception(error);
  }
  if (!inside) return false;
  ShellFolderPtr holder;
  auto* parent = list->FileList()->GetFolder(holder) ? dynamic_cast<ArchiveFolder*>(holder.get()) : nullptr;
  if (!parent) return false;
  const std::string archive = parent->Archive(), inner = parent->Inner();
  const std::string name(IDPayloadText(LastID(absolute)));
  const std::string file = CachedEntryAside(form, archive, inner.empty() ? name : inner + "/" + name);
  if (!file.empty()) form.OpenItem(file);
  return true;
}

bool LeaveArchiveFolder(TForm1& form, TPane& pane) {
  PCItemIDList current = pane.List->FolderIDList();
  if (!current || !IsArchiveIDList(current)) return false;
  IDListPtr parent(CopyParentIDList(current));
  if (!parent) return false;
  const std::string name = TForm1::LastPathComponent(pane.List->GetPathName());
  pane.List->SetFolderIDList(parent.get());
  // Back on the row it was entered from.
  form.FocusItemByCaption(name, pane.List);
  return true;
}

namespace {

// The named entries of an archive's folder extracted straight into a folder of
// the disk, then put in place with the usual conflict question and undo.
bool CopyEntriesOut(QWidget* owner, ArchiveFolder& archive, const std::vector<std::string>& names,
                    const std::string& folder) {
  std::string error;
  std::shared_ptr<const ArchiveListing> listing;
  // The listing may still be read: waited for aside.
  RunAside([&] { listing = archive.Listing(&error); });
  if (!listing) throw Exception(error);
  ArchiveCopyOutRequest request;
  request.shownArchive = archive.Archive();
  request.inner = archive.Inner();
  request.destination = folder;
  request.owner = owner;
  for (const std::string& name : names) {
    std::vector<std::string> below =
        listing->StoredNamesBelow(request.inner.empty() ? name : request.inner + "/" + name);
    // A folder that exists only as paths is brought by its entries.
    request.stored.insert(request.stored.end(), below.begin(), below.end());
    if (!below.empty()) request.names.push_back(name);
  }
  if (request.names.empty() || folder.empty()) return false;
  request.archive = LocalArchiveFile(archive.Archive(), error);
  if (request.archive.empty()) throw Exception(error);
  ArchiveCopyOut copy(std::move(request));
  bool extracted = false;
  if (RunExtraction(owner, copy.Entries(), [&](const EntryHook& hook) { extracted = copy.Extract(error, hook); }))
    return false;
  if (!extracted) throw Exception(error);
  return copy.Place() == 0;
}

}  // namespace

bool TransferOutOfArchive(TForm1& form, TShellListView* list, const std::string& folder) {
  ShellFolderPtr holder;
  auto* archive = list && list->FileList()->GetFolder(holder) ? dynamic_cast<ArchiveFolder*>(holder.get()) : nullptr;
  if (!archive) return false;
  std::vector<std::string> names;
  for (int row = list->NextSelectedRow(-1); row >= 0; row = list->NextSelectedRow(row)) {
    TShellFileItem* item = list->FileList()->Items(row);
    if (item && IDKind(item->RelativeIDList.get()) == ItemKind::ArchiveEntry)
      names.emplace_back(IDPayloadText(item->RelativeIDList.get()));
  }
  return CopyEntriesOut(&form, *archive, names, folder);
}

// The main window whose folder took a drop (it may come from another program).
TForm1* MainWindow() {
  if (auto* form = qobject_cast<TForm1*>(QApplication::activeWindow())) return form;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* form = qobject_cast<TForm1*>(widget)) return form;
  return nullptr;
}

namespace {

// Files of one folder of the disk dropped on an archive's folder are added to
// the archive; a move sends them to the trash once the archive holds them.
bool DropIntoArchive(const std::vector<std::string>& sources, const std::string& folder, uint32_t effect) {
  TForm1* form = MainWindow();
  if (!form || sources.empty()) return false;
  const std::string from = DirName(sources.front());
  QString refusal;
  if (effect == DROPEFFECT_LINK)
    refusal = QStringLiteral("書庫の中にはリンクを作れません。");
  else if (IsArchiveFolderPath(from))
    refusal = QStringLiteral("書庫の中の項目は直接書庫へ入れられません。いったんフォルダーへ取り出してください。");
  else if (!std::all_of(sources.begin(), sources.end(), [&](const std::string& s) { return DirName(s) == from; }))
    refusal =
        QStringLiteral("別々のフォルダーの項目は一度に書庫へ入れられません。フォルダーごとにドロップしてください。");
  if (!refusal.isEmpty()) {
    form->Hooks.ShowMessage(refusal);
    return false;
  }
  std::vector<std::string> names;
  for (const std::string& s : sources) names.push_back(BaseName(s));
  bool done = false;
  Guarded([&] { done = AddIntoArchive(*form, from, names, folder, effect == DROPEFFECT_MOVE); });
  return done;
}

}  // namespace

void InstallArchiveDropHandler() {
  DropHandler before = CurrentDropHandler();
  SetDropHandler([before](const std::vector<std::string>& sources, const std::string& folder, uint32_t effect) {
    if (IsArchiveFolderPath(folder)) return DropIntoArchive(sources, folder, effect);
    // Entries of one archive's folder dropped on a folder of the disk are copied out; the archive never changes.
    const std::string from = sources.empty() ? std::string() : DirName(sources.front());
    const bool outOfArchive =
        !from.empty() && IsArchiveFolderPath(from) && !IsArchiveFolderPath(folder) &&
        std::all_of(sources.begin(), sources.end(), [&](const std::string& s) { return DirName(s) == from; });
    if (!outOfArchive || effect == DROPEFFECT_LINK) return before && before(sources, folder, effect);
    IDListPtr id = PathToIDList(from);
    ShellFolderPtr bound = id ? BindAbsoluteIDList(id.get()) : nullptr;
    auto* archive = dynamic_cast<ArchiveFolder*>(bound.get());
    if (!archive) return false;
    std::vector<std::string> names;
    for (const std::string& s : sources) names.push_back(BaseName(s));
    bool done = false;
    Guarded([&] { done = CopyEntriesOut(QApplication::activeWindow(), *archive, names, folder); });
    return done;
  });
}

std::string FocusedPreviewFile(TForm1& form, TShellListView* list) {
  if (IsLocationIDList(list->FolderIDList())) return LocationPreviewFile(form, list);
  std::string path = form.FocusedItemPath(list);
  if (path.empty() || !IsArchiveIDList(list->FolderIDList())) return path;
  const std::string ext = TForm1::PreviewExtension(path);
  // Only what a preview shows is taken out.
  if (!form.IsImageFile(ext) && !form.IsTextFile(ext)) return path;
  ShellFolderPtr holder;
  auto* archive = list->FileList()->GetFolder(holder) ? dynamic_cast<ArchiveFolder*>(holder.get()) : nullptr;
  if (!archive || path.size() <= archive->Archive().size() + 1) return {};
  return CachedEntryAside(form, archive->Archive(), path.substr(archive->Archive().size() + 1));
}
