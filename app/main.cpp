// Tolvane: a two-pane, keyboard-driven file manager.
#include <QApplication>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/RunControl.h"
#include "app/SingleInstance.h"
#include "platform/fileops/FileOperationDialogs.h"
#include "platform/namespace/SystemImageList.h"
#include "platform/system/LocalInstance.h"

int main(int argc, char** argv) {
  // --help and --version answer without a display.
  TCommandLine early = ParseCommandLine(argc, argv);
  if (early.action == TCommandLine::Action::kHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (early.action == TCommandLine::Action::kVersion) {
    std::fputs(VersionText().c_str(), stdout);
    return 0;
  }

  CatchTerminationSignals();
  QApplication app(argc, argv);
  CatchTerminationSignals();
  QApplication::setApplicationName("Tolvane");
  QApplication::setApplicationDisplayName("Tolvane");
  // Qt has taken its own options (-platform, -style, ...) out of argv by now.
  TCommandLine line = ParseCommandLine(argc, argv);
  if (line.action == TCommandLine::Action::kHelp || line.action == TCommandLine::Action::kVersion) {
    std::fputs((line.action == TCommandLine::Action::kHelp ? UsageText() : VersionText()).c_str(), stdout);
    return 0;
  }
  if (line.action == TCommandLine::Action::kBadOption) {
    std::fprintf(stderr, "tolvane: 不明なオプションです: %s\n\n%s", line.badOption.c_str(), UsageText().c_str());
    return 2;
  }
  // A window on the same state folder runs already: it takes the folders.
  std::unique_ptr<TInstanceServer> server;
  if (int code = 0; HandOverStart(line, server, code)) return code;
  SystemImageList::EnsureIconTheme();
  InstallFileOperationDropHandler();
  PrepareUnattendedRun();
  return RunMainWindow(line.paths, line.rightPaths, server.get());
}
