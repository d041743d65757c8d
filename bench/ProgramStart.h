#pragma once
// Starting the program itself and timing it to the marks it prints when asked
// (TOLVANE_REPORT_FIRST_PAINT): its first paint, and its lists filled.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchUtil.h"

namespace bench {

inline void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary);
  for (const std::string& line : lines) out << line << "\r\n";
}

// The state folder root/state of a program whose panes show left and right,
// with the given launcher and folder buttons, and an empty home root/home.
inline void WriteState(const std::string& root, const std::string& left, const std::string& right,
                       const std::vector<std::string>& launchers = {}, const std::vector<std::string>& folders = {}) {
  const std::string log = root + "/state/log";
  std::filesystem::create_directories(log);
  std::filesystem::create_directories(root + "/home");
  WriteLines(log + "/Path1SL.text", {left});
  WriteLines(log + "/Path2SL.text", {right});
  for (const char* name : {"HistoryPath1", "HistoryPath2", "FileRunPath1", "FileRunPath2"})
    WriteLines(log + "/" + name + ".text", {});
  WriteLines(log + "/ImagePath.text", {"defo"});
  WriteLines(log + "/TextPath.text", {"defo"});
  WriteLines(log + "/ToolBar1.txt", launchers);
  WriteLines(log + "/ToolBar2.txt", folders);
}

// What the program started next sees: offscreen, the state folder of
// WriteState, marks printed, closing itself quitAfterMs after its first paint.
inline void SetProgramEnvironment(const std::string& root, const char* quitAfterMs) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("TOLVANE_HOME", (root + "/state").c_str(), 1);
  setenv("HOME", (root + "/home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root + "/home/.config").c_str(), 1);
  setenv("TOLVANE_REPORT_FIRST_PAINT", "1", 1);
  setenv("TOLVANE_QUIT_AFTER_MS", quitAfterMs, 1);
}

// Seconds from spawning the program until it prints "first-paint"; -1 on
// failure. With filled, also until it prints "lists-filled", after which it is
// stopped by SIGTERM (it closes as the user closes it).
inline double TimeToFirstPaint(const std::string& program, double* filled = nullptr) {
  int out[2];
  if (pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
  double start = Now();
  pid_t pid = 0;
  bool spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  double took = -1;
  std::string seen;
  while (spawned && Now() - start < 60) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    char buffer[256];
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<size_t>(n));
    if (took < 0 && seen.find("first-paint\n") != std::string::npos) {
      took = Now() - start;
      if (!filled) break;
    }
    if (filled && seen.find("lists-filled\n") != std::string::npos) {
      *filled = Now() - start;
      kill(pid, SIGTERM);
      break;
    }
  }
  close(out[0]);
  if (spawned) {
    // Both programs close by themselves after the paint; wait so runs never overlap.
    int status = 0;
    double waitStart = Now();
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (Now() - waitStart > 30) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      usleep(5000);
    }
  }
  if (took < 0) std::fprintf(stderr, "%s did not report its first paint\n", program.c_str());
  return took;
}

}  // namespace bench
