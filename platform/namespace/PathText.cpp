#include "platform/namespace/PathText.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/system/TrailingSlash.h"

std::string DirName(std::string_view path) {
  path = WithoutTrailingSlash(path);
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string BaseName(std::string_view path) {
  path = WithoutTrailingSlash(path);
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos || path.size() == 1) return std::string(path);
  return std::string(path.substr(slash + 1));
}

static int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    int hi, lo;
    if (text[i] == '%' && i + 2 < text.size() && (hi = HexValue(text[i + 1])) >= 0 &&
        (lo = HexValue(text[i + 2])) >= 0) {
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

bool FolderExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string NearestExistingFolder(const std::string& path) {
  std::string folder = path.empty() || path[0] != '/' ? std::string("/") : path;
  while (folder != "/" && !FolderExists(folder)) folder = DirName(folder);
  return folder;
}

bool NonFolderExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char cwd[4096];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  const std::string base = cwd;
  return (base == "/" ? std::string() : base) + "/" + path;
}

std::string ExistingCleanPath(const std::string& path, bool& isFolder) {
  isFolder = false;
  if (path.empty()) return {};
  std::string full = AbsolutePath(path);
  if (full[0] != '/') return {};
  // "a/./b", "a/../b" and doubled slashes would make odd tab captions.
  std::vector<std::string> names;
  size_t pos = 1;
  while (pos <= full.size()) {
    size_t end = full.find('/', pos);
    if (end == std::string::npos) end = full.size();
    std::string name = full.substr(pos, end - pos);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    pos = end + 1;
  }
  std::string clean;
  for (const std::string& name : names) clean += "/" + name;
  if (clean.empty()) clean = "/";

  struct stat st {
  }, cleanSt{};
  if (::stat(full.c_str(), &st) != 0) return {};
  // Through a link, "link/.." is not the folder the names suggest: ask the kernel.
  if (::stat(clean.c_str(), &cleanSt) != 0 || cleanSt.st_dev != st.st_dev || cleanSt.st_ino != st.st_ino) {
    char* real = ::realpath(full.c_str(), nullptr);
    if (!real) return {};
    clean = real;
    ::free(real);
  }
  isFolder = S_ISDIR(st.st_mode);
  return clean;
}
