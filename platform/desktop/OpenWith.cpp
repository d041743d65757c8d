#include "platform/desktop/OpenWith.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDesktopServices>
#include <QFile>
#include <QMimeDatabase>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/desktop/FilePayload.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/system/UniqueFd.h"

extern char** environ;

namespace {

QString Display(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator))
    if (!part.empty()) parts.push_back(part);
  return parts;
}

// The XDG data folders, the user's first.
std::vector<std::string> DataFolders() {
  std::vector<std::string> folders;
  std::string home = Env("XDG_DATA_HOME");
  folders.push_back(!home.empty() && home[0] == '/' ? home : Env("HOME") + "/.local/share");
  std::string dirs = Env("XDG_DATA_DIRS");
  if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
  for (std::string& dir : SplitOn(dirs, ':'))
    if (dir[0] == '/' && std::find(folders.begin(), folders.end(), dir) == folders.end()) folders.push_back(dir);
  return folders;
}

// group -> key -> value, of an INI-like file (desktop entries, caches, mimeapps.list).
using Groups = std::map<std::string, std::map<std::string, std::string>>;

Groups ReadGroups(const std::string& path) {
  Groups groups;
  std::ifstream in(path, std::ios::binary);
  std::string line, group;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t end = line.find(']');
      group = line.substr(1, end == std::string::npos ? std::string::npos : end - 1);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    groups[group].emplace(key, value);  // the first of a repeated key wins
  }
  return groups;
}

// The escapes of a desktop entry string: \s \n \t \r \\.
std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    char c = value[++i];
    out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
  }
  return out;
}

bool IsExecutable(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program's path: as given when it holds a '/', else found in PATH.
std::string FindProgram(const std::string& program) {
  if (program.empty()) return {};
  if (program.find('/') != std::string::npos) return IsExecutable(program) ? program : std::string();
  std::string path = Env("PATH");
  if (path.empty()) path = "/usr/local/bin:/usr/bin:/bin";
  for (const std::string& dir : SplitOn(path, ':')) {
    std::string candidate = JoinPath(dir, program);
    if (IsExecutable(candidate)) return candidate;
  }
  return {};
}

// The .desktop file of a desktop file ID: "a-b.desktop" may lie at a/b.desktop.
std::string FindDesktopFile(const std::string& id, const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    std::string base = folder + "/applications/";
    if (access((base + id).c_str(), R_OK) == 0) return base + id;
    std::string nested = id;
    for (size_t dash = nested.find('-'); dash != std::string::npos; dash = nested.find('-', dash + 1)) {
      nested[dash] = '/';
      if (access((base + nested).c_str(), R_OK) == 0) return base + nested;
    }
  }
  return {};
}

bool LoadApplication(const std::string& id, const std::string& file, DesktopApplication& app) {
  Groups groups = ReadGroups(file);
  auto found = groups.find("Desktop Entry");
  if (found == groups.end()) return false;
  const auto& entry = found->second;
  auto value = [&](const char* key) {
    auto it = entry.find(key);
    return it == entry.end() ? std::string() : Unescape(it->second);
  };
  if (value("Type") != "Application" || value("Hidden") == "true") return false;
  std::string tryExec = value("TryExec");
  if (!tryExec.empty() && FindProgram(tryExec).empty()) return false;
  app.id = id;
  app.file = file;
  app.exec = value("Exec");
  if (app.exec.empty()) return false;
  std::string name = value("Name[ja_JP]");
  if (name.empty()) name = value("Name[ja]");
  if (name.empty()) name = value("Name");
  app.name = Display(name.empty() ? id : name);
  app.icon = value("Icon");
  app.workingFolder = value("Path");
  app.terminal = value("Terminal") == "true";
  return true;
}

// The IDs a data folder lists for a type: its cache, or without one its .desktop files.
std::vector<std::string> IdsInFolder(const std::string& folder, const std::string& type) {
  std::string apps = folder + "/applications";
  Groups cache = ReadGroups(apps + "/mimeinfo.cache");
  if (!cache.empty()) {
    auto& section = cache["MIME Cache"];
    auto it = section.find(type);
    return it == section.end() ? std::vector<std::string>() : SplitOn(it->second, ';');
  }
  std::vector<std::string> ids;
  DIR* dir = opendir(apps.c_str());
  if (!dir) return ids;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    Groups groups = ReadGroups(apps + "/" + name);
    std::string types = groups["Desktop Entry"]["MimeType"];
    for (const std::string& t : SplitOn(types, ';'))
      if (t == type) ids.push_back(name);
  }
  return ids;
}

}  // namespace

