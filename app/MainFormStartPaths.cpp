// Folders and files named on the command line.
#include <QTabBar>

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "platform/namespace/PathText.h"
#include "shell/ShellListView.h"

void TForm1::OpenStartPaths(const std::vector<std::string>& paths) {
  std::string missing;
  for (const std::string& path : paths) {
    TStartPath start = ResolveStartPath(path);
    if (start.folder.empty()) {
      missing += "\n" + path;
      continue;
    }
    // The tab gets its caption from the listing when it is shown.
    Path1SL.Add(start.folder);
    startTab_ = Path1SL.Count() - 1;
    startFocusFile_ = start.file;
  }
  if (!missing.empty()) ShowMessage(QString::fromStdString("次のパスが見つかりません。" + missing));
}

void TForm1::FocusStartFile() {
  // A huge folder's rows come after the first paint; their arrival calls again.
  if (startFocusFile_.empty() || LV1->Reading()) return;
  TShellFileList* list = LV1->FileList();
  for (int row = 0; row < list->Count(); ++row) {
    if (list->Items(row)->GetItemPath() == startFocusFile_) {
      // Selected too, so the commands that act on the selection take it.
      LV1->SelectAllRows(false);
      LV1->SetRowSelected(row, true);
      LV1->SetFocusedRow(row);
      LV1->MakeRowVisible(row);
      break;
    }
  }
  startFocusFile_.clear();
}
