// Locations listed through GIO (no FUSE path): leaving their folders, and the
// commands on them, each taken through GIO on a worker or refused.
#include <QDir>
#include <QInputDialog>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>

#include "app/MainForm.h"
#include "app/Pane.h"
#include "app/WorkerRun.h"
#include "app/commands/Commands.h"
#include "archive/ArchiveFile.h"
#include "platform/desktop/DropTarget.h"
#include "platform/fileops/FileOperation.h"
#include "platform/fileops/ReplaceBeside.h"
#include "platform/namespace/LocationPath.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/IDList.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/network/GioOperations.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"

namespace {
// Private copies of a server's files: 0700, whatever the umask.
constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
}  // namespace

bool LeaveLocationFolder(TForm1& form, TPane& pane) {
  PCItemIDList current = pane.List->FolderIDList();
  if (!current || !IsLocationIDList(current)) return false;
  // The server's root has nothing above it in the location.
  if (CountIDs(current) <= 1) return true;
  IDListPtr parent(CopyParentIDList(current));
  if (!parent) return true;
  const std::string name(IDPayloadText(LastID(current)));
  pane.List->SetFolderIDList(parent.get());
  // Back on the row it was entered from, once that row has come.
  form.FocusItemByCaption(name, pane.List);
  return true;
}

namespace {

// The last job's undo, while no other operation came after it.
struct PendingUndo {
  std::vector<network::GioUndoStep> steps;
  uint64_t journalMark = 0;
};
PendingUndo& LastGioUndo() {
  static PendingUndo pending;
  return pending;
}

bool ShowsLocation(TShellListView* list) { return list && IsLocationIDList(list->FolderIDList()); }

// The lists that show a location are read again: no watch tells them.
void RefreshLocations(TForm1& form) {
  for (TShellListView* list : {form.LV1, form.LV2})
    if (ShowsLocation(list) && list->isVisible()) list->RefreshList();
}

std::vector<std::string> SelectedItems(TForm1& form, TShellListView* list) {
  TLineList paths;
  form.SelectedPaths(list, paths);
  return paths.Lines;
}

// The last name of a location's item, unescaped.
std::string PlainName(const std::string& uri) {
  std::string root;
  std::vector<std::string> names;
  return SplitLocationUri(uri, root, names) && !names.empty() ? names.back() : std::string();
}

QString Bracketed(const std::string& text) { return QStringLiteral("「%1」").arg(QString::fromStdString(text)); }

}  // namespace

namespace {

// Copies or moves sources (paths and locations' URIs) into folder through
// GIO; the job's undo becomes the pending one. false when something failed.
bool TransferThroughGio(TForm1& form, const std::vector<std::string>& sources, const std::string& folder, bool move) {
  IFileOperationUI* ui = DefaultFileOperationUI(&form);
  if (!ui || sources.empty()) return false;
  network::GioJob job(ui);
  const FileOperationResult result = network::RunGioJob(job, ui, [&] { return job.Transfer(sources, folder, move); });
  std::vector<network::GioUndoStep> steps = job.TakeUndo();
  if (!steps.empty()) LastGioUndo() = {std::move(steps), FileOperationJournal::Instance().Mark()};
  RefreshLocations(form);
  return result.code == 0;
}

// Why sources cannot go to folder through GIO; empty when they can. The
// archives' own ways take paths on the disk only.
QString RefusedTransfer(bool fromArchive, const std::string& folder) {
  if (fromArchive || (!IsLocationFolderPath(folder) && !FolderExists(folder)))
    return QStringLiteral("ネットワークの場所と%1の間ではコピーや移動ができません。")
        .arg(Bracketed(folder.empty() ? std::string("このフォルダ") : folder));
  return {};
}

}  // namespace

bool TransferWithLocation(TForm1& form, TShellListView* list, const std::string& folder, bool move) {
  if (!ShowsLocation(list) && !IsLocationFolderPath(folder)) return false;
  const std::vector<std::string> sources = SelectedItems(form, list);
  if (sources.empty()) return true;
  if (const QString why = RefusedTransfer(IsArchiveIDList(list->FolderIDList()), folder); !why.isEmpty()) {
    form.Hooks.ShowMessage(why);
    return true;
  }
  return TransferThroughGio(form, sources, folder, move);
}

