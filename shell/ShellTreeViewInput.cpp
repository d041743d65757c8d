// The folder tree's mouse and keys: a click selects on release, the branch
// mark opens and closes, in-place rename of folders, and the shell context
// menu with what its commands leave behind.
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <algorithm>
#include <functional>
#include <sys/stat.h>

#include "platform/namespace/ContextMenuProvider.h"
#include "platform/desktop/FilePayload.h"
#include "platform/system/ScopeGuard.h"
#include "shell/ShellComboBox.h"
#include "shell/ShellListView.h"
#include "shell/ShellPopupMenu.h"
#include "shell/ShellTreeView.h"

namespace {
// Name flags of a rename in the tree.
constexpr uint32_t kRenameFlags = 0x20;

bool PathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}
}  // namespace

// Commits a rename through the tree, never by writing the caption.
class TShellTreeDelegate : public QStyledItemDelegate {
 public:
  explicit TShellTreeDelegate(TShellTreeView* tree) : QStyledItemDelegate(tree), tree_(tree) {}

  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line) return;
    // The editor goes away right after this; the folder is renamed once it has.
    QPersistentModelIndex at(index);
    QString text = line->text();
    QPointer<TShellTreeView> tree = tree_;
    QMetaObject::invokeMethod(
        tree_,
        [tree, at, text] {
          if (tree) tree->CommitRename(at, text);
        },
        Qt::QueuedConnection);
  }

 private:
  TShellTreeView* tree_;
};

void TShellTreeView::InstallDelegate() { setItemDelegate(new TShellTreeDelegate(this)); }

// --- Mouse ----------------------------------------------------------------------------------------

void TShellTreeView::SetDropHighlight(TShellTreeNode* node) {
  if (node == dropNode_) return;
  if (dropNode_) {
    dropNode_->DropHighlighted = false;
    dropNode_->Repaint();
  }
  dropNode_ = node;
  if (node) {
    node->DropHighlighted = true;
    node->Repaint();
  }
}

void TShellTreeView::mousePressEvent(QMouseEvent* event) {
  QPoint pos = event->position().toPoint();
  TShellTreeNode* node = NodeAt(pos);
  if (!node || (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)) {
    event->accept();
    return;
  }
  QRect rect = visualItemRect(node);
  if (pos.x() < rect.left()) {
    // Left of the caption: the node's branch mark opens and closes it.
    if (event->button() == Qt::LeftButton && pos.x() >= rect.left() - indentation() && HasChildren(node))
      node->setExpanded(!node->isExpanded());
    event->accept();
    return;
  }
  // The selection follows on release; meanwhile the node is only highlighted.
  pressPoint_ = pos;
  SetDragButton(event->button() == Qt::LeftButton ? 1 : 2);
  SetDropHighlight(node);
  event->accept();
}

void TShellTreeView::mouseMoveEvent(QMouseEvent* event) {
  if (dragButton_ == 1 || dragButton_ == 2) {
    MaybeStartDrag(event);
    event->accept();
    return;
  }
  // A held button never drag-selects here; without one the view tracks hovering.
  if (event->buttons() == Qt::NoButton) QTreeWidget::mouseMoveEvent(event);
}

void TShellTreeView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && dragButton_ == 1) {
    TShellTreeNode* node = dropNode_;
    SetDropHighlight(nullptr);
    SetDragButton(0);
    // Released elsewhere, the click is withdrawn.
    if (node && NodeAt(event->position().toPoint()) == node) SelectNode(node);
  } else if (event->button() == Qt::RightButton && dragButton_ == 2) {
    SetDropHighlight(nullptr);
    SetDragButton(0);
  }
  event->accept();
}

void TShellTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
  QPoint pos = event->position().toPoint();
  TShellTreeNode* node = NodeAt(pos);
  if (!node || event->button() != Qt::LeftButton) {
    event->accept();
    return;
  }
  if (pos.x() < visualItemRect(node).left()) {
    mousePressEvent(event);  // a second click on the branch mark
    return;
  }
  if (HasChildren(node)) node->setExpanded(!node->isExpanded());
  event->accept();
}

