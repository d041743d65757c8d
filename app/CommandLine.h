#pragma once
// The program's command line: `tolvane [OPTION] [FOLDER|FILE]...`.
// Options are ours only when they begin with "--"; single-dash words are left
// to Qt (-platform, -style, ...), which takes them out of argv itself.
#include <string>
#include <vector>

struct TCommandLine {
  enum class Action { kRun, kHelp, kVersion, kBadOption };
  Action action = Action::kRun;
  std::string badOption;                // for kBadOption
  std::vector<std::string> paths;       // as given, bytes untouched
  std::vector<std::string> rightPaths;  // --right FOLDER, for the right pane
  bool newInstance = false;             // --new-instance: never hand over
};

// Reads argv[1..]; "--" ends the options, so a folder named "--x" can be given.
// Before the application object exists Qt's own options are still in argv:
// with qtOptionsInArgv they (and their values) are passed over, so an unknown
// option is found without a display.
TCommandLine ParseCommandLine(int argc, char** argv, bool qtOptionsInArgv = false);
std::string UsageText();
std::string VersionText();

// Where a start path leads: the folder to open and, for a file, the file to
// focus in it. Relative paths count from the current folder. Empty folder
// when nothing exists at the path.
struct TStartPath {
  std::string folder;
  std::string file;  // full path of the file to focus, or empty
};
TStartPath ResolveStartPath(const std::string& path);
