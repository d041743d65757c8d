#include "shell/watch/ShDirWatcher.h"

#include <algorithm>

TShDirWatcher::TShDirWatcher(const std::vector<std::string>* dirs, uint32_t notifyFilter,
                             TShDeviceChangeEvent onDeviceChange, TShDirChangeEvent onDirChange, bool watchSubtree)
    : NotifyFilter(notifyFilter),
      WatchSubtree(watchSubtree),
      OnDeviceChange(std::move(onDeviceChange)),
      OnDirChange(std::move(onDirChange)) {
  if (dirs) Dirs = NormalizeDirs(*dirs);
  Start();
}

TShDirWatcher::~TShDirWatcher() {
  for (TDeviceChangeData* data : DeviceData) delete data;
}

std::vector<std::string> TShDirWatcher::NormalizeDirs(const std::vector<std::string>& list) {
  std::vector<std::string> dirs;
  for (const std::string& dir : list) {
    if (!FolderExists(dir)) continue;
    // '/' never occurs inside a multi-byte UTF-8 character, so the last byte tells.
    dirs.push_back(dir.back() == '/' ? dir : dir + '/');
  }
  std::sort(dirs.begin(), dirs.end());
  dirs.erase(std::unique(dirs.begin(), dirs.end()), dirs.end());
  return dirs;
}

void TShDirWatcher::SetDirectories(const std::vector<std::string>* list) {
  if (!list) {
    std::lock_guard<std::mutex> lock(Lock);
    Dirs.clear();
    DirsChangedEvent.Set();
    return;
  }
  std::vector<std::string> fresh = NormalizeDirs(*list);  // file-system calls outside the lock
  std::lock_guard<std::mutex> lock(Lock);
  if (fresh != Dirs) {
    Dirs = std::move(fresh);
    DirsChangedEvent.Set();
  }
}

void TShDirWatcher::DeviceChanged(TDeviceChangeData* data) {
  if (!OnDeviceChange) {
    delete data;  // nobody will take it
    return;
  }
  // A newer record of the same drive supersedes one not yet delivered; records
  // of other drives wait their turn, so two drives plugged in together both arrive.
  auto sameDrive = [data](TDeviceChangeData* queued) {
    if (queued->Kind != data->Kind) return false;
    return queued->Kind == 2 || IDListsEqual(queued->IDList.get(), data->IDList.get());
  };
  for (auto it = DeviceData.begin(); it != DeviceData.end();) {
    if (sameDrive(*it)) {
      delete *it;
      it = DeviceData.erase(it);
    } else {
      ++it;
    }
  }
  DeviceData.push_back(data);
  DeviceEvent.Set();
}

std::vector<std::string> TShDirWatcher::GetDirectories() const {
  std::lock_guard<std::mutex> lock(Lock);
  return Dirs;
}

void TShDirWatcher::ClearHandlers() {
  OnDeviceChange = nullptr;
  OnDirChange = nullptr;
}

void TShDirWatcher::DoTerminate() {
  auto handler = OnTerminate;
  if (handler) handler(this);
}

// Opening a subtree watch reads the whole tree, so it happens outside the lock;
// a list replaced meanwhile has signalled DirsChangedEvent and is built next.
void TShDirWatcher::BuildHandles() {
  std::vector<std::string> dirs;
  {
    std::lock_guard<std::mutex> lock(Lock);
    dirs = Dirs;
  }
  handles_.clear();
  handleDirs_.clear();
  std::vector<std::string> failed;
  // One inotify instance and one watch budget for all the folders; nested
  // folders share their watches.
  auto group = std::make_shared<TChangeNotificationGroup>();
  for (size_t i = dirs.size(); i-- > 0;) {
    ChangeNotificationPtr handle = FindFirstChangeNotification(dirs[i], WatchSubtree, NotifyFilter, group);
    if (handle) {
      handles_.push_back(std::move(handle));
      handleDirs_.push_back(dirs[i]);
    } else {
      failed.push_back(dirs[i]);
    }
  }
  if (!failed.empty()) {
    std::lock_guard<std::mutex> lock(Lock);
    for (const std::string& dir : failed) Dirs.erase(std::remove(Dirs.begin(), Dirs.end(), dir), Dirs.end());
  }
  ++buildCount_;
}

void TShDirWatcher::CloseHandles() {
  handles_.clear();
  handleDirs_.clear();
}

// A folder deleted or moved away while watched: watching goes on for the others.
void TShDirWatcher::DropFolder(size_t index) {
  std::string dir = handleDirs_[index];
  handles_.erase(handles_.begin() + static_cast<std::ptrdiff_t>(index));
  handleDirs_.erase(handleDirs_.begin() + static_cast<std::ptrdiff_t>(index));
  std::lock_guard<std::mutex> lock(Lock);
  Dirs.erase(std::remove(Dirs.begin(), Dirs.end(), dir), Dirs.end());
}

// Waits until no device event came for DeviceSettleMs; false when stopped.
bool TShDirWatcher::SettleDevice() {
  for (;;) {
    uint32_t r = WaitForMultipleObjects({&StopEvent, &DeviceEvent}, DeviceSettleMs);
    if (r == WAIT_OBJECT_0) return false;
    if (r == WAIT_OBJECT_0 + 1) continue;
    if (r == WAIT_TIMEOUT) return true;
    throw EWatchSystemError("wait failed");
  }
}

void TShDirWatcher::DeviceStep() {
  std::vector<TDeviceChangeData*> records;
  records.swap(DeviceData);
  for (TDeviceChangeData* data : records) {
    auto handler = OnDeviceChange;  // a handler may stop the watcher
    if (handler)
      handler(this, data);
    else
      delete data;
  }
}

void TShDirWatcher::ChangeStep() {
  auto handler = OnDirChange;
  if (handler) handler(this);
}

void TShDirWatcher::Execute() {
  struct Closer {
    TShDirWatcher* w;
    ~Closer() { w->CloseHandles(); }
  } closer{this};

  BuildHandles();
  // A folder burst keeps settling across a device event or a rebuild, so a
  // change seen before either is still reported.
  bool settling = false;
  for (;;) {
    std::vector<TWaitHandle*> waits{&StopEvent, &DeviceEvent, &DirsChangedEvent};
    for (auto& handle : handles_) waits.push_back(handle.get());
    uint32_t r = WaitForMultipleObjects(waits, settling ? FolderSettleMs : INFINITE);
    if (r == WAIT_FAILED) throw EWatchSystemError("wait failed");
    if (r == WAIT_TIMEOUT) {
      settling = false;
      Synchronize([this] { ChangeStep(); });
      continue;
    }
    size_t index = r - WAIT_OBJECT_0;
    if (index == 0) return;
    if (index == 1) {
      if (!SettleDevice()) return;
      Synchronize([this] { DeviceStep(); });
    } else if (index == 2) {
      // The new watches go on before the old ones come off, so that a change
      // made meanwhile in a folder of both sets is not lost.
      std::vector<ChangeNotificationPtr> old = std::move(handles_);
      BuildHandles();
      for (auto& handle : old)
        if (handle->TryAcquire()) settling = true;
    } else {
      if (!FindNextChangeNotification(handles_[index - 3].get())) DropFolder(index - 3);
      settling = true;
    }
  }
}
