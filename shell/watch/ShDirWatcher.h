#pragma once
// Watches a set of folders, with their sub-folders, for folders being made,
// deleted or renamed, and passes drive events on. Each is reported on the GUI
// thread once its burst has settled. The folder tree owns one.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system/ChangeNotification.h"
#include "shell/DeviceChangeData.h"
#include "shell/watch/WatcherThread.h"

class TShDirWatcher;
using TShDirChangeEvent = std::function<void(TShDirWatcher* sender)>;
// The handler owns data from then on.
using TShDeviceChangeEvent = std::function<void(TShDirWatcher* sender, TDeviceChangeData* data)>;

class TShDirWatcher : public TWatcherThread {
 public:
  static constexpr uint32_t FolderSettleMs = 1500;
  static constexpr uint32_t DeviceSettleMs = 1000;

  // Created running. dirs may be null. Folders that do not exist are left out.
  // Without watchSubtree only the folders themselves are watched, not the
  // folders below them (the tree lists the folders it shows).
  TShDirWatcher(const std::vector<std::string>* dirs, uint32_t notifyFilter, TShDeviceChangeEvent onDeviceChange,
                TShDirChangeEvent onDirChange, bool watchSubtree = true);

  // GUI thread. The watched set becomes list (null: none); the thread rebuilds
  // its handles only when the set really differs.
  void SetDirectories(const std::vector<std::string>* list);
  // GUI thread. Takes ownership of data; a record of the same drive not yet
  // delivered is replaced (and freed) by the newer one.
  void DeviceChanged(TDeviceChangeData* data);

  // The watched folders, sorted, each with a trailing '/'.
  std::vector<std::string> GetDirectories() const;
  // How often the thread has built its handles.
  int BuildCount() const { return buildCount_.load(); }

  // Every existing folder of list with a trailing '/', sorted, without doubles.
  static std::vector<std::string> NormalizeDirs(const std::vector<std::string>& list);

  const uint32_t NotifyFilter;
  const bool WatchSubtree;
  TShDeviceChangeEvent OnDeviceChange;
  TShDirChangeEvent OnDirChange;
  // Set and cleared by the owner on the GUI thread.
  std::function<void(TShDirWatcher*)> OnTerminate;

 protected:
  ~TShDirWatcher() override;
  void Execute() override;
  void ClearHandlers() override;
  void DoTerminate() override;

 private:
  void BuildHandles();
  void CloseHandles();
  void DropFolder(size_t index);
  bool SettleDevice();
  void DeviceStep();
  void ChangeStep();

  std::vector<TDeviceChangeData*> DeviceData;  // not yet delivered, owned; GUI thread only
  std::vector<std::string> Dirs;               // guarded by Lock
  TEvent DeviceEvent{false};
  TEvent DirsChangedEvent{false};
  mutable std::mutex Lock;

  // The thread's own: a change handle per folder, the last folder first.
  std::vector<ChangeNotificationPtr> handles_;
  std::vector<std::string> handleDirs_;
  std::atomic<int> buildCount_{0};
};
