// Locations without a FUSE path (GVfs runs without its FUSE daemon, in a
// session of this process's own: GIO takes the session once per process, so
// NetworkBench runs this part in a process of its own):
//   gio_folder_list_10k_vs_gio   10,000 remote files listed through GIO until the list is painted / `gio list`
//   gio_folder_copy_100mb_vs_gio a 100 MB file copied down by the GIO job CC runs / `gio copy`
// Medians of five runs; the spread (lowest-highest ratio of a run's pair) follows each.
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "BenchUtil.h"
#include "NetworkBenchFiles.h"
#include "QuietUI.h"
#include "ShownList.h"
#include "network/NetworkServers.h"
#include "platform/network/GioFolder.h"
#include "platform/network/GioOperations.h"
#include "platform/network/Location.h"
#include "platform/ui/PlatformUi.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"
#include "shell/ShellReportView.h"

namespace {

constexpr int kRuns = 5;

// From navigating to the location's folder until the list is painted with all its rows.
double ListUntilPainted(const std::string& uri, int expected) {
  auto view = bench::NewShownList();
  bench::PaintSpy spy;
  view->ReportView()->viewport()->installEventFilter(&spy);
  const double start = bench::Now();
  view->SetPathName(uri);
  for (;;) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    const bool whole = !view->Reading() && !view->FileList()->Growing();
    if (whole && view->FileList()->Count() == expected && spy.painted) break;
    if (whole) spy.painted = false, view->ReportView()->viewport()->repaint();
    if (bench::Now() - start > 300) break;
  }
  const double took = bench::Now() - start;
  if (view->FileList()->Count() != expected) std::fprintf(stderr, "listed %d\n", view->FileList()->Count());
  view->ReportView()->viewport()->removeEventFilter(&spy);
  return took;
}

double CopyDown(const std::string& uri, const std::string& folder) {
  bench::QuietUI quiet;
  network::GioJob job(&quiet);
  const double start = bench::Now();
  const FileOperationResult result = job.Transfer({uri}, folder, false);
  const double took = bench::Now() - start;
  if (result.code != 0) std::fprintf(stderr, "copy failed: %d\n", result.code);
  return took;
}

// Each run of ours is timed right beside one of gio's: on a busy machine the
// ratio of a pair holds better than either time. The median of the pairs'
// ratios, and the lowest and highest of them.
void Report(const char* name, const std::vector<double>& ours, const std::vector<double>& theirs) {
  std::vector<double> ratios;
  for (size_t i = 0; i < ours.size(); ++i) ratios.push_back(ours[i] / theirs[i]);
  const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
  std::printf("%s_seconds=%.3f\n%s_gio_seconds=%.3f\n%s_vs_gio=%.2f\n%s_spread=%.2f-%.2f\n", name, bench::Median(ours),
              name, bench::Median(theirs), name, bench::Median(ratios), name, *low, *high);
}

}  // namespace

int GioFolderBench(int argc, char** argv) {
  NetworkServers::WithoutFuse();
  NetworkServers& servers = NetworkServers::Get();
  if (!servers.skipReason.empty()) {
    std::fprintf(stderr, "no servers: %s\n", servers.skipReason.c_str());
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  InstallPlatformUi();

  const std::string folder = bench::MakeNetworkBenchFiles(servers.Remote());
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, folder);
  // The agent holds the key: nothing is asked.
  if (RunProcess({"gio", "mount", uri}) != 0) return 1;
  if (!network::LocalPathOf(uri).empty()) std::fprintf(stderr, "the location has a FUSE path after all\n");

  std::vector<double> ours, theirs;
  for (int run = 0; run < kRuns; ++run) {
    ours.push_back(ListUntilPainted(network::GioFolderUri(uri), 10000));
    theirs.push_back(bench::TimeCommand(
        {"gio", "list", "-a", "standard::name,standard::type,standard::size,time::modified,unix::mode", uri}));
  }
  Report("gio_folder_list_10k", ours, theirs);

  const std::string down = servers.Root() + "/down";
  const std::string bigUri = servers.Uri(NetworkServers::kKeyUser, servers.Remote() + "/big.bin");
  ours.clear();
  theirs.clear();
  bench::TimeCopiesDown([&](const std::string& to) { return CopyDown(bigUri, to); }, bigUri, down, kRuns, ours, theirs);
  Report("gio_folder_copy_100mb", ours, theirs);
  std::fflush(stdout);
  servers.Stop();
  return 0;
}
