// Moving about: re-reading, the other pane's folder, the parent and the root
// folder, the filter edit, new and closed tabs, the folder trees and going
// from one pane to the other.
#include <QLineEdit>
#include <QTabBar>
#include <algorithm>

#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "platform/namespace/Drives.h"
#include "platform/namespace/PathText.h"
#include "platform/network/Location.h"

namespace {
constexpr uint32_t kDirectoryBit = 16;
}  // namespace

void GExecute(TForm1& form) {
  if (TShellListView* list = form.CurrentList()) list->RefreshList();
}

void OExecute(TForm1& form) {
  TPane* pane = form.CurrentPane();
  if (!pane) return;
  std::string path = form.OtherPane(*pane).List->GetPathName();
  if (!path.empty()) pane->List->SetPathName(path);
}

void WExecute(TForm1& form) {
  if (TPane* pane = form.CurrentPane()) pane->Edit->setFocus();
}

void WWExecute(TForm1& form) {
  TPane* pane = form.CurrentPane();
  if (!pane) return;
  pane->Edit->setText(TForm1::FolderPartOf(pane->Edit->text()) + "*.*");
  pane->List->ApplyMask();
}

void TTExecute(TForm1& form) {
  TPane* pane = form.CurrentPane();
  if (!pane) return;
  QTabBar* tabs = pane->Tabs;
  const int i = tabs->currentIndex();
  if (tabs->count() <= 1 || i < 0) return;
  if (form.Life.ListsLoaded && i < pane->Lines.Count()) pane->Lines.Delete(i);
  tabs->removeTab(i);
  tabs->setCurrentIndex(std::max(i - 1, 0));
  form.ShowTabFolder(pane->List);
}

void LV1leftExecute(TForm1& form) { form.ShowTree(form.Left.Tree); }

void LV2rightExecute(TForm1& form) { form.ShowTree(form.Right.Tree); }

void ParentFolderKey(TForm1& form, TPane& pane) {
  if (LeaveArchiveFolder(form, pane) || LeaveLocationFolder(form, pane)) return;
  std::string path = pane.List->GetPathName();
  if (path.empty()) return;
  // From a folder removed a moment ago, the nearest one that is left; a
  // server's folder is not looked at here (the list asks on a worker).
  const std::string up = path == "/" ? path : DirName(path);
  pane.List->SetPathName(network::UriOfLocalPath(up).empty() ? NearestExistingFolder(up) : up);
}

void RootFolderKey(TForm1&, TPane& pane) {
  std::string path = pane.List->GetPathName();
  if (path.empty()) return;
  std::string root = MountPointOf(path);
  pane.List->SetPathName(root.empty() ? "/" : root);
}

namespace {
// Into the other pane's list, taking a preview out of its way.
void FocusOtherList(TForm1& form, TPane& pane) {
  TPane& other = form.OtherPane(pane);
  if (other.List->isHidden()) form.RestorePane(other.List);
  other.List->setFocus();
}
}  // namespace

// The comma is the left key: the left pane's tree, or from the right pane the left pane.
void CommaKey(TForm1& form, TPane& pane) {
  if (pane.IsLeft())
    LV1leftExecute(form);
  else
    FocusOtherList(form, pane);
}

void PeriodKey(TForm1& form, TPane& pane) {
  if (pane.IsLeft())
    FocusOtherList(form, pane);
  else
    LV2rightExecute(form);
}

void NewTabKey(TForm1& form, TPane& pane) {
  if (!form.Life.ListsLoaded) return;
  TShellFileItem* item = pane.List->FileList()->Items(pane.List->FocusedRow());
  if (!item || !(item->GetItemAttributes() & kDirectoryBit)) return;
  // The list opens the folder next; the listing change names the tab.
  int index = pane.Tabs->addTab(QString());
  pane.Tabs->setCurrentIndex(index);
  pane.Lines.Add(std::string());
}
