// Renaming many files at once, and comparing and synchronising the two panes:
// which list, which names, and the lists' menu entries.
#include <QAction>
#include <QMenu>

#include "app/CompareDialogs.h"
#include "app/MainForm.h"
#include "app/Pane.h"
#include "app/RenameManyDialog.h"
#include "app/commands/Commands.h"
#include "platform/namespace/PathText.h"
#include "platform/state/LineList.h"
#include "platform/system/Exception.h"

void RenameManyKey(TForm1& form, TPane& pane) {
  TShellListView* list = pane.List;
  if (RefuseOnLocation(form, list)) return;
  TLineList paths;
  form.SelectedPaths(list, paths);
  std::string folder = list->GetPathName();
  std::vector<std::string> names;
  // Only what lies in the folder shown; items of a virtual folder have no name there.
  for (const std::string& path : paths.Lines)
    if (DirName(path) == folder) names.push_back(BaseName(path));
  if (names.empty()) return;
  list->SuspendWatching();
  RenameMany(&form, folder, names);
  list->RefreshList();
  list->ResumeWatching();
}

void CompareKey(TForm1& form, TPane&) {
  if (!RefuseOnLocation(form, form.LV1) && !RefuseOnLocation(form, form.LV2)) CompareCommand(&form, form.LV1, form.LV2);
}

void SyncKey(TForm1& form, TPane&) {
  if (!RefuseOnLocation(form, form.LV1) && !RefuseOnLocation(form, form.LV2)) SyncCommand(&form, form.LV1, form.LV2);
}

void TForm1::AddRenameCompareMenu() {
  QAction* rename = PopupMenu1->addAction(QStringLiteral("名前の一括変更...\tCtrl+M"));
  rename->setObjectName("RenameMany1");
  connect(rename, &QAction::triggered, this, [this] {
    Guarded([&] {
      if (TPane* pane = CurrentPane()) RenameManyKey(*this, *pane);
    });
  });
  QAction* compare = PopupMenu1->addAction(QStringLiteral("フォルダの比較...\tCtrl+K"));
  compare->setObjectName("CompareFolders1");
  connect(compare, &QAction::triggered, this, [this] { Guarded([&] { CompareKey(*this, Left); }); });
  QAction* sync = PopupMenu1->addAction(QStringLiteral("フォルダの同期...\tCtrl+Y"));
  sync->setObjectName("SyncFolders1");
  connect(sync, &QAction::triggered, this, [this] { Guarded([&] { SyncKey(*this, Left); }); });
}
