#include "platform/namespace/Drives.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

#include "platform/system/TrailingSlash.h"
#include "platform/system/UniqueFd.h"

namespace {

bool IsOneOf(std::string_view value, std::initializer_list<std::string_view> set) {
  return std::find(set.begin(), set.end(), value) != set.end();
}

bool IsNetworkType(std::string_view type) {
  return IsOneOf(type, {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "sshfs", "9p", "ceph", "glusterfs",
                        "fuse.glusterfs", "davfs", "fuse.davfs", "afs", "fuse.rclone", "ncpfs", "fuse.s3fs"});
}

// True when path is base or lies below it.
bool IsBelow(std::string_view path, std::string_view base) {
  if (base == "/") return !path.empty() && path[0] == '/';
  return path.size() >= base.size() && path.compare(0, base.size(), base) == 0 &&
         (path.size() == base.size() || path[base.size()] == '/');
}

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string DecodeOctal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const char* d = text.data() + i + 1;
      if (d[0] >= '0' && d[0] <= '3' && d[1] >= '0' && d[1] <= '7' && d[2] >= '0' && d[2] <= '7') {
        out.push_back(static_cast<char>((d[0] - '0') * 64 + (d[1] - '0') * 8 + (d[2] - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

bool KeepMount(const MountEntry& e) {
  if (e.mountPoint == "/") return true;
  const std::string& t = e.fsType;
  if (IsOneOf(t, {"proc", "sysfs",      "devpts",   "mqueue",    "debugfs",   "tracefs",     "securityfs", "pstore",
                  "bpf",  "autofs",     "configfs", "fusectl",   "hugetlbfs", "binfmt_misc", "overlay",    "devtmpfs",
                  "nsfs", "rpc_pipefs", "efivarfs", "selinuxfs", "cgroup",    "cgroup2"}))
    return false;
  if (t.rfind("cgroup", 0) == 0) return false;
  if (t == "squashfs" && IsBelow(e.mountPoint, "/snap")) return false;
  if (IsBelow(e.mountPoint, "/dev") || IsBelow(e.mountPoint, "/proc") || IsBelow(e.mountPoint, "/sys")) return false;
  if (IsBelow(e.mountPoint, "/run") && !(IsBelow(e.mountPoint, "/run/media") && e.mountPoint != "/run/media"))
    return false;
  if (e.network) return true;
  if (IsOneOf(t, {"tmpfs", "ramfs", "zfs"})) return true;
  return e.device.rfind("/dev/", 0) == 0;
}

std::string ReadWholeFd(int fd) {
  std::string text;
  char buffer[16384];
  if (lseek(fd, 0, SEEK_SET) < 0) return text;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

std::vector<MountEntry> LoadTable(int fd) {
  std::vector<MountEntry> table = ParseMountInfo(ReadWholeFd(fd));
  // A file bind-mounted over a file is no drive. Network mounts are not
  // touched: a dead server would hang the stat.
  std::erase_if(table, [](const MountEntry& e) {
    struct stat st;
    return !e.network && stat(e.mountPoint.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  });
  return table;
}

// The table read once and re-read only when the kernel reports a change on
// the open mountinfo file (poll gives POLLPRI once per change).
struct MountCache {
  std::mutex mutex;
  int fd = -1;
  bool loaded = false;
  std::vector<MountEntry> table;

  std::vector<MountEntry> Get() {
    std::lock_guard lock(mutex);
    if (fd < 0) fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {MountEntry{"/", "", "", false}};
    pollfd p{fd, POLLPRI, 0};
    bool changed = poll(&p, 1, 0) > 0 && (p.revents & POLLPRI);
    if (!loaded || changed) {
      table = LoadTable(fd);
      loaded = true;
    }
    return table;
  }
};

MountCache& Cache() {
  static MountCache cache;
  return cache;
}

std::string Canonical(const std::string& path) {
  char buffer[PATH_MAX];
  if (!realpath(path.c_str(), buffer)) return path;
  return buffer;
}

// A mount point as the table holds it: no trailing '/', except the root.
std::string NormalRoot(const std::string& root) { return WithoutTrailingSlash(root); }

bool FindEntry(const std::string& root, MountEntry& found) {
  std::string r = NormalRoot(root);
  for (const MountEntry& e : ReadMountTable())
    if (e.mountPoint == r) {
      found = e;
      return true;
    }
  return false;
}

std::string ReadSmallFile(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return {};
  char buffer[64];
  ssize_t n = read(fd.Get(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// udev escapes unsafe bytes of labels as \xHH.
std::string DecodeHexEscapes(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
      out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 2, 2)), nullptr, 16)));
      i += 3;
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
  // Later lines are mounted on top of earlier ones at the same point.
  std::map<std::string, MountEntry> byPoint;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;

    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
      while (i < line.size() && line[i] == ' ') ++i;
      size_t start = i;
      while (i < line.size() && line[i] != ' ') ++i;
      if (i > start) fields.push_back(line.substr(start, i - start));
    }
    // id parent dev root mountpoint options [optional...] - type source superoptions
    auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 6 || dash == fields.end() || dash - fields.begin() < 6 || fields.end() - dash < 3) continue;
    MountEntry e;
    e.mountPoint = DecodeOctal(fields[4]);
    e.fsType = std::string(dash[1]);
    e.device = DecodeOctal(dash[2]);
    e.network = IsNetworkType(e.fsType);
    if (e.mountPoint.empty() || e.mountPoint[0] != '/') continue;
    e.mountPoint = WithoutTrailingSlash(std::move(e.mountPoint));
    byPoint[e.mountPoint] = std::move(e);
  }
  std::vector<MountEntry> table;
  for (auto& [point, e] : byPoint)
    if (KeepMount(e)) table.push_back(std::move(e));
  if (table.empty() || table.front().mountPoint != "/") table.insert(table.begin(), MountEntry{"/", "", "", false});
  return table;  // std::map keeps them sorted by mount point
}

std::vector<MountEntry> ReadMountTable() { return Cache().Get(); }

std::string GetLogicalDriveStrings() {
  std::string result;
  for (const MountEntry& e : ReadMountTable()) {
    result += e.mountPoint;
    result.push_back('\0');
  }
  result.push_back('\0');
  return result;
}

uint32_t GetDriveType(const std::string& root) {
  MountEntry e;
  if (!FindEntry(root, e)) return DRIVE_NO_ROOT_DIR;
  if (e.network) return DRIVE_REMOTE;
  if (e.fsType == "tmpfs" || e.fsType == "ramfs") return DRIVE_RAMDISK;
  if (e.fsType == "iso9660" || e.fsType == "udf") return DRIVE_CDROM;
  if (e.device.rfind("/dev/", 0) == 0) {
    std::string dev = Canonical(e.device);  // /dev/disk/by-... and /dev/mapper/... are links
    std::string name = dev.substr(dev.rfind('/') + 1);
    std::string sys = "/sys/class/block/" + name;
    std::string removable = ReadSmallFile(sys + "/removable");
    if (removable.empty()) removable = ReadSmallFile(Canonical(sys) + "/../removable");  // a partition
    if (!removable.empty() && removable[0] == '1') return DRIVE_REMOVABLE;
  }
  return DRIVE_FIXED;
}

bool GetDiskFreeSpace(const std::string& path, uint64_t& available, uint64_t& total) {
  struct statvfs fs;
  if (path.empty() || ::statvfs(path.c_str(), &fs) != 0) return false;
  available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  total = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
  return true;
}

bool GetVolumeInformation(const std::string& root, std::string& label) {
  label.clear();
  MountEntry e;
  if (!FindEntry(root, e) || e.device.rfind("/dev/", 0) != 0) return false;
  std::string device = Canonical(e.device);
  const char* folder = "/dev/disk/by-label";
  DIR* dir = opendir(folder);
  if (!dir) return false;
  bool found = false;
  while (dirent* d = readdir(dir)) {
    if (d->d_name[0] == '.') continue;
    if (Canonical(std::string(folder) + "/" + d->d_name) == device) {
      label = DecodeHexEscapes(d->d_name);
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

std::string MountPointOf(const std::string& path) {
  std::string best = "/";
  for (const MountEntry& e : ReadMountTable())
    if (e.mountPoint.size() > best.size() && IsBelow(path, e.mountPoint)) best = e.mountPoint;
  return best;
}

MountMonitor::MountMonitor(QObject* parent) : QObject(parent) {
  last_ = ReadMountTable();
  fd_.Reset(open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
  if (fd_) {
    notifier_ = std::make_unique<QSocketNotifier>(fd_.Get(), QSocketNotifier::Exception);
    // The poll that woke us has already cleared the change mark.
    connect(notifier_.get(), &QSocketNotifier::activated, this, &MountMonitor::Rescan);
  }
}

MountMonitor::~MountMonitor() { notifier_.reset(); }

void MountMonitor::Rescan() {
  std::vector<MountEntry> now = ReadMountTable();
  auto contains = [](const std::vector<MountEntry>& table, const MountEntry& e) {
    return std::find(table.begin(), table.end(), e) != table.end();
  };
  std::vector<MountEntry> gone, came;
  for (const MountEntry& e : last_)
    if (!contains(now, e)) gone.push_back(e);
  for (const MountEntry& e : now)
    if (!contains(last_, e)) came.push_back(e);
  last_ = std::move(now);
  for (const MountEntry& e : gone) emit Removed(e);
  for (const MountEntry& e : came) emit Arrived(e);
}
