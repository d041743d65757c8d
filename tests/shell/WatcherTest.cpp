#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "platform/namespace/ItemID.h"
#include "shell/watch/ShDirWatcher.h"
#include "shell/watch/ShFilesWatcher.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long long MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// Processes the GUI thread's events until pred holds or timeoutMs passes.
template <class Pred>
bool PumpUntil(Pred pred, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (Clock::now() > deadline) return false;
    QTest::qWait(10);
  }
  return true;
}

struct Report {
  Clock::time_point at;
  std::string path;
  bool onGuiThread;
};

// Records every report of a files watcher.
struct FilesLog {
  std::vector<Report> reports;
  TShFilesWatcher* sender = nullptr;
  TShFilesChangeEvent Handler() {
    return [this](TShFilesWatcher* w, const std::string& path) {
      sender = w;
      reports.push_back({Clock::now(), path, QThread::currentThread() == qApp->thread()});
    };
  }
};

struct DirLog {
  std::vector<Clock::time_point> changes;
  std::vector<std::string> devices;  // DriveName of each record received
  std::vector<Clock::time_point> deviceTimes;
  TShDirChangeEvent DirHandler() {
    return [this](TShDirWatcher*) { changes.push_back(Clock::now()); };
  }
  TShDeviceChangeEvent DeviceHandler() {
    return [this](TShDirWatcher*, TDeviceChangeData* data) {
      devices.push_back(data ? data->DriveName : "(null)");
      deviceTimes.push_back(Clock::now());
      delete data;
    };
  }
};

void WriteFile(const std::string& path, const char* text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(write(fd, text, strlen(text)), static_cast<ssize_t>(strlen(text)));
  close(fd);
}

class WatcherTest : public ::testing::Test {
 protected:
  void TearDown() override {
    WaitForWatcherThreads();
    EXPECT_EQ(LiveWatcherThreads(), 0);
  }
};

}  // namespace

TEST_F(WatcherTest, BurstOfFilesGivesOneReportAfterSettling) {
  TempDir d;
  FilesLog names, contents;
  auto* nameWatcher = new TShFilesWatcher(d.path(), 3, names.Handler());
  auto* attrWatcher = new TShFilesWatcher(d.path(), 28, contents.Handler());
  ASSERT_TRUE(PumpUntil([&] { return nameWatcher->Watching() && attrWatcher->Watching(); }, 2000));

  Clock::time_point last;
  for (int i = 0; i < 10; ++i) {
    WriteFile(d / ("f" + std::to_string(i)), "x");
    last = Clock::now();
    if (i < 9) QTest::qWait(100);
  }
  ASSERT_TRUE(PumpUntil([&] { return names.reports.size() >= 1 && contents.reports.size() >= 1; }, 5000));
  QTest::qWait(500);
  for (FilesLog* log : {&names, &contents}) {
    ASSERT_EQ(log->reports.size(), 1u);
    long long after = MsBetween(last, log->reports[0].at);
    EXPECT_GE(after, 1700);
    EXPECT_LE(after, 3500);
    EXPECT_EQ(log->reports[0].path, d.path());
    EXPECT_TRUE(log->reports[0].onGuiThread);
  }
  EXPECT_EQ(names.sender, nameWatcher);
  EXPECT_EQ(contents.sender, attrWatcher);
  nameWatcher->Stop();
  attrWatcher->Stop();
}

