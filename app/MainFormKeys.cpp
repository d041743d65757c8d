// Key dispatch: the window's shortcut hook turns letters, digits and F-keys
// into commands while a folder list has the focus; a letter pressed twice
// within the key delay runs its double command instead of the single one.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

#include "app/KeyTable.h"
#include "app/MainForm.h"
#include "app/TextView.h"

namespace {

using namespace vk;

bool IsLetter(int key) { return key >= 65 && key <= 90; }
bool IsDigit(int key) { return key >= 48 && key <= 57; }

// Only the modifiers that choose a command; keypad and group flags do not.
Qt::KeyboardModifiers ShiftState(Qt::KeyboardModifiers modifiers) {
  return modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
}

QString LowerKeyChar(int key) { return QString(QChar(key)).toLower(); }

}  // namespace

bool TForm1::FormShortCut(int virtualKey, Qt::KeyboardModifiers modifiers) {
  TPane* pane = CurrentPane();
  if (!pane) return false;
  TShellListView* list = pane->List;
  // A name being edited in place types its letters.
  if (list->IsEditingLabel()) return false;
  const Qt::KeyboardModifiers shift = ShiftState(modifiers);
  if (shift == Qt::ControlModifier) return false;  // the shell actions' shortcuts

  if (virtualKey >= 112 && virtualKey <= 121) {
    std::vector<QToolButton*> launchers = Buttons(ToolBar1);
    size_t position = static_cast<size_t>(virtualKey - 112);
    if (position < launchers.size()) LauncherClick(launchers[position]);
    return true;
  }
  if (virtualKey < 48 || virtualKey > 90) return false;

  if (shift == Qt::ShiftModifier) {
    SetQuickMask(*pane, LowerKeyChar(virtualKey) + "*.*");
  } else if (shift == Qt::AltModifier) {
    SetQuickMask(*pane, "*." + LowerKeyChar(virtualKey) + "*");
  } else if (shift == Qt::NoModifier) {
    if (!KeyTimer->isActive()) {
      KeyTimerTag = virtualKey;
      KeyTimer->start(KeyDelayMs);
    } else if (virtualKey == KeyTimerTag) {
      KeyTimer->stop();
      RunDoubleCommand(virtualKey, modifiers);
    }
    // Another key while one is pending is dropped; the pending one still fires.
  }
  return true;
}

void TForm1::SetQuickMask(TPane& pane, const QString& mask) {
  QString text = pane.Edit->text();
  pane.Edit->setText(text.left(text.lastIndexOf('/') + 1) + mask);
  pane.List->ApplyMask();
}

void TForm1::KeyTimerTimer() {
  KeyTimer->stop();
  const int key = KeyTimerTag;
  if (IsLetter(key)) {
    ActionList1[key - 65]->trigger();
  } else if (IsDigit(key)) {
    if (QToolButton* button = FolderButtonOfKey(key)) FolderButtonClick(button);
  }
}

void TForm1::RunDoubleCommand(int virtualKey, Qt::KeyboardModifiers modifiers) {
  if (IsLetter(virtualKey)) {
    ActionList1[virtualKey - 39]->trigger();
  } else if (IsDigit(virtualKey)) {
    QToolButton* button = FolderButtonOfKey(virtualKey);
    TShellListView* list = CurrentList();
    if (button && list) TransferSelection(list, HintOf(button), false);
  }
}

QToolButton* TForm1::FolderButtonOfKey(int virtualKey) const {
  if (!IsDigit(virtualKey)) return nullptr;
  // 1..9 are the first nine buttons, 0 the tenth.
  size_t position = virtualKey == 48 ? 9 : static_cast<size_t>(virtualKey - 49);
  std::vector<QToolButton*> buttons = Buttons(ToolBar2);
  return position < buttons.size() ? buttons[position] : nullptr;
}

void TForm1::LV1KeyDown(TShellListView* sender, int virtualKey, Qt::KeyboardModifiers modifiers) {
  TPane* pane = PaneOf(sender);
  if (!pane || sender != pane->List) return;
  if (const TListKey* key = FindListKey(virtualKey, ShiftState(modifiers))) key->run(*this, *pane);
}

