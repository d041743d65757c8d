// Copy command benchmark: CC of 2,000 selected files (1 GB in all) from the
// left pane into the right pane's folder, timed from the key presses until
// the right pane lists them all, against cp of the same files in the same
// run. Medians of three runs, a fresh target each run, the side that goes
// first alternating, the page cache left alone for both. Prints key=value lines.
// Then renaming 10,000 files by a counter pattern and undoing it, and
// comparing the 1 GB folder with a copy of it by content against diff -rq.
//   bench_CommandsBench [work folder]   (default: a temporary folder on a disk)
//   BENCH_ONLY=rename or compare: that part alone
//   BENCH_ONLY=cc1m with TOLVANE_BENCH_1M_FOLDER=folder (of 1,000,000 files, as
//   the list benchmark makes it): CC of all its files, until the copy job runs
//   and until its progress window is shown, then the copy is cancelled
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
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
#include "platform/fileops/BatchRename.h"
#include "platform/ui/PlatformUi.h"
#include "platform/fileops/FileOperation.h"
#include "platform/fileops/FolderCompare.h"
#include "platform/fileops/RenamePattern.h"
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

// Renames 10,000 files by a counter pattern as the dialog's OK does (the
// preview's checks, then the job), and undoes it; milliseconds of each.
bool TimeRenameMany(const std::string& root, double& renameMs, double& undoMs) {
  constexpr int kRenameFiles = 10000;
  const std::string dir = root + "/rename";
  std::filesystem::create_directories(dir);
  char name[64];
  for (int i = 0; i < kRenameFiles; ++i) {
    std::snprintf(name, sizeof name, "/IMG_%05d.jpg", i);
    int fd = open((dir + name).c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd < 0) return false;
    close(fd);
  }
  std::vector<RenameSource> sources;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    RenameSource source;
    if (LookUpRenameSource(dir, entry.path().filename().string(), source)) sources.push_back(source);
  }
  double start = Now();
  RenameRule rule;
  rule.namePattern = "photo_[C:5]";
  std::vector<RenamePreviewRow> rows = PreviewRename(rule, sources);
  if (AnyRenameConflict(rows)) return false;
  std::vector<BatchRenameItem> items;
  for (size_t i = 0; i < rows.size(); ++i)
    items.push_back({dir, rows[i].oldName, rows[i].newName, sources[i].dev, sources[i].ino});
  BatchRenameResult result = BatchRename(std::move(items)).Run(true);
  renameMs = (Now() - start) * 1000;
  if (!result.ok || !std::filesystem::exists(dir + "/photo_09999.jpg")) return false;
  QuietUI ui;
  start = Now();
  int undone = FileOperationJournal::Instance().UndoLast(&ui);
  undoMs = (Now() - start) * 1000;
  bool back = undone == 0 && std::filesystem::exists(dir + "/IMG_09999.jpg");
  Remove(dir);
  return back;
}

// Compares source with a copy of it by content (both trees whole), against diff -rq.
// The side that goes first alternates.
bool TimeCompare(const std::string& source, const std::string& copy, bool diffFirst, double& ours, double& theirs) {
  CompareOptions options;
  options.content = true;
  options.subfolders = true;
  if (diffFirst) theirs = TimeCommand({"diff", "-rq", source, copy});
  double start = Now();
  CompareResult result = FolderCompare(source, copy, options).Run();
  ours = Now() - start;
  if (!diffFirst) theirs = TimeCommand({"diff", "-rq", source, copy});
  return result.error.empty() && result.Counts().equal == size_t(kFiles) && theirs >= 0;
}

// Notes when the progress window is shown and how long the job had run by then,
// and cancels the job there.
class ProgressClock : public QuietUI {
 public:
  double shownAt = -1, jobSeconds = 0;
  bool finished = false;
  void ProgressStarted(const FileOperationProgress& progress) override {
    shownAt = Now();
    jobSeconds = progress.secondsElapsed;
  }
  void ProgressFinished() override { finished = true; }
  bool CancelRequested() override { return shownAt >= 0; }
};

