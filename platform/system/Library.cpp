#include "platform/system/Library.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/system/TrailingSlash.h"

namespace {

thread_local std::string lastError;

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool EndsWithNoCase(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && LowerAscii(s.substr(s.size() - suffix.size())) == suffix;
}

// "X.DLL" -> "X.so"; a name without ".dll" is kept.
std::string SharedObjectName(const std::string& name) {
  if (EndsWithNoCase(name, ".dll")) return name.substr(0, name.size() - 4) + ".so";
  return name;
}

HMODULE Open(const std::string& path) {
  dlerror();
  HMODULE h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    const char* e = dlerror();
    lastError = e ? e : "cannot load " + path;
  }
  return h;
}

}  // namespace

std::string ExecutableFolder() {
  // From the kernel's link rather than Qt's QString, so any bytes survive.
  std::string path;
  std::vector<char> buffer(4096);
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return ".";
  path.assign(buffer.data(), static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

HMODULE LoadLibrary(const std::string& name) {
  lastError.clear();
  if (name.empty()) {
    lastError = "empty library name";
    return nullptr;
  }
  if (name.find('/') != std::string::npos) {
    if (IsFile(name)) return Open(name);
    std::string so = SharedObjectName(name);
    return Open(so != name && IsFile(so) ? so : name);
  }
  std::string so = SharedObjectName(name);
  std::vector<std::string> names{so};
  if (LowerAscii(so) != so) names.push_back(LowerAscii(so));
  if (so != name) names.push_back(name);

  std::string folder = ExecutableFolder();
  if (folder == "/") folder.clear();
  for (const std::string& n : names) {
    std::string beside = folder + "/" + n;
    if (IsFile(beside)) return Open(beside);
  }
  if (std::string installed = InstalledLibraryFolder(); !installed.empty()) {
    for (const std::string& n : names) {
      std::string path = installed + "/" + n;
      if (IsFile(path)) return Open(path);
    }
  }
  for (const std::string& n : names)
    if (HMODULE h = Open(n)) return h;
  return nullptr;
}

std::string InstalledLibraryFolder() {
  std::string exe = ExecutableFolder();
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return {};
  std::string folder = exe.substr(0, slash) + "/lib/tolvane";
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? folder : std::string();
}

std::string RuntimeFolder() {
  std::string installed = InstalledLibraryFolder();
  return installed.empty() ? ExecutableFolder() : installed;
}

void* GetProcAddress(HMODULE module, const char* symbol) {
  if (!module || !symbol) return nullptr;
  dlerror();
  void* p = ::dlsym(module, symbol);
  if (!p) {
    const char* e = dlerror();
    lastError = e ? e : std::string("no symbol ") + symbol;
  }
  return p;
}

bool FreeLibrary(HMODULE module) { return module && ::dlclose(module) == 0; }

std::string LibraryError() { return lastError; }

std::string SearchPath(const std::string& folders, const std::string& fileName, const std::string& extension) {
  if (fileName.empty()) return {};
  std::string name = fileName;
  size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (!extension.empty() && (dot == std::string::npos || (slash != std::string::npos && dot < slash)))
    name += extension;
  if (name[0] == '/') return IsFile(name) ? name : std::string();

  std::vector<std::string> dirs;
  auto addList = [&dirs](const std::string& list) {
    size_t pos = 0;
    while (pos <= list.size()) {
      size_t end = list.find(':', pos);
      if (end == std::string::npos) end = list.size();
      if (end > pos) dirs.push_back(list.substr(pos, end - pos));
      pos = end + 1;
    }
  };
  if (!folders.empty()) {
    addList(folders);
  } else {
    dirs.push_back(ExecutableFolder());
    std::vector<char> cwd(4096);
    if (::getcwd(cwd.data(), cwd.size())) dirs.emplace_back(cwd.data());
    if (const char* path = std::getenv("PATH")) addList(path);
  }
  for (const std::string& listed : dirs) {
    const std::string dir = WithoutTrailingSlash(listed);
    std::string candidate = (dir == "/" ? std::string() : dir) + "/" + name;
    if (IsFile(candidate)) return candidate;
  }
  return {};
}

std::vector<std::string> LoadedLibrariesIn(const std::string& folder) {
  std::vector<std::string> files;
  const std::string prefix = folder + "/";
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (!maps) return files;
  char line[4096];
  while (std::fgets(line, sizeof line, maps)) {
    const char* path = std::strchr(line, '/');
    if (!path) continue;
    std::string file(path);
    while (!file.empty() && file.back() == '\n') file.pop_back();
    if (file.compare(0, prefix.size(), prefix) != 0) continue;
    if (!file.ends_with(".so") && !file.ends_with(".spi")) continue;  // the program itself, in a portable folder
    if (std::find(files.begin(), files.end(), file) == files.end()) files.push_back(file);
  }
  std::fclose(maps);
  return files;
}
