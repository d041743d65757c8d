// The file commands: copy and move between the panes or to a folder chosen
// from the destination menu, delete to the trash and empty it, a new folder,
// renaming one by one, and undo. Copy, move and delete go through the
// file-operation engine with undo, so its confirmations, conflicts, progress
// and errors are what the user sees.
#include <QLineEdit>
#include <QMenu>
#include <QString>

#include "app/Form2.h"
#include "app/InputNewDirDlg.h"
#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "platform/ui/ContextMenu.h"
#include "platform/fileops/ErrorText.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/FolderEntries.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/network/Location.h"
#include "platform/system/TrailingSlash.h"

namespace {

QString Shown(const std::string& path) { return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())); }

// Copies or moves the current pane's selection into the other pane's folder.
void TransferToOtherPane(TForm1& form, bool move) {
  TPane* pane = form.CurrentPane();
  if (!pane) return;
  TShellListView* source = pane->List;
  TShellListView* target = form.OtherPane(*pane).List;
  // A preview covers a pane's list: a copy would land where nobody sees it.
  if (!move && (source->isHidden() || target->isHidden())) return;
  const std::string destination = target->GetPathName();
  if (destination.empty()) {
    // A shell folder (the computer, the trash) is no place for files.
    if (source->SelectedCount() > 0)
      form.Hooks.ShowMessage(move ? QStringLiteral("このフォルダへは移動できません。")
                                  : QStringLiteral("このフォルダへはコピーできません。"));
    return;
  }
  // The target is re-read once when everything has arrived, not once per file.
  auto suspended = target->SuspendedWatching();
  if (form.TryTransferSelection(source, destination, move)) target->RefreshList();
}

// Tags of the destination menu: copy from the left pane, then from the right; move likewise.
constexpr int kCopyTag = 0;
constexpr int kMoveTag = 2;

void PopDestinations(TForm1& form, int firstTag) {
  TPane* pane = form.CurrentPane();
  if (!pane) return;
  form.Menus.CopyPopupTag = firstTag + pane->Index();
  QAction* chosen = form.Hooks.ExecPopup(form.CopyPopup, form.MenuPoint(form.CopyPopup));
  // The entry the menu answers is the one clicked, also inside a submenu.
  form.CopyListClick(chosen);
}

// Why a typed folder name cannot be used; empty when it can.
QString BadFolderName(const QString& name) {
  for (const QString& part : name.split('/', Qt::SkipEmptyParts))
    if (part == "." || part == "..") return QStringLiteral("フォルダ名に「.」や「..」は使えません。");
  if (name.split('/', Qt::SkipEmptyParts).isEmpty()) return QStringLiteral("フォルダ名を入力してください。");
  return {};
}

}  // namespace

void CCExecute(TForm1& form) { TransferToOtherPane(form, false); }

void MMExecute(TForm1& form) { TransferToOtherPane(form, true); }

void CExecute(TForm1& form) { PopDestinations(form, kCopyTag); }

void MExecute(TForm1& form) { PopDestinations(form, kMoveTag); }

void DExecute(TForm1& form) {
  TShellListView* list = form.CurrentList();
  if (!list) return;
  if (DeleteInLocation(form, list) || DeleteOnFusePath(form, list)) return;
  // Inside an archive: its entries go through the library's delete call, never the trash's.
  if (IsArchiveIDList(list->FolderIDList())) {
    DeleteInArchive(form, list);
    return;
  }
  FileOperationRequest request;
  request.function = FO_DELETE;
  request.sources = form.SelectedShortPaths(list);
  request.flags = FOF_ALLOWUNDO;
  request.owner = &form;
  if (request.sources.empty()) return;
  // The engine asks and reports; the pane follows through its watching.
  RunFileOperation(request);
}

void DDExecute(TForm1& form) { EmptyRecycleBin(DefaultFileOperationUI(&form)); }

void KExecute(TForm1& form) {
  TShellListView* list = form.CurrentList();
  if (!list) return;
  std::string folder = list->GetPathName();
  if (folder.empty()) return;  // a shell folder has no place for one
  TInputNewDirDlg dialog(&form);
  // A location's FUSE path is shown as the location it is.
  const std::string uri = network::InFuseMount(folder) ? network::UriOfLocalPath(folder) : std::string();
  dialog.SetInitialDir(uri.empty() ? folder : uri);
  if (dialog.exec() != QDialog::Accepted) return;
  QString name = dialog.edtDirName->text();
  QString bad = BadFolderName(name);
  if (!bad.isEmpty()) {
    form.Hooks.ShowMessage(bad);
    return;
  }
  if (MakeLocationFolder(form, list, name) || MakeFolderOnFusePath(form, list, name)) return;
  const std::string path = WithoutTrailingSlash(dialog.GetNewDirPath());
  if (FolderExists(path)) {
    form.Hooks.ShowMessage(QStringLiteral("同じ名前のフォルダが既にあります。\n") + Shown(path));
    return;
  }
  if (int error = CreateFolderChain(path))
    form.Hooks.ShowMessage(QStringLiteral("フォルダを作成できません。\n") + Shown(path) + "\n" +
                           QString::fromStdString(SystemErrorText(error)));
}

void RExecute(TForm1& form) {
  TShellListView* list = form.CurrentList();
  if (!list || RenameInLocation(form, list) || RenameOnFusePath(form, list)) return;
  list->SuspendWatching();
  // The list that stopped watching is the one re-read and resumed, wherever
  // the focus went meanwhile; also when a failure ends the series.
  auto finish = [list] {
    list->RefreshList();
    list->ResumeWatching();
  };
  try {
    TLineList paths;
    form.SelectedPaths(list, paths);
    TForm2 dialog(&form);
    for (const std::string& path : paths.Lines) {
      dialog.SetFileName(path);
      dialog.exec();  // OK renames, never over another file; Cancel skips this one
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void UndoKey(TForm1& form, TPane&) {
  if (UndoLocationJob(form)) return;
  // The same undo as the list menu's entry.
  if (FileOperationJournal::Instance().CanUndo()) UndoLastOperationLater(&form);
}
