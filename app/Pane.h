#pragma once
// One side of the main window: a row of folder tabs over a filter edit and a
// folder list, the status line under them and the folder tree that slides in
// beside them; with what the side keeps: its tabs' folders, its folder and
// file histories, the folder tab set aside while a preview covers the list.
// The window holds two and finds the one a control belongs to.
#include <QString>
#include <string>
#include <vector>

#include "platform/state/LineList.h"

class QLabel;
class QLineEdit;
class QMenu;
class QObject;
class QTabBar;
class QWidget;
class TShellListView;
class TShellTreeView;

class TPane {
 public:
  enum Side { kLeft = 0, kRight = 1 };
  explicit TPane(Side side) : side_(side) {}
  TPane(const TPane&) = delete;
  TPane& operator=(const TPane&) = delete;

  // 0 for the left pane, 1 for the right: the menus count their entries so.
  int Index() const { return side_; }
  bool IsLeft() const { return side_ == kLeft; }

  // Controls (owned through Qt parents).
  QWidget* Widget = nullptr;  // holds Tabs, Edit, List and Status; a preview takes the list's place
  QTabBar* Tabs = nullptr;
  QLineEdit* Edit = nullptr;
  TShellListView* List = nullptr;
  QLabel* Status = nullptr;
  TShellTreeView* Tree = nullptr;
  // The destination menu's submenus of this side: its tabs, its folder history.
  QMenu* TabDestinations = nullptr;
  QMenu* HistoryDestinations = nullptr;

  TLineList Lines;     // one line per folder tab: a path, or a tree index for a shell folder
  TLineList History;   // the folders shown, newest first
  TLineList FileRuns;  // the files opened, newest first
  int SavedTab = 0;    // the folder tab while a preview covers the list
  int StartTab = -1;   // the command line's tab, made current when the window is first shown
  QString FreeSpaceText;

  // The masks of the filter edit, split once per text rather than once per row.
  struct TMaskFilter {
    QString editText;
    bool all = true;
    std::vector<std::string> masks;
  };
  TMaskFilter Filter;

  // part is the list, the tabs, the filter edit, the tree, the status line or the pane itself.
  bool Owns(const QObject* part) const;
  // The list holds focus (or a child of it: its name editor, its view).
  bool ListHasFocus(const QWidget* focus) const;
  // The list, the filter edit or the tree holds focus.
  bool HasFocus(const QWidget* focus) const;
  // The folder tab: the one set aside while a preview covers the list.
  int FolderTab() const;

 private:
  const Side side_;
};
