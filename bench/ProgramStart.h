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
#include <fstream>
#include <string>
#include <vector>

#include "BenchUtil.h"

namespace bench {

inline void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary);
  for (const std::string& line : lines) out << line << "\r\n";
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
