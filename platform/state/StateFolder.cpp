#include "platform/state/StateFolder.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system/Library.h"
#include "platform/system/TrailingSlash.h"

namespace {

// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string Home() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

}  // namespace

std::string StateFolder() {
  if (const char* home = std::getenv("TOLVANE_HOME"); home && *home) {
    std::string folder = WithoutTrailingSlash(home);
    MakeFolders(folder);
    return folder;
  }
  // An installed program keeps its state per user, even where root could
  // write beside it.
  std::string exe = ExecutableFolder();
  if (InstalledLibraryFolder().empty() && ::access(exe.c_str(), W_OK) == 0) return exe;
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
    config = xdg;
  else
    config = Home() + "/.config";
  std::string folder = WithoutTrailingSlash(config) + "/tolvane";
  MakeFolders(folder);
  return folder;
}

std::string IniFilePath() {
  std::string folder = StateFolder();
  return (folder == "/" ? std::string() : folder) + "/tolvane.ini";
}

std::string LogFolder() {
  std::string folder = StateFolder();
  return (folder == "/" ? std::string() : folder) + "/log";
}
