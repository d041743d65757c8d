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
#include "platform/ui/ContextMenu.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/Drives.h"
#include "platform/namespace/PathText.h"

namespace {

using namespace vk;
constexpr uint32_t kDirectoryBit = 16;

bool IsLetter(int key) { return key >= 65 && key <= 90; }
bool IsDigit(int key) { return key >= 48 && key <= 57; }

// Only the modifiers that choose a command; keypad and group flags do not.
Qt::KeyboardModifiers ShiftState(Qt::KeyboardModifiers modifiers) {
  return modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
}

QString LowerKeyChar(int key) { return QString(QChar(key)).toLower(); }

}  // namespace

bool TForm1::FormShortCut(int virtualKey, Qt::KeyboardModifiers modifiers) {
  TShellListView* list = CurrentList();
  if (!list) return false;
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
    SetQuickMask(list, LowerKeyChar(virtualKey) + "*.*");
  } else if (shift == Qt::AltModifier) {
    SetQuickMask(list, "*." + LowerKeyChar(virtualKey) + "*");
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

void TForm1::SetQuickMask(TShellListView* list, const QString& mask) {
  QLineEdit* edit = EditOf(list);
  QString text = edit->text();
  edit->setText(text.left(text.lastIndexOf('/') + 1) + mask);
  list->RefreshList();
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
  if (!sender) return;
  if (const TListKey* key = FindListKey(virtualKey, ShiftState(modifiers))) (this->*key->run)(sender);
}

void TForm1::NewTabKey(TShellListView* sender) {
  if (!ListsLoaded) return;
  TShellFileItem* item = sender->FileList()->Items(sender->FocusedRow());
  if (!item || !(item->GetItemAttributes() & kDirectoryBit)) return;
  // The list opens the folder next; the listing change names the tab.
  QTabBar* tabs = TabsOf(sender);
  int index = tabs->addTab(QString());
  tabs->setCurrentIndex(index);
  LinesOf(sender).Add(std::string());
}

void TForm1::RootFolderKey(TShellListView* sender) {
  std::string path = sender->GetPathName();
  if (path.empty()) return;
  std::string root = MountPointOf(path);
  sender->SetPathName(root.empty() ? "/" : root);
}

void TForm1::ParentFolderKey(TShellListView* sender) {
  std::string path = sender->GetPathName();
  if (path.empty()) return;
  // From a folder removed a moment ago, the nearest one that is left.
  sender->SetPathName(path == "/" ? path : NearestExistingFolder(DirName(path)));
}

void TForm1::CommaKey(TShellListView* sender) {
  if (sender == LV1) {
    LV1leftExecute();
  } else {
    if (LV1->isHidden()) RestorePane(LV1);
    LV1->setFocus();
  }
}

void TForm1::PeriodKey(TShellListView* sender) {
  if (sender == LV1) {
    if (LV2->isHidden()) RestorePane(LV2);
    LV2->setFocus();
  } else {
    LV2rightExecute();
  }
}

void TForm1::UndoKey(TShellListView*) {
  // The same undo as the list menu's entry.
  if (FileOperationJournal::Instance().CanUndo()) UndoLastOperationLater(this);
}

void TForm1::KeyTableKey(TShellListView*) {
  if (!keyTable_) {
    keyTable_ = new TKeyTableDialog(this, KeyTableRows(ActionList2));
    keyTable_->setAttribute(Qt::WA_DeleteOnClose);
  }
  keyTable_->show();
  keyTable_->raise();
  keyTable_->activateWindow();
}

void TForm1::TV1KeyDown(TShellTreeView* sender, int virtualKey, Qt::KeyboardModifiers modifiers) {
  if (!sender) return;
  switch (virtualKey) {
    case kEnter: {
      // Linking shows the tree's folder in the list; the link is not kept.
      TShellListView* list = sender == TV1 ? LV1 : LV2;
      sender->SetShellListView(list);
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

std::string TForm1::CurrentTabLine(TShellListView* list) {
  if (!ListsLoaded) return {};
  QTabBar* tabs = TabsOf(list);
  int index = list->isHidden() ? (list == LV1 ? TC1Tag : TC2Tag) : tabs->currentIndex();
  const TLineList& lines = LinesOf(list);
  return index >= 0 && index < lines.Count() ? lines[index] : std::string();
}

void TForm1::ShowTree(TShellTreeView* tree) {
  TShellListView* list = tree == TV1 ? LV1 : LV2;
  std::string line = CurrentTabLine(list);
  if (IsTreeIndex(line)) {
    TShellTreeNode* root = tree->RootNode();
    int n = std::stoi(line);
    TShellTreeNode* node = root && n >= 0 && n < root->childCount() ? TShellTreeView::NodeOf(root->child(n)) : nullptr;
    if (node && node->ShellItem()) tree->SelectIDList(node->ShellItem()->AbsoluteIDList);
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

void TForm1::LV1leftExecute() { ShowTree(TV1); }

void TForm1::LV2rightExecute() { ShowTree(TV2); }

void TForm1::RestorePane(TShellListView* listView) {
  if (!listView) return;
  QWidget* pane = PaneOf(listView);
  // The previews may sit in the other pane; only this pane's are taken away.
  if (pane->isAncestorOf(Image1)) {
    StopPreviewPicture();
    Image1->hide();
    Image1->clear();
  }
  if (pane->isAncestorOf(Memo1)) Memo1->hide();
  listView->show();
  EditOf(listView)->show();
  QTabBar* tabs = TabsOf(listView);
  RebuildTabs(tabs, LinesOf(listView));
  int saved = listView == LV1 ? TC1Tag : TC2Tag;
  if (tabs->count() > 0) tabs->setCurrentIndex(std::clamp(saved, 0, tabs->count() - 1));
}

void TForm1::GExecute() {
  if (TShellListView* list = CurrentList()) list->RefreshList();
}

void TForm1::OExecute() {
  TShellListView* list = CurrentList();
  if (!list) return;
  std::string path = OtherList(list)->GetPathName();
  if (!path.empty()) list->SetPathName(path);
}

void TForm1::WExecute() {
  if (TShellListView* list = CurrentList()) EditOf(list)->setFocus();
}
