#include "platform/system/ChangeNotification.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>

#include "platform/system/UniqueFd.h"

namespace {

std::string JoinPath(const std::string& dir, const char* name) {
  std::string p = dir;
  if (p.empty() || p.back() != '/') p += '/';
  p += name;
  return p;
}

bool IsDotOrDotDot(const char* name) { return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)); }

}  // namespace

// ---- the group ----

TChangeNotificationGroup::TChangeNotificationGroup(size_t maxWatches) : maxWatches_(maxWatches < 1 ? 1 : maxWatches) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

TChangeNotificationGroup::~TChangeNotificationGroup() {
  if (fd_ >= 0) close(fd_);  // drops every watch with it
}

int TChangeNotificationGroup::AddWatch(TChangeNotification* user, const std::string& path, uint32_t mask, bool isRoot) {
  if (!isRoot && Full()) return -1;
  // Handles of one group may ask for different events on one folder: add to
  // the mask, never replace it; each handle filters for itself.
  mask |= IN_MASK_ADD;
  if (!isRoot) mask |= IN_DONT_FOLLOW;
  int wd = inotify_add_watch(fd_, path.c_str(), mask);
  if (wd < 0) return -1;
  Watch& watch = watches_[wd];
  watch.path = path;  // the latest name it is known by
  if (std::find(watch.users.begin(), watch.users.end(), user) == watch.users.end()) watch.users.push_back(user);
  return wd;
}

void TChangeNotificationGroup::Release(TChangeNotification* user, int wd) {
  auto it = watches_.find(wd);
  if (it == watches_.end()) return;
  auto& users = it->second.users;
  users.erase(std::remove(users.begin(), users.end(), user), users.end());
  if (users.empty()) {
    inotify_rm_watch(fd_, wd);
    watches_.erase(it);
  }
}

void TChangeNotificationGroup::Drain() {
  alignas(inotify_event) char buf[65536];
  for (;;) {
    ssize_t n = read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: nothing left
    for (char* p = buf; p < buf + n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(p);
      p += sizeof(inotify_event) + ev->len;
      if (ev->mask & IN_Q_OVERFLOW) {
        for (TChangeNotification* h : handles_) h->Overflowed();
        continue;
      }
      auto it = watches_.find(ev->wd);
      if (it == watches_.end()) continue;  // a watch already released
      // Handles add and release watches while they take an event: copy first.
      std::vector<TChangeNotification*> users = it->second.users;
      if (ev->mask & IN_IGNORED) {
        watches_.erase(it);
        for (TChangeNotification* h : users) h->Ignored(ev->wd);
        continue;
      }
      std::string dir = it->second.path;
      for (TChangeNotification* h : users) h->Handle(ev->wd, dir, ev->mask, ev->len ? ev->name : nullptr);
    }
  }
  std::vector<TChangeNotification*> all(handles_.begin(), handles_.end());
  for (TChangeNotification* h : all) {
    if (h->rescan_) h->Rescan();
  }
}

// ---- the handle ----

std::unique_ptr<TChangeNotification> TChangeNotification::Open(const std::string& path, bool watchSubtree,
                                                               uint32_t notifyFilter,
                                                               std::shared_ptr<TChangeNotificationGroup> group) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  if (!group) group = std::make_shared<TChangeNotificationGroup>();
  if (!group->Valid()) return nullptr;
  std::unique_ptr<TChangeNotification> handle(
      new TChangeNotification(std::move(group), path, watchSubtree, notifyFilter));
  handle->rootDev_ = st.st_dev;
  handle->AddTree(path, true);
  if (handle->rootWd_ < 0) return nullptr;
  return handle;
}

TChangeNotification::TChangeNotification(std::shared_ptr<TChangeNotificationGroup> group, std::string root,
                                         bool subtree, uint32_t filter)
    : group_(std::move(group)), root_(std::move(root)), subtree_(subtree), filter_(filter) {
  group_->handles_.insert(this);
}

TChangeNotification::~TChangeNotification() {
  for (int wd : wds_) group_->Release(this, wd);
  group_->handles_.erase(this);
}

int TChangeNotification::PollFd() const { return group_->fd_; }

uint32_t TChangeNotification::EventMask() const {
  uint32_t mask = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
  if (filter_ & (FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME))
    mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  if (filter_ & FILE_NOTIFY_CHANGE_ATTRIBUTES) mask |= IN_ATTRIB;
  if (filter_ & FILE_NOTIFY_CHANGE_SIZE) mask |= IN_MODIFY | IN_CLOSE_WRITE;
  // Writing a file or touching it changes its times.
  if (filter_ & FILE_NOTIFY_CHANGE_LAST_WRITE) mask |= IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
  // A subtree watch follows folders that come and go, whatever the filter.
  if (subtree_) mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
  return mask;
}

