#include "platform/search/FileSearch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <system_error>

#include "platform/namespace/DirentReader.h"

namespace {

constexpr size_t kBatchHits = 256;
// A batch is handed over at least this often while hits come in.
constexpr int64_t kFlushMs = 40;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string Join(const std::string& dir, const char* name) {
  std::string path = dir;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

// Closes a descriptor when the scope ends.
struct Descriptor {
  int fd;
  explicit Descriptor(int f) : fd(f) {}
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

}  // namespace

FileSearch::FileSearch(SearchQuery query, NameFilter names, HitsCallback hits, std::function<void()> finished)
    : query_(std::move(query)), names_(std::move(names)), hits_(std::move(hits)), finished_(std::move(finished)) {}

FileSearch::~FileSearch() { Cancel(); }

bool FileSearch::Start(unsigned threads) {
  error_.clear();
  if (!matcher_.Prepare(query_, error_)) return false;
  struct stat st;
  std::string root = query_.folder;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root.empty() || root[0] != '/' || stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error_ = "検索するフォルダが見つかりません: " + query_.folder;
    return false;
  }
  query_.folder = root;
  rootDevice_ = st.st_dev;
  queue_.push_back({root});
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  running_ = true;
  workersLeft_ = threads;
  for (unsigned i = 0; i < threads; ++i) {
    try {
      workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      workersLeft_ -= threads - i;  // fewer threads walk the same tree
      break;
    }
  }
  if (workers_.empty()) {
    running_ = false;
    error_ = "検索を始められません。";
    return false;
  }
  return true;
}

void FileSearch::Cancel() {
  cancel_ = true;
  wake_.notify_all();
  Wait();
}

void FileSearch::Wait() {
  for (std::thread& t : workers_)
    if (t.joinable()) t.join();
  workers_.clear();
}

SearchProgress FileSearch::Progress() const {
  SearchProgress p;
  p.folders = folders_;
  p.hits = hitCount_;
  p.unreadable = unreadable_;
  p.running = running_;
  std::lock_guard lock(mutex_);
  p.current = current_;
  return p;
}

std::vector<std::string> FileSearch::UnreadableFolders() const {
  std::lock_guard lock(mutex_);
  return unreadableList_;
}

void FileSearch::Work() {
  std::vector<SearchHit> batch;
  std::vector<char> buffer;
  int64_t lastFlushMs = NowMs();
  for (;;) {
    Folder next;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return cancel_ || !queue_.empty() || busy_ == 0; });
      if (cancel_ || queue_.empty()) break;  // cancelled, or nothing left and nobody reading
      // Depth first: the newest folder is the nearest, and the queue stays short.
      next = std::move(queue_.back());
      queue_.pop_back();
      ++busy_;
      current_ = next.path;
    }
    ReadFolder(next.path, batch, lastFlushMs, buffer);
    {
      std::lock_guard lock(mutex_);
      --busy_;
    }
    wake_.notify_all();
  }
  if (!cancel_) Flush(batch, lastFlushMs);
  wake_.notify_all();
  if (--workersLeft_ == 0) {
    running_ = false;
    if (!cancel_ && finished_) finished_();
  }
}

void FileSearch::Unreadable(const std::string& path) {
  ++unreadable_;
  std::lock_guard lock(mutex_);
  if (unreadableList_.size() < kUnreadableListed) unreadableList_.push_back(path);
}

bool FileSearch::FirstVisit(dev_t device, ino_t inode) {
  std::lock_guard lock(mutex_);
  return visited_.emplace(device, inode).second;
}

void FileSearch::ReadFolder(const std::string& path, std::vector<SearchHit>& batch, int64_t& lastFlushMs,
                            std::vector<char>& buffer) {
  Descriptor dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (dir.fd < 0 || fstat(dir.fd, &st) != 0) {
    Unreadable(path);
    return;
  }
  // Another file system is left out unless asked for; a folder reached twice
  // (a link loop, a bind mount) is read once.
  if (st.st_dev != rootDevice_ && !query_.crossFileSystems) return;
  if (!FirstVisit(st.st_dev, st.st_ino)) return;
  ++folders_;
  DirentReader reader(dir.fd);
  const char* name;
  unsigned char type;
  std::vector<Folder> below;
  while (reader.Next(name, type)) {
    if (cancel_.load(std::memory_order_relaxed)) return;
    if (name[0] == '.' && !query_.hidden) continue;
    std::string child = Join(path, name);
    bool folder = false, descend = false;
    if (Wanted(dir.fd, name, type, child, folder, descend, buffer)) {
      batch.push_back({child, folder});
      ++hitCount_;
      if (batch.size() >= kBatchHits || !firstHitSent_ || NowMs() - lastFlushMs >= kFlushMs) Flush(batch, lastFlushMs);
    }
    if (descend) below.push_back({std::move(child)});
  }
  if (!batch.empty() && NowMs() - lastFlushMs >= kFlushMs) Flush(batch, lastFlushMs);
  if (below.empty()) return;
  {
    std::lock_guard lock(mutex_);
    // Reversed, so that the first folder of the listing is taken first.
    for (auto it = below.rbegin(); it != below.rend(); ++it) queue_.push_back(std::move(*it));
  }
  wake_.notify_all();
}

bool FileSearch::Wanted(int dirfd, const char* name, unsigned char type, const std::string& path, bool& folder,
                        bool& descend, std::vector<char>& buffer) {
  const bool needStat = type == DT_UNKNOWN || type == DT_LNK || query_.minSize >= 0 || query_.maxSize >= 0 ||
                        query_.modifiedFrom || query_.modifiedTo;
  struct stat st {};
  bool link = type == DT_LNK;
  if (needStat) {
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    link = S_ISLNK(st.st_mode);
    if (link && query_.followLinks && fstatat(dirfd, name, &st, 0) != 0) return false;  // a broken link
    folder = S_ISDIR(st.st_mode);
  } else {
    folder = type == DT_DIR;
  }
  descend = folder;
  if (names_ && !names_(name)) return false;
  if (query_.modifiedFrom && st.st_mtime < query_.modifiedFrom) return false;
  if (query_.modifiedTo && st.st_mtime >= query_.modifiedTo) return false;
  const bool sized = query_.minSize >= 0 || query_.maxSize >= 0;
  if (folder) return !sized && matcher_.Empty();
  if (sized && !S_ISREG(st.st_mode)) return false;
  if (query_.minSize >= 0 && st.st_size < query_.minSize) return false;
  if (query_.maxSize >= 0 && st.st_size > query_.maxSize) return false;
  if (matcher_.Empty()) return true;
  // Text is looked for in regular files only, decided from the opened file;
  // a link is read only when links are followed.
  if (link && !query_.followLinks) return false;
  int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (query_.followLinks ? 0 : O_NOFOLLOW);
  Descriptor file(openat(dirfd, name, flags));
  struct stat opened;
  if (file.fd < 0 || fstat(file.fd, &opened) != 0 || !S_ISREG(opened.st_mode)) return false;
  return matcher_.MatchFile(file.fd, buffer, cancel_);
}

void FileSearch::Flush(std::vector<SearchHit>& batch, int64_t& lastFlushMs) {
  lastFlushMs = NowMs();
  if (batch.empty()) return;
  firstHitSent_ = true;
  std::lock_guard lock(callbackMutex_);
  if (!cancel_ && hits_) hits_(std::move(batch));
  batch.clear();
}
