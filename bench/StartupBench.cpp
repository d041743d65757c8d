// Start-up benchmark: from starting the program to the first paint of its
// window (offscreen), with both panes on folders of 1,000 files and ten
// buttons on each bar, against a bare Qt window program started the same way
// in the same run; then with both panes on folders of 100,000 files, to the
// window's first paint and to its first paint with both lists filled. Prints
// key=value lines.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "ProgramStart.h"
#include "platform/system/Library.h"

using bench::Median;
using bench::Now;
using bench::SetProgramEnvironment;
using bench::TimeToFirstPaint;
using bench::WriteState;

namespace {

void MakeFolder(const std::string& dir, int files) {
  std::filesystem::create_directories(dir);
  char name[64];
  for (int i = 0; i < files; ++i) {
    std::snprintf(name, sizeof name, "/file_%04d.txt", i);
    if (files > 10000) {
      // Empty files: the many are made quicker.
      int fd = open((dir + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      if (fd >= 0) close(fd);
    } else {
      std::ofstream(dir + name) << i;
    }
  }
}

// A state folder whose panes open the two folders, with ten launchers and ten
// folder buttons.
void MakeState(const std::string& root, int files = 1000) {
  MakeFolder(root + "/left", files);
  MakeFolder(root + "/right", files);
  std::vector<std::string> launchers, folders;
  const char* kinds[] = {".txt", ".png", ".sh", ".html", ".pdf", ".zip", ".c", ".mp3", ".odt", ".json"};
  for (int i = 0; i < 10; ++i) {
    std::string file = root + "/programs/tool" + std::to_string(i) + kinds[i];
    std::filesystem::create_directories(root + "/programs");
    std::ofstream(file) << "x";
    launchers.push_back(file);
    std::string folder = root + "/places/place" + std::to_string(i);
    std::filesystem::create_directories(folder);
    folders.push_back(folder);
  }
  WriteState(root, root + "/left", root + "/right", launchers, folders);
}

}  // namespace

int main(int argc, char** argv) {
  std::string root = argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "tolvane-startbench").string();
  std::filesystem::remove_all(root);
  MakeState(root);
  std::string bin = ExecutableFolder();
  SetProgramEnvironment(root, "0");

  // One run of each first, so both start from a warm disk cache.
  TimeToFirstPaint(bin + "/tolvane");
  TimeToFirstPaint(bin + "/bench_QtHello");
  std::vector<double> tolvane, hello;
  for (int i = 0; i < 7; ++i) {
    double t = TimeToFirstPaint(bin + "/tolvane");
    double h = TimeToFirstPaint(bin + "/bench_QtHello");
    if (t < 0 || h < 0) return 1;
    tolvane.push_back(t);
    hello.push_back(h);
  }
  double t = Median(tolvane), h = Median(hello);
  std::printf("tolvane_first_paint_ms=%.1f\n", t * 1000);
  std::printf("qt_hello_first_paint_ms=%.1f\n", h * 1000);
  std::printf("startup_vs_qt_hello=%.2f\n", t / h);
  std::filesystem::remove_all(root);

  // Both panes on 100,000 files: the window should not wait for them.
  MakeState(root, 100000);
  setenv("TOLVANE_HOME", (root + "/state").c_str(), 1);
  setenv("TOLVANE_QUIT_AFTER_MS", "60000", 1);
  double warm = 0;
  TimeToFirstPaint(bin + "/tolvane", &warm);
  std::vector<double> shown, filledTimes;
  for (int i = 0; i < 5; ++i) {
    double filled = -1;
    double t100k = TimeToFirstPaint(bin + "/tolvane", &filled);
    if (t100k < 0 || filled < 0) return 1;
    shown.push_back(t100k);
    filledTimes.push_back(filled);
  }
  std::printf("startup_two_100k_ms=%.1f/%.1f\n", Median(shown) * 1000, Median(filledTimes) * 1000);
  std::printf("startup_two_100k_window_ms=%.1f\n", Median(shown) * 1000);
  std::printf("startup_two_100k_filled_ms=%.1f\n", Median(filledTimes) * 1000);
  std::filesystem::remove_all(root);
  return 0;
}