TEST_F(WatcherTest, FilesWatcherFollowsPathChangesAndVanishingFolders) {
  TempDir d;
  std::string a = d.dir("a"), b = d.dir("b"), c = d.dir("c"), later = d / "later";
  FilesLog moved, vanished, created;

  // a -> missing -> b: idle without a folder, then b is watched and a is not.
  auto* mover = new TShFilesWatcher(a, 3, moved.Handler());
  ASSERT_TRUE(PumpUntil([&] { return mover->Watching(); }, 2000));
  mover->SetPath(d / "missing");
  EXPECT_EQ(mover->GetPath(), "");
  ASSERT_TRUE(PumpUntil([&] { return !mover->Watching(); }, 2000));
  mover->SetPath(b);
  EXPECT_EQ(mover->GetPath(), b);
  ASSERT_TRUE(PumpUntil([&] { return mover->Watching(); }, 2000));

  // The watched folder is deleted: the owner is told once, with the old path;
  // the watcher goes idle and forgets it, so the same path set again once it
  // exists is watched anew.
  auto* loser = new TShFilesWatcher(c, 3, vanished.Handler());
  ASSERT_TRUE(PumpUntil([&] { return loser->Watching(); }, 2000));
  WriteFile(c + "/doomed", "x");
  fs::remove_all(c);
  ASSERT_TRUE(PumpUntil([&] { return !loser->Watching() && loser->GetPath().empty(); }, 4000));
  ASSERT_TRUE(PumpUntil([&] { return vanished.reports.size() == 1; }, 4000)) << "the vanished folder was not reported";
  EXPECT_EQ(vanished.reports[0].path, c);
  fs::create_directory(c);
  loser->SetPath(c);
  ASSERT_TRUE(PumpUntil([&] { return loser->Watching(); }, 2000));

  // Created on a folder that does not exist yet.
  auto* waiter = new TShFilesWatcher(later, 3, created.Handler());
  EXPECT_EQ(waiter->GetPath(), "");
  fs::create_directory(later);
  waiter->SetPath(later);
  ASSERT_TRUE(PumpUntil([&] { return waiter->Watching(); }, 2000));

  WriteFile(a + "/ignored", "x");
  WriteFile(b + "/seen", "x");
  WriteFile(c + "/seen", "x");
  WriteFile(later + "/seen", "x");
  ASSERT_TRUE(PumpUntil(
      [&] { return !moved.reports.empty() && vanished.reports.size() > 1 && !created.reports.empty(); }, 5000));
  QTest::qWait(300);
  ASSERT_EQ(moved.reports.size(), 1u);
  EXPECT_EQ(moved.reports[0].path, b);
  ASSERT_EQ(vanished.reports.size(), 2u);
  EXPECT_EQ(vanished.reports[1].path, c);
  ASSERT_EQ(created.reports.size(), 1u);
  EXPECT_EQ(created.reports[0].path, later);
  mover->Stop();
  loser->Stop();
  waiter->Stop();
}

// The steps of both watchers are already queued for the GUI thread when the
// owner stops them: they must come to nothing, and each thread ends, tells its
// owner on the GUI thread and frees itself.
TEST_F(WatcherTest, StopWhileAReportIsPendingCallsNoHandler) {
  TempDir d;
  std::string a = d.dir("a"), b = d.dir("b/sub");
  FilesLog files;
  DirLog dirs, devices;
  std::vector<std::string> list{d / "b"};
  auto* filesWatcher = new TShFilesWatcher(a, 3, files.Handler());
  auto* dirWatcher = new TShDirWatcher(&list, 2, dirs.DeviceHandler(), dirs.DirHandler());
  auto* deviceWatcher = new TShDirWatcher(nullptr, 2, devices.DeviceHandler(), devices.DirHandler());
  int filesEnded = 0, dirEnded = 0;
  bool endedOnGui = true;
  filesWatcher->OnTerminate = [&](TShFilesWatcher* w) {
    filesEnded += w == filesWatcher;
    endedOnGui &= QThread::currentThread() == qApp->thread();
  };
  auto dirEnd = [&](TShDirWatcher* w) {
    dirEnded += w == dirWatcher || w == deviceWatcher;
    endedOnGui &= QThread::currentThread() == qApp->thread();
  };
  dirWatcher->OnTerminate = dirEnd;
  deviceWatcher->OnTerminate = dirEnd;
  ASSERT_TRUE(PumpUntil([&] { return filesWatcher->Watching() && dirWatcher->BuildCount() == 1; }, 2000));

  WriteFile(a + "/f", "x");
  fs::create_directory(b + "/new");
  deviceWatcher->DeviceChanged(new TDeviceChangeData("pending", DBT_DEVICEARRIVAL, 1, nullptr));
  // Settle without processing events, so every step waits in the queue.
  std::this_thread::sleep_for(std::chrono::milliseconds(2600));
  filesWatcher->Stop();
  dirWatcher->Stop();
  deviceWatcher->Stop();
  WaitForWatcherThreads();
  EXPECT_TRUE(files.reports.empty());
  EXPECT_TRUE(dirs.changes.empty());
  EXPECT_TRUE(devices.devices.empty());
  EXPECT_EQ(filesEnded, 1);
  EXPECT_EQ(dirEnded, 2);
  EXPECT_TRUE(endedOnGui);
}

