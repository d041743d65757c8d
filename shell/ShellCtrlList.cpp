// The registry of live shell controls. While any control is registered a mount
// monitor runs, and each mount that comes or goes reaches every registered tree
// as a drive event.
#include <algorithm>

#include "platform/namespace/Drives.h"
#include "platform/system/Exception.h"
#include "platform/namespace/ItemID.h"
#include "shell/ShellCtrls.h"

TShellCtrlList& TShellCtrlList::Instance() {
  static TShellCtrlList* instance = new TShellCtrlList;  // lives as long as the process
  return *instance;
}

TShellCtrlList::TShellCtrlList() = default;

TShellCtrlList::~TShellCtrlList() { delete monitor_; }

void TShellCtrlList::AddListView(QObject* view) {
  if (view && std::find(listViews_.begin(), listViews_.end(), view) == listViews_.end()) listViews_.push_back(view);
  UpdateMonitor();
}

void TShellCtrlList::AddTreeView(IShellTreeControl* tree) {
  if (tree && std::find(treeViews_.begin(), treeViews_.end(), tree) == treeViews_.end()) treeViews_.push_back(tree);
  UpdateMonitor();
}

void TShellCtrlList::RemoveListView(QObject* view) {
  std::erase(listViews_, view);
  UpdateMonitor();
}

void TShellCtrlList::RemoveTreeView(IShellTreeControl* tree) {
  std::erase(treeViews_, tree);
  UpdateMonitor();
}

void TShellCtrlList::UpdateMonitor() {
  bool wanted = !listViews_.empty() || !treeViews_.empty();
  if (wanted && !monitor_) {
    monitor_ = new MountMonitor(this);
    connect(monitor_, &MountMonitor::Arrived, this, [this](const MountEntry& e) { MountChanged(e, true); });
    connect(monitor_, &MountMonitor::Removed, this, [this](const MountEntry& e) { MountChanged(e, false); });
  } else if (!wanted && monitor_) {
    delete monitor_;
    monitor_ = nullptr;
  }
}

void TShellCtrlList::MountChanged(const MountEntry& entry, bool arrived) {
  Guarded([&] {
    uint32_t event = arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    // Copy: a tree may unregister itself while it handles the event.
    std::vector<IShellTreeControl*> trees = treeViews_;
    for (IShellTreeControl* tree : trees) {
      if (std::find(treeViews_.begin(), treeViews_.end(), tree) == treeViews_.end()) continue;
      if (entry.network) {
        tree->DeviceChangeNotify(new TDeviceChangeData({}, event, 2, nullptr));
        continue;
      }
      // The drive's list is built, not parsed: after a removal the mount point
      // would parse as a folder of the file system below it.
      PItemIDList computer = nullptr;
      if (!GetSpecialFolderIDList(CSIDL_DRIVES, computer)) continue;
      PItemIDList drive = MakeDriveID(entry.mountPoint, false);
      PItemIDList root = AppendIDList(computer, drive);
      if (!root) continue;
      std::string name = " (" + entry.mountPoint + ")";
      if (arrived) name = GetVolumeLabel(entry.mountPoint) + name;
      tree->DeviceChangeNotify(new TDeviceChangeData(name, event, 1, root));
    }
  });
}