void TForm1::TV1KeyDown(TShellTreeView* sender, int virtualKey, Qt::KeyboardModifiers modifiers) {
  if (!sender) return;
  switch (virtualKey) {
    case kEnter: {
      // Linking shows the tree's folder in the list; the link is not kept.
      TPane* pane = PaneOf(sender);
      if (!pane) return;
      sender->SetShellListView(pane->List);
      sender->SetShellListView(nullptr);
      return;
    }
    case kComma:
      LV2->setFocus();
      return;
    case kPeriod:
      LV1->setFocus();
      return;
    default:
      return;
  }
}

void TForm1::TV1Exit(TShellTreeView* sender) {
  // Leaving the window (another program, a dialog) is not leaving the tree,
  // nor is its own name editor taking the focus.
  if (!sender || !isActiveWindow()) return;
  QWidget* focus = QApplication::focusWidget();
  if (focus && sender->isAncestorOf(focus)) return;
  HideTree(sender);
}

std::string TForm1::CurrentTabLine(const TPane& pane) const {
  if (!Life.ListsLoaded) return {};
  const int index = pane.FolderTab();
  return index >= 0 && index < pane.Lines.Count() ? pane.Lines[index] : std::string();
}

void TForm1::ShowTree(TShellTreeView* tree) {
  TPane* pane = PaneOf(tree);
  if (!pane) return;
  std::string line = CurrentTabLine(*pane);
  if (IsTreeIndex(line)) {
    TShellTreeNode* root = tree->RootNode();
    int n = std::stoi(line);
    TShellTreeNode* node = root && n >= 0 && n < root->childCount() ? TShellTreeView::NodeOf(root->child(n)) : nullptr;
    if (node && node->ShellItem()) tree->SelectIDList(node->ShellItem()->AbsoluteIDList.get());
  } else if (!line.empty()) {
    tree->SetPathName(line);
  }
  if (QTreeWidgetItem* selected = tree->currentItem()) tree->scrollToItem(selected);

  if (tree->isHidden()) {
    // The tree takes its width from the right pane, the one that fills the window.
    QList<int> sizes = Panes->sizes();
    // A hidden tree's own width is whatever the splitter left it; the kept one is its own.
    const int kept = tree->property("keptWidth").toInt();
    int width = std::max(kept > 0 ? kept : tree->width(), 40);
    int treeAt = Panes->indexOf(tree);
    int fillAt = Panes->indexOf(TC2Pane);
    sizes[treeAt] = width;
    sizes[fillAt] = std::max(sizes[fillAt] - width - Panes->handleWidth(), 40);
    tree->show();
    Panes->refresh();  // the splitter handle shows with the tree now, not on the next layout pass
    Panes->setSizes(sizes);
    // Sideways too, once the tree has its width and its column has been measured.
    QTimer::singleShot(0, tree, [tree] {
      // Through the view's scrollTo, which also scrolls sideways.
      if (tree->currentItem()) static_cast<QAbstractItemView*>(tree)->scrollTo(tree->currentIndex());
    });
  }
  tree->setFocus();
}

void TForm1::HideTree(TShellTreeView* tree) {
  if (tree->isHidden()) return;
  QList<int> sizes = Panes->sizes();
  int treeAt = Panes->indexOf(tree);
  int fillAt = Panes->indexOf(TC2Pane);
  int freed = sizes[treeAt] + Panes->handleWidth();
  tree->hide();
  Panes->refresh();
  sizes[treeAt] = 0;
  sizes[fillAt] += freed;
  Panes->setSizes(sizes);
}

void TForm1::RestorePane(TShellListView* listView) {
  TPane* pane = PaneOf(listView);
  if (!pane) return;
  // The previews may sit in the other pane; only this pane's are taken away.
  if (pane->Widget->isAncestorOf(Image1)) {
    StopPreviewPicture();
    Image1->hide();
    Image1->clear();
  }
  if (pane->Widget->isAncestorOf(Memo1)) Memo1->hide();
  listView->show();
  pane->Edit->show();
  QTabBar* tabs = pane->Tabs;
  RebuildTabs(tabs, pane->Lines);
  if (tabs->count() > 0) tabs->setCurrentIndex(std::clamp(pane->SavedTab, 0, tabs->count() - 1));
}
