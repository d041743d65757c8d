// The window's side of renaming many files and of comparing and
// synchronising the panes: which list, which names, and the menu entries.
#include <QAction>
#include <QMenu>

#include "app/CompareDialogs.h"
#include "app/MainForm.h"
#include "app/RenameManyDialog.h"
#include "platform/namespace/PathText.h"
#include "platform/system/Exception.h"
#include "platform/state/LineList.h"

void TForm1::RenameManyKey(TShellListView* sender) {
  if (!sender) return;
  TLineList paths;
  SelectedPaths(sender, paths);
  std::string folder = sender->GetPathName();
  std::vector<std::string> names;
  // Only what lies in the folder shown; items of a virtual folder have no name there.
  for (const std::string& path : paths.Lines)
    if (DirName(path) == folder) names.push_back(BaseName(path));
  if (names.empty()) return;
  sender->SuspendWatching();
  RenameMany(this, folder, names);
  sender->RefreshList();
  sender->ResumeWatching();
}

void TForm1::CompareKey(TShellListView*) { CompareCommand(this, LV1, LV2); }

void TForm1::SyncKey(TShellListView*) { SyncCommand(this, LV1, LV2); }

void TForm1::AddRenameCompareMenu() {
  QAction* rename = PopupMenu1->addAction(QStringLiteral("名前の一括変更...\tCtrl+M"));
  rename->setObjectName("RenameMany1");
  connect(rename, &QAction::triggered, this, [this] { Guarded([&] { RenameManyKey(CurrentList()); }); });
  QAction* compare = PopupMenu1->addAction(QStringLiteral("フォルダの比較...\tCtrl+K"));
  compare->setObjectName("CompareFolders1");
  connect(compare, &QAction::triggered, this, [this] { Guarded([&] { CompareKey(nullptr); }); });
  QAction* sync = PopupMenu1->addAction(QStringLiteral("フォルダの同期...\tCtrl+Y"));
  sync->setObjectName("SyncFolders1");
  connect(sync, &QAction::triggered, this, [this] { Guarded([&] { SyncKey(nullptr); }); });
}
