#include "LinkCheck.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>

namespace arc {

std::vector<std::string> PathComponents(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

namespace {
std::string Join(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) {
    if (!s.empty()) s += '/';
    s += p;
  }
  return s;
}
}  // namespace

bool LinkStaysInside(const std::string& linkRel, const std::string& target, const LinkLookup& lookup) {
  if (target.empty() || target[0] == '/') return false;
  std::vector<std::string> parts = PathComponents(linkRel);
  if (!parts.empty()) parts.pop_back();  // the link's own name
  std::vector<std::string> start = PathComponents(target);
  std::deque<std::string> queue(start.begin(), start.end());
  int expansions = 0;
  while (!queue.empty()) {
    std::string c = std::move(queue.front());
    queue.pop_front();
    if (c == ".") continue;
    if (c == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
      continue;
    }
    parts.push_back(c);
    std::string next;
    if (!lookup(Join(parts), next)) continue;
    // A link on the way: its own target goes on from the link's folder.
    if (++expansions > 40 || next.empty() || next[0] == '/') return false;
    parts.pop_back();
    std::vector<std::string> more = PathComponents(next);
    queue.insert(queue.begin(), more.begin(), more.end());
  }
  return true;
}

bool DiskLink(int root, const std::string& rel, std::string& target) {
  struct stat st {};
  if (fstatat(root, rel.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) return false;
  char buf[PATH_MAX];
  ssize_t n = readlinkat(root, rel.c_str(), buf, sizeof buf);
  target = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("/");
  return true;
}

}  // namespace arc
