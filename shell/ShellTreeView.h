#pragma once
// The folder tree: the namespace from the desktop down, filled lazily as nodes
// expand, merged (not rebuilt) when folders change, and kept in step with a
// linked list view and combo box in both directions.
#include <QPersistentModelIndex>
#include <QPoint>
#include <QPointer>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/ShellCtrls.h"

class QMenu;
class QDropEvent;
class TShDirWatcher;
class TShellComboBox;
class TShellListView;
class TShellPopupMenu;
class TShellTreeView;

// A node of the tree; owns its folder item.
class TShellTreeNode : public QTreeWidgetItem, public IShellTreeNode {
 public:
  explicit TShellTreeNode(TShellFolderItem* item);
  ~TShellTreeNode() override;
  int AbsoluteIndex() const override;
  int Level() const;
  // The node's item, null when it has none or it is not valid.
  TShellFolderItem* ShellItem() const;
  // Icons, the drop highlight and the cut ghost are drawn from the node's state.
  QVariant data(int column, int role) const override;
  // Repaints the node after a change of its state.
  void Repaint() { emitDataChanged(); }

  std::unique_ptr<TShellFolderItem> Item;
  bool DropHighlighted = false;
  bool Ghosted = false;  // cut to the clipboard
  int Overlay = -1;      // 0 shared, 1 link, -1 none
};

using TShellBeginDragEvent =
    std::function<void(TShellTreeView* sender, TShellTreeNode* node, const QPoint& pt, int x, int y, bool& canDrag)>;
using TShellTreeDragEnterEvent = std::function<void(TShellTreeView* sender, const TShellDragObject& dragObject,
                                                    TShiftState shift, const QPoint& pt, bool& accept)>;
// node is null over empty space.
using TShellTreeDragEvent = std::function<void(TShellTreeView* sender, const TShellDragObject& dragObject,
                                               TShellTreeNode* node, TShiftState shift, int x, int y)>;
using TShellTreeDropEvent =
    std::function<void(TShellTreeView* sender, const TShellDragObject& dragObject, TShellTreeNode* node,
                       TShiftState shift, int x, int y, bool& defaultAction)>;
// Runs before the tree's own context menu; handled = true keeps it from showing.
using TShellTreeContextPopupEvent = std::function<void(TShellTreeView* sender, const QPoint& pos, bool& handled)>;

class TShellTreeView : public QTreeWidget, public IShellTreeControl {
  Q_OBJECT
 public:
  explicit TShellTreeView(QWidget* parent = nullptr);
  ~TShellTreeView() override;

  // --- Properties ---
  bool IncludeHidden() const;
  void SetIncludeHidden(bool value);
  TShVirtuaItems ShVirtuaItems() const;
  void SetShVirtuaItems(TShVirtuaItems value);
  TShellListView* ShellListView() const;
  // Links both ways; null only clears the old list view's link.
  void SetShellListView(TShellListView* view);
  TShellComboBox* ShellComboBox() const;
  void SetShellComboBox(TShellComboBox* combo);
  TShellPopupMenu* ShellPopupMenu() const;
  // Switches the menu's AutoPopup off.
  void SetShellPopupMenu(TShellPopupMenu* menu);
  // The ordinary menu, shown from the keyboard, on empty space and on the
  // desktop node; not owned.
  QMenu* PopupMenu = nullptr;

  // --- Events ---
  TShellBeginDragEvent OnShBeginDrag;
  TShellTreeDragEnterEvent OnShDragEnter;
  TShellTreeDragEvent OnShDragOver;
  TShellTreeDropEvent OnShDragDrop;
  std::function<void(TShellTreeView* sender)> OnShDragLeave;
  TShellTreeContextPopupEvent OnContextPopup;

  // --- Operations ---
  // An unparsable path does nothing.
  void SetPathName(const std::string& path);
  // Null does nothing; the caller keeps idList.
  void SelectIDList(PCItemIDList idList);
  // The selected node's absolute list, or the root's; null without a root.
  PCItemIDList GetSelectedIDList() const;
  // Walks and fills the tree down to idList; the root when it is not found.
  TShellTreeNode* FindNode(PCItemIDList idList);
  void RefreshNode(TShellTreeNode* node);
  void RefreshVisibleNodes();
  void SuspendWatching();
  void ResumeWatching();
  TShellTreeNode* RootNode() const;
  TShellTreeNode* SelectedNode() const;
  // The folders the watcher is given while watching: those of the expanded nodes.
  std::vector<std::string> WatchedFolders() const;
  // Starts editing the node's name in place when that is allowed.
  bool StartRename(TShellTreeNode* node);
  // 0 none, 1 left or 2 right button went down on a node, 3 a drag is over the tree.
  int DragButton() const { return dragButton_; }
  // The node highlighted as drop target (or pressed), null for none.
  TShellTreeNode* DropTargetNode() const { return dropNode_; }
  // The node at a point of the viewport, null over empty space.
  TShellTreeNode* NodeAt(const QPoint& pos) const;
  static TShellTreeNode* NodeOf(QTreeWidgetItem* item);

