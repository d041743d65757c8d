// The command menus: folder and file histories, the folder jump, the drive
// list and the tab list of the current pane, and the folder menu of the
// focused item. They pop up at the window's centre (the folder menu over its
// item) and remember the pane they were opened from.
#include <QAbstractItemView>
#include <QMenu>

#include "app/MainForm.h"
#include "app/commands/Commands.h"

namespace {

// History menu tags: left pane even, right pane odd.
constexpr int kFolderHistoryTag = 0;
constexpr int kFileHistoryTag = 2;
constexpr int kJumpTag = 4;
constexpr int kDriveTag = 6;

void PopHistory(TForm1& form, int leftTag) {
  TPane* pane = form.CurrentPane();
  if (!pane) return;
  form.HistoryTag = leftTag + pane->Index();
  form.Hooks.ExecPopup(form.History, form.MenuPoint(form.History));
}

}  // namespace

void HExecute(TForm1& form) { PopHistory(form, kFolderHistoryTag); }
void HHExecute(TForm1& form) { PopHistory(form, kFileHistoryTag); }
void JExecute(TForm1& form) { PopHistory(form, kJumpTag); }
void NExecute(TForm1& form) { PopHistory(form, kDriveTag); }

void TExecute(TForm1& form) {
  TPane* pane = form.CurrentPane();
  if (!pane) return;
  form.Menus.TabListPopupTag = pane->Index();
  form.Hooks.ExecPopup(form.TabListPopup, form.MenuPoint(form.TabListPopup));
}

void LExecute(TForm1& form) {
  TPane* pane = form.CurrentPane();
  if (!pane) return;
  TShellListView* list = pane->List;
  // Without a focused, selected item the menu would only repeat its last folder.
  const std::string path = form.FocusedItemPath(list);
  if (path.empty()) return;
  form.PopupMenu2Tag = pane->Index();
  form.Menus.PopupMenu2RootPath = path;
  form.PopupMenu2Root = QString::fromUtf8(path);
  // The menu opens over the focused item.
  QPoint at = form.MenuPoint(form.PopupMenu2);
  if (QAbstractItemView* view = list->CurrentView()) {
    const QRect rect = view->visualRect(view->model()->index(list->FocusedRow(), 0));
    if (rect.isValid() && view->viewport()->rect().intersects(rect)) at = view->viewport()->mapToGlobal(rect.topLeft());
  }
  form.Hooks.ExecPopup(form.PopupMenu2, at);
}
