// Listing benchmark: a folder list against ls and find on the same folders, in
// the same run. Prints key=value lines.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../tests/support/SimpleListOwner.h"
#include "shell/ShellFileList.h"
#include "shell/actions/ShellActns.h"
#include "shell/actions/Wildcard.h"
#include "shell/watch/ShFilesWatcher.h"
#include "shell/watch/WatcherThread.h"

extern char** environ;

#include "BenchUtil.h"
#include "ProgramStart.h"
#include "ShownList.h"
#include "platform/system/Library.h"
#include "shell/ShellReportView.h"

using bench::Median;
using bench::Now;
using bench::SetProgramEnvironment;
using bench::TimeCommand;
using bench::TimeToFirstPaint;
using bench::WriteState;

namespace {

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

void MakeFiles(const std::string& dir, int count, bool folders) {
  std::filesystem::create_directories(dir);
  char name[64];
  for (int i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, folders ? "/folder_%06d" : "/file_%06d.txt", i);
    std::string path = dir + name;
    if (folders) {
      mkdir(path.c_str(), 0755);
    } else {
      int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
      // Sizes vary so that a sort by size has work to do.
      if (fd >= 0 && ftruncate(fd, (i * 7919) % 65536) == 0) close(fd);
    }
  }
}

// Seconds to show a folder in a fresh list sorted by column.
double TimeListing(const std::string& dir, int column, int* count) {
  SimpleListOwner owner;
  TShellFileList list(&owner, false);
  list.SortType = column;
  PItemIDList folder = nullptr;
  if (!PathToIDList(dir, folder)) return -1;
  double start = Now();
  list.SetFolder(folder);
  double took = Now() - start;
  if (count) *count = list.Count();
  FreeIDList(folder);
  return took;
}

double Ratio(const std::string& dir, int column, const std::vector<std::string>& reference, int runs, double* ours,
             double* theirs) {
  std::vector<double> a, b;
  TimeListing(dir, column, nullptr);  // warm the caches for both sides
  TimeCommand(reference);
  for (int i = 0; i < runs; ++i) {
    a.push_back(TimeListing(dir, column, nullptr));
    b.push_back(TimeCommand(reference));
  }
  *ours = Median(a);
  *theirs = Median(b);
  return *ours / *theirs;
}

int BurstReports(const std::string& dir) {
  std::filesystem::create_directories(dir);
  int reports = 0;
  auto* watcher = new TShFilesWatcher(dir, 3, [&](TShFilesWatcher*, const std::string&) { ++reports; });
  QTest::qWait(200);
  double start = Now();
  MakeFiles(dir, 10000, false);
  double created = Now() - start;
  // Settling is 2 s after the last change; wait well past it.
  QTest::qWait(4000);
  watcher->Stop();
  WaitForWatcherThreads();
  std::printf("burst_create_seconds=%.3f\n", created);
  return reports;
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// A folder of a million empty files with short names; one made before (by an
// earlier run) is taken as it is.
std::string MillionFolder(const std::string& given) {
  std::string dir = given;
  std::filesystem::create_directories(dir);
  int have = 0;
  for (auto it = std::filesystem::directory_iterator(dir);
       it != std::filesystem::directory_iterator() && have < 1000000; ++it)
    ++have;
  if (have >= 1000000) return dir;
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  char name[32];
  for (int i = 0; i < 1000000; ++i) {
    std::snprintf(name, sizeof name, "file_%07d.txt", i);
    int f = openat(fd, name, O_CREAT | O_WRONLY, 0644);
    if (f >= 0) close(f);
  }
  close(fd);
  return dir;
}

// The mask of the window's filter edit, matched as the window matches it.
constexpr const char* kMask = "file_00*.*";
std::function<bool(std::string_view)> MaskFilter() {
  return [mask = std::string(kMask)](std::string_view entry) {
    thread_local std::string name;
    name.assign(entry);
    return MatchWildcard(name, mask);
  };
}

std::string Spread(const std::vector<double>& v) {
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  char text[64];
  std::snprintf(text, sizeof text, *hi < 100 ? "%.1f-%.1f" : "%.0f-%.0f", *lo, *hi);
  return text;
}

// Milliseconds from starting the program with one pane on dir (the other on an
// empty folder) to its first paint with the list filled; runs are the medians' count.
std::vector<double> FilledTimes(const std::string& dir, int runs) {
  const std::string root = bench::MakeTemp(std::filesystem::temp_directory_path().string(), "tolvane-filled");
  std::filesystem::create_directories(root + "/empty");
  WriteState(root, dir, root + "/empty");
  // The program's surroundings only: this process keeps its own.
  const char* const names[] = {"TOLVANE_HOME",          "HOME",
                               "XDG_CONFIG_HOME",       "TOLVANE_REPORT_FIRST_PAINT",
                               "TOLVANE_QUIT_AFTER_MS", "QT_QPA_PLATFORM"};
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* name : names)
    if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
  SetProgramEnvironment(root, "60000");
  const std::string program = ExecutableFolder() + "/tolvane";
  std::vector<double> times;
  for (int run = 0; run <= runs; ++run) {
    double filled = -1;
    if (TimeToFirstPaint(program, &filled) < 0 || filled < 0) break;
    // The first run warms the caches.
    if (run > 0) times.push_back(filled * 1000);
  }
  for (const char* name : names) unsetenv(name);
  for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
  std::filesystem::remove_all(root);
  return times;
}

