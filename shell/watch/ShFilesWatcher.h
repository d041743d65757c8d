#pragma once
// Watches one folder, without its sub-folders, for the changes of one filter and
// reports a settled burst on the GUI thread. Each folder list owns two: one for
// names (filter 3) and one for attributes, size and time (filter 28).
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system/ChangeNotification.h"
#include "shell/watch/WatcherThread.h"

class TShFilesWatcher;
using TShFilesChangeEvent = std::function<void(TShFilesWatcher* sender, const std::string& path)>;

class TShFilesWatcher : public TWatcherThread {
 public:
  static constexpr uint32_t SettleMs = 2000;
  // How often a watched folder is looked for while nothing changes in it.
  static constexpr uint32_t VanishCheckMs = 250;

  // Created running. A path that names no folder watches nothing.
  TShFilesWatcher(const std::string& path, uint32_t notifyFilter, TShFilesChangeEvent onChange);

  // GUI thread. The same path again changes nothing; a folder that does not
  // exist leaves the watcher idle with an empty path.
  void SetPath(const std::string& path);
  std::string GetPath() const;
  // A change handle is open now.
  bool Watching() const { return watching_.load(); }
  // Waits (at most timeoutMs) until the thread watches the path last set, so
  // that a change made right after SetPath is not missed; false on timeout.
  bool WaitUntilArmed(uint32_t timeoutMs) const;

  // Inside OnChange: the names of the folder's entries the reported burst
  // touched; false when they are not known and the folder must be read whole.
  bool ChangedNames(std::vector<std::string>& names) const;

  const uint32_t NotifyFilter;
  TShFilesChangeEvent OnChange;
  // Set and cleared by the owner on the GUI thread.
  std::function<void(TShFilesWatcher*)> OnTerminate;

 protected:
  ~TShFilesWatcher() override = default;
  void Execute() override;
  void ClearHandlers() override;
  void DoTerminate() override;

 private:
  void OpenHandle();
  void ReopenReportingVanish();
  void CloseHandle();
  void ChangeStep();
  void VanishStep(const std::string& gone);
  void SynchronizeStep(const std::function<void()>& step);

  std::string Path;  // guarded by Lock
  TEvent PathChangedEvent{false};
  mutable std::mutex Lock;

  ChangeNotificationPtr handle_;           // the thread's own
  std::string openPath_;                   // what handle_ watches; the thread's own
  std::vector<std::string> changedNames_;  // guarded by Lock
  bool namesKnown_ = false;                // guarded by Lock
  std::atomic<bool> watching_{false};
  std::atomic<bool> reporting_{false};        // the thread waits in a report to the GUI
  std::atomic<uint64_t> pathGeneration_{0};   // counts SetPath calls that changed the path
  std::atomic<uint64_t> armedGeneration_{0};  // the generation the open handle (or idleness) belongs to
};
