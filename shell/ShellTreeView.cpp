// The folder tree: nodes, their lazy filling and merging, finding and
// selecting folders, the links to the list view and the combo box, watching
// the shown folders and following drives that come and go.
#include "shell/ShellTreeView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <algorithm>

#include "platform/namespace/Drives.h"
#include "platform/namespace/SystemImageList.h"
#include "shell/ShellComboBox.h"
#include "shell/ShellListView.h"
#include "shell/ShellPopupMenu.h"
#include "shell/watch/ShDirWatcher.h"

namespace {
constexpr int kNodeType = QTreeWidgetItem::UserType + 1;
constexpr uint32_t kDirNameFilter = 2;
constexpr int kIconSize = 16;

// A small arrow in the lower left corner marks a symbolic link.
QPixmap WithLinkMark(const QPixmap& icon) {
  QPixmap marked = icon;
  QPainter p(&marked);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF box(0, kIconSize - 8, 8, 8);
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::white);
  p.drawRect(box.adjusted(0.5, 0.5, -0.5, -0.5));
  QPainterPath arrow;
  arrow.moveTo(2, kIconSize - 2);
  arrow.quadTo(2, kIconSize - 6, 6, kIconSize - 6);
  p.setBrush(Qt::NoBrush);
  p.drawPath(arrow);
  p.drawLine(QPointF(6, kIconSize - 6), QPointF(4, kIconSize - 7.5));
  p.drawLine(QPointF(6, kIconSize - 6), QPointF(4, kIconSize - 4.5));
  return marked;
}
}  // namespace

// --- TShellTreeNode --------------------------------------------------------------------

TShellTreeNode::TShellTreeNode(TShellFolderItem* item) : QTreeWidgetItem(kNodeType), Item(item) {
  if (Item) Item->Node = this;
}

TShellTreeNode::~TShellTreeNode() = default;

namespace {
int SubtreeSize(const QTreeWidgetItem* item) {
  int size = 1;
  for (int i = 0; i < item->childCount(); ++i) size += SubtreeSize(item->child(i));
  return size;
}
}  // namespace

int TShellTreeNode::AbsoluteIndex() const {
  // Position in the tree read from top to bottom, collapsed nodes included.
  QTreeWidget* tree = treeWidget();
  if (!tree) return -1;
  int index = 0;
  const QTreeWidgetItem* node = this;
  while (node) {
    QTreeWidgetItem* parent = node->parent();
    auto* self = const_cast<QTreeWidgetItem*>(node);
    int row = parent ? parent->indexOfChild(self) : tree->indexOfTopLevelItem(self);
    for (int i = 0; i < row; ++i) index += SubtreeSize(parent ? parent->child(i) : tree->topLevelItem(i));
    if (parent) ++index;
    node = parent;
  }
  return index;
}

int TShellTreeNode::Level() const {
  int level = 0;
  for (const QTreeWidgetItem* p = parent(); p; p = p->parent()) ++level;
  return level;
}

TShellFolderItem* TShellTreeNode::ShellItem() const { return Item && Item->IsValid() ? Item.get() : nullptr; }

QVariant TShellTreeNode::data(int column, int role) const {
  if (column == 0) {
    auto palette = [this] { return treeWidget() ? treeWidget()->palette() : QGuiApplication::palette(); };
    switch (role) {
      case Qt::DecorationRole:
        if (TShellFolderItem* item = ShellItem()) {
          int index = isSelected() ? item->GetSelectedIndex() : item->GetImageIndex();
          QPixmap icon = SystemImageList::Instance().Pixmap(index, kIconSize);
          if (icon.isNull()) break;
          if (Overlay == 1) icon = WithLinkMark(icon);
          if (Ghosted) icon = QIcon(icon).pixmap(kIconSize, QIcon::Disabled);
          return icon;
        }
        break;
      case Qt::BackgroundRole:
        if (DropHighlighted) return palette().brush(QPalette::Active, QPalette::Highlight);
        break;
      case Qt::ForegroundRole:
        if (DropHighlighted) return palette().brush(QPalette::Active, QPalette::HighlightedText);
        if (Ghosted) return palette().brush(QPalette::Disabled, QPalette::Text);
        break;
      default:
        break;
    }
  }
  return QTreeWidgetItem::data(column, role);
}

