#include <sys/mount.h>

#include <QElapsedTimer>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

#include "TempDir.h"
#include "platform/namespace/Drives.h"
#include "shell/ShellCtrls.h"
#include "shell/watch/ShDirWatcher.h"
#include "shell/watch/WatcherThread.h"

namespace {
struct Delivered {
  std::string name;
  uint32_t event;
  int kind;
  std::string path;
  bool hasList;
};

// Stands where a tree will: it hands each drive event to its directory
// watcher, which delivers it back on the GUI thread once it has settled.
class WatchingTree : public IShellTreeControl {
 public:
  WatchingTree() {
    watcher = new TShDirWatcher(
        nullptr, 2,
        [this](TShDirWatcher*, TDeviceChangeData* data) {
          std::unique_ptr<TDeviceChangeData> owned(data);
          delivered.push_back(
              {data->DriveName, data->Event, data->Kind, IDListToPath(data->IDList.get()), data->IDList != nullptr});
        },
        nullptr);
    TShellCtrlList::Instance().AddTreeView(this);
  }
  ~WatchingTree() override {
    TShellCtrlList::Instance().RemoveTreeView(this);
    watcher->Stop();
    WaitForWatcherThreads();
  }
  void DeviceChangeNotify(TDeviceChangeData* data) override { watcher->DeviceChanged(data); }

  // Other tests may mount things at the same time: only events that pass the
  // test count.
  const Delivered* WaitFor(const std::function<bool(const Delivered&)>& wanted, int ms) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
      for (const Delivered& d : delivered)
        if (wanted(d)) return &d;
      if (timer.elapsed() >= ms) return nullptr;
      QTest::qWait(50);
    }
  }

  TShDirWatcher* watcher;
  std::vector<Delivered> delivered;
};
}  // namespace

TEST(ShellCtrlList, MountEventsReachRegisteredTreesThroughTheirWatchers) {
  auto& registry = TShellCtrlList::Instance();
  EXPECT_FALSE(registry.MonitorActive());
  {
    WatchingTree tree;
    EXPECT_TRUE(registry.MonitorActive());

    QElapsedTimer timer;
    timer.start();
    registry.MountChanged({"/media/usb", "/dev/sdz1", "vfat", false}, false);
    const Delivered* found = tree.WaitFor([](const Delivered& d) { return d.path == "/media/usb"; }, 4000);
    ASSERT_TRUE(found);
    EXPECT_GE(timer.elapsed(), 900);  // drive events settle for a second
    const Delivered removal = *found;
    EXPECT_EQ(removal.event, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(removal.kind, 1);
    EXPECT_EQ(removal.name, " (/media/usb)");  // no label once it is gone
    ASSERT_TRUE(removal.hasList);
    // The drive's own list, even though nothing is mounted there now.
    EXPECT_EQ(removal.path, "/media/usb");

    registry.MountChanged({"/net/share", "server:/share", "nfs4", true}, true);
    const Delivered* network = tree.WaitFor([](const Delivered& d) { return d.kind == 2; }, 4000);
    ASSERT_TRUE(network);
    EXPECT_EQ(network->event, DBT_DEVICEARRIVAL);
    EXPECT_EQ(network->name, "");
    EXPECT_FALSE(network->hasList);

    // A list view alone keeps the monitor; it gets no drive events.
    QObject view;
    registry.AddListView(&view);
    registry.RemoveListView(&view);
  }
  EXPECT_FALSE(registry.MonitorActive());  // gone with the last control
}

// Needs root and a kernel that lets us mount; skipped elsewhere.
TEST(ShellCtrlList, RealMountArrivesAndLeaves) {
  TempDir tmp;
  std::string point = tmp.dir("mnt");
  WatchingTree tree;
  if (mount("tolvane-tree", point.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
  auto event = [&](uint32_t kind) {
    return tree.WaitFor([&](const Delivered& d) { return d.path == point && d.event == kind; }, 5000);
  };
  const Delivered* arrived = event(DBT_DEVICEARRIVAL);
  umount2(point.c_str(), MNT_DETACH);
  ASSERT_TRUE(arrived);
  EXPECT_EQ(arrived->kind, 1);
  EXPECT_NE(arrived->name.find(" (" + point + ")"), std::string::npos);

  const Delivered* removed = event(DBT_DEVICEREMOVECOMPLETE);
  ASSERT_TRUE(removed);
  EXPECT_EQ(removed->name, " (" + point + ")");
}
