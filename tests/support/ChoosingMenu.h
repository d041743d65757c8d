#pragma once
// A shell popup menu that picks an entry instead of running its menu loop,
// and remembers what the merged menu held.
#include <QMenu>
#include <QStringList>
#include <functional>
#include <vector>

#include "platform/ui/ContextMenu.h"
#include "shell/ShellPopupMenu.h"

class ChoosingMenu : public TShellPopupMenu {
 public:
  using TShellPopupMenu::TShellPopupMenu;
  std::function<QAction*(QMenu*)> choose;
  int shown = 0;
  std::vector<int> ids;  // -1 for a separator
  std::vector<QString> texts;
  int defaultId = 0;
  QStringList tips;

  static QAction* ById(QMenu* menu, int id) {
    for (QAction* a : menu->actions())
      if (!a->isSeparator() && CommandIdOf(a) == id) return a;
    return nullptr;
  }

 protected:
  QAction* ExecMenu(QMenu* menu, const QPoint&) override {
    ++shown;
    ids.clear();
    texts.clear();
    tips.clear();
    for (QAction* a : menu->actions()) {
      ids.push_back(a->isSeparator() ? -1 : CommandIdOf(a));
      texts.push_back(a->text());
      tips << a->statusTip();
    }
    defaultId = CommandIdOf(menu->defaultAction());
    return choose ? choose(menu) : nullptr;
  }
};