// --- Construction -------------------------------------------------------------------------

TShellTreeView::TShellTreeView(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setHeaderHidden(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::EditKeyPressed);
  setIconSize(QSize(kIconSize, kIconSize));
  setUniformRowHeights(true);
  setAutoScroll(false);  // a drag scrolls by our own rule
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setDragEnabled(false);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  SystemImageList::EnsureIconTheme();
  InstallDelegate();

  connect(this, &QTreeWidget::itemExpanded, this, &TShellTreeView::NodeExpanded);
  connect(this, &QTreeWidget::itemCollapsed, this, &TShellTreeView::NodeCollapsed);
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { CurrentChanged(current); });
  if (QClipboard* clipboard = QGuiApplication::clipboard())
    connect(clipboard, &QClipboard::dataChanged, this, &TShellTreeView::ClipboardChanged);

  watcher_ = new TShDirWatcher(
      nullptr, kDirNameFilter, [this](TShDirWatcher*, TDeviceChangeData* data) { DeviceChanged(data); },
      [this](TShDirWatcher*) { DirChanged(); }, false);
  watcher_->OnTerminate = [this](TShDirWatcher*) { watcher_ = nullptr; };

  BuildRoot();
  TShellCtrlList::Instance().AddTreeView(this);
  ResumeWatching();
}

TShellTreeView::~TShellTreeView() {
  destroying_ = true;
  TShellCtrlList::Instance().RemoveTreeView(this);
  if (watcher_) {
    watcher_->OnTerminate = nullptr;
    watcher_->Stop();
    watcher_ = nullptr;
  }
  if (shellListView_ && shellListView_->ShellTreeView() == this) shellListView_->SetShellTreeView(nullptr);
  if (shellComboBox_ && shellComboBox_->ShellTreeView() == this) shellComboBox_->SetShellTreeView(nullptr);
  blockSignals(true);
  dropNode_ = dragOverNode_ = cutNode_ = nullptr;
  clear();
}

void TShellTreeView::BuildRoot() {
  PItemIDList absolute = nullptr, relative = nullptr;
  if (!GetSpecialFolderIDList(CSIDL_DESKTOP, absolute)) return;
  // The root names the desktop and stands on the desktop folder's path.
  if (!GetSpecialFolderIDList(CSIDL_DESKTOPDIRECTORY, relative)) relative = CopyIDList(absolute);
  auto item = std::make_unique<TShellFolderItem>(nullptr, relative, absolute);
  setUpdatesEnabled(false);
  BeginWatchUpdate();
  TShellTreeNode* root = AddNode(nullptr, 0, std::move(item));
  root->setExpanded(true);
  if (root->childCount() > 0) root->child(0)->setExpanded(true);
  SetCurrentNode(root);
  EndWatchUpdate();
  setUpdatesEnabled(true);
}

// --- Properties ---------------------------------------------------------------------------

bool TShellTreeView::IncludeHidden() const { return includeHidden_; }

void TShellTreeView::SetIncludeHidden(bool value) {
  if (value == includeHidden_) return;
  includeHidden_ = value;
  if (shellListView_) shellListView_->SetIncludeHidden(value);
  if (shellComboBox_) shellComboBox_->SetIncludeHidden(value);
  RefreshVisibleNodes();
  RebuildComboAndSelect();
  if (shellListView_) shellListView_->SetFolderIDList(GetSelectedIDList());
}

TShVirtuaItems TShellTreeView::ShVirtuaItems() const { return virtuaItems_; }

void TShellTreeView::SetShVirtuaItems(TShVirtuaItems value) {
  if (value == virtuaItems_) return;
  virtuaItems_ = value;
  if (shellListView_) shellListView_->SetShVirtuaItems(value);
  if (shellComboBox_) shellComboBox_->SetShVirtuaItems(value);
  RefreshVisibleNodes();
  RebuildComboAndSelect();
}

TShellListView* TShellTreeView::ShellListView() const { return shellListView_; }

