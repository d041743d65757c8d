#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TempDir.h"
#include "platform/system/ChangeNotification.h"
#include "platform/system/WaitObjects.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

bool Signalled(TWaitHandle& h) { return WaitForSingleObject(&h, 0) == WAIT_OBJECT_0; }

// Creates a file without writing to it: only a name event follows.
void Touch(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  close(fd);
}

}  // namespace

TEST(WaitObjects, EventsResetAsTheirKindSays) {
  TEvent manual(true);
  EXPECT_FALSE(Signalled(manual));
  manual.Set();
  EXPECT_TRUE(Signalled(manual));
  EXPECT_TRUE(Signalled(manual)) << "a wait must not reset a manual event";
  manual.Reset();
  EXPECT_FALSE(manual.IsSet());
  EXPECT_FALSE(Signalled(manual));

  TEvent autoReset(false);
  autoReset.Set();
  autoReset.Set();  // setting a set event changes nothing
  EXPECT_TRUE(autoReset.IsSet());
  EXPECT_TRUE(Signalled(autoReset));
  EXPECT_FALSE(Signalled(autoReset)) << "the reporting wait consumes an auto-reset event";

  TEvent initially(false, true);
  EXPECT_TRUE(Signalled(initially));
}

TEST(WaitObjects, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
  TEvent a(false), b(false), c(false);
  b.Set();
  c.Set();
  EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, 0), WAIT_OBJECT_0 + 2);
  EXPECT_EQ(WaitForMultipleObjects({&a, &b, &c}, 0), WAIT_TIMEOUT);

  TEvent stop(true), work(false);
  stop.Set();
  work.Set();
  EXPECT_EQ(WaitForMultipleObjects({&stop, &work}, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForMultipleObjects({&stop, &work}, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(Signalled(work)) << "an auto event behind the winner stays set";

  EXPECT_EQ(WaitForMultipleObjects({&a, nullptr}, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects({}, 0), WAIT_FAILED);
}

TEST(WaitObjects, TimesOutAndWakesOnASetFromAnotherThread) {
  TEvent a(false), b(true);
  auto start = Clock::now();
  EXPECT_EQ(WaitForMultipleObjects({&a, &b}, 80), WAIT_TIMEOUT);
  EXPECT_GE(MsSince(start), 78);
  EXPECT_LT(MsSince(start), 1000);

  start = Clock::now();
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    b.Set();
  });
  EXPECT_EQ(WaitForMultipleObjects({&a, &b}, INFINITE), WAIT_OBJECT_0 + 1);
  EXPECT_GE(MsSince(start), 50);
  setter.join();
}

TEST(ChangeNotification, FilterTellsNamesFromFoldersAttributesAndWrites) {
  TempDir d;
  auto names = FindFirstChangeNotification(d.path(), false, FILE_NOTIFY_CHANGE_FILE_NAME);
  auto dirs = FindFirstChangeNotification(d.path(), false, FILE_NOTIFY_CHANGE_DIR_NAME);
  auto attrs = FindFirstChangeNotification(d.path(), false, FILE_NOTIFY_CHANGE_ATTRIBUTES);
  auto size = FindFirstChangeNotification(d.path(), false, FILE_NOTIFY_CHANGE_SIZE);
  auto written = FindFirstChangeNotification(d.path(), false, FILE_NOTIFY_CHANGE_LAST_WRITE);
  ASSERT_TRUE(names && dirs && attrs && size && written);
  TChangeNotification* all[] = {names.get(), dirs.get(), attrs.get(), size.get(), written.get()};
  // Which of the five handles a step signals, as a bit set, re-arming them all.
  auto step = [&] {
    int bits = 0;
    for (int i = 0; i < 5; ++i) {
      if (Signalled(*all[i])) bits |= 1 << i;
      EXPECT_TRUE(all[i]->Next());
    }
    return bits;
  };
  EXPECT_EQ(step(), 0);
  Touch(d / "f");
  EXPECT_EQ(step(), 1);
  fs::create_directory(d / "sub");
  EXPECT_EQ(step(), 2);
  chmod((d / "f").c_str(), 0600);
  EXPECT_EQ(step(), 4 | 16);
  std::ofstream(d / "f", std::ios::app) << "more";
  EXPECT_EQ(step(), 8 | 16);
  fs::rename(d / "f", d / "g");
  EXPECT_EQ(step(), 1);
  fs::rename(d / "sub", d / "sub2");
  EXPECT_EQ(step(), 2);
  EXPECT_EQ(step(), 0) << "re-armed handles stay quiet without changes";

  // Events not read before the re-arm still count.
  Touch(d / "h");
  EXPECT_TRUE(names->Next());
  EXPECT_TRUE(Signalled(*names));

  EXPECT_EQ(FindFirstChangeNotification(d / "missing", false, 1), nullptr);
  EXPECT_EQ(FindFirstChangeNotification(d / "g", false, 1), nullptr) << "a file is no folder";
}

TEST(ChangeNotification, SubtreeFollowsFoldersAndRearmFailsWhenTheRootGoes) {
  TempDir d, outside;
  std::string root = d.dir("root");
  d.dir("root/a/b");
  auto tree = FindFirstChangeNotification(root + "/", true, FILE_NOTIFY_CHANGE_FILE_NAME);
  auto flat = FindFirstChangeNotification(root, false, FILE_NOTIFY_CHANGE_FILE_NAME);
  ASSERT_TRUE(tree && flat);
  EXPECT_EQ(tree->WatchCount(), 3u);

  Touch(root + "/a/b/f");
  EXPECT_TRUE(Signalled(*tree));
  EXPECT_FALSE(Signalled(*flat)) << "a flat watch sees no sub-folder";
  ASSERT_TRUE(tree->Next());

  // A folder made later is watched, and so is one made inside it before the
  // watch could be added.
  fs::create_directories(root + "/n/x/y");
  EXPECT_FALSE(Signalled(*tree)) << "folders are no file names";
  Touch(root + "/n/x/y/f");
  EXPECT_TRUE(Signalled(*tree));
  ASSERT_TRUE(tree->Next());
  EXPECT_EQ(tree->WatchCount(), 6u);

  // A folder moved out of the tree is no longer watched.
  fs::rename(root + "/a", outside / "a");
  WaitForSingleObject(tree.get(), 0);  // reads the move
  ASSERT_TRUE(tree->Next());
  EXPECT_EQ(tree->WatchCount(), 4u);
  Touch(outside / "a/b/g");
  EXPECT_FALSE(Signalled(*tree));

  // Moving or deleting the watched folder itself makes the re-arm fail.
  fs::rename(root, d / "moved");
  EXPECT_TRUE(Signalled(*flat));
  EXPECT_FALSE(flat->Next());
  fs::remove_all(d / "moved");
  EXPECT_TRUE(Signalled(*tree));
  EXPECT_FALSE(tree->Next());
  EXPECT_TRUE(tree->RootGone());
}

TEST(ChangeNotification, GroupSharesWatchesBoundsThemAndSurvivesOverflow) {
  TempDir d;
  std::string root = d.dir("r");
  d.dir("r/a/b");
  // Nested trees and a flat watch with another filter in one group.
  auto group = std::make_shared<TChangeNotificationGroup>();
  auto outer = FindFirstChangeNotification(root, true, FILE_NOTIFY_CHANGE_FILE_NAME, group);
  auto inner = FindFirstChangeNotification(root + "/a", true, FILE_NOTIFY_CHANGE_FILE_NAME, group);
  auto attrs = FindFirstChangeNotification(root + "/a", false, FILE_NOTIFY_CHANGE_ATTRIBUTES, group);
  ASSERT_TRUE(outer && inner && attrs);
  EXPECT_EQ(group->WatchCount(), 3u) << "each folder is watched once";
  EXPECT_EQ(outer->WatchCount(), 3u);
  EXPECT_EQ(inner->WatchCount(), 2u);

  Touch(root + "/a/b/f");
  EXPECT_TRUE(Signalled(*outer));
  EXPECT_TRUE(Signalled(*inner));
  EXPECT_FALSE(Signalled(*attrs)) << "each handle keeps its own filter";
  chmod((root + "/a/b/f").c_str(), 0600);
  chmod((root + "/a").c_str(), 0700);
  Touch(root + "/a/g");
  EXPECT_TRUE(Signalled(*attrs));
  for (auto* h : {outer.get(), inner.get(), attrs.get()}) ASSERT_TRUE(h->Next());

  // Closing one handle leaves the shared watches of the others.
  outer.reset();
  EXPECT_EQ(group->WatchCount(), 2u);
  Touch(root + "/a/b/h");
  EXPECT_TRUE(Signalled(*inner));
  inner.reset();
  attrs.reset();
  EXPECT_EQ(group->WatchCount(), 0u);

  // A budget bounds the group; the root is watched whatever it says.
  for (int i = 0; i < 30; ++i) d.dir("s/s" + std::to_string(i) + "/deeper");
  auto small = std::make_shared<TChangeNotificationGroup>(10);
  auto bounded = FindFirstChangeNotification(d / "s", true, FILE_NOTIFY_CHANGE_DIR_NAME, small);
  auto extra = FindFirstChangeNotification(root, true, FILE_NOTIFY_CHANGE_DIR_NAME, small);
  ASSERT_TRUE(bounded && extra);
  EXPECT_EQ(bounded->WatchCount(), 10u);
  EXPECT_EQ(extra->WatchCount(), 1u);
  EXPECT_EQ(small->WatchCount(), 11u);
  fs::create_directory(d / "s/top");
  EXPECT_TRUE(Signalled(*bounded));
  EXPECT_LE(small->WatchCount(), 11u);

  // More events than the kernel queues: the overflow alone signals a filter
  // that no single event (a file name) matches.
  long queued = 0;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
  if (queued <= 0 || queued > 100000) GTEST_SKIP() << "queue length unknown";
  std::string flood = d.dir("flood");
  auto folders = FindFirstChangeNotification(flood, false, FILE_NOTIFY_CHANGE_DIR_NAME);
  ASSERT_TRUE(folders);
  for (long i = 0; i <= queued + 10; ++i) Touch(flood + "/" + std::to_string(i));
  EXPECT_TRUE(Signalled(*folders));
  EXPECT_TRUE(folders->Next());
  EXPECT_FALSE(Signalled(*folders));
}
