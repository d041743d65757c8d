#include "platform/desktop/FilePayload.h"

#include <unistd.h>

#include <QMimeData>
#include <QString>
#include <cctype>
#include <cstring>
#include <string_view>

#include "platform/namespace/LocationPath.h"

namespace {

const char* const kUriList = "text/uri-list";
const char* const kGnomeCopied = "x-special/gnome-copied-files";
const char* const kKdeCut = "application/x-kde-cutselection";
const char* const kPlainText = "text/plain";
// What Nautilus 3.30 to 43 put on the clipboard as plain text.
const std::string_view kNautilusHeader = "x-special/nautilus-clipboard";

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

bool IsThisHost(std::string_view host) {
  if (host.empty() || (host.size() == 9 && StartsWithNoCase(host, "localhost"))) return true;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return false;
  return host == name;
}

// Splits on LF, dropping a CR before it, empty lines and '#' comments.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    lines.push_back(line);
  }
  return lines;
}

// A network location's URI in the form the namespace knows it, or empty.
std::string LocationOf(std::string_view line) {
  std::string root;
  std::vector<std::string> names;
  return SplitLocationUri(line, root, names) ? JoinLocationUri(root, names) : std::string();
}

// The local paths among URL lines, and the locations' URIs when asked for;
// other schemes are left out.
std::vector<std::string> PathsOf(const std::vector<std::string_view>& lines, bool locations) {
  std::vector<std::string> paths;
  for (std::string_view line : lines) {
    std::string path;
    if (FileUrlToPath(std::string(line), path) || (locations && !(path = LocationOf(line)).empty()))
      paths.push_back(std::move(path));
  }
  return paths;
}

// "cut" or "copy", then one URL a line.
bool ReadGnomeList(std::string_view text, std::vector<std::string>& paths, bool& cut, bool locations) {
  std::vector<std::string_view> lines = Lines(text);
  if (lines.empty() || (lines.front() != "cut" && lines.front() != "copy")) return false;
  cut = lines.front() == "cut";
  lines.erase(lines.begin());
  paths = PathsOf(lines, locations);
  return !paths.empty();
}

std::string_view View(const QByteArray& bytes) { return std::string_view(bytes.constData(), bytes.size()); }

}  // namespace

std::string PathToFileUrl(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string url = "file://";
  url.reserve(url.size() + path.size() * 3);
  for (unsigned char c : path) {
    if (Unreserved(c) || c == '/') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

bool FileUrlToPath(const std::string& url, std::string& path) {
  std::string_view rest(url);
  if (!StartsWithNoCase(rest, "file:")) return false;
  rest.remove_prefix(5);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos || !IsThisHost(rest.substr(0, slash))) return false;
    rest.remove_prefix(slash);
  }
  // Older KDE writes "file:/path".
  if (rest.empty() || rest.front() != '/') return false;
  // A raw '#' or '?' is taken as part of the name: cutting it off as a
  // fragment would name another file, which a move or delete must never hit.
  std::string decoded;
  decoded.reserve(rest.size());
  for (size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '%' && i + 2 < rest.size() && HexValue(rest[i + 1]) >= 0 && HexValue(rest[i + 2]) >= 0) {
      c = static_cast<char>(HexValue(rest[i + 1]) * 16 + HexValue(rest[i + 2]));
      i += 2;
    }
    if (c == '\0') return false;  // no file name holds a NUL
    decoded += c;
  }
  path = std::move(decoded);
  return true;
}

QMimeData* MakeFilesMimeData(const std::vector<std::string>& paths, bool cut) {
  auto* data = new QMimeData;
  QByteArray uriList, gnome(cut ? "cut" : "copy");
  QString text;
  for (size_t i = 0; i < paths.size(); ++i) {
    // A location's item has no path: its URI, which GIO and the desktop's file managers take.
    std::string url = LocationOf(paths[i]).empty() ? PathToFileUrl(paths[i]) : paths[i];
    uriList.append(url.data(), url.size());
    uriList.append("\r\n");
    gnome.append('\n');
    gnome.append(url.data(), url.size());
    // Plain text for pasting into an editor or a terminal; display only.
    if (i) text += QLatin1Char('\n');
    text += QString::fromUtf8(paths[i].data(), paths[i].size());
  }
  data->setData(kUriList, uriList);
  data->setData(kGnomeCopied, gnome);
  if (cut) data->setData(kKdeCut, "1");
  data->setData(kPlainText, text.toUtf8());
  return data;
}

bool ReadFilesMimeData(const QMimeData* data, std::vector<std::string>& paths, bool& cut, bool locations) {
  paths.clear();
  cut = false;
  if (!data) return false;
  if (data->hasFormat(kGnomeCopied) && ReadGnomeList(View(data->data(kGnomeCopied)), paths, cut, locations))
    return true;
  if (data->hasFormat(kPlainText)) {
    QByteArray text = data->data(kPlainText);
    std::string_view view = View(text);
    if (view.substr(0, kNautilusHeader.size()) == kNautilusHeader && view.substr(kNautilusHeader.size(), 1) == "\n" &&
        ReadGnomeList(view.substr(kNautilusHeader.size() + 1), paths, cut, locations))
      return true;
  }
  if (!data->hasFormat(kUriList)) return false;
  paths = PathsOf(Lines(View(data->data(kUriList))), locations);
  if (paths.empty()) return false;
  // Dolphin writes "0" for a copy.
  if (data->hasFormat(kKdeCut)) cut = data->data(kKdeCut).startsWith('1');
  return true;
}

bool MimeDataHoldsFiles(const QMimeData* data, bool locations) {
  std::vector<std::string> paths;
  bool cut;
  return ReadFilesMimeData(data, paths, cut, locations);
}
