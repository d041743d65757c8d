#pragma once
// Drives: the mount table of real file systems stands in for drive letters.
// "The drive of a path" is the mount point that holds it.
#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <string>
#include <vector>

#include "platform/system/UniqueFd.h"

constexpr uint32_t DRIVE_UNKNOWN = 0;
constexpr uint32_t DRIVE_NO_ROOT_DIR = 1;
constexpr uint32_t DRIVE_REMOVABLE = 2;
constexpr uint32_t DRIVE_FIXED = 3;
constexpr uint32_t DRIVE_REMOTE = 4;
constexpr uint32_t DRIVE_CDROM = 5;
constexpr uint32_t DRIVE_RAMDISK = 6;

struct MountEntry {
  std::string mountPoint;  // "/" or without a trailing '/'
  std::string device;      // the mount source
  std::string fsType;
  bool network = false;  // nfs, cifs, sshfs ...
  bool operator==(const MountEntry&) const = default;
};

// Real file systems only: "/" always; block devices, tmpfs and network file
// systems; one entry per mount point (the topmost mount wins), directories
// only; no proc, sys, cgroup, devpts, bind-mounted single files and the like.
// Sorted by mount point.
std::vector<MountEntry> ReadMountTable();
// Parses mountinfo text (the format of /proc/self/mountinfo); for tests.
std::vector<MountEntry> ParseMountInfo(const std::string& text);

// The roots of all drives, each ended by a NUL byte, the whole by one more.
std::string GetLogicalDriveStrings();
uint32_t GetDriveType(const std::string& root);
// The file system's label, or empty when it has none or the root is no mount.
bool GetVolumeInformation(const std::string& root, std::string& label);
// The bytes an unprivileged user may still write on the file system that
// holds path, and its size; false when it cannot be asked.
bool GetDiskFreeSpace(const std::string& path, uint64_t& available, uint64_t& total);
// Deepest mount point of the table that holds the (absolute) path.
std::string MountPointOf(const std::string& path);

// Watches the mount table and reports mounts that came or went, on the thread
// that created it (the GUI thread). Stands in for the volume broadcasts.
class MountMonitor : public QObject {
  Q_OBJECT
 public:
  explicit MountMonitor(QObject* parent = nullptr);
  ~MountMonitor() override;
  // Compares the table with the last one read and emits the differences now.
  void Rescan();

 signals:
  void Arrived(const MountEntry& entry);
  void Removed(const MountEntry& entry);

 private:
  UniqueFd fd_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<MountEntry> last_;
};
