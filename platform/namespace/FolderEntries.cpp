#include "platform/namespace/FolderEntries.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/namespace/PathText.h"

std::vector<FolderEntry> ReadFolderEntries(const std::string& folder) {
  std::vector<FolderEntry> entries;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return entries;
  std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool isFolder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      // A link to a folder is a folder; a broken link is a file entry like any other.
      struct stat st {};
      isFolder = stat((prefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entries.push_back({std::move(name), isFolder});
  }
  closedir(dir);
  return entries;
}

int CreateFolderChain(const std::string& path) {
  for (size_t end = 1; end <= path.size(); ++end) {
    if (end < path.size() && path[end] != '/') continue;
    if (path[end - 1] == '/') continue;  // "//" and the trailing '/'
    std::string folder = path.substr(0, end);
    if (mkdir(folder.c_str(), 0777) == 0) continue;
    int error = errno;
    if (error == EEXIST && FolderExists(folder)) continue;
    return error == EEXIST ? ENOTDIR : error;
  }
  return 0;
}
