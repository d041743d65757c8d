// The folder tree's watching of the folders it shows, and the drives that
// come and go.
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/namespace/Drives.h"
#include "shell/ShellComboBox.h"
#include "shell/ShellListView.h"
#include "shell/ShellTreeView.h"
#include "shell/watch/ShDirWatcher.h"

// --- Watching -------------------------------------------------------------------------------------

std::vector<std::string> TShellTreeView::WatchedFolders() const {
  std::vector<std::string> dirs;
  std::function<void(QTreeWidgetItem*)> visit = [&](QTreeWidgetItem* treeItem) {
    TShellTreeNode* node = NodeOf(treeItem);
    if (!node || !node->isExpanded()) return;
    if (TShellFolderItem* item = node->ShellItem()) {
      std::string path = item->GetItemPath();
      if (!path.empty() && std::find(dirs.begin(), dirs.end(), path) == dirs.end()) dirs.push_back(path);
    }
    for (int i = 0; i < node->childCount(); ++i) visit(node->child(i));
  };
  visit(RootNode());
  return dirs;
}

void TShellTreeView::SuspendWatching() {
  if (suspendCount_++ == 0 && watcher_) watcher_->SetDirectories(nullptr);
}

void TShellTreeView::ResumeWatching() {
  if (suspendCount_ == 0) return;
  if (--suspendCount_ == 0) UpdateWatchedFolders();
}

void TShellTreeView::EndWatchUpdate() {
  if (watchUpdateLock_ > 0 && --watchUpdateLock_ == 0 && watchDirty_) UpdateWatchedFolders();
}

void TShellTreeView::MarkWatchedFoldersChanged() {
  watchDirty_ = true;
  if (watchUpdateLock_ == 0) UpdateWatchedFolders();
}

void TShellTreeView::UpdateWatchedFolders() {
  watchDirty_ = false;
  if (suspendCount_ > 0 || !watcher_ || destroying_) return;
  std::vector<std::string> dirs = WatchedFolders();
  watcher_->SetDirectories(&dirs);
}

void TShellTreeView::DirChanged() {
  if (destroying_) return;
  if (dragButton_ != 0) {
    // Caught up once the button is up: a drag may itself have moved folders.
    dirChangePending_ = true;
    return;
  }
  dirChangePending_ = false;
  QPointer<TShellComboBox> combo = shellComboBox_;
  if (!combo) {
    RefreshVisibleNodes();
    return;
  }
  auto update = ItemsUpdateOf(combo);
  combo->Rebuild();
  RefreshVisibleNodes();
  if (combo) combo->SelectIDList(GetSelectedIDList());
}

void TShellTreeView::SetDragButton(int value) {
  dragButton_ = value;
  if (value == 0 && dirChangePending_)
    QTimer::singleShot(0, this, [this] {
      if (dirChangePending_) DirChanged();
    });
}

// --- Drive events ---------------------------------------------------------------------------------

void TShellTreeView::DeviceChangeNotify(TDeviceChangeData* data) {
  if (watcher_)
    watcher_->DeviceChanged(data);
  else
    delete data;
}

void TShellTreeView::RenameDriveNode(TShellTreeNode* node, const std::string& driveName) {
  TShellFolderItem* item = node->ShellItem();
  if (!item) return;
  item->ImageIndex = -1;
  item->SelectedIndex = -1;
  // A drive without a label keeps the namespace's name rather than a bare " (mount point)".
  item->DisplayName = driveName.rfind(" (", 0) == 0 ? std::string() : driveName;
  node->setText(0, QString::fromStdString(item->GetDisplayName()));
}

void TShellTreeView::DeviceChanged(TDeviceChangeData* raw) {
  std::unique_ptr<TDeviceChangeData> data(raw);
  if (!data || destroying_ || !RootNode()) return;
  QPointer<TShellComboBox> combo = shellComboBox_;
  bool arrival = data->Event == DBT_DEVICEARRIVAL;
  if (data->Kind == 1 && data->IDList) {
    IDListPtr computerList(CopyParentIDList(data->IDList.get()));
    TShellTreeNode* computer = FindExistingNode(computerList.get());
    BeginWatchUpdate();
    TShellTreeNode* node = nullptr;
    if (arrival) {
      // A new mount is a new drive: the computer's list learns it.
      if (computer && (computer->isExpanded() || computer->childCount() > 0)) RefreshNode(computer);
      node = FindExistingNode(data->IDList.get());
      if (node) RenameDriveNode(node, data->DriveName);
    } else if ((node = FindExistingNode(data->IDList.get()))) {
      // Only a selection on the drive moves away; elsewhere the user keeps his place.
      TShellTreeNode* parent = NodeOf(node->parent());
      if (parent && IsInside(currentItem(), node)) SetCurrentNode(parent);
      while (node->childCount() > 0) DeleteNode(node->child(0));
      ++expandGuard_;
      node->setExpanded(false);
      --expandGuard_;
      SetHasChildren(node, true);
      RenameDriveNode(node, data->DriveName);
      MarkWatchedFoldersChanged();
      // A mount point that nothing is mounted on any more is no drive.
      if (parent) RefreshNode(parent);
    }
    EndWatchUpdate();
    if (combo) {
      auto update = ItemsUpdateOf(combo);
      if (TShellComboItem* entry = combo->FindEntry(data->IDList.get())) {
        std::string name = data->DriveName.rfind(" (", 0) == 0 ? std::string() : data->DriveName;
        if (name.empty()) {
          entry->DisplayName.clear();
          name = entry->GetDisplayName();
        }
        combo->UpdateEntry(entry, name);
      }
      combo->Rebuild();
      if (combo) combo->SelectIDList(GetSelectedIDList());
    }
  } else if (data->Kind == 2) {
    auto update = ItemsUpdateOf(combo);
    if (combo) combo->Rebuild();
    if (!arrival) {
      // A selection on a network drive goes to the desktop.
      TShellTreeNode* selected = SelectedNode();
      TShellTreeNode* top = selected;
      while (top && top->Level() > 1) top = NodeOf(top->parent());
      if (top && top->Level() == 1 && top->ShellItem() && top->Item->GetItemType() == itNetWork && selected != top)
        SetCurrentNode(RootNode());
    }
    RefreshVisibleNodes();
    if (combo) combo->SelectIDList(GetSelectedIDList());
  }
}