// CC of the million files shown in the left pane, selected, into an empty
// folder of the right pane, five times: from the second key press until the
// job runs (the window's own work) and until the progress window is shown.
int TimeCopyStartMillion(int argc, char** argv, const std::string& million, const std::string& root) {
  QApplication app(argc, argv);
  InstallPlatformUi();
  auto form = std::make_unique<TForm1>();
  form->show();
  if (!QTest::qWaitForWindowExposed(form.get())) return 1;
  form->activateWindow();
  (void)QTest::qWaitForWindowActive(form.get());
  form->LV1->SetPathName(million);
  for (double start = Now(); form->LV1->Reading() && Now() - start < 120;) QTest::qWait(10);
  std::vector<double> starts, shown;
  constexpr int kMillionRuns = 5;
  for (int run = 0; run < kMillionRuns; ++run) {
    const std::string target = root + "/cc1m_" + std::to_string(run);
    std::filesystem::create_directories(target);
    form->LV2->SetPathName(target);
    // As a user would: the list shown a moment, its sizes read while idle.
    for (double start = Now(); form->LV1->FileList()->IdleWorkLeft() && Now() - start < 120;) QTest::qWait(10);
    form->LV1->setFocus();
    QApplication::processEvents();
    form->LV1->SelectAll();
    QApplication::processEvents();
    ProgressClock clock;
    SetFileOperationUIOverride(&clock);
    QWidget* keys = QApplication::focusWidget();
    if (!keys) return 1;
    QTest::keyClick(keys, Qt::Key_C);
    const double start = Now();
    QTest::keyClick(keys, Qt::Key_C);
    while (!clock.finished && Now() - start < 600) QApplication::processEvents(QEventLoop::AllEvents, 5);
    SetFileOperationUIOverride(nullptr);
    if (clock.shownAt < 0) {
      std::fprintf(stderr, "run %d: no progress window\n", run);
      return 1;
    }
    shown.push_back((clock.shownAt - start) * 1000);
    starts.push_back((clock.shownAt - start - clock.jobSeconds) * 1000);
    form->LV2->SetPathName(root);
    Remove(target);
  }
  std::sort(starts.begin(), starts.end());
  std::sort(shown.begin(), shown.end());
  std::printf("cc_start_1m_ms=%.0f (%.0f-%.0f)\ncc_progress_shown_1m_ms=%.0f (%.0f-%.0f)\n", Median(starts),
              starts.front(), starts.back(), Median(shown), shown.front(), shown.back());
  form->close();
  form.reset();
  WaitForWatcherThreads();
  return 0;
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
  // The journal on disk, as the program keeps it: each undo step is written (and synced) there.
  FileOperationJournal::Instance().UseFile(root + "/state/undo-journal");
  std::printf("work_folder=%s\n", root.c_str());
  std::fflush(stdout);

  if (const char* million = std::getenv("TOLVANE_BENCH_1M_FOLDER");
      million && std::getenv("BENCH_ONLY") && std::string(std::getenv("BENCH_ONLY")) == "cc1m") {
    const int failed = TimeCopyStartMillion(argc, argv, million, root);
    Remove(root);
    return failed;
  }
  const std::string source = root + "/source";
  const std::string only = std::getenv("BENCH_ONLY") ? std::getenv("BENCH_ONLY") : "";
  // Renaming needs none of the 1 GB.
  std::vector<std::string> files = only == "rename" ? std::vector<std::string>{source} : MakeFiles(source);
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
  if (only.empty() || only == "rename") {
    std::vector<double> renames, undos;
    for (int run = 0; run < kRuns && !failed; ++run) {
      double r = 0, u = 0;
      failed = !TimeRenameMany(root, r, u);
      renames.push_back(r);
      undos.push_back(u);
    }
    if (failed) {
      std::printf("multirename_10k_ms=failed\n");
      Remove(root);
      return 1;
    }
    std::sort(renames.begin(), renames.end());
    std::sort(undos.begin(), undos.end());
    std::printf("multirename_10k_ms=%.0f\nmultirename_10k_spread_ms=%.0f-%.0f\nmultirename_undo_10k_ms=%.0f\n",
                Median(renames), renames.front(), renames.back(), Median(undos));
    std::fflush(stdout);
  }
  if (only.empty() || only == "compare") {
    const std::string copy = root + "/compare_copy";
    failed = TimeCommand({"cp", "-a", source, copy}) < 0;
    std::vector<double> ratios;
    for (int run = 0; run < kRuns && !failed; ++run) {
      double a = 0, b = 0;
      sync();
      failed = !TimeCompare(source, copy, run % 2 == 1, a, b);
      ratios.push_back(a / b);
    }
    Remove(copy);
    if (failed) {
      std::printf("compare_content_vs_diff=failed\n");
      Remove(root);
      return 1;
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("compare_content_vs_diff=%.3f\ncompare_content_vs_diff_spread=%.3f-%.3f\n", Median(ratios),
                ratios.front(), ratios.back());
    std::fflush(stdout);
  }
  if (!only.empty()) {
    Remove(root);
    return 0;
  }
  {
    QApplication app(argc, argv);
    InstallPlatformUi();
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
