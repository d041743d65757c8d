#pragma once
// What a file is, told by the opened descriptor, never by its name, and without waiting
// on a FIFO or a device that only looks like a file.
#include <cstdint>
#include <string>

// 0 when path is a regular file (links followed), -1 when it is something else (a FIFO, a
// device, a socket, a folder), else the errno value of the failed open.
int CheckRegularFile(const std::string& path);

// A regular file's identity and version: a copy of what was read from it stays
// good while all of these do.
struct FileVersion {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
  bool operator==(const FileVersion&) const = default;
};
// The version of the regular file at path (links followed); false when there
// is none there.
bool ReadFileVersion(const std::string& path, FileVersion& version);
