#pragma once
// Reads the entries of an open folder with getdents64, 64 KB at a time,
// without a stat per entry: the folder lists and the file search share it,
// so both see a folder the same way.
#include <memory>

class DirentReader {
 public:
  // fd: an open folder, not owned.
  explicit DirentReader(int fd);
  // The next entry but "." and ".."; type is the DT_* of the record (DT_UNKNOWN
  // on file systems that give none). name stays valid until the next call.
  bool Next(const char*& name, unsigned char& type);

 private:
  int fd_;
  std::unique_ptr<char[]> buffer_;
  size_t pos_ = 0, length_ = 0;
  bool done_ = false;
};