// Milliseconds until what was done shows: the events it caused handled and
// the list painted.
double Shown(TShellListView& view, double start) {
  QApplication::processEvents();
  view.ReportView()->viewport()->repaint();
  return (Now() - start) * 1000;
}

// The size of the selected rows counted again, row by row.
uint64_t SelectedSizeRecount(TShellListView& view) {
  uint64_t total = 0;
  for (const auto& [first, last] : view.SelectedSpans(view.FileList()->Count()))
    for (int row = first; row <= last; ++row) total += view.FileList()->Items(row)->GetSize();
  return total;
}

// Ctrl+A straight after the list was filled, before its sizes were read:
// until they are, the selected size is being counted; then it must be right.
void EarlySelectAll(const std::string& dir) {
  std::vector<double> times;
  bool right = true;
  for (int run = 0; run < 3; ++run) {
    auto view = bench::NewShownList();
    const double from = Now();
    view->SetPathName(dir);
    while (view->Reading() && Now() - from < 60) QTest::qWait(10);
    QApplication::processEvents();
    const double start = Now();
    TSelectAllItem().ExecuteTarget(view.get());
    times.push_back(Shown(*view, start));
    const double wait = Now();
    while ((view->SelSizeCounting() || view->FileList()->IdleWorkLeft()) && Now() - wait < 120) QTest::qWait(10);
    right = right && !view->SelSizeCounting() && view->SelectedCount() == view->FileList()->Count() &&
            view->SelSize() == SelectedSizeRecount(*view);
    view.reset();
    WaitForWatcherThreads();
  }
  std::printf("select_all_early_1m_ms=%.1f (%s)\nselected_size_early=%s\n", Median(times), Spread(times).c_str(),
              right ? "equal" : "DIFFERENT");
}

// Files created one at a time in the shown folder dir: the process's CPU
// time until the list has each, less what the same wait costs idle, per file.
double ChangeCpuMs(const std::string& dir, const std::function<int()>& count) {
  constexpr int kFiles = 6;
  // Waited for as below, so the idle cost is the same; taken before and
  // after the changes, as other programs' load drifts.
  auto idleRate = [] {
    const double cpu = CpuSeconds(), from = Now();
    while (Now() - from < 2.6) QTest::qWait(5);
    return (CpuSeconds() - cpu) / (Now() - from);
  };
  const double idleBefore = idleRate();
  const int first = count();
  double cpu = CpuSeconds(), waited = Now();
  std::vector<std::string> added;
  for (int k = 0; k < kFiles; ++k) {
    const int before = count();
    added.push_back(dir + "/file_0500000a" + std::to_string(k) + ".txt");
    close(open(added.back().c_str(), O_CREAT | O_WRONLY, 0644));
    for (const double from = Now(); count() == before && Now() - from < 20;) QTest::qWait(5);
    // The second report of the same file (by its size) is counted too: it
    // comes within a moment of the first.
    for (const double shown = Now(); Now() - shown < 0.3;) QTest::qWait(5);
  }
  cpu = CpuSeconds() - cpu;
  waited = Now() - waited;
  const double idleCpu = (idleBefore + idleRate()) / 2;
  for (const std::string& path : added) unlink(path.c_str());
  // The removals are taken before what comes next.
  for (const double from = Now(); count() != first && Now() - from < 20;) QTest::qWait(5);
  return (cpu - idleCpu * waited) * 1000 / kFiles;
}

