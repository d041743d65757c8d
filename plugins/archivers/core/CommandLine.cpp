#include "CommandLine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arc {

namespace {
// The text of a quoted part starting after its opening quote at i; "" inside stands for
// one quote. i ends after the closing quote; false when there is none.
bool TakeQuoted(const std::string& line, size_t& i, std::string& text) {
  for (;;) {
    size_t q = line.find('"', i);
    if (q == std::string::npos) return false;
    text.append(line, i, q - i);
    if (q + 1 < line.size() && line[q + 1] == '"') {
      text += '"';
      i = q + 2;
      continue;
    }
    i = q + 1;
    return true;
  }
}
}  // namespace

bool SplitCommandLine(const std::string& line, std::vector<Token>& out, std::string& error) {
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
    if (i >= n) break;
    Token t;
    while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n') {
      if (line[i] == '"') {
        ++i;
        if (!TakeQuoted(line, i, t.text)) {
          error = "コマンド ラインの引用符が閉じていません。";
          return false;
        }
        t.quoted = true;
      } else {
        t.text += line[i++];
      }
    }
    out.push_back(std::move(t));
  }
  return true;
}

bool ReadResponseFile(const std::string& path, std::vector<std::string>& names, ResponseFile& file,
                      std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (64 << 20)) {
    if (fd >= 0) close(fd);
    error = "レスポンス ファイルを読めません: " + path;
    return false;
  }
  std::string text;
  text.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < text.size()) {
    ssize_t r = read(fd, text.data() + got, text.size() - got);
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  close(fd);
  text.resize(got);
  file.path = path;
  file.dev = st.st_dev;
  file.ino = st.st_ino;
  size_t pos = 0;
  while (pos < text.size()) {
    std::string name;
    if (text[pos] == '"') {
      // Quoted: "" is a quote, and the name may hold line breaks.
      size_t i = pos + 1;
      if (TakeQuoted(text, i, name)) {
        size_t end = text.find('\n', i);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (!name.empty()) names.push_back(name);
        continue;
      }
    }
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) names.push_back(line);
  }
  return true;
}

void RemoveResponseFile(const ResponseFile& file) {
  if (file.path.empty()) return;
  struct stat st {};
  // Only the very file that was read, never what a link or a newer file put there.
  if (lstat(file.path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<unsigned long long>(st.st_dev) == file.dev &&
      static_cast<unsigned long long>(st.st_ino) == file.ino) {
    unlink(file.path.c_str());
  }
}

namespace {

// Length of the UTF-8 sequence at s (an invalid byte counts as one character).
size_t CharLen(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
  if (i + len > s.size()) return 1;
  for (size_t k = 1; k < len; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  return len;
}

// Matches the bracket class at p[pi] against one character; returns the index after "]".
bool MatchClass(const std::string& p, size_t& pi, const std::string& ch) {
  size_t i = pi + 1;
  bool negate = false;
  if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
    negate = true;
    ++i;
  }
  bool matched = false;
  bool first = true;
  while (i < p.size() && (p[i] != ']' || first)) {
    first = false;
    size_t l1 = CharLen(p, i);
    std::string lo = p.substr(i, l1);
    i += l1;
    if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
      size_t l2 = CharLen(p, i + 1);
      std::string hi = p.substr(i + 1, l2);
      i += 1 + l2;
      if (lo <= ch && ch <= hi) matched = true;
    } else if (lo == ch) {
      matched = true;
    }
  }
  pi = i < p.size() ? i + 1 : i;
  return matched != negate;
}

bool Match(const std::string& p, size_t pi, const std::string& s, size_t si, bool brackets) {
  // Iterative with one backtrack point for the last "*": linear for ordinary patterns.
  size_t starP = std::string::npos, starS = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '*') {
      while (pi < p.size() && p[pi] == '*') ++pi;
      if (pi == p.size()) return true;
      starP = pi;
      starS = si;
      continue;
    }
    size_t cl = CharLen(s, si);
    if (pi < p.size()) {
      if (p[pi] == '?') {
        ++pi;
        si += cl;
        continue;
      }
      if (brackets && p[pi] == '[' && p.find(']', pi + 2) != std::string::npos) {
        size_t next = pi;
        if (MatchClass(p, next, s.substr(si, cl))) {
          pi = next;
          si += cl;
          continue;
        }
      } else {
        size_t pl = CharLen(p, pi);
        if (p.compare(pi, pl, s, si, cl) == 0 && pl == cl) {
          pi += pl;
          si += cl;
          continue;
        }
      }
    }
    if (starP == std::string::npos) return false;
    starS += CharLen(s, starS);
    si = starS;
    pi = starP;
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace

bool WildMatch(const std::string& pattern, const std::string& name, bool brackets) {
  if (pattern.empty() || pattern == "*" || pattern == "*.*") return true;
  return Match(pattern, 0, name, 0, brackets);
}

bool SelectsEntry(const std::string& pattern, const std::string& name, bool brackets) {
  std::string n = name;
  while (n.size() > 1 && n.back() == '/') n.pop_back();
  std::string p = pattern;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (WildMatch(p, n, brackets)) return true;
  if (p.find('/') == std::string::npos) {
    size_t slash = n.rfind('/');
    if (slash != std::string::npos && WildMatch(p, n.substr(slash + 1), brackets)) return true;
  }
  // A folder named by the pattern selects what is below it.
  for (size_t slash = n.find('/'); slash != std::string::npos; slash = n.find('/', slash + 1))
    if (WildMatch(p, n.substr(0, slash), brackets)) return true;
  return false;
}

}  // namespace arc
