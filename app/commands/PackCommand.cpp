// Packing the selection of the current pane into a new archive in the other
// pane's folder (Ctrl+P, and "圧縮..." in the list's menu).
#include <QAction>
#include <QMenu>

#include "app/MainForm.h"
#include "app/PackDialog.h"
#include "app/Pane.h"
#include "app/commands/ArchiveWriteRun.h"
#include "app/commands/Commands.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/system/Exception.h"

namespace {

// The focused item's name as the archive's: a file without its extension.
std::string DefaultStem(const std::string& path, bool folder) {
  std::string name = BaseName(path);
  size_t dot = name.rfind('.');
  if (!folder && dot != std::string::npos && dot > 0) name.resize(dot);
  return name.empty() ? std::string("archive") : name;
}

}  // namespace

void PackKey(TForm1& form, TPane& pane) {
  TShellListView* list = pane.List;
  TShellListView* other = form.OtherPane(pane).List;
  if (!list || !other || RefuseOnLocation(form, list) || RefuseOnLocation(form, other)) return;
  if (IsArchiveIDList(list->FolderIDList())) {
    form.Hooks.ShowMessage(
        QStringLiteral("書庫の中の項目はまとめられません。いったんフォルダーへ取り出してください。"));
    return;
  }
  const std::string folder = list->GetPathName();
  const std::vector<std::string> names = SelectedNamesInFolder(list);
  if (names.empty() || folder.empty()) return;
  const std::string destination = other->GetPathName();
  if (destination.empty() || IsArchiveIDList(other->FolderIDList()) || !FolderExists(destination)) {
    form.Hooks.ShowMessage(QStringLiteral("反対側のペインにフォルダーを開いてから圧縮してください。"));
    return;
  }
  std::string focused = form.FocusedItemPath(list);
  if (focused.empty()) focused = JoinPath(folder, names[0]);
  TPackDialog dialog(&form, DefaultStem(focused, FolderExists(focused)), destination, static_cast<int>(names.size()));
  if (dialog.exec() != QDialog::Accepted) return;
  PackRequest request = dialog.Choice();
  request.sourceFolder = folder;
  request.names = names;
  uint64_t total = 0;
  for (const std::string& name : names) total += CountPackItems(JoinPath(folder, name));
  other->SuspendWatching();
  ArchiveWriteResult result =
      RunArchiveWrite(form, QStringLiteral("圧縮しています: %1").arg(QString::fromStdString(BaseName(request.target))),
                      total, [&](const ArchiveWriteProgress& progress) { return PackArchive(request, progress); });
  other->RefreshList();
  other->ResumeWatching();
  if (result.ok) {
    form.FocusItemByCaption(BaseName(request.target), other);
  } else if (!result.cancelled) {
    form.Hooks.ShowMessage(QString::fromStdString(result.message));
  }
}

void AddPackEntry(TForm1& form, QMenu* menu) {
  QAction* pack = menu->addAction(QStringLiteral("圧縮(&P)...\tCtrl+P"));
  pack->setObjectName("Pack1");
  QObject::connect(pack, &QAction::triggered, &form, [&form] {
    Guarded([&] {
      if (TPane* pane = form.CurrentPane()) PackKey(form, *pane);
    });
  });
}