void InstallLocationDropHandler() {
  DropHandler before = CurrentDropHandler();
  SetDropHandler([before](const std::vector<std::string>& sources, const std::string& folder, uint32_t effect) {
    const bool location = IsLocationFolderPath(folder) ||
                          std::any_of(sources.begin(), sources.end(), [](auto& s) { return IsLocationFolderPath(s); });
    if (!location) return before && before(sources, folder, effect);
    TForm1* form = MainWindow();
    if (!form) return false;
    const bool fromArchive = std::any_of(sources.begin(), sources.end(), [](const std::string& source) {
      return !IsLocationFolderPath(source) && IsArchiveFolderPath(DirName(source));
    });
    QString why = RefusedTransfer(fromArchive, folder);
    if (effect == DROPEFFECT_LINK) why = QStringLiteral("ネットワークの場所ではリンクを作れません。");
    if (!why.isEmpty()) {
      form->Hooks.ShowMessage(why);
      return false;
    }
    const bool move = effect == DROPEFFECT_MOVE;
    return TransferThroughGio(*form, sources, folder, move);
  });
}

bool DeleteInLocation(TForm1& form, TShellListView* list) {
  if (!ShowsLocation(list)) return false;
  const std::vector<std::string> items = SelectedItems(form, list);
  IFileOperationUI* ui = DefaultFileOperationUI(&form);
  if (items.empty() || !ui) return true;
  network::GioJob job(ui);
  network::RunGioJob(job, ui, [&] { return job.Delete(items); });
  RefreshLocations(form);
  return true;
}

bool MakeLocationFolder(TForm1& form, TShellListView* list, const QString& name) {
  if (!ShowsLocation(list)) return false;
  if (name.contains('/')) {
    form.Hooks.ShowMessage(
        QStringLiteral("ネットワークの場所では、フォルダは一つずつ作ってください (「/」は使えません)。"));
    return true;
  }
  const std::string folder = list->GetPathName();
  std::string why;
  RunOnWorker(
      &form, QStringLiteral("フォルダを作っています"),
      [&] { why = network::MakeFolderThroughGio(folder, name.toStdString()); }, [] { return 0; }, [] {});
  if (!why.empty()) form.Hooks.ShowMessage(QString::fromStdString(why));
  RefreshLocations(form);
  if (why.empty()) form.FocusItemByCaption(name.toStdString(), list);
  return true;
}

bool RenameInLocation(TForm1& form, TShellListView* list) {
  if (!ShowsLocation(list)) return false;
  for (const std::string& item : SelectedItems(form, list)) {
    const QString old = QString::fromStdString(PlainName(item));
    const QString name = AskNewItemName(form, old);
    if (name.isEmpty()) continue;
    std::string why;
    RunOnWorker(
        &form, QStringLiteral("名前を変えています"), [&] { why = network::RenameThroughGio(item, name.toStdString()); },
        [] { return 0; }, [] {});
    if (!why.empty()) form.Hooks.ShowMessage(QString::fromStdString(why));
  }
  RefreshLocations(form);
  return true;
}

bool UndoLocationJob(TForm1& form) {
  PendingUndo& pending = LastGioUndo();
  if (pending.steps.empty() || pending.journalMark != FileOperationJournal::Instance().Mark()) return false;
  IFileOperationUI* ui = DefaultFileOperationUI(&form);
  if (!ui) return false;
  const std::vector<network::GioUndoStep> steps = std::move(pending.steps);
  pending.steps.clear();
  network::GioJob job(ui);
  network::RunGioJob(job, ui, [&] {
    job.Undo(steps);
    return FileOperationResult{};
  });
  RefreshLocations(form);
  return true;
}