  // --- IShellTreeControl ---
  void DeviceChangeNotify(TDeviceChangeData* data) override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // A new style or icon theme: the nodes ask for their icons again.
  void changeEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  // Also sideways: a deep node's icon and text come into a narrow tree's view
  // (scrollToItem of the base class does not come here).
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  void showEvent(QShowEvent* event) override;

 private:
  friend class TShellTreeDelegate;
  void InstallDelegate();

  // Nodes and their merge.
  void BuildRoot();
  TShellTreeNode* AddNode(TShellTreeNode* parent, int index, std::unique_ptr<TShellFolderItem> item);
  std::vector<std::unique_ptr<TShellFolderItem>> EnumerateSubFolders(TShellTreeNode* node, ShellFolderPtr& folder);
  bool PassesVirtualRules(int parentLevel, TShItemIDType parentType, TShellFolderItem* item) const;
  // Deletes a node; a selection inside it moves to its parent first.
  void DeleteNode(QTreeWidgetItem* item);
  void RefreshVisible(QTreeWidgetItem* item);
  TShellTreeNode* FindExistingNode(PCItemIDList idList) const;
  void NodeExpanded(QTreeWidgetItem* item);
  void NodeCollapsed(QTreeWidgetItem* item);
  static void SetHasChildren(TShellTreeNode* node, bool value);
  static bool HasChildren(const TShellTreeNode* node);
  static bool IsInside(const QTreeWidgetItem* item, const QTreeWidgetItem* top);

  // Selection and the linked controls.
  void CurrentChanged(QTreeWidgetItem* current);
  void ChangeHandling(TShellTreeNode* node);
  // Refused while a mouse button is down on a node.
  bool SelectNode(TShellTreeNode* node);
  void SetCurrentNode(TShellTreeNode* node);
  void SetDropHighlight(TShellTreeNode* node);
  void SetDragButton(int value);
  void RebuildComboAndSelect();

  // Rename, context menu, cut.
  bool CanEdit(TShellTreeNode* node);
  void CommitRename(const QPersistentModelIndex& index, const QString& text);
  void RepositionNode(TShellTreeNode* node);
  void ShowShellMenu(TShellTreeNode* node, const QPoint& globalPos);
  void SetCutNode(TShellTreeNode* node);
  void ClipboardChanged();

  // Watching and drive events.
  void DirChanged();
  void DeviceChanged(TDeviceChangeData* data);
  void RenameDriveNode(TShellTreeNode* node, const std::string& driveName);
  void BeginWatchUpdate() { ++watchUpdateLock_; }
  void EndWatchUpdate();
  void MarkWatchedFoldersChanged();
  void UpdateWatchedFolders();

  // Drag and drop.
  bool MaybeStartDrag(QMouseEvent* event);
  uint32_t DragOverAt(QDropEvent* event, bool counted);
  std::unique_ptr<IDropTarget> TargetOf(TShellTreeNode* node) const;
  void AutoScroll(const QPoint& pos);

  QPointer<TShellListView> shellListView_;
  QPointer<TShellComboBox> shellComboBox_;
  QPointer<TShellPopupMenu> shellPopupMenu_;
  bool includeHidden_ = true;
  TShVirtuaItems virtuaItems_ = DefaultShVirtuaItems();
  int dragButton_ = 0;
  QPoint pressPoint_;
  bool destroying_ = false;
  TShellIDList contextIDList_;  // borrows the item's lists for one popup
  TShDirWatcher* watcher_ = nullptr;
  int suspendCount_ = 1;  // idle until the root is built
  int watchUpdateLock_ = 0;
  bool watchDirty_ = false;
  bool dirChangePending_ = false;
  std::unique_ptr<TShellDragObject> dragObject_;
  bool dragWithRight_ = false;
  TShellTreeNode* dropNode_ = nullptr;
  TShellTreeNode* dragOverNode_ = nullptr;
  int dragOverCount_ = 0;
  TShellTreeNode* cutNode_ = nullptr;
  int suppressChange_ = 0;
  int expandGuard_ = 0;
};