std::string MimeTypeOfPath(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "inode/directory";
  static QMimeDatabase database;
  // By name only: opening the file to sniff it is not worth it here.
  QMimeType type = database.mimeTypeForFile(Display(BaseName(path)), QMimeDatabase::MatchExtension);
  return type.name().toStdString();
}

std::vector<DesktopApplication> ApplicationsForMimeType(const std::string& mimeType) {
  std::vector<std::string> types{mimeType};
  QMimeType type = QMimeDatabase().mimeTypeForName(QString::fromStdString(mimeType));
  if (type.isValid())
    for (const QString& ancestor : type.allAncestors()) types.push_back(ancestor.toStdString());

  std::vector<std::string> folders = DataFolders();
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') config = Env("HOME") + "/.config";
  std::vector<Groups> lists{ReadGroups(config + "/mimeapps.list"),
                            ReadGroups(folders.front() + "/applications/mimeapps.list")};
  auto fromLists = [&](const char* group, const std::string& t) {
    std::vector<std::string> ids;
    for (Groups& list : lists)
      for (const std::string& id : SplitOn(list[group][t], ';')) ids.push_back(id);
    return ids;
  };

  std::vector<std::string> order;
  std::set<std::string> removed;
  for (const std::string& t : types) {
    for (const std::string& id : fromLists("Removed Associations", t)) removed.insert(id);
    for (const char* group : {"Default Applications", "Added Associations"})
      for (const std::string& id : fromLists(group, t)) order.push_back(id);
    for (const std::string& folder : folders)
      for (const std::string& id : IdsInFolder(folder, t)) order.push_back(id);
  }
  std::vector<DesktopApplication> result;
  std::set<std::string> seen;
  for (const std::string& id : order) {
    if (removed.count(id) || !seen.insert(id).second) continue;
    std::string file = FindDesktopFile(id, folders);
    DesktopApplication app;
    if (!file.empty() && LoadApplication(id, file, app)) result.push_back(std::move(app));
  }
  return result;
}

std::vector<DesktopApplication> ApplicationsForPaths(const std::vector<std::string>& paths) {
  if (paths.empty()) return {};
  std::vector<DesktopApplication> apps = ApplicationsForMimeType(MimeTypeOfPath(paths[0]));
  std::set<std::string> typesDone{MimeTypeOfPath(paths[0])};
  for (size_t i = 1; i < paths.size() && !apps.empty(); ++i) {
    std::string type = MimeTypeOfPath(paths[i]);
    if (!typesDone.insert(type).second) continue;
    std::set<std::string> ids;
    for (const DesktopApplication& app : ApplicationsForMimeType(type)) ids.insert(app.id);
    std::erase_if(apps, [&](const DesktopApplication& app) { return !ids.count(app.id); });
  }
  return apps;
}

std::vector<std::string> SplitExecLine(const std::string& exec) {
  std::vector<std::string> args;
  std::string current;
  bool quoted = false, token = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size() && std::strchr("\"`$\\", exec[i + 1]))
        current += exec[++i];
      else if (c == '"')
        quoted = false;
      else
        current += c;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (token) args.push_back(current);
      current.clear();
      token = false;
    } else if (c == '"') {
      quoted = token = true;
    } else {
      current += c;
      token = true;
    }
  }
  if (token) args.push_back(current);
  return args;
}

std::vector<std::vector<std::string>> ExpandExecLine(const DesktopApplication& app,
                                                     const std::vector<std::string>& paths) {
  std::vector<std::string> tokens = SplitExecLine(app.exec);
  std::vector<std::string> urls;
  for (const std::string& path : paths) urls.push_back(PathToFileUrl(path));
  bool single = false, any = false;
  for (const std::string& token : tokens)
    for (size_t i = 0; i + 1 < token.size(); ++i)
      if (token[i] == '%') {
        char code = token[++i];
        single = single || code == 'f' || code == 'u';
        any = any || code == 'f' || code == 'u' || code == 'F' || code == 'U';
      }

  // One file per command line with %f or %u; all at once otherwise.
  size_t runs = single && paths.size() > 1 ? paths.size() : 1;
  std::vector<std::vector<std::string>> lines;
  for (size_t run = 0; run < runs; ++run) {
    std::vector<std::string> argv;
    for (const std::string& token : tokens) {
      if (token == "%F" || token == "%U") {
        const auto& list = token == "%F" ? paths : urls;
        argv.insert(argv.end(), list.begin(), list.end());
        continue;
      }
      if (token == "%i") {
        if (!app.icon.empty()) argv.insert(argv.end(), {"--icon", app.icon});
        continue;
      }
      std::string arg;
      for (size_t i = 0; i < token.size(); ++i) {
        if (token[i] != '%' || i + 1 == token.size()) {
          arg += token[i];
          continue;
        }
        switch (token[++i]) {
          case '%':
            arg += '%';
            break;
          case 'f':
          case 'F':
            if (run < paths.size()) arg += paths[run];
            break;
          case 'u':
          case 'U':
            if (run < urls.size()) arg += urls[run];
            break;
          case 'c':
            arg += app.name.toStdString();
            break;
          case 'k':
            arg += app.file;
            break;
          default:
            break;  // deprecated codes are dropped
        }
      }
      // A token that was only a field code with nothing to put in vanishes.
      if (!arg.empty() || token.find('%') == std::string::npos) argv.push_back(arg);
    }
    if (!any) argv.insert(argv.end(), paths.begin(), paths.end());
    if (!argv.empty()) lines.push_back(std::move(argv));
  }
  return lines;
}

