// Tolvane: a two-pane, keyboard-driven file manager.
#include <QApplication>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/PlatformWiring.h"
#include "app/RunControl.h"
#include "app/SingleInstance.h"
#include "platform/namespace/PathText.h"
#include "platform/network/Location.h"
#include "platform/system/LocalInstance.h"
#include "platform/system/TimeZone.h"

namespace {

int ReportBadOption(const TCommandLine& line) {
  std::fprintf(stderr, "tolvane: 不明なオプションです: %s\n\n%s", line.badOption.c_str(), UsageText().c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // --help, --version and an unknown option answer without a display.
  TCommandLine early = ParseCommandLine(argc, argv, true);
  if (early.action == TCommandLine::Action::kHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (early.action == TCommandLine::Action::kVersion) {
    std::fputs(VersionText().c_str(), stdout);
    return 0;
  }
  if (early.action == TCommandLine::Action::kBadOption) return ReportBadOption(early);

  CatchTerminationSignals();
  PinTimeZone();
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
  if (line.action == TCommandLine::Action::kBadOption) return ReportBadOption(line);
  // The lists change the working folder as they show theirs.
  for (auto* paths : {&line.paths, &line.rightPaths})
    for (std::string& path : *paths)
      if (!network::IsLocationUri(path)) path = AbsolutePath(path);
  // A window on the same state folder runs already: it takes the folders.
  std::unique_ptr<TInstanceServer> server;
  if (int code = 0; HandOverStart(line, server, code)) return code;
  WirePlatform();
  PrepareUnattendedRun();
  return RunMainWindow(line.paths, line.rightPaths, server.get());
}
