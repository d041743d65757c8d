#pragma once
// A file search: walks a folder tree on worker threads (one per core) and
// hands the hits to a callback in batches while it runs. Links that lead back
// into the tree are walked once, unreadable folders are counted and listed,
// and Cancel stops every worker within a block read.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/search/SearchQuery.h"
#include "platform/search/TextMatcher.h"

struct SearchHit {
  std::string path;  // absolute, bytes as the file system has them
  bool folder = false;
};

struct SearchProgress {
  uint64_t folders = 0;  // folders read
  uint64_t hits = 0;
  uint64_t unreadable = 0;  // folders that could not be read
  std::string current;      // a folder being read now
  bool running = false;
};

class FileSearch {
 public:
  // Whether a name is wanted; null takes every name.
  using NameFilter = std::function<bool(std::string_view name)>;
  // Called on a worker thread, never on two at once.
  using HitsCallback = std::function<void(std::vector<SearchHit>&& hits)>;

  FileSearch(SearchQuery query, NameFilter names, HitsCallback hits, std::function<void()> finished = {});
  ~FileSearch();  // cancels and waits
  FileSearch(const FileSearch&) = delete;
  FileSearch& operator=(const FileSearch&) = delete;

  // False with a Japanese message in Error() when the query cannot run
  // (no such folder, a bad expression); nothing is started then.
  bool Start(unsigned threads = 0);
  // Stops the workers and waits for them; no callback runs after it returns.
  void Cancel();
  // Waits until the walk is over.
  void Wait();

  bool Running() const { return running_.load(); }
  const std::string& Error() const { return error_; }
  SearchProgress Progress() const;
  std::vector<std::string> UnreadableFolders() const;

  static constexpr size_t kUnreadableListed = 1000;

 private:
  struct Folder {
    std::string path;
  };
  void Work();
  void ReadFolder(const std::string& path, std::vector<SearchHit>& batch, int64_t& lastFlushMs,
                  std::vector<char>& buffer);
  bool Wanted(int dirfd, const char* name, unsigned char type, const std::string& path, bool& folder, bool& descend,
              std::vector<char>& buffer);
  void Flush(std::vector<SearchHit>& batch, int64_t& lastFlushMs);
  void Unreadable(const std::string& path);
  bool FirstVisit(dev_t device, ino_t inode);

  SearchQuery query_;
  NameFilter names_;
  HitsCallback hits_;
  std::function<void()> finished_;
  TextMatcher matcher_;
  std::string error_;
  dev_t rootDevice_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Folder> queue_;
  unsigned busy_ = 0;  // workers reading a folder
  std::set<std::pair<dev_t, ino_t>> visited_;
  std::vector<std::string> unreadableList_;
  std::string current_;
  std::mutex callbackMutex_;

  std::atomic<bool> cancel_{false};
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> folders_{0}, hitCount_{0}, unreadable_{0};
  std::atomic<bool> firstHitSent_{false};
  std::vector<std::thread> workers_;
  std::atomic<unsigned> workersLeft_{0};
};