std::vector<DesktopApplication> ApplicationsTakingFiles() {
  std::vector<DesktopApplication> result;
  std::set<std::string> seen;
  for (const std::string& folder : DataFolders()) {
    std::string apps = folder + "/applications";
    DIR* dir = opendir(apps.c_str());
    if (!dir) continue;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) names.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : names) {
      // The user's entry of an ID hides the system's.
      if (!seen.insert(name).second) continue;
      DesktopApplication app;
      if (!LoadApplication(name, apps + "/" + name, app)) continue;
      if (ReadGroups(app.file)["Desktop Entry"]["NoDisplay"] == "true") continue;
      bool takesFiles = false;
      for (const char* code : {"%f", "%F", "%u", "%U"})
        takesFiles = takesFiles || app.exec.find(code) != std::string::npos;
      if (takesFiles) result.push_back(std::move(app));
    }
  }
  std::sort(result.begin(), result.end(), [](const DesktopApplication& a, const DesktopApplication& b) {
    return a.name.localeAwareCompare(b.name) < 0;
  });
  return result;
}

bool LaunchApplication(const DesktopApplication& app, const std::vector<std::string>& paths) {
  std::string folder = app.workingFolder;
  if (folder.empty() && !paths.empty()) folder = DirName(paths[0]);
  bool all = true;
  for (std::vector<std::string>& argv : ExpandExecLine(app, paths)) {
    if (app.terminal) {
      std::string terminal = !FindProgram("x-terminal-emulator").empty() ? "x-terminal-emulator" : "xterm";
      argv.insert(argv.begin(), {terminal, "-e"});
    }
    all = StartDetachedProgram(argv, folder) && all;
  }
  return all;
}

bool StartDetachedProgram(const std::vector<std::string>& argv, const std::string& workingFolder) {
  if (argv.empty()) return false;
  std::string program = FindProgram(argv[0]);
  if (program.empty()) return false;
  // Everything the children need is made before fork: after it, a child of a
  // threaded process may only make async-signal-safe calls.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const char* folder = workingFolder.empty() ? nullptr : workingFolder.c_str();
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  UniqueFd reportRead(ends[0]), reportWrite(ends[1]);
  sigset_t none;
  sigemptyset(&none);

  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    // The middle child: a new session, then the program in a grandchild that
    // init adopts, so nobody has to wait for it.
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) {
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (folder && chdir(folder) != 0) {
        // A missing folder is no reason not to start.
      }
      execve(program.c_str(), args.data(), environ);
      int error = errno;
      ssize_t ignored = write(reportWrite.Get(), &error, sizeof error);
      (void)ignored;
      _exit(127);
    }
    if (grandchild < 0) {
      int error = errno;
      ssize_t ignored = write(reportWrite.Get(), &error, sizeof error);
      (void)ignored;
    }
    _exit(0);
  }
  // Only the children hold the writing end now: it reads as ended once the exec went well.
  reportWrite.Reset();
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes on a successful exec; an error number means it failed.
  int error = 0;
  ssize_t n;
  while ((n = read(reportRead.Get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  return n != static_cast<ssize_t>(sizeof error);
}

bool OpenWithDefaultApplication(const std::string& path) {
  std::string url = PathToFileUrl(path);
  return QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray(url.data(), static_cast<qsizetype>(url.size()))));
}

bool IsDocument(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
         !(S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0);
}

OpenResult OpenDocument(const std::string& path) {
  // Folders and programs go to the desktop as they are.
  if (!IsDocument(path)) return OpenWithDefaultApplication(path) ? OpenResult::kOpened : OpenResult::kFailed;
  std::vector<DesktopApplication> applications = ApplicationsForPaths({path});
  if (applications.empty()) return OpenResult::kNoApplication;
  if (OpenWithDefaultApplication(path)) return OpenResult::kOpened;
  // No launcher of the desktop's (no xdg-open): start the default ourselves.
  return LaunchApplication(applications.front(), {path}) ? OpenResult::kOpened : OpenResult::kFailed;
}