std::string LocationPreviewFile(TForm1& form, TShellListView* list) {
  const std::string uri = form.FocusedItemPath(list);
  TShellFileItem* item = list->FileList()->Items(list->FocusedRow());
  const std::string ext = TForm1::PreviewExtension(uri);
  // Only what a preview shows is read from the server.
  if (uri.empty() || !item || item->HasAttribute(SFGAO_FOLDER) || (!form.IsImageFile(ext) && !form.IsTextFile(ext)))
    return {};
  static QTemporaryDir copies(QDir::tempPath() + QStringLiteral("/tolvane-location-XXXXXX"));
  static int made = 0;
  // A folder per copy: a name seen again never meets the last copy.
  const QString number = QString::number(++made);
  const std::string folder = copies.path().toStdString() + "/" + number.toStdString();
  if (!copies.isValid() || !QDir(copies.path()).mkdir(number, kOwnerOnly)) {
    form.Hooks.ShowMessage(QStringLiteral("一時フォルダを作れません。"));
    return {};
  }
  const std::string path = folder + "/" + PlainName(uri);
  std::string why;
  std::atomic<bool> stop{false};
  RunOnWorker(
      &form, QStringLiteral("読み込んでいます: %1").arg(QString::fromStdString(PlainName(uri))),
      [&] { why = network::DownloadThroughGio(uri, path, stop); }, [] { return 0; }, [&] { stop = true; });
  if (why.empty()) return path;
  form.Hooks.ShowMessage(QString::fromStdString(why));
  return {};
}

bool RefuseOnLocation(TForm1& form, TShellListView* list) {
  if (!ShowsLocation(list)) return false;
  form.Hooks.ShowMessage(
      QStringLiteral("この操作は、FUSE で開いていないネットワークの場所ではできません。\n"
                     "gvfs-fuse を入れてログインし直すと、場所がフォルダとして開き、使えるようになります。"));
  return true;
}

bool ExtractOnLocation(TForm1& form, TShellListView* list) {
  if (!ShowsLocation(list)) return false;
  const std::string uri = form.FocusedItemPath(list);
  TShellFileItem* item = list->FileList()->Items(list->FocusedRow());
  const std::string name = PlainName(uri);
  // Only an archive by its name; what it holds is judged from the copy here.
  if (name.empty() || !item || item->HasAttribute(SFGAO_FOLDER) || DetectArchiverType(name, true) == atNone)
    return true;
  const std::string folder = list->GetPathName();
  QTemporaryDir work(QDir::tempPath() + QStringLiteral("/tolvane-extract-XXXXXX"));
  const std::string root = work.path().toStdString();
  const std::string from = root + "/archive", out = root + "/out";
  if (!work.isValid() || !QDir(work.path()).mkdir(QStringLiteral("archive"), kOwnerOnly) ||
      !QDir(work.path()).mkdir(QStringLiteral("out"), kOwnerOnly)) {
    form.Hooks.ShowMessage(QStringLiteral("一時フォルダを作れません。"));
    return true;
  }
  {
    IFileOperationUI* ui = DefaultFileOperationUI(&form);
    if (!ui) return true;
    network::GioJob job(ui);
    if (network::RunGioJob(job, ui, [&] { return job.Transfer({uri}, from, false); }).code != 0) return true;
  }
  const std::string archive = from + "/" + name;
  // A link on the server came as a link: only the file itself is opened.
  FileIdentity identity;
  std::string error;
  if (!ReadFileIdentity(archive, identity, error)) {
    form.Hooks.ShowMessage(
        QStringLiteral("通常のファイルではないため展開できません: %1").arg(QString::fromStdString(uri)));
    return true;
  }
  if (ExtractArchiveInto(form, archive, out) != 0) {
    form.Hooks.ShowMessage(
        QStringLiteral("%1を展開できなかったため、場所へは何も送りませんでした。").arg(Bracketed(name)));
    return true;
  }
  std::vector<std::string> came;
  std::error_code listError;
  for (const auto& entry : std::filesystem::directory_iterator(out, listError)) came.push_back(entry.path().string());
  // Up beside the archive: a folder there already takes the new items, each name asked about.
  if (!came.empty()) TransferThroughGio(form, came, folder, false);
  form.FocusItemByCaption(name, list);
  return true;
}
