// Copy command benchmark: CC of 2,000 selected files (1 GB in all) from the
// left pane into the right pane's folder, timed from the key presses until
// the right pane lists them all, against cp of the same files in the same
// run. Medians of three runs, a fresh target each run, the side that goes
// first alternating, the page cache left alone for both. Prints key=value lines.
//   bench_CommandsBench [work folder]   (default: a temporary folder on a disk)
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "QuietUI.h"
#include "app/MainForm.h"
#include "platform/fileops/FileOperation.h"
#include "shell/watch/WatcherThread.h"

using bench::Median;
using bench::Now;
using bench::QuietUI;
using bench::TimeCommand;
using bench::WorkFolder;

namespace {

constexpr int kRuns = 3;
constexpr int kFiles = 2000;
constexpr size_t kFileBytes = 500000;  // 2,000 of them: 1 GB

std::vector<std::string> MakeFiles(const std::string& dir) {
  std::filesystem::create_directories(dir);
  std::vector<char> bytes(kFileBytes + 4096);
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    c = static_cast<char>(x | 1);  // never zero: no holes
  }
  std::vector<std::string> paths;
  char name[64];
  for (int i = 0; i < kFiles; ++i) {
    std::snprintf(name, sizeof name, "/file_%04d.dat", i);
    paths.push_back(dir + name);
    int fd = open(paths.back().c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0 || write(fd, bytes.data() + (i % 4096), kFileBytes) != static_cast<ssize_t>(kFileBytes)) {
      std::fprintf(stderr, "cannot write %s\n", paths.back().c_str());
      if (fd >= 0) close(fd);
      return {};
    }
    close(fd);
  }
  return paths;
}

// Files directly in dir and their bytes.
std::pair<int, uint64_t> CountFiles(const std::string& dir) {
  int count = 0;
  uint64_t bytes = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
    if (entry.is_regular_file()) {
      ++count;
      bytes += entry.file_size();
    }
  return {count, bytes};
}

void Remove(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary);
  for (const std::string& line : lines) out << line << "\r\n";
}

// CC in the window; the seconds from the key presses until the right pane lists every file.
double TimeCopyCommand(TForm1& form, const std::string& target) {
  form.LV2->SetPathName(target);
  if (form.LV2->GetPathName() != target) return -1;
  form.LV1->setFocus();
  QApplication::processEvents();
  QWidget* keys = QApplication::focusWidget();
  if (!keys || form.CurrentList() != form.LV1) {
    std::fprintf(stderr, "the left list has no focus\n");
    return -1;
  }
  form.LV1->SelectAll();
  double start = Now();
  QTest::keyClick(keys, Qt::Key_C);
  QTest::keyClick(keys, Qt::Key_C);
  while (form.LV2->FileList()->Count() < kFiles) {
    if (Now() - start > 600) return -1;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return Now() - start;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string root = WorkFolder(argc, argv, "tolvane-commands");
  if (root.empty()) {
    std::fprintf(stderr, "no work folder\n");
    return 1;
  }
  // The window keeps its state, and the engine its trash, inside the work folder.
  bench::UseStateFolderIn(root);
  std::printf("work_folder=%s\n", root.c_str());
  std::fflush(stdout);

  const std::string source = root + "/source";
  std::vector<std::string> files = MakeFiles(source);
  if (files.empty()) {
    Remove(root);
    return 1;
  }
  const std::pair<int, uint64_t> want{kFiles, uint64_t(kFiles) * kFileBytes};
  WriteLines(root + "/state/log/Path1SL.text", {source});
  WriteLines(root + "/state/log/Path2SL.text", {root + "/home"});
  WriteLines(root + "/state/log/ImagePath.text", {"defo"});
  WriteLines(root + "/state/log/TextPath.text", {"defo"});

  std::vector<double> ours, theirs;
  bool failed = false;
  {
    QApplication app(argc, argv);
    QuietUI ui;
    SetFileOperationUIOverride(&ui);
    auto form = std::make_unique<TForm1>();
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) failed = true;
    form->activateWindow();
    if (!QTest::qWaitForWindowActive(form.get())) failed = true;

    for (int run = 0; run < kRuns && !failed; ++run) {
      const std::string target = root + "/copy_ours_" + std::to_string(run), cp = root + "/copy_cp";
      std::filesystem::create_directories(target);
      std::filesystem::create_directories(cp);
      std::vector<std::string> command{"cp"};
      command.insert(command.end(), files.begin(), files.end());
      command.push_back(cp + "/");
      double a, b;
      sync();
      if (run % 2 == 0) {
        a = TimeCopyCommand(*form, target);
        sync();
        b = TimeCommand(command);
      } else {
        b = TimeCommand(command);
        sync();
        a = TimeCopyCommand(*form, target);
      }
      if (a < 0 || b < 0 || CountFiles(target) != want || CountFiles(cp) != want) {
        std::fprintf(stderr, "run %d: a side did not copy everything\n", run);
        failed = true;
      }
      ours.push_back(a);
      theirs.push_back(b);
      // The pane leaves the copy before it goes.
      form->LV2->SetPathName(root + "/home");
      Remove(target);
      Remove(cp);
      sync();
    }
    form->close();
    form.reset();
    WaitForWatcherThreads();
    SetFileOperationUIOverride(nullptr);
  }
  Remove(root);

  if (failed) {
    std::printf("cc_copy_vs_cp=failed\n");
    return 1;
  }
  double a = Median(ours), b = Median(theirs);
  std::printf("cc_copy_vs_cp=%.3f\ncc_copy_seconds=%.3f\ncp_seconds=%.3f\n", a / b, a, b);
  return 0;
}