// Keys on a shown list of the folder, as the window runs them: files made
// one at a time, sorted by name and by size; Ctrl+A,
// Ctrl+R from every thousandth row selected, Page Down, a mask typed with
// Shift+letter and cleared. Timed once the sizes were read behind the first
// paint, as the view reads them when idle.
void ShownKeys(const std::string& dir) {
  auto view = bench::NewShownList();
  double start = Now();
  view->SetPathName(dir);
  for (; view->Reading() && Now() - start < 60;) QTest::qWait(10);
  QApplication::processEvents();
  // What the view reads while idle: the sizes, their total, the names' index.
  auto idle = [&view] {
    const double from = Now();
    while (view->FileList()->IdleWorkLeft() && Now() - from < 120) QTest::qWait(10);
    return (Now() - from) * 1000;
  };
  std::printf("idle_reads_1m_ms=%.0f (after the list was filled)\n", idle());
  // Changes by name, and by size where a row's place does not follow from its name.
  auto rows = [&view] { return view->FileList()->Count(); };
  std::vector<double> changes, sizeChanges;
  for (int run = 0; run < 5; ++run) changes.push_back(ChangeCpuMs(dir, rows));
  view->FileList()->SortByColumn(1);
  idle();
  for (int run = 0; run < 5; ++run) sizeChanges.push_back(ChangeCpuMs(dir, rows));
  view->FileList()->SortByColumn(0);
  std::printf("change_cpu_ms_1m=%.1f (%s)\nchange_by_size_cpu_ms_1m=%.1f (%s)\n", Median(changes),
              Spread(changes).c_str(), Median(sizeChanges), Spread(sizeChanges).c_str());
  // The list style, drawn by Qt's list view, for comparison.
  view->SetViewStyleProperty(vsList);
  // The icons the new style shows are read first, not during the idle count.
  idle();
  QTest::qWait(500);
  std::vector<double> listChanges;
  for (int run = 0; run < 3; ++run) listChanges.push_back(ChangeCpuMs(dir, rows));
  view->SetViewStyleProperty(vsReport);
  std::printf("change_in_list_style_cpu_ms_1m=%.1f (%s)\n", Median(listChanges), Spread(listChanges).c_str());
  const int count = view->FileList()->Count();
  std::vector<double> alls, inverts, pages, masks, unmasks;
  int selected = 0, inverted = 0;
  bool sizesRight = true;
  for (int run = 0; run < 5; ++run) {
    idle();
    view->SelectAllRows(false);
    QApplication::processEvents();
    start = Now();
    TSelectAllItem().ExecuteTarget(view.get());
    alls.push_back(Shown(*view, start));
    selected = view->SelectedCount();
    sizesRight = sizesRight && view->SelSize() == SelectedSizeRecount(*view);

    view->SelectAllRows(false);
    for (int row = 0; row < count; row += 1000) view->SetRowSelected(row, true);
    QApplication::processEvents();
    start = Now();
    TReverseSelectedItem().ExecuteTarget(view.get());
    inverts.push_back(Shown(*view, start));
    inverted = view->SelectedCount();
    sizesRight = sizesRight && view->SelSize() == SelectedSizeRecount(*view);
    view->SelectAllRows(false);

    view->SetFocusedRow(run * 100000);
    view->MakeRowVisible(run * 100000);
    Shown(*view, Now());
    start = Now();
    QTest::keyClick(view->CurrentView(), Qt::Key_PageDown);
    pages.push_back(Shown(*view, start));

    view->OnShNameFilter = [](TShellListView*) { return MaskFilter(); };
    start = Now();
    view->ApplyMask();
    masks.push_back(Shown(*view, start));
    view->OnShNameFilter = nullptr;
    start = Now();
    view->ApplyMask();
    unmasks.push_back(Shown(*view, start));
  }
  std::printf("select_all_1m_ms=%.1f (%s)\nselected_1m=%d of %d\n", Median(alls), Spread(alls).c_str(), selected,
              count);
  std::printf("invert_1m_ms=%.1f (%s)\ninverted_1m=%d\nselected_size_recounted=%s\n", Median(inverts),
              Spread(inverts).c_str(), inverted, sizesRight ? "equal" : "DIFFERENT");
  std::printf("page_down_1m_ms=%.1f (%s)\n", Median(pages), Spread(pages).c_str());
  std::printf("mask_shown_1m_ms=%.0f (%s)\nunmask_shown_1m_ms=%.0f (%s)\n", Median(masks), Spread(masks).c_str(),
              Median(unmasks), Spread(unmasks).c_str());
  view.reset();
  WaitForWatcherThreads();
}

