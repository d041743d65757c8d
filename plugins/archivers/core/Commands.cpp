// The command entry: the command lines of each archiver family, read and carried out.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "Extractor.h"
#include "Library.h"
#include "Names.h"

namespace arc {

namespace {

bool IsWord(Dialect d, const std::string& t, std::string& word) {
  auto is = [&](std::initializer_list<const char*> words) {
    for (const char* w : words)
      if (t == w) return true;
    return false;
  };
  switch (d) {
    case Dialect::Lha:
      if (is({"x", "e", "a", "u", "m", "d", "f", "s", "t", "l", "v", "c", "p"})) word = t;
      break;
    case Dialect::UnZip:
      if (is({"-x", "x"})) word = "x";
      break;
    case Dialect::Zip:
      if (is({"-d", "-f", "-A"})) word = t.substr(1);
      break;
    case Dialect::Cab:
      if (is({"-x", "x", "-a", "a", "-f", "f", "-l", "l"})) word = t[0] == '-' ? t.substr(1) : t;
      break;
    case Dialect::Tar: {
      std::string s = t[0] == '-' && t.size() > 1 && t[1] != '-' ? t.substr(1) : t;
      if (!s.empty() && strchr("xctru", s[0]) && s.find_first_not_of("xctruvfzjJBpOo") == std::string::npos) word = s;
      break;
    }
    case Dialect::Rar:
      if (is({"-x", "x", "-e", "e"})) word = t[0] == '-' ? t.substr(1) : t;
      break;
    case Dialect::SevenZip:
      if (is({"x", "e", "a", "u", "d", "l", "t"})) word = t;
      break;
  }
  return !word.empty();
}

bool AddFileArg(const Token& t, ParsedCommand& cmd, std::string& error) {
  if (t.text.size() > 1 && t.text[0] == '@') {
    ResponseFile rf;
    if (!ReadResponseFile(t.text.substr(1), cmd.files, rf, error)) return false;
    cmd.responses.push_back(rf);
    return true;
  }
  if (!t.text.empty()) cmd.files.push_back(t.text);
  return true;
}

}  // namespace

bool ParseCommand(Dialect d, const std::string& line, bool withWord, ParsedCommand& cmd, std::string& error) {
  std::vector<Token> tokens;
  if (!SplitCommandLine(line, tokens, error)) return false;
  size_t i = 0;
  if (withWord) {
    if (i < tokens.size() && IsWord(d, tokens[i].text, cmd.word)) {
      ++i;
    } else if (d == Dialect::Zip) {
      cmd.word = "a";
    } else if (d == Dialect::UnZip) {
      cmd.word = "x";
    } else {
      error = tokens.empty() ? "コマンド ラインが空です。" : "コマンドがわかりません: " + tokens[0].text;
      return false;
    }
  }
  bool switchesDone = false;
  bool destTaken = false;
  const bool destByPosition =
      d == Dialect::Lha || d == Dialect::UnZip || d == Dialect::Zip || d == Dialect::Cab || d == Dialect::Rar;
  for (; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (!switchesDone && t.text == "--") {
      switchesDone = true;
      continue;
    }
    if (!switchesDone && t.text.size() > 1 && t.text[0] == '-') {
      std::string s = t.text.substr(1);
      if (d == Dialect::Tar && (s == "f" || s == "o")) {
        if (i + 1 >= tokens.size()) {
          error = "-" + s + " の値がありません。";
          return false;
        }
        (s == "f" ? cmd.archive : cmd.dest) = tokens[++i].text;
        continue;
      }
      cmd.switches.push_back(s);
      continue;
    }
    // Switches end with the archive name (the tar family names it with -f, so there the
    // first name ends them).
    if (cmd.archive.empty() && !(d == Dialect::Tar && switchesDone)) {
      if (t.text.empty()) {
        error = "書庫の名前がありません。";
        return false;
      }
      cmd.archive = t.text;
      switchesDone = d != Dialect::Tar;
      if (d == Dialect::Tar) switchesDone = true;
      continue;
    }
    switchesDone = true;
    if (destByPosition && !destTaken && cmd.files.empty() && !t.text.empty() && t.text.back() == '/' &&
        t.text[0] != '@') {
      cmd.dest = t.text;
      destTaken = true;
      continue;
    }
    if (!AddFileArg(t, cmd, error)) return false;
  }
  if (cmd.archive.empty() && cmd.word != "A") {
    error = "書庫の名前がありません。";
    return false;
  }
  return true;
}

namespace {

struct Settings {
  bool withPaths = true;
  Overwrite overwrite = Overwrite::Ask;
  bool quiet = false;
  std::vector<std::string> excludes;
  int level = -1;
  int filter = -1;  // -1: by the archive's extension
  bool recurse = true;
  bool folderEntries = true;
  CreateMode mode = CreateMode::Add;
  // The program's own long switches, the same in every dialect.
  std::string storedIn;
  bool exactNames = false;
  bool deleteEntries = false;
  bool replace = false;  // an entry of a name that is added goes, whatever its time
  std::string password;
};

// --stored-in=FOLDER, --exact-names, --delete, --replace, --password=TEXT; false for any other switch.
bool OwnSwitch(const std::string& s, Settings& st) {
  if (s.compare(0, 11, "-stored-in=") == 0) {
    st.storedIn = s.substr(11);
    while (!st.storedIn.empty() && st.storedIn.back() == '/') st.storedIn.pop_back();
  } else if (s == "-exact-names") {
    st.exactNames = true;
  } else if (s == "-delete") {
    st.deleteEntries = true;
  } else if (s == "-replace") {
    st.replace = true;
  } else if (s.compare(0, 10, "-password=") == 0) {
    st.password = s.substr(10);
  } else {
    return false;
  }
  return true;
}

// "x1" -> ("x", 1); "x" -> ("x", 1).
bool LetterNumber(const std::string& s, std::string& key, int& value) {
  size_t k = 0;
  while (k < s.size() && isalpha(static_cast<unsigned char>(s[k]))) ++k;
  key = s.substr(0, k);
  if (k == s.size()) {
    value = 1;
    return true;
  }
  char* end = nullptr;
  long v = strtol(s.c_str() + k, &end, 10);
  if (*end) return false;
  value = static_cast<int>(v);
  return true;
}

Settings Interpret(Dialect d, const ParsedCommand& cmd) {
  Settings st;
  if (d == Dialect::Zip) st.recurse = false;
  for (const std::string& s : cmd.switches) {
    std::string key;
    int v = 1;
    if (OwnSwitch(s, st)) continue;
    switch (d) {
      case Dialect::Lha:
        if (s.compare(0, 2, "jx") == 0) {
          st.excludes.push_back(s.substr(2));
        } else if (LetterNumber(s, key, v)) {
          if (key == "x")
            st.withPaths = v != 0;
          else if ((key == "c" || key == "m") && v > 0)
            st.overwrite = Overwrite::Always;
          else if (key == "n")
            st.quiet = v > 0;
        }
        break;
      case Dialect::UnZip:
        if (s == "o")
          st.overwrite = Overwrite::Always;
        else if (s == "n")
          st.overwrite = Overwrite::Never;
        else if (s == "-i" || s == "i" || s == "q" || s == "qq")
          st.quiet = true;
        else if (s == "j")
          st.withPaths = false;
        break;
      case Dialect::Zip:
        if (s == "D")
          st.folderEntries = false;
        else if (s == "q")
          st.quiet = true;
        else if (s == "r")
          st.recurse = true;
        else if (s == "u")
          st.mode = CreateMode::Update;
        else if (s == "j")
          st.withPaths = false;
        else if (s.size() == 1 && isdigit(static_cast<unsigned char>(s[0])))
          st.level = s[0] - '0';
        break;
      case Dialect::Cab:
        if (s == "o")
          st.overwrite = Overwrite::Always;
        else if (s == "i" || s == "q")
          st.quiet = true;
        else if (s == "j")
          st.withPaths = false;
        break;
      case Dialect::Tar:
        if (s == "-display-dialog=0")
          st.quiet = true;
        else if (s.compare(0, 15, "-use-directory=") == 0)
          st.withPaths = atoi(s.c_str() + 15) != 0;
        else if (s == "-overwrite" || s == "y")
          st.overwrite = Overwrite::Always;
        else if (!s.empty() && (s[0] == 'z' || s[0] == 'B' || s[0] == 'j' || s[0] == 'J') &&
                 s.find_first_not_of("0123456789", 1) == std::string::npos) {
          st.filter = s[0] == 'z' ? ARCHIVE_FILTER_GZIP : s[0] == 'J' ? ARCHIVE_FILTER_XZ : ARCHIVE_FILTER_BZIP2;
          if (s.size() > 1) st.level = atoi(s.c_str() + 1);
        }
        break;
      case Dialect::Rar:
        if (s == "y" || s == "o+")
          st.overwrite = Overwrite::Always;
        else if (s == "o-")
          st.overwrite = Overwrite::Never;
        break;
      case Dialect::SevenZip:
        if (s == "aoa" || s == "y")
          st.overwrite = Overwrite::Always;
        else if (s == "aos")
          st.overwrite = Overwrite::Never;
        else if (s == "aou" || s == "aot")
          st.overwrite = Overwrite::Rename;
        else if (s == "hide")
          st.quiet = true;
        else if (s.compare(0, 2, "x!") == 0)
          st.excludes.push_back(s.substr(2));
        else if (s.compare(0, 2, "mx") == 0)
          st.level = atoi(s.c_str() + (s.size() > 2 && s[2] == '=' ? 3 : 2));
        break;
    }
  }
  if (d == Dialect::Tar) {
    for (char c : cmd.word.substr(1)) {
      if (c == 'z') st.filter = ARCHIVE_FILTER_GZIP;
      if (c == 'j' || c == 'B') st.filter = ARCHIVE_FILTER_BZIP2;
      if (c == 'J') st.filter = ARCHIVE_FILTER_XZ;
    }
  }
  return st;
}

// 7z names its destination with -o, not by position.
std::string SevenZipDest(const ParsedCommand& cmd) {
  std::string dest;
  for (const auto& s : cmd.switches)
    if (s.size() > 1 && s[0] == 'o') dest = s.substr(1);
  return dest;
}

bool EndsWith(const std::string& s, const char* ext) {
  size_t n = strlen(ext);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (tolower(static_cast<unsigned char>(s[s.size() - n + i])) != ext[i]) return false;
  return true;
}

// "[[]" is '[' and a leading "[-]" is '-' in the ZIP tools' names.
std::string UnescapeZipName(const std::string& name) {
  std::string out;
  size_t i = name.compare(0, 3, "[-]") == 0 ? 3 : 0;
  if (i) out = "-";
  for (; i < name.size(); ++i) {
    if (name.compare(i, 3, "[[]") == 0) {
      out += '[';
      i += 2;
    } else {
      out += name[i];
    }
  }
  return out;
}

int Unsupported(const LibraryDef& lib, const std::string& word, Output& out) {
  out.Line(std::string(lib.name) + " はこのコマンドを実行できません: " + word);
  return ARC_ERROR_NOT_SUPPORT;
}

// Checks that a file is a ZIP archive (the self-extracting adjustment of the ZIP tools:
// libarchive and the unzip tools read a ZIP behind a stub as it is).
int CheckZip(const LibraryDef& lib, const std::string& path, Output& out) {
  ArchiveReader reader;
  EntryData data;
  if (!reader.Open(path, lib.read) || reader.Next(data) == ARCHIVE_FATAL) {
    out.Line("ZIP 書庫ではありません: " + path);
    return ARC_ERROR_NOT_ARC_FILE;
  }
  return 0;
}

int Dispatch(const LibraryDef& lib, ArcHWND wnd, const ParsedCommand& cmd, Output& out) {
  Settings st = Interpret(lib.dialect, cmd);
  Feedback feedback(wnd, st.quiet, cmd.archive);
  const std::string& w = cmd.word;
  bool extract = false, create = false;
  switch (lib.dialect) {
    case Dialect::Lha:
      extract = w == "x" || w == "e";
      if (w == "e") st.withPaths = false;
      break;
    case Dialect::UnZip:
      extract = true;
      break;
    case Dialect::Zip:
      create = w == "a" || w == "d" || w == "f";
      break;
    case Dialect::Cab:
      extract = w == "x";
      break;
    case Dialect::Tar:
      extract = w[0] == 'x';
      create = w[0] == 'c';
      break;
    case Dialect::Rar:
      extract = true;
      if (w == "e") st.withPaths = false;
      break;
    case Dialect::SevenZip:
      extract = w == "x" || w == "e";
      create = w == "a" || w == "u" || w == "d";
      if (w == "e") st.withPaths = false;
      break;
  }
  if (lib.dialect == Dialect::Zip && w == "A") {
    std::string target = cmd.archive.empty() && !cmd.files.empty() ? cmd.files[0] : cmd.archive;
    return CheckZip(lib, target, out);
  }
  if (extract && lib.read.enable) {
    ExtractJob job;
    job.archive = cmd.archive;
    job.dest = lib.dialect == Dialect::SevenZip ? SevenZipDest(cmd) : cmd.dest;
    job.patterns = cmd.files;
    job.excludes = st.excludes;
    job.brackets = lib.dialect == Dialect::UnZip;
    job.withPaths = st.withPaths;
    job.overwrite = st.overwrite;
    return Extract(lib.read, job, feedback, out);
  }
  if (create && lib.writes) {
    CreateJob job;
    job.archive = cmd.archive;
    job.baseDir = lib.dialect == Dialect::SevenZip ? SevenZipDest(cmd) : cmd.dest;
    while (job.baseDir.size() > 1 && job.baseDir.back() == '/') job.baseDir.pop_back();
    job.files = cmd.files;
    // The ZIP tools' escapes still read as the characters they stand for.
    if (st.exactNames && lib.dialect == Dialect::Zip)
      for (std::string& f : job.files) f = UnescapeZipName(f);
    job.format = lib.writeFormat;
    job.level = st.level;
    job.recurse = st.recurse;
    job.junkPaths = !st.withPaths;
    job.folderEntries = st.folderEntries;
    job.brackets = lib.dialect == Dialect::Zip;
    job.mode = st.mode;
    job.storedIn = st.storedIn;
    job.exactNames = st.exactNames;
    job.password = st.password;
    if (w == "d" || st.deleteEntries) job.mode = CreateMode::Delete;
    if (w == "f") job.mode = CreateMode::Freshen;
    if (lib.dialect == Dialect::SevenZip && w == "u") job.mode = CreateMode::Update;
    if (st.replace && job.mode == CreateMode::Update) job.mode = CreateMode::Add;
    if (lib.dialect == Dialect::Tar) {
      job.filter = st.filter;
      if (job.filter < 0) {
        const std::string& a = cmd.archive;
        job.filter = EndsWith(a, ".tgz") || EndsWith(a, ".gz") || EndsWith(a, ".taz") ? ARCHIVE_FILTER_GZIP
                     : EndsWith(a, ".bz2") || EndsWith(a, ".tbz")                     ? ARCHIVE_FILTER_BZIP2
                     : EndsWith(a, ".xz") || EndsWith(a, ".txz")                      ? ARCHIVE_FILTER_XZ
                                                                                      : ARCHIVE_FILTER_NONE;
      }
    }
    if (job.files.empty() && job.mode != CreateMode::Delete) {
      out.Line("書庫に入れるファイルが指定されていません。");
      return ARC_ERROR_NOT_EXIST;
    }
    return Create(lib.read, job, feedback, out);
  }
  return Unsupported(lib, w, out);
}

}  // namespace

int RunCommand(const LibraryDef& lib, ArcHWND wnd, const char* cmdLine, char* output, uint32_t outputSize) {
  Output out(output, outputSize);
  try {
    Utf8Locale locale;
    ParsedCommand cmd;
    std::string error;
    if (!cmdLine) {
      out.Line("コマンド ラインがありません。");
      return ARC_ERROR_COMMAND_NAME;
    }
    bool ok = ParseCommand(lib.dialect, cmdLine, true, cmd, error);
    int result;
    if (!ok) {
      out.Line(error);
      result = ARC_ERROR_COMMAND_NAME;
    } else {
      result = Dispatch(lib, wnd, cmd, out);
    }
    // The response files have served their purpose whatever the outcome.
    for (const auto& rf : cmd.responses) RemoveResponseFile(rf);
    return result;
  } catch (const std::exception& e) {
    out.Line(std::string("内部エラー: ") + e.what());
    return ARC_ERROR_ENOUGH_MEMORY;
  }
}

int RunExtractMem(const LibraryDef& lib, ArcHWND wnd, const char* cmdLine, void* buffer, uint32_t size, int64_t* time,
                  uint16_t* attr, uint32_t* written) {
  (void)wnd;
  Output out(nullptr, 0);
  try {
    Utf8Locale locale;
    ParsedCommand cmd;
    std::string error;
    if (!cmdLine || !lib.read.enable) return ARC_ERROR_COMMAND_NAME;
    bool ok = ParseCommand(lib.dialect, cmdLine, false, cmd, error);
    for (const auto& rf : cmd.responses) RemoveResponseFile(rf);
    if (!ok) return ARC_ERROR_COMMAND_NAME;
    std::string pattern = cmd.files.empty() ? cmd.dest : cmd.files[0];
    if (pattern.empty()) return ARC_ERROR_NOT_EXIST;
    return ExtractToMemory(lib.read, cmd.archive, pattern, lib.dialect == Dialect::UnZip, buffer, size, time, attr,
                           written, out);
  } catch (const std::exception&) {
    return ARC_ERROR_ENOUGH_MEMORY;
  }
}

}  // namespace arc
