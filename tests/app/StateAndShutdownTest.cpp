// The state files under stress and the end of a run: a full disk, list files
// linked to devices, very long lists, and no watcher thread left at exit.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTabBar>
#include <QTest>
#include <QToolBar>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "FormFixture.h"
#include "app/RunControl.h"
#include "platform/state/LineList.h"

namespace {

std::vector<std::string> LinesOfFile(const std::string& path) {
  TLineList list;
  list.LoadFromFile(path);
  return list.Lines;
}

void SaveLines(const std::string& path, const std::vector<std::string>& lines) {
  TLineList list;
  list.Lines = lines;
  ASSERT_TRUE(list.SaveToFile(path)) << path;
}

bool Contains(const std::vector<std::string>& messages, const std::string& part) {
  for (const std::string& m : messages)
    if (m.find(part) != std::string::npos) return true;
  return false;
}

struct MountGuard {
  std::string point;
  bool mounted = false;
  ~MountGuard() {
    if (mounted) umount2(point.c_str(), MNT_DETACH);
  }
};

class StateAndShutdown : public ::testing::Test {
 protected:
  FormFixture f;
  std::string Dir(const std::string& name) { return f.state.dir("files/" + name); }
};

TEST_F(StateAndShutdown, RunReturnsOnlyWhenEveryWatcherThreadHasEnded) {
  EnvGuard quit("TOLVANE_QUIT_AFTER_MS", "0");
  f.WriteLines("log/Path1SL.text", {Dir("a")});
  f.WriteLines("log/Path2SL.text", {Dir("b")});
  for (int run = 0; run < 3; ++run) {
    EXPECT_EQ(RunMainWindow({}), 0);
    // The application object would go next: no watcher may still be ending.
    EXPECT_EQ(LiveWatcherThreads(), 0) << "run " << run;
  }
}

TEST_F(StateAndShutdown, StateSavedOnAFullDiskIsReadBackFromTheFallback) {
  MountGuard disk{f.state.dir("disk")};
  if (mount("tolvane-state", disk.point.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  disk.mounted = true;
  EnvGuard home("TOLVANE_HOME", disk.point + "/state");
  const std::string usual = disk.point + "/state/log/Path1SL.text";
  const std::string fallback = f.state.path() + "/config/tolvane/log/Path1SL.text";
  const std::string a = Dir("a"), b = Dir("b");
  std::filesystem::create_directories(disk.point + "/state/log");
  SaveLines(usual, {a});
  // Fill the disk: access(W_OK) still says the folder can be written.
  {
    int fd = open((disk.point + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    std::string block(4096, 'x');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    ASSERT_EQ(errno, ENOSPC);
    close(fd);
  }
  ASSERT_EQ(access((disk.point + "/state/log").c_str(), W_OK), 0);

  // Run 1 changes the tab and cannot save it in the usual place.
  TForm1* form = f.Open();
  EXPECT_EQ(form->LV1->GetPathName(), a);
  form->LV1->SetPathName(b);
  f.Close();
  EXPECT_EQ(LinesOfFile(fallback), std::vector<std::string>{b});
  EXPECT_EQ(LinesOfFile(usual), std::vector<std::string>{a});
  EXPECT_TRUE(Contains(f.messages, f.state.path() + "/config/tolvane/log"));

  // Run 2, the disk still full: run 1's tab, which stays in the fallback.
  f.messages.clear();
  form = f.Open();
  EXPECT_EQ(form->LV1->GetPathName(), b);
  f.Close();
  EXPECT_EQ(LinesOfFile(fallback), std::vector<std::string>{b});

  // Room again: run 3 still reads the newest copy and saves it in the usual place.
  ASSERT_EQ(unlink((disk.point + "/filler").c_str()), 0);
  form = f.Open();
  EXPECT_EQ(form->LV1->GetPathName(), b);
  f.Close();
  EXPECT_EQ(LinesOfFile(usual), std::vector<std::string>{b});
  // From now on the usual place is the newest: a stale fallback is not read.
  SaveLines(fallback, {a});
  form = f.Open();
  EXPECT_EQ(form->LV1->GetPathName(), b);
}

TEST_F(StateAndShutdown, ListLinkedToAFifoOrDeviceIsLeftAloneAndReportedOnce) {
  const std::string a = Dir("a");
  const std::string fifo = f.state.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink(fifo.c_str(), f.StatePath("log/HistoryPath1.text").c_str()), 0);
  // A character device of our own, as "ln -s /dev/null" makes one a target.
  const std::string device = f.state.path() + "/null";
  const bool haveDevice = mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  if (haveDevice) {
    ASSERT_EQ(symlink(device.c_str(), f.StatePath("log/FileRunPath1.text").c_str()), 0);
  }
  f.WriteLines("log/Path1SL.text", {f.HomePath()});

  TForm1* form = f.Open();
  form->LV1->SetPathName(a);
  f.Close();
  struct stat st;
  ASSERT_EQ(lstat(f.StatePath("log/HistoryPath1.text").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  if (haveDevice) {
    ASSERT_EQ(lstat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
  // The other lists are saved where they belong, and the skipped one is named once.
  EXPECT_EQ(LinesOfFile(f.StatePath("log/Path1SL.text")), std::vector<std::string>{a});
  int named = 0;
  for (const std::string& m : f.messages) named += m.find("HistoryPath1.text") != std::string::npos;
  EXPECT_EQ(named, 1);
  EXPECT_FALSE(Contains(f.messages, "/config/tolvane"));
}

TEST_F(StateAndShutdown, TenThousandTabLinesOpenAtOnceAsTheFirstThousandTabs) {
  // A tab bar lays out every tab again for each one added: 10,000 took half
  // a minute, 100,000 never ended. The first thousand are read, with a message.
  const std::string a = Dir("a");
  std::vector<std::string> tabs(10000, a);
  f.WriteLines("log/Path1SL.text", tabs);
  QElapsedTimer timer;
  timer.start();
  TForm1* form = f.Open();
  EXPECT_LT(timer.elapsed(), 4000);
  EXPECT_EQ(form->TC1->count(), 1000);
  EXPECT_EQ(form->Path1SL.Count(), 1000);
  EXPECT_TRUE(Contains(f.messages, "Path1SL.text"));
  f.Close();
  EXPECT_EQ(LinesOfFile(f.StatePath("log/Path1SL.text")).size(), 1000u);

  // A thousand lines open without a word.
  f.messages.clear();
  f.Open();
  EXPECT_FALSE(Contains(f.messages, "Path1SL.text"));
}

TEST_F(StateAndShutdown, TenThousandBarLinesOpenAtOnceAsTheFirstThousandButtons) {
  const std::string a = Dir("a");
  const std::string file = f.state.file("files/tool.sh", "x");
  std::vector<std::string> folders(10000, a), launchers(10000, file);
  f.WriteLines("log/ToolBar1.txt", launchers);
  f.WriteLines("log/ToolBar2.txt", folders);
  QElapsedTimer timer;
  timer.start();
  TForm1* form = f.Open();
  EXPECT_LT(timer.elapsed(), 4000);  // was four minutes
  EXPECT_EQ(form->Buttons(form->ToolBar1).size(), 1000u);
  EXPECT_EQ(form->Buttons(form->ToolBar2).size(), 1000u);
  EXPECT_TRUE(Contains(f.messages, "ToolBar1.txt"));
  EXPECT_TRUE(Contains(f.messages, "ToolBar2.txt"));
  // A bar built anew on a shown window takes no walk of the window per button.
  form->ClearToolBar(form->ToolBar1, &form->ImageList1);
  TLineList lines;
  lines.Lines.assign(1000, file);
  timer.restart();
  form->BuildLauncherBar(lines, form->ToolBar1, form->ImageList1);
  EXPECT_LT(timer.elapsed(), 1000);
  EXPECT_EQ(form->ImageList1.size(), 1000u);
}

}  // namespace