void TShellTreeView::SetShellListView(TShellListView* view) {
  if (view == shellListView_) return;
  if (shellListView_ && shellListView_->ShellTreeView() == this) shellListView_->SetShellTreeView(nullptr);
  shellListView_ = view;
  if (!view) return;
  view->SetShellTreeView(this);
  view->SetShVirtuaItems(virtuaItems_);
  view->SetIncludeHidden(includeHidden_);
  view->SetFolderIDList(GetSelectedIDList());
}

TShellComboBox* TShellTreeView::ShellComboBox() const { return shellComboBox_; }

void TShellTreeView::SetShellComboBox(TShellComboBox* combo) {
  if (combo == shellComboBox_) return;
  if (shellComboBox_ && shellComboBox_->ShellTreeView() == this) shellComboBox_->SetShellTreeView(nullptr);
  shellComboBox_ = combo;
  if (!combo) return;
  combo->SetShellTreeView(this);
  combo->SetShVirtuaItems(virtuaItems_);
  combo->SetIncludeHidden(includeHidden_);
  RebuildComboAndSelect();
}

TShellPopupMenu* TShellTreeView::ShellPopupMenu() const { return shellPopupMenu_; }

void TShellTreeView::SetShellPopupMenu(TShellPopupMenu* menu) {
  shellPopupMenu_ = menu;
  if (menu) menu->AutoPopup = false;
}

void TShellTreeView::RebuildComboAndSelect() {
  QPointer<TShellComboBox> combo = shellComboBox_;
  if (!combo) return;
  auto update = ItemsUpdateOf(combo);
  combo->Rebuild();
  if (combo) combo->SelectIDList(GetSelectedIDList());
}

// --- Nodes ----------------------------------------------------------------------------------

TShellTreeNode* TShellTreeView::NodeOf(QTreeWidgetItem* item) {
  return item && item->type() == kNodeType ? static_cast<TShellTreeNode*>(item) : nullptr;
}

TShellTreeNode* TShellTreeView::RootNode() const { return NodeOf(topLevelItem(0)); }

TShellTreeNode* TShellTreeView::SelectedNode() const { return NodeOf(currentItem()); }

TShellTreeNode* TShellTreeView::NodeAt(const QPoint& pos) const { return NodeOf(itemAt(pos)); }

