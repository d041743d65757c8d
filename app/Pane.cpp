#include "app/Pane.h"

#include <QLabel>
#include <QLineEdit>
#include <QTabBar>

#include "shell/ShellListView.h"
#include "shell/ShellTreeView.h"

bool TPane::Owns(const QObject* part) const {
  if (!part) return false;
  const QObject* parts[] = {List, Tabs, Edit, Tree, Status, Widget};
  for (const QObject* own : parts)
    if (own == part) return true;
  return false;
}

bool TPane::ListHasFocus(const QWidget* focus) const {
  return focus && List && (focus == List || List->isAncestorOf(focus));
}

bool TPane::HasFocus(const QWidget* focus) const {
  if (!focus) return false;
  const QWidget* parts[] = {List, Edit, Tree};
  for (const QWidget* part : parts)
    if (part && (focus == part || part->isAncestorOf(focus))) return true;
  return false;
}

int TPane::FolderTab() const { return List->isHidden() ? SavedTab : Tabs->currentIndex(); }
