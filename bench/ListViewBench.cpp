// Folder list view benchmark: the first painted frame of a folder of 100,000
// files against ls on the same folder, page painting while scrolling, and
// select-all with its selection-size update. Prints key=value lines.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "ShownList.h"
#include "shell/ShellListView.h"
#include "shell/ShellReportView.h"
#include "shell/watch/WatcherThread.h"

using bench::Median;
using bench::Now;
using bench::TimeCommand;

namespace {

void MakeFiles(const std::string& dir, int count) {
  std::filesystem::create_directories(dir);
  char name[64];
  for (int i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "/file_%06d.txt", i);
    std::string path = dir + name;
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd >= 0 && ftruncate(fd, (i * 7919) % 65536) == 0) close(fd);
  }
}

// Seconds from navigating to the folder until its first frame is painted.
double FirstPaint(const std::string& dir) {
  auto view = bench::NewShownList();
  bench::PaintSpy spy;
  view->ReportView()->viewport()->installEventFilter(&spy);
  double start = Now();
  view->SetPathName(dir);
  while (!spy.painted && Now() - start < 60) QApplication::processEvents(QEventLoop::AllEvents, 5);
  double took = Now() - start;
  view->ReportView()->viewport()->removeEventFilter(&spy);
  view.reset();
  WaitForWatcherThreads();
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::string root = argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "tolvane-lvbench").string();
  std::filesystem::remove_all(root);
  std::string files = root + "/files";
  MakeFiles(files, 100000);
  const int runs = 5;

  FirstPaint(files);  // warm the caches for both sides
  TimeCommand({"ls", "-1", files});
  std::vector<double> ours, theirs;
  for (int i = 0; i < runs; ++i) {
    ours.push_back(FirstPaint(files));
    theirs.push_back(TimeCommand({"ls", "-1", files}));
  }
  std::printf("first_paint_100k_seconds=%.4f\nls_seconds=%.4f\nfirst_paint_100k_vs_ls=%.2f\n", Median(ours),
              Median(theirs), Median(ours) / Median(theirs));

  // Select-all on rows never shown: the sizes are not cached yet.
  {
    auto cold = bench::NewShownList();
    cold->SetPathName(files);
    QApplication::processEvents();
    cold->ReportView()->setFocus();
    double start = Now();
    QTest::keyClick(cold->ReportView(), Qt::Key_A, Qt::ControlModifier);
    std::printf("select_all_cold_ms=%.2f\n", (Now() - start) * 1000);
    cold.reset();
    WaitForWatcherThreads();
  }
  // The same a moment after the listing appeared: the sizes were read while idle.
  {
    auto settled = bench::NewShownList();
    double shown = Now();
    settled->SetPathName(files);
    while (Now() - shown < 1.0) QApplication::processEvents(QEventLoop::AllEvents, 5);
    settled->ReportView()->setFocus();
    double start = Now();
    QTest::keyClick(settled->ReportView(), Qt::Key_A, Qt::ControlModifier);
    std::printf("select_all_1s_after_listing_ms=%.2f\n", (Now() - start) * 1000);
    settled.reset();
    WaitForWatcherThreads();
  }

  auto view = bench::NewShownList();
  view->SetPathName(files);
  QApplication::processEvents();
  std::printf("rows=%d\n", view->FileList()->Count());

  // Every page from top to bottom, each painted at once.
  TShellReportView* tree = view->ReportView();
  QScrollBar* bar = tree->verticalScrollBar();
  int step = std::max(1, bar->pageStep());
  double total = 0;
  int pages = 0;
  for (int value = 0; value <= bar->maximum(); value += step) {
    bar->setValue(value);
    double start = Now();
    tree->viewport()->repaint();
    total += Now() - start;
    ++pages;
  }
  std::printf("scroll_pages=%d\nscroll_page_ms_100k=%.3f\n", pages, pages ? total / pages * 1000 : 0.0);

  uint64_t lastSize = 0;
  int events = 0;
  view->OnShSelChange = [&](TShellListView*, uint64_t size) {
    lastSize = size;
    ++events;
  };
  tree->setFocus();
  std::vector<double> selects;
  double firstSelect = 0;
  for (int i = 0; i < runs; ++i) {
    view->SelectAllRows(false);
    double start = Now();
    QTest::keyClick(tree, Qt::Key_A, Qt::ControlModifier);
    double took = Now() - start;
    if (i == 0) firstSelect = took;
    selects.push_back(took);
  }
  std::printf("select_all_after_scroll_first_ms=%.2f\nselect_all_100k_ms=%.2f\nselected=%d\nsel_size=%llu\n",
              firstSelect * 1000, Median(selects) * 1000, view->SelectedCount(),
              static_cast<unsigned long long>(lastSize));

  view.reset();
  WaitForWatcherThreads();
  std::filesystem::remove_all(root);
  return 0;
}
