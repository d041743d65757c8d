#include "app/CommandLine.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/namespace/PathText.h"

#ifndef TOLVANE_VERSION
#define TOLVANE_VERSION "0.0.0"
#endif

TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine line;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i] ? argv[i] : "";
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "--help" || arg == "-h")) {
      line.action = TCommandLine::Action::kHelp;
      return line;
    } else if (options && arg == "--version") {
      line.action = TCommandLine::Action::kVersion;
      return line;
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
         "  --help     この説明を表示して終了します\n"
         "  --version  バージョンを表示して終了します\n"
         "  --         以降の引数をすべてパスとして扱います\n";
}

std::string VersionText() { return std::string("tolvane ") + TOLVANE_VERSION + "\n"; }

TStartPath ResolveStartPath(const std::string& path) {
  std::string full = path;
  if (full.empty()) return {};
  if (full[0] != '/') {
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd)) return {};
    std::string base = cwd;
    full = (base == "/" ? std::string() : base) + "/" + full;
  }
  // "a/./b", "a/../b" and doubled slashes would make odd tab captions.
  std::vector<std::string> names;
  size_t pos = 1;
  while (pos <= full.size()) {
    size_t end = full.find('/', pos);
    if (end == std::string::npos) end = full.size();
    std::string name = full.substr(pos, end - pos);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    pos = end + 1;
  }
  std::string clean;
  for (const std::string& name : names) clean += "/" + name;
  if (clean.empty()) clean = "/";

  struct stat st {}, cleanSt {};
  if (::stat(full.c_str(), &st) != 0) return {};
  // Through a link, "link/.." is not the folder the names suggest: ask the kernel.
  if (::stat(clean.c_str(), &cleanSt) != 0 || cleanSt.st_dev != st.st_dev || cleanSt.st_ino != st.st_ino) {
    char* real = ::realpath(full.c_str(), nullptr);
    if (!real) return {};
    clean = real;
    ::free(real);
  }
  if (S_ISDIR(st.st_mode)) return {clean, {}};
  return {DirName(clean), clean};
}
