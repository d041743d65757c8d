// Archives as folders: entering a ZIP in a list until all its rows are painted, against
// bsdtar -tf of the same file, the first painted rows of a 100,000-entry ZIP, and taking
// 1,000 entries out the way the copy command does (extraction into a staging folder in the
// destination, then the file-operation engine's move into place), against bsdtar -x of
// the same entries.
// Part of bench/run.sh archive [work folder].
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <QTreeView>
#include <cstdio>
#include <fstream>
#include <memory>

#include "BenchUtil.h"
#include "ShownList.h"
#include "QuietUI.h"
#include "archive/ArchiveCache.h"
#include "archive/ArchiveCopyOut.h"
#include "archive/ArchiveFolder.h"
#include "platform/system/TimeZone.h"
#include "shell/ShellListView.h"
#include "shell/watch/WatcherThread.h"
#include "shell/ShellReportView.h"

namespace {

using bench::Now;

bool Run(const std::string& dir, const std::string& cmd) {
  return std::system(("cd '" + dir + "' && " + cmd + " >/dev/null 2>&1").c_str()) == 0;
}

void Remove(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

// A folder of count small files in 100 folders, zipped into name (entries without folder records).
bool MakeZip(const std::string& work, const std::string& name, int count) {
  std::string src = work + "/src-" + name;
  for (int d = 0; d < 100; ++d) std::filesystem::create_directories(src + "/d" + std::to_string(d));
  for (int i = 0; i < count; ++i)
    std::ofstream(src + "/d" + std::to_string(i % 100) + "/f" + std::to_string(i) + ".txt") << "entry " << i << '\n';
  bool ok = Run(src, "zip -qrD ../" + name + " .");
  Remove(src);
  return ok;
}

// A new time for the archive: its listing is read again, as after a change on disk.
void Touch(const std::string& path) {
  static long tick = 0;
  struct timespec times[2] = {{1600000000 + ++tick, 0}, {1600000000 + tick, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Notes a paint of the viewport once the list holds rows (all of them, when whole is set).
class RowsPaintSpy : public QObject {
 public:
  RowsPaintSpy(TShellListView& view, bool whole) : view_(view), whole_(whole) {}
  bool painted = false;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && view_.FileList()->Count() > 0 && (!whole_ || !view_.FileList()->Growing()))
      painted = true;
    return false;
  }

 private:
  TShellListView& view_;
  bool whole_;
};

// Seconds from entering the archive until the list's first frame with rows, or
// (whole) with all its rows once the archive has been read to the end.
double EnterUntilPainted(const std::string& archive, bool whole) {
  Touch(archive);
  auto view = bench::NewShownList();
  RowsPaintSpy spy(*view, whole);
  view->ReportView()->viewport()->installEventFilter(&spy);
  double start = Now();
  view->SetPathName(archive);
  while (!spy.painted && Now() - start < 60) QApplication::processEvents(QEventLoop::AllEvents, 5);
  double took = spy.painted ? Now() - start : -1;
  view->ReportView()->viewport()->removeEventFilter(&spy);
  view.reset();
  WaitForWatcherThreads();
  return took;
}

void Report(const char* label, std::vector<double> v, double scale) {
  std::sort(v.begin(), v.end());
  std::printf("# %s: median %.1f ms (%.1f..%.1f)\n", label, bench::Median(v) * scale, v.front() * scale,
              v.back() * scale);
}

// What the copy command does with a selection of entries of the archive (the folder d7).
double CopyOut(const std::string& archive, const std::vector<std::string>& stored, const std::string& dest) {
  double start = Now();
  ArchiveCopyOutRequest request;
  request.archive = request.shownArchive = archive;
  request.names = {"d7"};
  request.stored = stored;
  request.destination = dest;
  ArchiveCopyOut copy(std::move(request));
  std::string error;
  if (!copy.Extract(error)) {
    std::fprintf(stderr, "extraction failed: %s\n", error.c_str());
    return -1;
  }
  bench::QuietUI ui;
  int code = copy.Place(&ui);
  return code == 0 ? Now() - start : -1;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  PinTimeZone();  // as the program does
  QApplication app(argc, argv);
  std::string work = bench::WorkFolder(argc, argv, "tolvane-archive-folder-bench");
  if (work.empty()) {
    std::fprintf(stderr, "no work folder\n");
    return 1;
  }
  bench::UseStateFolderIn(work + "/state");
  RegisterArchiveFolderKind();
  // The 10,000-entry ZIP, and one of 100,000 whose folder d7 holds 1,000 entries.
  if (!MakeZip(work, "10k.zip", 10000) || !MakeZip(work, "100k.zip", 100000)) {
    std::fprintf(stderr, "making the archives failed\n");
    return 1;
  }
  const std::string zip10k = work + "/10k.zip", zip100k = work + "/100k.zip";

  std::vector<double> ours, theirs;
  EnterUntilPainted(zip10k, true);  // warm the caches for both sides
  bench::TimeCommand({"bsdtar", "-tf", zip10k});
  for (int i = 0; i < 7; ++i) {
    ours.push_back(EnterUntilPainted(zip10k, true));
    theirs.push_back(bench::TimeCommand({"bsdtar", "-tf", zip10k}));
    if (ours.back() < 0 || theirs.back() < 0) return 1;
  }
  Report("enter 10k until painted", ours, 1000);
  Report("bsdtar -tf 10k", theirs, 1000);
  const double listRatio = bench::Median(ours) / bench::Median(theirs);

  std::vector<double> enter100k;
  for (int i = 0; i < 5; ++i) {
    enter100k.push_back(EnterUntilPainted(zip100k, false));
    if (enter100k.back() < 0) return 1;
  }
  Report("enter 100k until painted", enter100k, 1000);

  // 1,000 entries: the folder d7 of the 100,000-entry ZIP.
  std::string error;
  auto listing = ReadArchiveListing(zip100k, error);
  std::vector<std::string> stored = listing ? listing->StoredNamesBelow("d7") : std::vector<std::string>{};
  std::vector<double> copyOurs, copyTheirs;
  for (int i = 0; i < 5 && stored.size() == 1000; ++i) {
    std::string a = work + "/out-ours", b = work + "/out-bsdtar";
    Remove(a);
    Remove(b);
    std::filesystem::create_directories(a);
    std::filesystem::create_directories(b);
    sync();
    copyOurs.push_back(CopyOut(zip100k, stored, a));
    sync();
    std::vector<std::string> args{"bsdtar", "-xf", zip100k, "-C", b};
    args.insert(args.end(), stored.begin(), stored.end());
    copyTheirs.push_back(bench::TimeCommand(args));
    if (copyOurs.back() < 0 || copyTheirs.back() < 0) return 1;
  }
  if (copyOurs.empty()) {
    std::fprintf(stderr, "the 1,000 entries were not found\n");
    return 1;
  }
  Report("copy out 1000", copyOurs, 1000);
  Report("bsdtar -x 1000", copyTheirs, 1000);

  std::printf("archive_list_10k_vs_bsdtar=%.2f\n", listRatio);
  std::printf("archive_enter_100k_first_paint_ms=%.0f\n", bench::Median(enter100k) * 1000);
  std::printf("archive_copy_out_vs_bsdtar=%.2f\n", bench::Median(copyOurs) / bench::Median(copyTheirs));
  RemoveArchiveCache();
  Remove(work);
  return 0;
}
