// Network locations against the reference client of the same engine, in the
// same run and on the same private servers the tests use (sshd on
// 127.0.0.1 and GVfs in a D-Bus session of their own):
//   sftp_list_10k_vs_gio   10,000 remote files listed until the list is painted / `gio list`
//   sftp_copy_100mb_vs_gio a 100 MB file copied down by the file engine / `gio copy`
// Medians of five runs; the spread (slowest / fastest of ours) follows each.
// Then GioFolderBench.cpp's keys, for locations without a FUSE path.
#include <QApplication>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "BenchUtil.h"
#include "NetworkBenchFiles.h"
#include "ShownList.h"
#include "QuietUI.h"
#include "network/NetworkServers.h"
#include "platform/fileops/FileOperation.h"
#include "platform/network/Location.h"
#include "platform/ui/PlatformUi.h"
#include "shell/ShellListView.h"
#include "shell/watch/WatcherThread.h"
#include "shell/ShellReportView.h"

using bench::Median;
using bench::Now;

namespace {

constexpr int kRuns = 5;

struct NoQuestions : network::MountQuestions {
  bool AskPassword(const network::PasswordRequest&, network::PasswordAnswer&) override { return false; }
  int AskChoice(const std::string&, const std::vector<std::string>&) override { return -1; }
  bool AcceptHostKey(const std::string&, const std::string&, const std::string&) override { return false; }
};

// From navigating to the location's folder until the list is painted with its rows.
double ListUntilPainted(const std::string& local, int expected) {
  auto view = bench::NewShownList();
  bench::PaintSpy spy;
  view->ReportView()->viewport()->installEventFilter(&spy);
  const double start = Now();
  // As the pane does: read on a worker, the window going on meanwhile.
  view->ReadAhead(local, 0);
  view->SetPathName(local);
  for (;;) {
    QApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!view->Reading() && view->FileList()->Count() == expected && spy.painted) break;
    if (!view->Reading()) spy.painted = false, view->ReportView()->viewport()->repaint();
    if (Now() - start > 300) break;
  }
  const double took = Now() - start;
  if (view->FileList()->Count() != expected) std::fprintf(stderr, "listed %d\n", view->FileList()->Count());
  view->ReportView()->viewport()->removeEventFilter(&spy);
  view.reset();
  WaitForWatcherThreads();
  return took;
}

double CopyDown(const std::string& from, const std::string& folder) {
  SHFILEOPSTRUCT op;
  op.wFunc = FO_COPY;
  op.pFrom = from + '\0' + '\0';
  op.pTo = folder + '\0';
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
  const double start = Now();
  const int result = SHFileOperation(op);
  const double took = Now() - start;
  if (result != 0) std::fprintf(stderr, "copy failed: %d\n", result);
  return took;
}

void Report(const char* name, const std::vector<double>& ours, const std::vector<double>& theirs) {
  const double a = Median(ours), b = Median(theirs);
  std::printf("%s_seconds=%.3f\n%s_gio_seconds=%.3f\n%s_vs_gio=%.2f\n%s_spread=%.2f\n", name, a, name, b, name, a / b,
              name, *std::max_element(ours.begin(), ours.end()) / *std::min_element(ours.begin(), ours.end()));
}

}  // namespace

int GioFolderBench(int argc, char** argv);  // GioFolderBench.cpp

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--without-fuse") return GioFolderBench(argc, argv);
  NetworkServers& servers = NetworkServers::Get();
  if (!servers.skipReason.empty()) {
    std::fprintf(stderr, "no servers: %s\n", servers.skipReason.c_str());
    return 1;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  InstallPlatformUi();
  bench::QuietUI quiet;
  SetFileOperationUIOverride(&quiet);

  const std::string folder = bench::MakeNetworkBenchFiles(servers.Remote());
  const std::string uri = servers.Uri(NetworkServers::kKeyUser, folder);
  NoQuestions questions;
  if (!network::MountLocation(uri, questions).ok) return 1;
  const std::string local = network::ReachableLocalPath(uri);

  std::vector<double> ours, theirs;
  for (int run = 0; run < kRuns; ++run) {
    ours.push_back(ListUntilPainted(local, 10000));
    theirs.push_back(bench::TimeCommand(
        {"gio", "list", "-a", "standard::name,standard::type,standard::size,time::modified,unix::mode", uri}));
  }
  Report("sftp_list_10k", ours, theirs);

  const std::string down = servers.Root() + "/down";
  const std::string bigUri = servers.Uri(NetworkServers::kKeyUser, servers.Remote() + "/big.bin");
  const std::string bigLocal = network::ReachableLocalPath(bigUri);
  ours.clear();
  theirs.clear();
  bench::TimeCopiesDown([&](const std::string& to) { return CopyDown(bigLocal, to); }, bigUri, down, kRuns, ours,
                        theirs);
  Report("sftp_copy_100mb", ours, theirs);
  SetFileOperationUIOverride(nullptr);
  servers.Stop();
  // Without a FUSE path, in a GVfs session of its own: a process of its own.
  std::fflush(stdout);
  return RunProcess({"/proc/self/exe", "--without-fuse"}) == 0 ? 0 : 1;
}