void TShellTreeView::keyPressEvent(QKeyEvent* event) {
  // While a button is down on a node the selection stays where it is.
  if (dragButton_ == 1 || dragButton_ == 2) {
    event->accept();
    return;
  }
  // The view's own "open everything below" would read whole drives, and for
  // ever through a link that leads back up: one level only.
  if (event->key() == Qt::Key_Asterisk) {
    if (TShellTreeNode* node = SelectedNode()) node->setExpanded(true);
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void TShellTreeView::changeEvent(QEvent* event) {
  QTreeWidget::changeEvent(event);
  if (event->type() != QEvent::StyleChange && event->type() != QEvent::ThemeChange) return;
  std::function<void(QTreeWidgetItem*)> reset = [&](QTreeWidgetItem* treeItem) {
    if (TShellTreeNode* node = NodeOf(treeItem); node && node->Item) {
      node->Item->ImageIndex = -1;
      node->Item->SelectedIndex = -1;
    }
    for (int i = 0; treeItem && i < treeItem->childCount(); ++i) reset(treeItem->child(i));
  };
  for (int i = 0; i < topLevelItemCount(); ++i) reset(topLevelItem(i));
  viewport()->update();
}

// --- In-place rename ----------------------------------------------------------------------------

bool TShellTreeView::CanEdit(TShellTreeNode* node) {
  TShellFolderItem* item = node ? node->ShellItem() : nullptr;
  if (!item || node->Level() == 0 || item->GetLevel() == 0) return false;
  if (dragButton_ >= 1 && dragButton_ <= 3) return false;
  return item->HasAttribute(SFGAO_CANRENAME);
}

bool TShellTreeView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
  if (!CanEdit(NodeOf(itemFromIndex(index)))) return false;
  return QTreeWidget::edit(index, trigger, event);
}

bool TShellTreeView::StartRename(TShellTreeNode* node) {
  if (!node || !CanEdit(node)) return false;
  QModelIndex index = indexFromItem(node);
  scrollTo(index);
  return edit(index, QAbstractItemView::AllEditTriggers, nullptr);
}

void TShellTreeView::CommitRename(const QPersistentModelIndex& index, const QString& text) {
  TShellTreeNode* node = NodeOf(itemFromIndex(index));
  TShellFolderItem* item = node ? node->ShellItem() : nullptr;
  if (!item || destroying_) return;
  QString oldText = QString::fromStdString(item->GetDisplayName());
  // Unchanged text must not rename: a name that is no valid UTF-8 would come back altered.
  if (text.isEmpty() || text == oldText) {
    node->setText(0, oldText);
    return;
  }
  QPointer<TShellListView> list = shellListView_;
  auto suspended = BeginEnd(
      [&] {
        SuspendWatching();
        if (list) list->SuspendWatching();
      },
      [&] {
        if (list) list->ResumeWatching();
        ResumeWatching();
      });
  ShellFolderPtr folder;
  PItemIDList renamed = nullptr;
  // The folder refuses a name that is taken or that is no name at all; the node keeps its own.
  const bool done = item->GetParentFolder(folder) &&
                    folder->SetNameOf(item->RelativeIDList.get(), text.toStdString(), kRenameFlags, &renamed);
  IDListPtr newId(renamed);
  if (done && newId) {
    bool wasExpanded = node->isExpanded();
    int level = item->GetLevel();
    IDListPtr absolute(level == 1 ? CopyIDList(newId.get()) : ConcatIDLists(item->GetParentIDList(), newId.get()));
    item->RelativeIDList = std::move(newId);
    item->AbsoluteIDList = std::move(absolute);
    item->DisplayName.clear();
    item->ImageIndex = -1;
    item->SelectedIndex = -1;
    BeginWatchUpdate();
    while (node->childCount() > 0) DeleteNode(node->child(0));
    RepositionNode(node);
    RefreshNode(node);
    if (wasExpanded && !node->isExpanded()) node->setExpanded(true);
    MarkWatchedFoldersChanged();
    EndWatchUpdate();
    QPointer<TShellComboBox> combo = shellComboBox_;
    if (combo) {
      auto update = ItemsUpdateOf(combo);
      if (level == 1) combo->Rebuild();
      if (combo) combo->SelectIDList(GetSelectedIDList());
    }
    if (list) list->SetFolderIDList(GetSelectedIDList());
  }
  node->setText(0, QString::fromStdString(item->GetDisplayName()));
}

void TShellTreeView::RepositionNode(TShellTreeNode* node) {
  QTreeWidgetItem* parent = node->parent();
  ShellFolderPtr folder;
  if (!parent || !node->Item->GetParentFolder(folder)) return;
  int from = parent->indexOfChild(node);
  int to = 0;
  for (int i = 0; i < parent->childCount(); ++i) {
    TShellTreeNode* sibling = NodeOf(parent->child(i));
    if (sibling == node || !sibling || !sibling->ShellItem()) continue;
    if (CompareIDsIn(folder.get(), sibling->Item->RelativeIDList.get(), node->Item->RelativeIDList.get()) == 2) ++to;
  }
  if (to == from) return;
  bool wasCurrent = currentItem() == node;
  ++suppressChange_;
  parent->takeChild(from);
  parent->insertChild(to, node);
  if (wasCurrent) setCurrentItem(node);
  --suppressChange_;
}

// --- Context menu ---------------------------------------------------------------------------------

void TShellTreeView::contextMenuEvent(QContextMenuEvent* event) {
  bool handled = false;
  if (OnContextPopup) OnContextPopup(this, event->pos(), handled);
  TShellTreeNode* node = dropNode_;
  bool shellMenu = !handled && dragButton_ == 2 && shellPopupMenu_ && event->reason() == QContextMenuEvent::Mouse &&
                   node && node->ShellItem() && node->Level() > 0;
  event->accept();
  if (shellMenu) {
    ShowShellMenu(node, event->globalPos());
    return;
  }
  SetDropHighlight(nullptr);
  SetDragButton(0);
  if (!handled && PopupMenu) PopupMenu->popup(event->globalPos());
}

void TShellTreeView::ShowShellMenu(TShellTreeNode* node, const QPoint& globalPos) {
  SuspendWatching();
  TShellFolderItem* item = node->ShellItem();
  // The menu runs its own loop: the nodes are found again afterwards.
  QPersistentModelIndex nodeIndex(indexFromItem(node));
  QPersistentModelIndex parentIndex;
  if (node == SelectedNode() && node->parent()) parentIndex = indexFromItem(node->parent());
  std::string path = item->GetItemPath();
  contextIDList_.Clear();
  contextIDList_.ParentIDList = const_cast<PItemIDList>(item->GetParentIDList());
  contextIDList_.Add(item->RelativeIDList.get());
  QPointer<TShellPopupMenu> menu = shellPopupMenu_;
  QPointer<TShellTreeView> self(this);
  menu->PopupComponent = this;
  int result = menu->Popup(&contextIDList_, globalPos);
  if (!self || destroying_) return;  // closed while the menu was open
  contextIDList_.Clear();
  contextIDList_.ParentIDList = nullptr;
  node = NodeOf(itemFromIndex(nodeIndex));
  SetDropHighlight(nullptr);
  SetDragButton(0);

  if (result == PopupResultOf(CMDOFF_DELETE)) {
    TShellTreeNode* parent = NodeOf(itemFromIndex(parentIndex));
    QPointer<TShellListView> list = shellListView_;
    // The list leaves the folder only when it is really gone.
    if (parent && parent->ShellItem() && list && !path.empty() && !PathExists(path)) {
      list->SuspendWatching();
      list->SetFolderIDList(parent->Item->AbsoluteIDList.get());
      SelectNode(parent);
    }
    QPointer<TShellComboBox> combo = shellComboBox_;
    if (combo) {
      auto update = ItemsUpdateOf(combo);
      combo->Rebuild();
      RefreshVisibleNodes();
      if (combo) combo->SelectIDList(GetSelectedIDList());
    } else {
      RefreshVisibleNodes();
    }
  } else if (result == PopupResultOf(CMDOFF_RENAME)) {
    StartRename(node);
  } else if (result == PopupResultOf(CMDOFF_CUT)) {
    SetCutNode(node);
  }
  ResumeWatching();
}

void TShellTreeView::SetCutNode(TShellTreeNode* node) {
  if (cutNode_) {
    cutNode_->Ghosted = false;
    cutNode_->Repaint();
  }
  cutNode_ = node;
  if (node) {
    node->Ghosted = true;
    node->Repaint();
  }
}

void TShellTreeView::ClipboardChanged() {
  if (!cutNode_ || !cutNode_->ShellItem()) return;
  // The ghost stays as long as the clipboard holds this folder as cut.
  std::vector<std::string> paths;
  bool cut = false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  bool files = clipboard && ReadFilesMimeData(clipboard->mimeData(), paths, cut);
  std::string path = cutNode_->Item->GetItemPath();
  if (!files || !cut || std::find(paths.begin(), paths.end(), path) == paths.end()) SetCutNode(nullptr);
}
