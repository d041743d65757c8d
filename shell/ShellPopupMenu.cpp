#include "shell/ShellPopupMenu.h"

#include <QActionGroup>
#include <QApplication>
#include <QPointer>
#include <algorithm>
#include <memory>
#include <vector>

#include "platform/ui/ContextMenu.h"

namespace {
constexpr int kLastCommand = 0x7FFF;
}

TShellPopupMenu::TShellPopupMenu(QWidget* owner) : QMenu(owner) {}

TShellPopupMenu::~TShellPopupMenu() = default;

uint32_t TShellPopupMenu::InsertPos() {
  uint32_t count = static_cast<uint32_t>(actions().size());
  if (insertPos_ > count) insertPos_ = count;
  return insertPos_;
}

int TShellPopupMenu::Command(QAction* action) {
  if (!action) return 0;
  int id = CommandIdOf(action);
  if (id <= 0) {
    id = ++nextCommand_;
    SetCommandIdOf(action, id);
  }
  return id;
}

uint32_t TShellPopupMenu::QueryFlags() const {
  uint32_t flags = ContextType == shctDefaultOnly ? CMF_DEFAULTONLY
                   : ContextType == shctNormal    ? CMF_NORMAL
                                                  : CMF_EXPLORE;
  if (!ReadOnly) flags |= CMF_CANRENAME;
  return flags;
}

bool TShellPopupMenu::DoShBeforPopup(TShellIDList* idList, const QPoint& pt) {
  bool allow = true;
  if (OnShBeforPopup) OnShBeforPopup(this, *idList, pt, allow);
  return allow;
}

void TShellPopupMenu::DoShAfterPopup(QAction* menuItem, TShellIDList* idList) {
  if (OnShAfterPopup) OnShAfterPopup(this, menuItem, *idList);
}

QAction* TShellPopupMenu::ExecMenu(QMenu* menu, const QPoint& pt) { return menu->exec(pt); }

void TShellPopupMenu::CopyActions(QMenu* target, QMenu* source, std::map<QAction*, QAction*>& originals, int& highest) {
  std::map<QActionGroup*, QActionGroup*> groups;
  for (QAction* action : source->actions()) {
    if (!action->isVisible()) continue;
    if (action->isSeparator() || action->text() == QLatin1String("-")) {
      target->addSeparator();
      continue;
    }
    highest = std::max(highest, Command(action));
    QAction* copy;
    if (QMenu* sub = action->menu()) {
      auto* subCopy = new QMenu(action->text(), target);
      CopyActions(subCopy, sub, originals, highest);
      copy = target->addMenu(subCopy);
      copy->setIcon(action->icon());
    } else {
      QString text = action->text();
      // The key is shown, not bound: the original action keeps the shortcut.
      if (!action->shortcut().isEmpty())
        text += QLatin1Char('\t') + action->shortcut().toString(QKeySequence::NativeText);
      copy = new QAction(action->icon(), text, target);
      target->addAction(copy);
    }
    copy->setCheckable(action->isCheckable());
    copy->setChecked(action->isChecked());
    copy->setEnabled(action->isEnabled());
    copy->setStatusTip(action->statusTip());
    copy->setFont(action->font());
    copy->setIconVisibleInMenu(action->isIconVisibleInMenu());
    if (QActionGroup* group = action->actionGroup(); group && group->isExclusive()) {
      QActionGroup*& mirror = groups[group];
      if (!mirror) mirror = new QActionGroup(target);
      mirror->addAction(copy);
    }
    // The merged menu's default entry is the shell's; sub-menus keep their own.
    if (source != this && source->defaultAction() == action) target->setDefaultAction(copy);
    originals[copy] = action;
  }
}

int TShellPopupMenu::Popup(TShellIDList* idList, const QPoint& pt) {
  uint32_t flags = QueryFlags();
  ShellFolderPtr folder;
  if (!idList || idList->Count() == 0 || !idList->GetParentFolder(folder)) return 0;
  QWidget* owner = parentWidget() ? parentWidget()->window() : QApplication::activeWindow();
  if (!DoShBeforPopup(idList, pt)) return 0;

  std::vector<PCItemIDList> lists;
  for (int i = 0; i < idList->Count(); ++i) lists.push_back(idList->Items(i));
  std::unique_ptr<IContextMenu> shell = folder->GetContextMenu(owner, idList->Count(), lists.data());
  if (!shell) return 0;

  // Its parent is the window, so that status tips reach the window's status line.
  QMenu menu(owner);
  std::map<QAction*, QAction*> originals;
  int highest = 0;
  CopyActions(&menu, this, originals, highest);
  int position = static_cast<int>(std::min<int64_t>(InsertPos(), highest));
  if (!shell->QueryContextMenu(&menu, position, highest + 1, kLastCommand, flags)) return 0;

  QList<QAction*> entries = menu.actions();
  for (qsizetype i = position; i < entries.size(); ++i)
    if (!entries[i]->isSeparator()) {
      menu.setDefaultAction(entries[i]);
      break;
    }
  for (QAction* entry : entries) {
    int id = CommandIdOf(entry);
    if (originals.count(entry) || id <= highest || !entry->statusTip().isEmpty()) continue;
    entry->setStatusTip(QString::fromStdString(shell->GetCommandString(id - highest - 1)));
  }

  QAction* chosen = ExecMenu(&menu, pt);
  if (!chosen) return 0;
  auto own = originals.find(chosen);
  if (own != originals.end()) {
    QPointer<QAction> item = own->second;
    int result = Command(item);
    item->trigger();
    // The handler may have removed its own action.
    if (item) DoShAfterPopup(item, idList);
    return result;
  }
  int id = CommandIdOf(chosen);
  if (id <= highest) return 0;
  int offset = id - highest - 1;
  if (offset == CMDOFF_RENAME) return offset + 1;
  return shell->InvokeCommand(owner, offset) ? offset + 1 : 0;
}
