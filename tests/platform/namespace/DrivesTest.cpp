// The mount table as drives, and the monitor that reports mounts coming and going.
#include <QTest>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "NamespaceTestUtil.h"
#include "TempDir.h"
#include "platform/namespace/Drives.h"

namespace {

std::vector<std::string> MountPoints(const std::vector<MountEntry>& table) {
  std::vector<std::string> points;
  for (const MountEntry& e : table) points.push_back(e.mountPoint);
  return points;
}

const MountEntry* Find(const std::vector<MountEntry>& table, const std::string& point) {
  auto it = std::find_if(table.begin(), table.end(), [&](const MountEntry& e) { return e.mountPoint == point; });
  return it == table.end() ? nullptr : &*it;
}

// Unmounts on the way out, so that a failed test leaves no mount behind.
struct MountGuard {
  std::string point;
  bool mounted = false;
  ~MountGuard() {
    if (mounted) umount2(point.c_str(), MNT_DETACH);
  }
};

}  // namespace

TEST(Drives, ParseMountInfoKeepsRealFileSystems) {
  const std::string text =
      "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
      "22 26 0:21 / /sys rw - sysfs sysfs rw\n"
      "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
      "30 26 8:1 / /media/usb\\040stick rw shared:1 master:2 - vfat /dev/sdb1 rw\n"
      "31 26 0:40 / /mnt/nfs rw - nfs4 server:/export rw\n"
      "32 26 0:41 / /tmp rw - tmpfs tmpfs rw\n"
      "33 26 0:42 / /run/user/1000 rw - tmpfs tmpfs rw\n"
      "34 26 8:2 / /run/media/u/DATA rw - ext4 /dev/sdc1 rw\n"
      "35 26 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
      "36 26 8:3 / /data rw - ext4 /dev/sdd1 rw\n"
      "37 36 0:44 / /data rw - tmpfs scratch rw\n"
      "38 26 0:45 / /mnt/cg rw - cgroup2 cgroup2 rw\n"
      "39 26 0:46 / /home/u/.cache/doc rw - fuse.portal portal rw\n"
      "40 26 0:47 / /mnt/over rw - overlay overlay rw\n"
      "41 26 0:48 / /dev/shm rw - tmpfs tmpfs rw\n"
      "42 26 0:49 / /mnt/sshfs rw - fuse.sshfs u@h:/ rw\n"
      "43 26 8:5 / /mnt/tab\\011name\\134x rw - ext4 /dev/sde1 rw\n"
      "44 26 0:50 / /mnt/devnull rw - devtmpfs udev rw\n"
      "garbage line without fields\n"
      "45 26 8:6 / /broken rw ext4 /dev/sdf1 rw\n";  // no separator
  std::vector<MountEntry> table = ParseMountInfo(text);
  EXPECT_EQ(MountPoints(table), (std::vector<std::string>{"/", "/data", "/media/usb stick", "/mnt/nfs", "/mnt/sshfs",
                                                          "/mnt/tab\tname\\x", "/run/media/u/DATA", "/tmp"}));
  ASSERT_TRUE(Find(table, "/"));
  EXPECT_EQ(Find(table, "/")->device, "/dev/vda");
  EXPECT_EQ(Find(table, "/")->fsType, "ext4");
  EXPECT_FALSE(Find(table, "/")->network);
  // The mount on top is the one that counts.
  EXPECT_EQ(Find(table, "/data")->fsType, "tmpfs");
  EXPECT_EQ(Find(table, "/data")->device, "scratch");
  EXPECT_TRUE(Find(table, "/mnt/nfs")->network);
  EXPECT_EQ(Find(table, "/mnt/nfs")->device, "server:/export");
  EXPECT_TRUE(Find(table, "/mnt/sshfs")->network);
  EXPECT_FALSE(Find(table, "/media/usb stick")->network);

  // The root is always there: an overlay root counts, and so does no table at all.
  std::vector<MountEntry> overlay = ParseMountInfo("1 0 0:1 / / rw - overlay overlay rw\n");
  ASSERT_EQ(overlay.size(), 1u);
  EXPECT_EQ(overlay[0].fsType, "overlay");
  EXPECT_EQ(MountPoints(ParseMountInfo("")), std::vector<std::string>{"/"});
}

TEST(Drives, QueriesOnTheLiveTable) {
  std::vector<MountEntry> table = ReadMountTable();
  ASSERT_FALSE(table.empty());
  EXPECT_EQ(table.front().mountPoint, "/");
  EXPECT_TRUE(std::is_sorted(table.begin(), table.end(), [](auto& a, auto& b) { return a.mountPoint < b.mountPoint; }));
  for (const MountEntry& e : table) {
    EXPECT_NE(e.fsType, "proc");
    EXPECT_NE(e.fsType, "sysfs");
    struct stat st;
    if (!e.network && stat(e.mountPoint.c_str(), &st) == 0) {
      EXPECT_TRUE(S_ISDIR(st.st_mode)) << e.mountPoint;
    }
  }

  std::string strings = GetLogicalDriveStrings();
  ASSERT_GE(strings.size(), 3u);
  EXPECT_EQ(strings.substr(0, 2), std::string("/\0", 2));
  EXPECT_EQ(strings.substr(strings.size() - 2), std::string("\0\0", 2));
  EXPECT_EQ(static_cast<size_t>(std::count(strings.begin(), strings.end(), '\0')), table.size() + 1);

  uint32_t rootType = GetDriveType("/");
  EXPECT_TRUE(rootType == DRIVE_FIXED || rootType == DRIVE_REMOVABLE) << rootType;
  TempDir tmp;
  EXPECT_EQ(GetDriveType(tmp.path()), DRIVE_NO_ROOT_DIR);
  std::string label = "stale";
  EXPECT_FALSE(GetVolumeInformation(tmp.path(), label));
  EXPECT_TRUE(label.empty());
  std::string drive = MountPointOf(tmp.path());
  EXPECT_TRUE(Find(table, drive));
  EXPECT_EQ(tmp.path().compare(0, drive.size(), drive), 0);
  EXPECT_EQ(MountPointOf("/"), "/");
}