void TShellTreeView::SetHasChildren(TShellTreeNode* node, bool value) {
  node->setChildIndicatorPolicy(value ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool TShellTreeView::HasChildren(const TShellTreeNode* node) {
  return node->childCount() > 0 || node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}

bool TShellTreeView::IsInside(const QTreeWidgetItem* item, const QTreeWidgetItem* top) {
  for (; item; item = item->parent())
    if (item == top) return true;
  return false;
}

TShellTreeNode* TShellTreeView::AddNode(TShellTreeNode* parent, int index, std::unique_ptr<TShellFolderItem> item) {
  auto* node = new TShellTreeNode(item.release());
  node->setText(0, QString::fromStdString(node->Item->GetDisplayName()));
  node->setFlags(node->flags() | Qt::ItemIsEditable);
  SetHasChildren(node, node->Item->HasAttribute(SFGAO_HASSUBFOLDER));
  node->Overlay = node->Item->GetOverlayIndex();
  if (parent)
    parent->insertChild(index, node);
  else
    insertTopLevelItem(index, node);
  return node;
}

void TShellTreeView::DeleteNode(QTreeWidgetItem* item) {
  if (!item) return;
  if (IsInside(currentItem(), item)) SetCurrentNode(NodeOf(item->parent()));
  if (IsInside(dropNode_, item)) dropNode_ = nullptr;
  if (IsInside(dragOverNode_, item)) dragOverNode_ = nullptr;
  if (IsInside(cutNode_, item)) cutNode_ = nullptr;
  bool watched = item->isExpanded();
  delete item;
  if (watched) MarkWatchedFoldersChanged();
}

bool TShellTreeView::PassesVirtualRules(int parentLevel, TShItemIDType parentType, TShellFolderItem* item) const {
  if (parentLevel == 0) {
    switch (item->GetItemType()) {
      case itBitBucket:
        return virtuaItems_.Contains(itBitBucket);
      case itNetWork:
        return virtuaItems_.Contains(itNetWork);
      case itVirtual:
        return false;
      default:
        return true;
    }
  }
  if (parentLevel == 1) {
    if (parentType == itMyComputer && item->GetItemType() == itVirtual) return virtuaItems_.Contains(itVirtual);
    if (parentType == itNetWork) return virtuaItems_.Contains(itNetWork);
  }
  return true;
}

std::vector<std::unique_ptr<TShellFolderItem>> TShellTreeView::EnumerateSubFolders(TShellTreeNode* node,
                                                                                   ShellFolderPtr& folder) {
  std::vector<std::unique_ptr<TShellFolderItem>> items;
  TShellFolderItem* parentItem = node ? node->ShellItem() : nullptr;
  folder = parentItem ? BindToFolder(parentItem->AbsoluteIDList.get()) : nullptr;
  if (!folder) return items;
  std::unique_ptr<IEnumIDList> list =
      folder->EnumObjects(SHCONTF_FOLDERS | (includeHidden_ ? SHCONTF_INCLUDEHIDDEN : 0));
  if (!list) return items;  // unreadable: no sub-folders
  int level = parentItem->GetLevel();
  TShItemIDType parentType = level == 1 ? parentItem->GetItemType() : itUnknown;
  PItemIDList id = nullptr;
  while (list->Next(id)) {
    PItemIDList absolute = ConcatIDLists(parentItem->AbsoluteIDList.get(), id);
    auto item = std::make_unique<TShellFolderItem>(nullptr, id, absolute);
    if (!absolute) continue;
    item->ParentFolder = folder;  // one binding for all the children
    if (PassesVirtualRules(level, parentType, item.get())) items.push_back(std::move(item));
  }
  std::stable_sort(items.begin(), items.end(), [&](const auto& a, const auto& b) {
    int result = 0;
    if (!folder->CompareIDs(0, a->RelativeIDList.get(), b->RelativeIDList.get(), result)) return false;
    return static_cast<int16_t>(result) < 0;
  });
  return items;
}

void TShellTreeView::RefreshNode(TShellTreeNode* node) {
  if (!node || !node->ShellItem()) return;
  ShellFolderPtr folder;
  std::vector<std::unique_ptr<TShellFolderItem>> items = EnumerateSubFolders(node, folder);
  BeginWatchUpdate();
  // Both sides are sorted: walk them together, keeping the nodes that are
  // still there with their expansion.
  int i = 0;
  size_t j = 0;
  while (j < items.size()) {
    QTreeWidgetItem* child = node->child(i);
    if (!child) {
      AddNode(node, i++, std::move(items[j++]));
      continue;
    }
    TShellFolderItem* childItem = NodeOf(child) ? NodeOf(child)->ShellItem() : nullptr;
    int order =
        childItem ? CompareIDsIn(folder.get(), childItem->RelativeIDList.get(), items[j]->RelativeIDList.get()) : 3;
    if (order == 0) {
      ++i;
      ++j;
    } else if (order == 1) {
      AddNode(node, i++, std::move(items[j++]));
    } else {
      DeleteNode(child);
    }
  }
  while (node->childCount() > i) DeleteNode(node->child(i));
  if (node->childCount() == 0 && node->isExpanded()) SetHasChildren(node, false);
  EndWatchUpdate();
}

void TShellTreeView::RefreshVisible(QTreeWidgetItem* treeItem) {
  TShellTreeNode* node = NodeOf(treeItem);
  if (!node) return;
  if (node->isExpanded() || node->childCount() > 0) {
    RefreshNode(node);
  } else if (TShellFolderItem* item = node->ShellItem()) {
    SetHasChildren(node, item->HasAttribute(SFGAO_HASSUBFOLDER));
    node->Overlay = item->GetOverlayIndex();
  }
  if (!node->isExpanded()) return;
  for (int i = 0; i < node->childCount(); ++i) RefreshVisible(node->child(i));
}

void TShellTreeView::RefreshVisibleNodes() {
  TShellTreeNode* root = RootNode();
  if (!root || destroying_) return;
  BeginWatchUpdate();
  RefreshVisible(root);
  EndWatchUpdate();
  viewport()->update();
}

void TShellTreeView::NodeExpanded(QTreeWidgetItem* treeItem) {
  TShellTreeNode* node = NodeOf(treeItem);
  TShellFolderItem* item = node ? node->ShellItem() : nullptr;
  if (destroying_ || expandGuard_ || !item) return;
  if (dragButton_ == 3 && item->GetLevel() > 1) {
    // Hovering a drag must not open what cannot be read at once.
    TShItemIDType type = item->GetItemType();
    // Folders below the home folder share the drives' level; only a drive of
    // the computer or the network can be missing its medium.
    TShellTreeNode* parent = NodeOf(node->parent());
    TShItemIDType parentType = parent && parent->ShellItem() ? parent->Item->GetItemType() : itUnknown;
    bool drive = type == itRootDrive && (parentType == itMyComputer || parentType == itNetWork);
    std::string path = drive ? item->GetItemPath() : std::string();
    if (type == itVirtual || (drive && (path.empty() || MountPointOf(path) != path))) {
      ++expandGuard_;
      node->setExpanded(false);
      --expandGuard_;
      return;
    }
  }
  BeginWatchUpdate();
  RefreshNode(node);
  if (node->childCount() == 0) SetHasChildren(node, false);
  // Expanded nodes below come back into view; they were not watched meanwhile.
  for (int i = 0; i < node->childCount(); ++i)
    if (node->child(i)->isExpanded()) RefreshVisible(node->child(i));
  watchDirty_ = true;
  EndWatchUpdate();
}

void TShellTreeView::NodeCollapsed(QTreeWidgetItem*) {
  if (!destroying_) MarkWatchedFoldersChanged();
}

// --- Finding and selecting --------------------------------------------------------------------

TShellTreeNode* TShellTreeView::FindNode(PCItemIDList idList) {
  TShellTreeNode* root = RootNode();
  if (!root || !idList || CountIDs(idList) == 0) return root;
  BeginWatchUpdate();
  if (root->childCount() == 0) RefreshNode(root);
  TShellTreeNode* found = nullptr;
  QTreeWidgetItem* node = root->child(0);
  PCItemIDList id = idList;
  // Each level's folder is read again at most once: an ID that is not there
  // (gone, or hidden) ends the walk instead of going round for ever.
  bool reread = false;
  while (node) {
    TShellTreeNode* current = NodeOf(node);
    TShellFolderItem* item = current ? current->ShellItem() : nullptr;
    QTreeWidgetItem* parent = node->parent();
    ShellFolderPtr folder;
    if (!item || !parent || !item->GetParentFolder(folder)) break;
    int order = CompareIDsIn(folder.get(), item->RelativeIDList.get(), IDListPtr(CopyFirstID(id)).get());
    if (order == 0) {
      PCItemIDList next = NextID(id);
      if (!next) {
        found = current;
        break;
      }
      current->setExpanded(true);
      if (current->childCount() == 0) RefreshNode(current);
      node = current->child(0);
      id = next;
      reread = false;
    } else if (order == 1 || order == 2) {
      int row = parent->indexOfChild(node);
      QTreeWidgetItem* step = order == 1 ? nullptr : parent->child(row + 1);
      if (!step) {
        if (reread) break;
        reread = true;
        RefreshNode(NodeOf(parent));
        row = parent->indexOfChild(node);
        if (row < 0) break;  // the node itself went
        step = order == 1 ? (row > 0 ? parent->child(row - 1) : nullptr) : parent->child(row + 1);
      }
      node = step;
    } else {
      break;
    }
  }
  EndWatchUpdate();
  return found ? found : root;
}

TShellTreeNode* TShellTreeView::FindExistingNode(PCItemIDList idList) const {
  TShellTreeNode* root = RootNode();
  if (!root || !idList) return nullptr;
  QTreeWidgetItem* parent = root;
  for (PCItemIDList id = idList; id && CountIDs(id) > 0;) {
    IDListPtr first(CopyFirstID(id));
    QTreeWidgetItem* match = nullptr;
    for (int i = 0; i < parent->childCount() && !match; ++i) {
      TShellTreeNode* node = NodeOf(parent->child(i));
      TShellFolderItem* item = node ? node->ShellItem() : nullptr;
      ShellFolderPtr folder;
      if (item && item->GetParentFolder(folder) &&
          CompareIDsIn(folder.get(), item->RelativeIDList.get(), first.get()) == 0)
        match = node;
    }
    first.reset();
    if (!match) return nullptr;
    parent = match;
    id = NextID(id);
  }
  return parent == root ? (CountIDs(idList) == 0 ? root : nullptr) : NodeOf(parent);
}

void TShellTreeView::SelectIDList(PCItemIDList idList) {
  if (!idList) return;
  // The caller's list may belong to a control that the selection moves.
  IDListPtr wanted(CopyIDList(idList));
  if (!wanted) return;
  TShellTreeNode* selected = SelectedNode();
  TShellFolderItem* item = selected ? selected->ShellItem() : nullptr;
  if (item && item->GetLevel() == GetIDListLevel(wanted.get())) {
    ShellFolderPtr desktop = SHGetDesktopFolder();
    if (desktop && CompareIDsIn(desktop.get(), item->AbsoluteIDList.get(), wanted.get()) == 0) return;
  }
  TShellTreeNode* node = FindNode(wanted.get());
  // Through our own scrollTo: scrollToItem would bypass it.
  if (node && SelectNode(node)) scrollTo(indexFromItem(node));
}

void TShellTreeView::showEvent(QShowEvent* event) {
  // As wide as the widest shown node, so a narrow tree scrolls sideways to
  // deep ones; set when first shown, as measuring costs the hidden trees'
  // start nothing then.
  if (header()->sectionResizeMode(0) != QHeaderView::ResizeToContents) {
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  }
  QTreeWidget::showEvent(event);
}

void TShellTreeView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  QTreeWidget::scrollTo(index, hint);
  if (!index.isValid() || !isVisible()) return;
  // The column grows with the nodes shown; the scroll range follows it.
  header()->resizeSections(QHeaderView::ResizeToContents);
  updateGeometries();
  const QRect cell = visualRect(index);  // icon and text, past the indentation
  const int room = viewport()->width();
  const int right = cell.left() + std::min(sizeHintForIndex(index).width(), room);
  QScrollBar* bar = horizontalScrollBar();
  if (cell.left() < 0)
    bar->setValue(bar->value() + cell.left());
  else if (right > room)
    bar->setValue(bar->value() + right - room);
}

void TShellTreeView::SetPathName(const std::string& path) {
  if (IDListPtr list = PathToIDList(path)) SelectIDList(list.get());
}

PCItemIDList TShellTreeView::GetSelectedIDList() const {
  TShellTreeNode* node = SelectedNode();
  if (!node || !node->ShellItem()) node = RootNode();
  return node && node->ShellItem() ? node->Item->AbsoluteIDList.get() : nullptr;
}

bool TShellTreeView::SelectNode(TShellTreeNode* node) {
  if (!node || destroying_ || dragButton_ == 1 || dragButton_ == 2) return false;
  SetCurrentNode(node);
  return true;
}

void TShellTreeView::SetCurrentNode(TShellTreeNode* node) {
  if (!node || node == currentItem()) return;
  setCurrentItem(node);
}

void TShellTreeView::CurrentChanged(QTreeWidgetItem* current) {
  if (destroying_ || suppressChange_ > 0) return;
  if (TShellTreeNode* node = NodeOf(current)) ChangeHandling(node);
}

void TShellTreeView::ChangeHandling(TShellTreeNode* node) {
  TShellFolderItem* item = node->ShellItem();
  if (!item) return;
  IDListPtr folder(CopyIDList(item->AbsoluteIDList.get()));
  QPointer<TShellComboBox> combo = shellComboBox_;
  QPointer<TShellListView> list = shellListView_;
  if (combo) combo->SelectIDList(folder.get());
  if (list) list->SetFolderIDList(folder.get());
}
