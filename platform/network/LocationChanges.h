#pragma once
// Changes made in a location's folder through GIO rather than its FUSE path,
// whose calls a stalled server holds for good: a new folder and a rename that
// a stop ends at once, and GIO's change monitor of the folder where the
// backend offers one.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace network {

// Makes the folder name in the location folder (a URI); empty, or why not in
// Japanese. stop turning true ends the wait ("中止しました。").
std::string MakeRemoteFolder(const std::string& folder, const std::string& name, const std::atomic<bool>* stop);
// Renames the location item (a URI) within its folder, never over a name
// that is taken; empty, or why not.
std::string RenameRemote(const std::string& item, const std::string& newName, const std::atomic<bool>* stop);

// GIO's monitor of a location's folder, on a thread of its own (the monitor
// is asked of the backend's daemon, which may be slow to answer). sftp has
// none: Watching() then stays false and the caller keeps polling.
class FolderMonitor {
 public:
  // changed runs on the monitor's thread for each change the backend reports.
  FolderMonitor(const std::string& uri, std::function<void()> changed);
  ~FolderMonitor();
  FolderMonitor(const FolderMonitor&) = delete;
  FolderMonitor& operator=(const FolderMonitor&) = delete;

  const std::string& Uri() const { return uri_; }
  // True once the backend's own monitor watches (never a polling one).
  bool Watching() const { return state_ == State::Watching; }
  // True once it is known that the backend has none.
  bool Unsupported() const { return state_ == State::None; }

 private:
  enum class State { Asking, Watching, None };
  struct Loop;
  std::string uri_;
  std::function<void()> changed_;
  std::atomic<State> state_{State::Asking};
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
};

}  // namespace network
