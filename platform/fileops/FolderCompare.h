#pragma once
// Compares two folders: by name, then by size and modification time, and
// when asked by content (a byte compare on worker threads, a few blocks of
// memory each, with progress and cancel). A file that changes while it is
// read is reported as changed, never judged equal or different.
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class CompareState {
  OnlyLeft,
  OnlyRight,
  NewerLeft,
  NewerRight,
  Equal,
  DifferentContent,  // same time, other size or bytes; or a file against a folder
  Changed,           // changed while it was compared
  Unreadable
};

struct CompareSide {
  bool present = false;
  bool folder = false;
  mode_t mode = 0;
  uint64_t size = 0;
  int64_t mtimeNs = 0;
  dev_t dev = 0;
  ino_t ino = 0;
};

struct CompareEntry {
  std::string path;  // relative to both folders, '/' between names
  CompareState state = CompareState::Equal;
  CompareSide left, right;
};

struct CompareOptions {
  bool content = false;
  bool subfolders = false;
  // Times this close count as one (FAT keeps two seconds).
  int64_t toleranceNs = 2000000000;
  int threads = 0;  // 0: by the processors
};

struct CompareCounts {
  size_t onlyLeft = 0, onlyRight = 0, newerLeft = 0, newerRight = 0, equal = 0, different = 0, changed = 0,
         unreadable = 0;
};

struct CompareResult {
  std::vector<CompareEntry> entries;  // sorted by path
  bool cancelled = false;
  std::string error;  // Japanese; a folder that could not be read
  CompareCounts Counts() const;
};

class FolderCompare {
 public:
  FolderCompare(std::string left, std::string right, CompareOptions options)
      : left_(std::move(left)), right_(std::move(right)), options_(options) {}

  CompareResult Run();

  // Any thread.
  void Cancel() { cancel_ = true; }
  uint64_t BytesDone() const { return bytesDone_.load(); }
  uint64_t BytesTotal() const { return bytesTotal_.load(); }
  // Runs on a worker once a pair is open and looked at, before it is read.
  void SetBeforeReadHook(std::function<void(const std::string& path)> hook) { beforeRead_ = std::move(hook); }

 private:
  void Walk(int leftFd, int rightFd, const std::string& prefix, CompareResult& result);
  void CompareContents(CompareResult& result, const std::vector<size_t>& pending);
  CompareState ContentState(const CompareEntry& entry, std::vector<char>& a, std::vector<char>& b);
  CompareState ByTime(const CompareEntry& entry, bool sameBytes, bool bytesKnown) const;

  std::string left_, right_;
  CompareOptions options_;
  int leftRoot_ = -1, rightRoot_ = -1;
  std::function<void(const std::string&)> beforeRead_;
  std::atomic<bool> cancel_{false};
  std::atomic<uint64_t> bytesDone_{0}, bytesTotal_{0};
};

const char* CompareStateText(CompareState state);
