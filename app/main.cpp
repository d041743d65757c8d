// Tolvane: a two-pane, keyboard-driven file manager.
#include <QApplication>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/RunControl.h"
#include "platform/fileops/FileOperation.h"
#include "platform/fileops/FileOperationDialogs.h"
#include "platform/namespace/SystemImageList.h"
#include "platform/state/StateFolder.h"

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
  SystemImageList::EnsureIconTheme();
  InstallFileOperationDropHandler();
  FileOperationJournal::Instance().UseFile(StateFolder() + "/undo-journal");
  PrepareUnattendedRun();
  return RunMainWindow(line.paths);
}