// Also the burst_reports benchmark figure: a burst of 10,000 files is one report.
TEST_F(WatcherTest, TenThousandFilesAreOneReport) {
  TempDir d;
  FilesLog names, contents;
  auto* nameWatcher = new TShFilesWatcher(d.path(), 3, names.Handler());
  auto* attrWatcher = new TShFilesWatcher(d.path(), 28, contents.Handler());
  ASSERT_TRUE(PumpUntil([&] { return nameWatcher->Watching() && attrWatcher->Watching(); }, 2000));

  auto start = Clock::now();
  for (int i = 0; i < 10000; ++i) {
    WriteFile(d / ("file" + std::to_string(i) + ".txt"), "content");
    if (i % 1000 == 999) QCoreApplication::processEvents();
  }
  auto last = Clock::now();
  ASSERT_TRUE(PumpUntil([&] { return !names.reports.empty() && !contents.reports.empty(); }, 8000));
  QTest::qWait(500);
  EXPECT_EQ(names.reports.size(), 1u);
  EXPECT_EQ(contents.reports.size(), 1u);
  long long delay = MsBetween(last, names.reports[0].at);
  EXPECT_LE(delay, 3500) << "the watcher fell behind the burst";
  RecordProperty("burst_reports", static_cast<int>(names.reports.size()));
  RecordProperty("burst_create_ms", static_cast<int>(MsBetween(start, last)));
  RecordProperty("burst_report_delay_ms", static_cast<int>(delay));
  std::printf("burst_reports=%zu create_ms=%lld report_delay_ms=%lld\n", names.reports.size(), MsBetween(start, last),
              delay);
  nameWatcher->Stop();
  attrWatcher->Stop();
}

TEST_F(WatcherTest, DirWatcherSeesFoldersDeepInsideButNotFiles) {
  TempDir d;
  std::string a = d.dir("a/sub"), b = d.dir("b");
  DirLog folders, files;
  std::vector<std::string> listA{d / "a"}, listB{b + "/"};
  auto* wa = new TShDirWatcher(&listA, 2, nullptr, folders.DirHandler());
  auto* wb = new TShDirWatcher(&listB, 2, nullptr, files.DirHandler());
  EXPECT_EQ(wa->GetDirectories(), std::vector<std::string>{d / "a/"});
  EXPECT_EQ(wb->GetDirectories(), std::vector<std::string>{b + "/"});
  ASSERT_TRUE(PumpUntil([&] { return wa->BuildCount() == 1 && wb->BuildCount() == 1; }, 2000));

  fs::create_directory(a + "/new");
  WriteFile(b + "/file", "x");
  auto made = Clock::now();
  ASSERT_TRUE(PumpUntil([&] { return !folders.changes.empty(); }, 4000));
  QTest::qWait(300);
  ASSERT_EQ(folders.changes.size(), 1u);
  EXPECT_GE(MsBetween(made, folders.changes[0]), 1300);
  EXPECT_LE(MsBetween(made, folders.changes[0]), 3000);
  EXPECT_TRUE(files.changes.empty()) << "a folder watcher reported a file";
  wa->Stop();
  wb->Stop();

  std::vector<std::string> messy{b, d / "a", "", d / "missing", b + "/", "/", d / "a/sub/"};
  EXPECT_EQ(TShDirWatcher::NormalizeDirs(messy), (std::vector<std::string>{"/", d / "a/", d / "a/sub/", b + "/"}));
}

TEST_F(WatcherTest, SetDirectoriesRebuildsOnlyForAnotherSetAndWatchesMoreThan61) {
  TempDir d;
  std::vector<std::string> all;
  for (int i = 0; i < 70; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "f%02d", i);
    all.push_back(d.dir(name));
  }
  std::vector<std::string> first(all.begin(), all.end() - 1);
  DirLog log;
  auto* w = new TShDirWatcher(&first, 2, nullptr, log.DirHandler());
  ASSERT_TRUE(PumpUntil([&] { return w->BuildCount() == 1; }, 3000));

  std::vector<std::string> reordered(first.rbegin(), first.rend());
  reordered[5] += "/";
  reordered.push_back(d / "missing");
  w->SetDirectories(&reordered);
  QTest::qWait(200);
  EXPECT_EQ(w->BuildCount(), 1) << "the same set in another order rebuilt";

  w->SetDirectories(&all);
  ASSERT_TRUE(PumpUntil([&] { return w->BuildCount() == 2; }, 3000));
  EXPECT_EQ(w->GetDirectories().size(), 70u);

  fs::create_directory(all[69] + "/new");
  fs::create_directory(all[0] + "/new");
  ASSERT_TRUE(PumpUntil([&] { return !log.changes.empty(); }, 4000));

  w->SetDirectories(nullptr);
  ASSERT_TRUE(PumpUntil([&] { return w->BuildCount() == 3; }, 3000));
  EXPECT_TRUE(w->GetDirectories().empty());
  fs::create_directory(all[69] + "/again");
  QTest::qWait(1800);
  EXPECT_EQ(log.changes.size(), 1u) << "a cleared watcher still reported";
  w->Stop();
}

