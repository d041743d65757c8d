#pragma once
// Whether a path names an entry, seen without following a link at its end: a
// dangling link exists, and a link to an existing file is not taken for the file.
#include <sys/stat.h>

#include <string>

inline bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}