// Watches top and, for a subtree watch, the folders below it breadth-first,
// staying on top's file system, while the group's budget lasts. The watch goes
// on before a folder is read, so a sub-folder made meanwhile is not missed.
void TChangeNotification::AddTree(const std::string& top, bool topIsRoot) {
  std::deque<std::string> queue{top};
  bool first = true;
  while (!queue.empty()) {
    std::string dir = std::move(queue.front());
    queue.pop_front();
    const bool isRoot = first && topIsRoot;
    first = false;
    if (!isRoot && group_->Full()) break;
    int wd = group_->AddWatch(this, dir, EventMask(), isRoot);
    if (isRoot) {
      if (wd < 0 || (rootWd_ >= 0 && wd != rootWd_)) {
        // Looked for again after an overflow: gone, or another folder has its name.
        if (wd >= 0) group_->Release(this, wd);
        if (rootWd_ >= 0) rootGone_ = changed_ = true;
        return;
      }
      rootWd_ = wd;
    } else if (wd < 0 || wd == rootWd_) {
      continue;
    }
    wds_.insert(wd);
    if (!subtree_) continue;
    DirPtr d =
        OpenDirStream(UniqueFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (isRoot ? 0 : O_NOFOLLOW))));
    if (!d) continue;
    const int dfd = dirfd(d.get());
    while (dirent* e = readdir(d.get())) {
      if (IsDotOrDotDot(e->d_name)) continue;
      if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) continue;
      struct stat st;
      if (fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
      if (st.st_dev != rootDev_) continue;  // another file system mounted below
      if (queue.size() >= group_->maxWatches_) break;
      queue.push_back(JoinPath(dir, e->d_name));
    }
  }
}

void TChangeNotification::RemoveTree(const std::string& top) {
  const std::string prefix = top + '/';
  std::vector<int> drop;
  for (int wd : wds_) {
    if (wd == rootWd_) continue;
    auto it = group_->watches_.find(wd);
    if (it == group_->watches_.end()) continue;
    const std::string& path = it->second.path;
    if (path == top || path.compare(0, prefix.size(), prefix) == 0) drop.push_back(wd);
  }
  for (int wd : drop) {
    group_->Release(this, wd);
    wds_.erase(wd);
  }
}

void TChangeNotification::Handle(int wd, const std::string& dir, uint32_t mask, const char* name) {
  const bool isRoot = wd == rootWd_;
  if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
    // A sub-folder's own events repeat what its parent reports.
    if (isRoot) rootGone_ = changed_ = true;
    return;
  }
  const bool isDir = mask & IN_ISDIR;
  uint32_t kind = 0;
  if (mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO))
    kind |= isDir ? FILE_NOTIFY_CHANGE_DIR_NAME : FILE_NOTIFY_CHANGE_FILE_NAME;
  if (mask & IN_ATTRIB) kind |= FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_LAST_WRITE;
  if (mask & (IN_MODIFY | IN_CLOSE_WRITE)) kind |= FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
  if (kind & filter_) {
    changed_ = true;
    if (isRoot && name && *name && !subtree_)
      NoteName(name);
    else
      namesLost_ = true;
  }
  if (subtree_ && isDir && name && *name) {
    std::string child = JoinPath(dir, name);
    if (mask & (IN_MOVED_FROM | IN_DELETE)) RemoveTree(child);
    if (mask & (IN_CREATE | IN_MOVED_TO)) AddTree(child, false);
  }
}

void TChangeNotification::Ignored(int wd) {
  wds_.erase(wd);
  if (wd == rootWd_) rootGone_ = changed_ = true;
}

void TChangeNotification::NoteName(const char* name) {
  if (namesLost_) return;
  if (names_.size() >= MaxChangedNames) {
    namesLost_ = true;
    names_.clear();
    nameSet_.clear();
    return;
  }
  if (nameSet_.insert(name).second) names_.emplace_back(name);
}

bool TChangeNotification::TakeChangedNames(std::vector<std::string>& names) {
  names.clear();
  const bool known = !namesLost_ && !rootGone_;
  if (known) names.swap(names_);
  names_.clear();
  nameSet_.clear();
  namesLost_ = false;
  return known;
}

// Events were lost: count it as a change and look for new folders again.
void TChangeNotification::Overflowed() {
  changed_ = true;
  namesLost_ = true;
  if (subtree_) rescan_ = true;
}

void TChangeNotification::Rescan() {
  rescan_ = false;
  if (!rootGone_) AddTree(root_, true);
}

bool TChangeNotification::TryAcquire() {
  group_->Drain();
  return changed_;
}

bool TChangeNotification::Next() {
  if (rootGone_) return false;
  changed_ = false;
  return true;
}

ChangeNotificationPtr FindFirstChangeNotification(const std::string& path, bool watchSubtree, uint32_t notifyFilter,
                                                  std::shared_ptr<TChangeNotificationGroup> group) {
  return TChangeNotification::Open(path, watchSubtree, notifyFilter, std::move(group));
}

bool FindNextChangeNotification(TChangeNotification* handle) { return handle && handle->Next(); }

void FindCloseChangeNotification(ChangeNotificationPtr& handle) { handle.reset(); }
