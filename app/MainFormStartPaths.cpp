// Folders and files named on the command line, at the start or handed over
// by a later start.
#include <QTabBar>

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "platform/namespace/PathText.h"
#include "shell/ShellListView.h"

namespace {

// Calls open with the pane's list for each path that leads somewhere, left
// ones first; returns the others, one a line.
template <class Open>
std::string OpenEach(TShellListView* left, const std::vector<std::string>& paths, TShellListView* right,
                     const std::vector<std::string>& rightPaths, Open open) {
  std::string missing;
  for (const auto& [list, names] : {std::pair{left, &paths}, std::pair{right, &rightPaths}})
    for (const std::string& path : *names) {
      TStartPath start = ResolveStartPath(path);
      if (start.folder.empty())
        missing += "\n" + path;
      else
        open(list, start);
    }
  return missing;
}

}  // namespace

void TForm1::OpenStartPaths(const std::vector<std::string>& paths, const std::vector<std::string>& rightPaths) {
  std::string missing = OpenEach(LV1, paths, LV2, rightPaths, [this](TShellListView* list, const TStartPath& start) {
    // The tab gets its caption from the listing when it is shown.
    TPane* pane = PaneOf(list);
    pane->Lines.Add(start.folder);
    pane->StartTab = pane->Lines.Count() - 1;
    Life.StartFocusFile = start.file;
    Life.StartFocusList = list;
  });
  if (!missing.empty()) Hooks.ShowMessage(QString::fromStdString("次のパスが見つかりません。" + missing));
}

void TForm1::OpenHandedPaths(const std::vector<std::string>& paths, const std::vector<std::string>& rightPaths) {
  if (!Life.ListsLoaded || Life.Destroyed) return;
  std::string missing = OpenEach(LV1, paths, LV2, rightPaths, [this](TShellListView* list, const TStartPath& start) {
    // A preview over the pane gives way to the new tab.
    if (list->isHidden()) RestorePane(list);
    TPane* pane = PaneOf(list);
    QTabBar* tabs = pane->Tabs;
    pane->Lines.Add(start.folder);
    // Named now: a folder the list shows already is not listed again.
    const std::string name = LastPathComponent(start.folder);
    tabs->setCurrentIndex(tabs->addTab(QString::fromStdString(name.empty() ? start.folder : name).replace('&', "&&")));
    Life.StartFocusFile = start.file;
    Life.StartFocusList = list;
    ShowTabFolder(list);
    FocusStartFile();
  });
  // Brought to the front where the user asked for it.
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  if (!missing.empty()) Hooks.ShowMessage(QString::fromStdString("次のパスが見つかりません。" + missing));
}

void TForm1::FocusStartFile() {
  TShellListView* view = Life.StartFocusList ? Life.StartFocusList : LV1;
  // A huge folder's rows come after the first paint; their arrival calls again.
  if (Life.StartFocusFile.empty() || view->Reading()) return;
  TShellFileList* list = view->FileList();
  for (int row = 0; row < list->Count(); ++row) {
    if (list->Items(row)->GetItemPath() == Life.StartFocusFile) {
      // Selected too, so the commands that act on the selection take it.
      view->SelectAllRows(false);
      view->SetRowSelected(row, true);
      view->SetFocusedRow(row);
      view->MakeRowVisible(row);
      break;
    }
  }
  Life.StartFocusFile.clear();
}