// The keys of a folder of a million files.
void MillionKeys(const std::string& dir) {
  const int runs = 3;
  std::vector<double> rowBytes, reads, lss, sorts, masks, unmasks, indexes;
  // Reads paired with ls, each list let go before the next as a user's
  // folders are: the first read also takes the memory the later ones reuse.
  for (int read = 0; read < 5; ++read) {
    SimpleListOwner owner;
    auto list = std::make_unique<TShellFileList>(&owner, true);
    IDListPtr folder = PathToIDList(dir);
    long before = ResidentBytes();
    double start = Now();
    list->SetFolder(folder.get());
    reads.push_back((Now() - start) * 1000);
    if (read == 0) rowBytes.push_back(static_cast<double>(ResidentBytes() - before) / std::max(1, list->Count()));
    lss.push_back(TimeCommand({"ls", "-1", dir}) * 1000);
  }
  for (int run = 0; run < runs; ++run) {
    SimpleListOwner owner;
    auto list = std::make_unique<TShellFileList>(&owner, true);
    IDListPtr folder = PathToIDList(dir);
    list->SetFolder(folder.get());

    // Sizes are read behind the first paint, as the view reads them.
    while (list->PrefetchSizes(4096)) {
    }
    double start = Now();
    list->SortByColumn(1);
    sorts.push_back((Now() - start) * 1000);
    // The names are indexed again in the new order, as the view does while idle.
    start = Now();
    while (list->PrefetchSizes(4096)) {
    }
    indexes.push_back((Now() - start) * 1000);

    // As the window filters: by the name each row's ID holds, the mask made once.
    owner.Filter = [name = std::string(), mask = std::string(kMask)](TShellFileItem* item) mutable {
      name.assign(item->EntryName());
      return MatchWildcard(name, mask);
    };
    owner.ByName = MaskFilter();
    start = Now();
    if (!list->ApplyFilter()) list->Populate();
    masks.push_back((Now() - start) * 1000);
    owner.Filter = nullptr;
    owner.ByName = nullptr;
    start = Now();
    if (!list->ApplyFilter()) list->Populate();
    unmasks.push_back((Now() - start) * 1000);
  }
  std::printf("list_1m_read_ms=%.0f (%s)\nls_1m_ms=%.0f (%s)\nlist_1m_vs_ls=%.2f\n", Median(reads),
              Spread(reads).c_str(), Median(lss), Spread(lss).c_str(), Median(reads) / Median(lss));
  std::printf("row_bytes_1m=%.0f (%s)\n", Median(rowBytes), Spread(rowBytes).c_str());
  std::printf("sort_by_size_1m_ms=%.0f (%s)\nmask_1m_ms=%.0f (%s)\n", Median(sorts), Spread(sorts).c_str(),
              Median(masks), Spread(masks).c_str());
  const std::vector<double> filled = FilledTimes(dir, runs);
  if (filled.empty())
    std::printf("list_1m_filled_ms=failed\n");
  else
    std::printf("list_1m_filled_ms=%.0f (%s)\n", Median(filled), Spread(filled).c_str());
  std::printf("unmask_1m_ms=%.0f (%s)\nname_index_1m_ms=%.0f (%s)\n", Median(unmasks), Spread(unmasks).c_str(),
              Median(indexes), Spread(indexes).c_str());
  EarlySelectAll(dir);
  ShownKeys(dir);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  std::string root = argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "tolvane-bench").string();
  // A million files take minutes to make: only when asked, in a folder kept between runs.
  if (const char* million = std::getenv("TOLVANE_BENCH_1M_FOLDER")) {
    MillionKeys(MillionFolder(million));
    WaitForWatcherThreads();
    return 0;
  }
  std::filesystem::remove_all(root);
  std::string files = root + "/files", folders = root + "/folders";
  MakeFiles(files, 100000, false);
  MakeFiles(folders, 10000, true);
  const int runs = 7;

  // Memory first, while the heap holds nothing that earlier listings freed.
  {
    SimpleListOwner owner;
    TShellFileList list(&owner, false);
    PItemIDList folder = nullptr;
    PathToIDList(files, folder);
    long before = ResidentBytes();
    list.SetFolder(folder);
    long after = ResidentBytes();
    FreeIDList(folder);
    std::printf("listed_items=%d\nbytes_per_item=%.0f\n", list.Count(),
                static_cast<double>(after - before) / std::max(1, list.Count()));
  }

  double ours, theirs;
  double byName = Ratio(files, 0, {"ls", "-1", files}, runs, &ours, &theirs);
  std::printf("list_by_name_seconds=%.4f\nls_seconds=%.4f\nlist_by_name_vs_ls=%.2f\n", ours, theirs, byName);

  double bySize = Ratio(files, 1, {"find", files, "-maxdepth", "1", "-printf", "%s\n"}, runs, &ours, &theirs);
  std::printf("list_by_size_seconds=%.4f\nfind_seconds=%.4f\nlist_by_size_vs_find=%.2f\n", ours, theirs, bySize);

  double foldersByName = Ratio(folders, 0, {"ls", "-1", folders}, runs, &ours, &theirs);
  std::printf("folders_by_name_seconds=%.4f\nfolders_ls_seconds=%.4f\nfolders_by_name_vs_ls=%.2f\n", ours, theirs,
              foldersByName);

  std::printf("burst_reports=%d\n", BurstReports(root + "/burst"));
  std::filesystem::remove_all(root);
  return 0;
}
