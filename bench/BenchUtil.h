#pragma once
// Timing helpers shared by the benchmarks.
#include <fcntl.h>
#include <spawn.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <linux/magic.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

inline bool IsTmpfs(const std::string& path) {
  struct statfs fs {};
  return statfs(path.c_str(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
}

// A fresh folder named prefix-XXXXXX in base; empty when it cannot be made.
inline std::string MakeTemp(const std::string& base, const std::string& prefix) {
  std::string templ = base + "/" + prefix + "-XXXXXX";
  return mkdtemp(templ.data()) ? templ : std::string();
}

// A folder on a disk: in the argument, else in the first temporary folder not in memory.
inline std::string WorkFolder(int argc, char** argv, const std::string& prefix) {
  if (argc > 1) return MakeTemp(argv[1], prefix);
  std::vector<std::string> candidates;
  if (const char* t = std::getenv("TMPDIR")) candidates.push_back(t);
  candidates.insert(candidates.end(), {"/tmp", "/var/tmp", std::filesystem::current_path().string()});
  for (const std::string& c : candidates)
    if (!IsTmpfs(c) && access(c.c_str(), W_OK) == 0) return MakeTemp(c, prefix);
  return std::string();
}

inline double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs a command with its output thrown away; the seconds it took, -1 when it failed.
inline double TimeCommand(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  double start = Now();
  pid_t pid;
  int status = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(pid, &status, 0);
  double took = Now() - start;
  posix_spawn_file_actions_destroy(&actions);
  if (status != 0) {
    std::fprintf(stderr, "%s failed\n", args[0].c_str());
    return -1;
  }
  return took;
}

// Points the program's state, home, configuration and data folders into root,
// so that a window made by a benchmark never reads or writes the user's.
inline void UseStateFolderIn(const std::string& root) {
  for (const char* folder : {"state/log", "home", "config", "data"})
    std::filesystem::create_directories(root + "/" + folder);
  setenv("TOLVANE_HOME", (root + "/state").c_str(), 1);
  setenv("HOME", (root + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
}

}  // namespace bench
