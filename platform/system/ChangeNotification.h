#pragma once
// Change notifications over inotify. A handle watches one folder, or a folder
// and its sub-folders, and is signalled once a change that matches its filter
// has arrived since it was last re-armed. inotify does not tell file events
// from folder events by itself, so every event is read and classified here.
//
// The handles one thread waits on share one inotify instance (a group), so a
// tree with many watched folders costs one of the user's few instances, and
// nested folders are watched once. A group bounds its watches, so a huge tree
// never uses up the user's watch budget: folders beyond it are not watched.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/system/WaitObjects.h"

constexpr uint32_t FILE_NOTIFY_CHANGE_FILE_NAME = 0x1;
constexpr uint32_t FILE_NOTIFY_CHANGE_DIR_NAME = 0x2;
constexpr uint32_t FILE_NOTIFY_CHANGE_ATTRIBUTES = 0x4;
constexpr uint32_t FILE_NOTIFY_CHANGE_SIZE = 0x8;
constexpr uint32_t FILE_NOTIFY_CHANGE_LAST_WRITE = 0x10;

class TChangeNotification;

// One inotify instance and the handles opened on it. Used by one thread.
class TChangeNotificationGroup {
 public:
  static constexpr size_t DefaultMaxWatches = 4096;

  explicit TChangeNotificationGroup(size_t maxWatches = DefaultMaxWatches);
  ~TChangeNotificationGroup();
  TChangeNotificationGroup(const TChangeNotificationGroup&) = delete;
  TChangeNotificationGroup& operator=(const TChangeNotificationGroup&) = delete;

  bool Valid() const { return fd_ >= 0; }
  // Folders watched now, each counted once.
  size_t WatchCount() const { return watches_.size(); }

 private:
  friend class TChangeNotification;
  struct Watch {
    std::string path;
    std::vector<TChangeNotification*> users;
  };

  // Watches path for user; a root is watched even beyond the budget. The
  // watch descriptor, or -1.
  int AddWatch(TChangeNotification* user, const std::string& path, uint32_t mask, bool isRoot);
  void Release(TChangeNotification* user, int wd);
  bool Full() const { return watches_.size() >= maxWatches_; }
  // Reads every pending event and hands each to the handles concerned.
  void Drain();

  int fd_ = -1;
  size_t maxWatches_;
  std::unordered_map<int, Watch> watches_;
  std::set<TChangeNotification*> handles_;
};

class TChangeNotification : public TWaitHandle {
 public:
  // Null when the path is no folder that can be watched. Without a group the
  // handle gets an instance of its own.
  static std::unique_ptr<TChangeNotification> Open(const std::string& path, bool watchSubtree, uint32_t notifyFilter,
                                                   std::shared_ptr<TChangeNotificationGroup> group = nullptr);
  ~TChangeNotification() override;
  TChangeNotification(const TChangeNotification&) = delete;
  TChangeNotification& operator=(const TChangeNotification&) = delete;

  // Re-arms the handle: it is signalled again by the next matching change.
  // Events not yet read still count as coming after. Fails once the watched
  // folder itself was deleted, moved away or unmounted.
  bool Next();

  int PollFd() const override;
  bool TryAcquire() override;

  // The names of the root folder's entries that changed since they were last
  // taken, each once, in the order first seen; false when they are not known
  // (too many, or the kernel's queue overflowed) and the folder must be read
  // whole. Taking them starts a new count.
  bool TakeChangedNames(std::vector<std::string>& names);
  // More names than this in one count are not kept.
  static constexpr size_t MaxChangedNames = 4096;

  // Folders this handle watches now (its root included).
  size_t WatchCount() const { return wds_.size(); }
  bool RootGone() const { return rootGone_; }

 private:
  friend class TChangeNotificationGroup;
  TChangeNotification(std::shared_ptr<TChangeNotificationGroup> group, std::string root, bool subtree, uint32_t filter);
  uint32_t EventMask() const;
  void AddTree(const std::string& top, bool topIsRoot);
  void RemoveTree(const std::string& top);
  // Called by the group while it drains.
  void Handle(int wd, const std::string& dir, uint32_t mask, const char* name);
  void Ignored(int wd);
  void Overflowed();
  void NoteName(const char* name);
  void Rescan();

  std::shared_ptr<TChangeNotificationGroup> group_;
  std::string root_;
  bool subtree_;
  uint32_t filter_;
  int rootWd_ = -1;
  uint64_t rootDev_ = 0;
  std::unordered_set<int> wds_;
  bool changed_ = false;
  bool rootGone_ = false;
  bool rescan_ = false;
  std::vector<std::string> names_;
  std::unordered_set<std::string> nameSet_;
  bool namesLost_ = false;
};

using ChangeNotificationPtr = std::unique_ptr<TChangeNotification>;

ChangeNotificationPtr FindFirstChangeNotification(const std::string& path, bool watchSubtree, uint32_t notifyFilter,
                                                  std::shared_ptr<TChangeNotificationGroup> group = nullptr);
bool FindNextChangeNotification(TChangeNotification* handle);
void FindCloseChangeNotification(ChangeNotificationPtr& handle);
