#include "app/CommandLine.h"

#include <set>

#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/network/Location.h"
#include "shell/ShellCtrls.h"

#ifndef TOLVANE_VERSION
#define TOLVANE_VERSION "0.0.0"
#endif

namespace {

// The options QApplication takes out of argv, with one dash or two; 1 when
// the next word is the option's value, 0 when it stands alone, -1 for none.
int QtOptionWords(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-') return -1;
  std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
  const size_t equals = name.find('=');
  const bool inlineValue = equals != std::string::npos;
  if (inlineValue) name.resize(equals);
  static const std::set<std::string> withValue = {
      "platform", "platformpluginpath", "platformtheme", "plugin",    "qwindowgeometry", "geometry",   "qwindowtitle",
      "title",    "qwindowicon",        "icon",          "session",   "style",           "stylesheet", "display",
      "name",     "qmljsdebugger",      "dialogs",       "fontengine"};
  static const std::set<std::string> alone = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
  if (withValue.count(name)) return inlineValue ? 0 : 1;
  if (alone.count(name) && !inlineValue) return 0;
  return -1;
}

}  // namespace

TCommandLine ParseCommandLine(int argc, char** argv, bool qtOptionsInArgv) {
  TCommandLine line;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i] ? argv[i] : "";
    if (const int words = options && qtOptionsInArgv ? QtOptionWords(arg) : -1; words >= 0) {
      i += words;
    } else if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "--help" || arg == "-h")) {
      line.action = TCommandLine::Action::kHelp;
      return line;
    } else if (options && arg == "--version") {
      line.action = TCommandLine::Action::kVersion;
      return line;
    } else if (options && arg == "--new-instance") {
      line.newInstance = true;
    } else if (options && (arg == "--right" || arg.rfind("--right=", 0) == 0)) {
      std::string folder = arg == "--right" ? (i + 1 < argc && argv[i + 1] ? argv[++i] : "") : arg.substr(8);
      if (folder.empty()) {
        line.action = TCommandLine::Action::kBadOption;
        line.badOption = "--right（フォルダの指定がありません）";
        return line;
      }
      line.rightPaths.push_back(folder);
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      // Qt has taken its own options out of argv before this is called.
      line.action = TCommandLine::Action::kBadOption;
      line.badOption = arg;
      return line;
    } else if (!arg.empty()) {
      line.paths.push_back(arg);
    }
  }
  return line;
}

std::string UsageText() {
  return "使い方: tolvane [オプション] [フォルダ|ファイル]...\n"
         "Usage: tolvane [OPTION] [FOLDER|FILE]...\n"
         "\n"
         "二画面のキーボード操作ファイルマネージャです。\n"
         "指定したフォルダは左のペインの新しいタブで開き、最後のものが現在のタブになります。\n"
         "ファイルを指定すると、そのフォルダを開いてファイルにフォーカスを置きます。\n"
         "\n"
         "実行中の Tolvane があれば、フォルダはそのウィンドウの新しいタブで開きます。\n"
         "\n"
         "  --right FOLDER   FOLDER を右のペインの新しいタブで開きます（何度でも指定できます）\n"
         "  --new-instance   実行中の Tolvane に渡さず、別に起動します\n"
         "  --help           この説明を表示して終了します\n"
         "  --version        バージョンを表示して終了します\n"
         "  --               以降の引数をすべてパスとして扱います\n";
}

std::string VersionText() { return std::string("tolvane ") + TOLVANE_VERSION + "\n"; }

TStartPath ResolveStartPath(const std::string& path) {
  // A location is mounted when its tab is shown.
  if (network::IsLocationUri(path)) return {path, {}};
  bool isFolder = false;
  std::string clean = ExistingCleanPath(path, isFolder);
  if (clean.empty()) {
    // A folder inside an archive, or a file in one (focused).
    const std::string inside = AbsolutePath(path);
    if (inside.empty()) return {};
    if (IsArchiveFolderPath(inside)) return {inside, {}};
    const std::string parent = DirName(inside);
    if (parent != inside && IsArchiveFolderPath(parent) && PathToIDList(inside)) return {parent, inside};
    return {};
  }
  if (isFolder) return {clean, {}};
  return {DirName(clean), clean};
}
