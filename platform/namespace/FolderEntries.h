#pragma once
// Plain folder reading and making for the commands that work on paths
// rather than on the namespace (the folder menu, the new-folder command).
#include <string>
#include <vector>

struct FolderEntry {
  std::string name;  // bytes, as the file system has them
  bool folder;       // a folder, or a link to one
};

// The entries of a folder without "." and "..", in directory order; none
// when it cannot be read.
std::vector<FolderEntry> ReadFolderEntries(const std::string& folder);

// Creates path with every missing folder above it: 0, or the errno of the
// first folder that could not be made (ENOTDIR where a file is in the way).
int CreateFolderChain(const std::string& path);