// Needs root and a kernel that lets us mount; skipped elsewhere.
TEST(Drives, TmpfsMountIsADriveWhileItLasts) {
  TempDir tmp;
  MountGuard guard{tmp.dir("mnt")};
  const std::string point = guard.point;
  MountMonitor monitor;
  std::vector<MountEntry> arrived, removed;
  QObject::connect(&monitor, &MountMonitor::Arrived, [&](const MountEntry& e) { arrived.push_back(e); });
  QObject::connect(&monitor, &MountMonitor::Removed, [&](const MountEntry& e) { removed.push_back(e); });

  if (mount("tolvane-test", point.c_str(), "tmpfs", 0, "size=4m") != 0)
    GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
  guard.mounted = true;

  ASSERT_TRUE(QTest::qWaitFor([&] { return Find(arrived, point) != nullptr; }, 5000));
  EXPECT_EQ(Find(arrived, point)->fsType, "tmpfs");
  EXPECT_FALSE(Find(arrived, point)->network);
  EXPECT_EQ(GetDriveType(point), DRIVE_RAMDISK);
  EXPECT_EQ(MountPointOf(point + "/x"), point);

  // Paths below the mount parse with it as their drive; the computer lists it.
  std::filesystem::create_directories(point + "/dir");
  std::ofstream(point + "/dir/file") << "x";
  IDListPtr list = ParsePath(point + "/dir/file");
  ASSERT_TRUE(list);
  EXPECT_EQ(CountIDs(list.get()), 4);
  EXPECT_EQ(IDPayloadText(NextID(list.get())), point);
  EXPECT_EQ(PathOf(list.get()), point + "/dir/file");
  PItemIDList drives = nullptr;
  ASSERT_TRUE(SHGetSpecialFolderLocation(CSIDL_DRIVES, drives));
  ShellFolderPtr computer = SHGetDesktopFolder()->BindToObject(drives);
  FreeIDList(drives);
  ASSERT_TRUE(computer);
  bool listed = false;
  for (const IDListPtr& id : EnumIDs(*computer, SHCONTF_FOLDERS))
    if (IDPayloadText(id.get()) == point) {
      listed = true;
      EXPECT_EQ(NameOf(*computer, id.get()), "ローカル ディスク (" + point + ")");
    }
  EXPECT_TRUE(listed);

  // A trash of the drive's own shows in the recycle bin, with paths relative to the drive.
  TempDir data;
  EnvGuard dataHome("XDG_DATA_HOME", data.path());
  std::string trash = point + "/.Trash-" + std::to_string(getuid());
  std::filesystem::create_directories(trash + "/files");
  std::filesystem::create_directories(trash + "/info");
  std::ofstream(trash + "/files/x.txt") << "gone";
  std::ofstream(trash + "/info/x.txt.trashinfo")
      << "[Trash Info]\nPath=docs/x%2Etxt\nDeletionDate=2024-05-06T07:08:09\n";
  PItemIDList binList = nullptr;
  ASSERT_TRUE(SHGetSpecialFolderLocation(CSIDL_BITBUCKET, binList));
  ShellFolderPtr bin = SHGetDesktopFolder()->BindToObject(binList);
  FreeIDList(binList);
  ASSERT_TRUE(bin);
  bool inBin = false;
  for (const IDListPtr& id : EnumIDs(*bin, SHCONTF_NONFOLDERS))
    if (IDPayloadText(id.get()) == trash + "/files/x.txt") {
      inBin = true;
      EXPECT_EQ(NameOf(*bin, id.get()), "x.txt");
    }
  EXPECT_TRUE(inBin);

  // On a read-only drive nothing can be renamed, deleted or dropped into.
  ShellFolderPtr dir = BindPath(point + "/dir");
  ASSERT_TRUE(dir);
  ASSERT_EQ(mount(nullptr, point.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
  PItemIDList file = nullptr;
  ASSERT_TRUE(dir->ParseDisplayName("file", file));
  IDListPtr ownFile(file);
  EXPECT_FALSE(AttributesOf(*dir, file) & (SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_CANMOVE));
  EXPECT_TRUE(AttributesOf(*dir, file) & SFGAO_CANCOPY);
  EXPECT_FALSE(dir->SetNameOf(file, "other", 0, nullptr));
  IDListPtr dirList = ParsePath(point + "/dir");
  ShellFolderPtr top = BindPath(point);
  ASSERT_TRUE(top);
  EXPECT_FALSE(AttributesOf(*top, LastID(dirList.get())) & SFGAO_DROPTARGET);

  ASSERT_EQ(umount2(point.c_str(), 0), 0) << std::strerror(errno);
  guard.mounted = false;
  ASSERT_TRUE(QTest::qWaitFor([&] { return Find(removed, point) != nullptr; }, 5000));
  EXPECT_EQ(GetDriveType(point), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(MountPointOf(point + "/x"), MountPointOf(tmp.path()));
}