TEST_F(WatcherTest, DeviceEventsSettleAndCarryTheLastRecord) {
  TempDir d;
  std::string a = d.dir("a");
  DirLog devicesOnly, both, deaf;
  auto* w = new TShDirWatcher(nullptr, 2, devicesOnly.DeviceHandler(), devicesOnly.DirHandler());
  std::vector<std::string> list{a};
  auto* mixed = new TShDirWatcher(&list, 2, both.DeviceHandler(), both.DirHandler());
  // Without a device handler a record is freed at once.
  auto* noDevice = new TShDirWatcher(nullptr, 2, nullptr, deaf.DirHandler());
  noDevice->DeviceChanged(new TDeviceChangeData("dropped", DBT_DEVICEARRIVAL, 1, AllocIDList(0)));
  ASSERT_TRUE(PumpUntil([&] { return mixed->BuildCount() == 1; }, 2000));

  // A folder change, then a device event while the folder burst settles:
  // both are reported.
  fs::create_directory(a + "/x");
  w->DeviceChanged(new TDeviceChangeData("first", DBT_DEVICEARRIVAL, 1, AllocIDList(0)));
  QTest::qWait(300);
  w->DeviceChanged(new TDeviceChangeData("second", DBT_DEVICEREMOVECOMPLETE, 1, AllocIDList(0)));
  // Another drive within the same second is not lost: it follows, in order.
  PItemIDList otherDrive = MakeDriveID("/media/other", false);
  w->DeviceChanged(new TDeviceChangeData("other drive", DBT_DEVICEARRIVAL, 1, otherDrive));
  mixed->DeviceChanged(new TDeviceChangeData("mixed", DBT_DEVICEARRIVAL, 2, nullptr));
  auto second = Clock::now();
  ASSERT_TRUE(PumpUntil([&] { return !devicesOnly.devices.empty(); }, 3000));
  ASSERT_TRUE(PumpUntil([&] { return !both.changes.empty(); }, 4000));
  QTest::qWait(300);
  ASSERT_EQ(devicesOnly.devices, (std::vector<std::string>{"second", "other drive"}));
  long long after = MsBetween(second, devicesOnly.deviceTimes[0]);
  EXPECT_GE(after, 900);
  EXPECT_LE(after, 2000);
  EXPECT_TRUE(devicesOnly.changes.empty());
  EXPECT_EQ(both.devices, std::vector<std::string>{"mixed"});
  EXPECT_EQ(both.changes.size(), 1u) << "the folder change was lost to the device event";
  EXPECT_TRUE(deaf.devices.empty());
  w->Stop();
  mixed->Stop();
  noDevice->Stop();
}

TEST_F(WatcherTest, DeletedWatchedFolderIsDroppedAndWatchingGoesOn) {
  TempDir d;
  std::string a = d.dir("a/inner"), b = d.dir("b");
  std::vector<std::string> list{d / "a", b};
  DirLog log;
  bool ended = false;
  auto* w = new TShDirWatcher(&list, 2, nullptr, log.DirHandler());
  w->OnTerminate = [&](TShDirWatcher*) { ended = true; };
  ASSERT_TRUE(PumpUntil([&] { return w->BuildCount() == 1; }, 2000));

  fs::remove_all(d / "a");
  ASSERT_TRUE(PumpUntil([&] { return w->GetDirectories().size() == 1; }, 2000));
  EXPECT_EQ(w->GetDirectories(), std::vector<std::string>{b + "/"});
  ASSERT_TRUE(PumpUntil([&] { return log.changes.size() == 1; }, 4000));

  fs::create_directory(b + "/new");
  ASSERT_TRUE(PumpUntil([&] { return log.changes.size() == 2; }, 4000));
  EXPECT_FALSE(ended) << "the thread ended over a deleted folder";
  w->OnTerminate = nullptr;
  w->Stop();
}
