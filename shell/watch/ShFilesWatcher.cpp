#include "shell/watch/ShFilesWatcher.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

TShFilesWatcher::TShFilesWatcher(const std::string& path, uint32_t notifyFilter, TShFilesChangeEvent onChange)
    : NotifyFilter(notifyFilter), OnChange(std::move(onChange)) {
  // Kept empty for a missing folder, so that setting the same path once the
  // folder exists is a change that opens it.
  if (FolderExists(path)) Path = path;
  pathGeneration_ = 1;
  Start();
}

void TShFilesWatcher::SetPath(const std::string& path) {
  bool exists = FolderExists(path);  // file-system call outside the lock
  std::lock_guard<std::mutex> lock(Lock);
  if (path == Path) return;
  Path = exists ? path : std::string();
  ++pathGeneration_;
  PathChangedEvent.Set();
}

bool TShFilesWatcher::WaitUntilArmed(uint32_t timeoutMs) const {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // Inside its own report the thread waits for the GUI: its open handle (on
  // the same folder) stays, so there is nothing to wait for.
  while (armedGeneration_.load() < pathGeneration_.load() && !reporting_.load()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return true;
}

bool TShFilesWatcher::ChangedNames(std::vector<std::string>& names) const {
  std::lock_guard<std::mutex> lock(Lock);
  names = changedNames_;
  return namesKnown_;
}

std::string TShFilesWatcher::GetPath() const {
  std::lock_guard<std::mutex> lock(Lock);
  return Path;
}

void TShFilesWatcher::ClearHandlers() { OnChange = nullptr; }

void TShFilesWatcher::DoTerminate() {
  auto handler = OnTerminate;
  if (handler) handler(this);
}

void TShFilesWatcher::OpenHandle() {
  std::string path;
  uint64_t generation;
  {
    std::lock_guard<std::mutex> lock(Lock);
    path = Path;
    generation = pathGeneration_.load();
  }
  handle_ = path.empty() ? nullptr : FindFirstChangeNotification(path, false, NotifyFilter);
  if (!handle_ && !path.empty() && !FolderExists(path)) {
    // The folder went away: forget it, so the owner can set it again later.
    std::lock_guard<std::mutex> lock(Lock);
    if (Path == path) Path.clear();
  }
  watching_ = handle_ != nullptr;
  openPath_ = handle_ ? path : std::string();
  armedGeneration_ = generation;
}

void TShFilesWatcher::CloseHandle() {
  FindCloseChangeNotification(handle_);
  watching_ = false;
}

void TShFilesWatcher::ChangeStep() {
  auto handler = OnChange;
  if (!handler) return;
  std::string path = GetPath();
  if (!path.empty()) handler(this, path);
}

void TShFilesWatcher::VanishStep(const std::string& gone) {
  {
    std::lock_guard<std::mutex> lock(Lock);
    namesKnown_ = false;
    changedNames_.clear();
  }
  auto handler = OnChange;
  // A path set since then means the owner has moved on.
  if (handler && GetPath().empty()) handler(this, gone);
}

void TShFilesWatcher::SynchronizeStep(const std::function<void()>& step) {
  reporting_ = true;
  Synchronize(step);
  reporting_ = false;
}

void TShFilesWatcher::Execute() {
  struct Closer {
    TShFilesWatcher* w;
    ~Closer() { w->CloseHandle(); }
  } closer{this};

  OpenHandle();
  bool settling = false;  // a burst is under way: report it once it has been quiet for SettleMs
  auto quietUntil = std::chrono::steady_clock::now();
  // The folder's own removal raises no change while a process has it as its
  // working folder (this one often does): a look now and then finds it gone.
  auto reportIfGone = [this]() {
    std::string watched = GetPath();
    if (watched.empty() || FolderExists(watched)) return false;
    CloseHandle();
    OpenHandle();
    SynchronizeStep([this, watched] { VanishStep(watched); });
    return true;
  };
  for (;;) {
    if (!handle_) {
      settling = false;
      uint32_t r = WaitForMultipleObjects({&StopEvent, &PathChangedEvent}, INFINITE);
      if (r == WAIT_OBJECT_0) return;
      if (r != WAIT_OBJECT_0 + 1) throw EWatchSystemError("wait failed");
      ReopenReportingVanish();
      continue;
    }
    uint32_t timeout = VanishCheckMs;
    if (settling) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(quietUntil - std::chrono::steady_clock::now());
      timeout = static_cast<uint32_t>(std::clamp<int64_t>(left.count(), 0, VanishCheckMs));
    }
    std::vector<TWaitHandle*> waits{&StopEvent, &PathChangedEvent, handle_.get()};
    uint32_t r = WaitForMultipleObjects(waits, timeout);
    if (r == WAIT_OBJECT_0) return;
    if (r == WAIT_OBJECT_0 + 2) {
      // Every further change within SettleMs starts the wait again. A handle
      // that cannot be re-armed means the folder itself went away: its owner
      // is told once, with the path it watched, so that it stops showing a
      // folder that no longer exists; then the watcher idles until it is
      // given a path again.
      if (FindNextChangeNotification(handle_.get())) {
        settling = true;
        quietUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(SettleMs);
        continue;
      }
      std::string gone = GetPath();
      CloseHandle();
      OpenHandle();
      settling = false;
      if (!gone.empty() && !FolderExists(gone)) SynchronizeStep([this, gone] { VanishStep(gone); });
      continue;
    }
    if (r == WAIT_TIMEOUT) {
      if (reportIfGone()) {
        settling = false;
        continue;
      }
      if (!settling || std::chrono::steady_clock::now() < quietUntil) continue;
      // Names known: the handle stays armed, so nothing after them is lost.
      // Otherwise the fresh handle goes on before the owner re-reads the
      // folder, so a change made while it reads is not lost.
      handle_->TryAcquire();
      std::vector<std::string> names;
      bool known = handle_->TakeChangedNames(names);
      if (!known || !FindNextChangeNotification(handle_.get())) {
        known = false;
        names.clear();
        CloseHandle();
        OpenHandle();
      }
      {
        std::lock_guard<std::mutex> lock(Lock);
        changedNames_.swap(names);
        namesKnown_ = known;
      }
      settling = false;
      SynchronizeStep([this] { ChangeStep(); });
      continue;
    }
    if (r != WAIT_OBJECT_0 + 1) throw EWatchSystemError("wait failed");
    // Suspended and resumed on the same folder: the open handle keeps what it
    // has seen (and a burst under way), which reopening would throw away.
    {
      std::lock_guard<std::mutex> lock(Lock);
      if (Path == openPath_) {
        armedGeneration_ = pathGeneration_.load();
        continue;
      }
    }
    CloseHandle();
    ReopenReportingVanish();
    settling = false;
  }
}

void TShFilesWatcher::ReopenReportingVanish() {
  const std::string asked = GetPath();
  OpenHandle();
  // Removed between being set and being opened: the owner still shows it.
  if (!handle_ && !asked.empty() && !FolderExists(asked)) SynchronizeStep([this, asked] { VanishStep(asked); });
}
