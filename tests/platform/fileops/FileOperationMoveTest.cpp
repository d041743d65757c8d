// Moves within and across file systems, failures in the middle of a move,
// non-UTF-8 names, and the progress and cancel seen from the GUI thread.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QKeyEvent>
#include <QTest>
#include <QWidget>
#include <unistd.h>

#include <map>

#include "FileOperationTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"

namespace {

// A tree of files with distinct contents, by path relative to its root.
std::map<std::string, std::string> MakeTree(const std::string& root, int folders, int files) {
  std::map<std::string, std::string> tree;
  std::filesystem::create_directories(root);
  for (int d = 0; d < folders; ++d) {
    std::string folder = "d" + std::to_string(d);
    std::filesystem::create_directories(root + "/" + folder);
    for (int f = 0; f < files; ++f) {
      std::string rel = folder + "/f" + std::to_string(f);
      std::string content = PatternData(100 + 37 * f + d, d * 100 + f);
      std::ofstream(root + "/" + rel, std::ios::binary) << content;
      tree[rel] = content;
    }
  }
  return tree;
}

// Every file is whole in at least one of the two trees, and whatever exists
// in either is whole. Returns how many made it to the target.
int CheckWholeSomewhere(const std::map<std::string, std::string>& tree, const std::string& from,
                        const std::string& to) {
  int moved = 0;
  for (const auto& [rel, content] : tree) {
    bool inSource = Exists(from + "/" + rel),
         inTarget = Exists(to + "/" + rel) && !S_ISDIR(Lstat(to + "/" + rel).st_mode);
    EXPECT_TRUE(inSource || inTarget) << rel << " was lost";
    if (inSource) {
      EXPECT_EQ(ReadWholeFile(from + "/" + rel), content) << rel;
    }
    if (inTarget) {
      EXPECT_EQ(ReadWholeFile(to + "/" + rel), content) << rel;
      ++moved;
    }
  }
  EXPECT_FALSE(HasPartFiles(to));
  return moved;
}

bool SecondFileSystem(const TempDir& disk, const ShmDir& shm) {
  return !shm.path().empty() && DeviceOf(disk.path()) != DeviceOf(shm.path());
}

TEST(FileOperationMove, RenamesWithinAFileSystemAndMergesFolders) {
  TempDir src, dst;
  std::string f = src.file("f.txt", "F");
  std::string d = src.dir("d");
  src.file("d/in", "I");
  ino_t inode = Lstat(f).st_ino;
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_MOVE, {f, d}, dst.path(), 0, ui).code, 0);
  EXPECT_EQ(Lstat(dst / "f.txt").st_ino, inode);  // renamed, not copied
  EXPECT_EQ(ReadWholeFile(dst / "d/in"), "I");
  EXPECT_TRUE(Names(src.path()).empty());

  // Onto itself: nothing happens.
  EXPECT_EQ(RunOp(FO_MOVE, {dst / "f.txt", dst / "d"}, dst.path(), 0, ui).code, 0);
  EXPECT_EQ(Names(dst.path()), (std::vector<std::string>{"d", "f.txt"}));

  // A folder onto a folder merges; files conflict one by one.
  src.dir("d/sub");
  src.file("d/sub/x", "X");
  src.file("d/in", "new");
  src.file("d/keep", "K");
  src.file("f.txt", "F2");
  ui.replaceAnswers = {ConflictAnswer::No, ConflictAnswer::Yes};
  FileOperationResult r = RunOp(FO_MOVE, {src / "d", src / "f.txt"}, dst.path(), 0, ui);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(r.aborted);  // one "no"
  EXPECT_EQ(ui.replaceCalls.size(), 2u);
  EXPECT_EQ(ReadWholeFile(dst / "d/in"), "I");
  EXPECT_EQ(ReadWholeFile(src / "d/in"), "new");  // declined: stays
  EXPECT_EQ(ReadWholeFile(dst / "d/sub/x"), "X");
  EXPECT_EQ(ReadWholeFile(dst / "d/keep"), "K");
  EXPECT_EQ(ReadWholeFile(dst / "f.txt"), "F2");
  EXPECT_EQ(Names(src.path()), std::vector<std::string>{"d"});
  EXPECT_EQ(Names(src / "d"), std::vector<std::string>{"in"});
}

TEST(FileOperationMove, AcrossFileSystemsCopiesChecksAndRemoves) {
  TempDir disk;
  ShmDir shm;
  if (!SecondFileSystem(disk, shm)) GTEST_SKIP() << "/dev/shm is not a second file system here";
  auto tree = MakeTree(shm / "tree", 3, 5);
  chmod((shm / "tree/d1").c_str(), 0751);
  SetMtime(shm / "tree/d1/f2", 1234567890, 999);
  symlink("d0/f0", (shm / "tree/link").c_str());
  SetMtime(shm / "tree/d1", 1300000000, 0);
  std::string lone = shm / "lone.bin";
  std::string loneData = PatternData(5 << 20, 3);
  std::ofstream(lone, std::ios::binary) << loneData;

  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_MOVE, {shm / "tree", lone}, disk.path(), 0, ui).code, 0);
  EXPECT_TRUE(Names(shm.path()).empty());
  EXPECT_EQ(CheckWholeSomewhere(tree, shm / "tree", disk / "tree"), (int)tree.size());
  EXPECT_EQ(ReadWholeFile(disk / "lone.bin"), loneData);
  EXPECT_EQ(Lstat(disk / "tree/d1").st_mode & 07777, 0751u);
  EXPECT_EQ(Lstat(disk / "tree/d1").st_mtim.tv_sec, 1300000000);
  EXPECT_EQ(Lstat(disk / "tree/d1/f2").st_mtim.tv_nsec, 999);
  EXPECT_TRUE(S_ISLNK(Lstat(disk / "tree/link").st_mode));

  // And back, into a folder of the same name that is there already, over
  // a file the user lets it replace.
  std::filesystem::create_directories(shm / "tree/d0");
  std::ofstream(shm / "tree/d0/other") << "o";
  std::ofstream(shm / "tree/d0/f1") << "old";
  ui.replaceAnswers = {ConflictAnswer::Yes};
  EXPECT_EQ(RunOp(FO_MOVE, {disk / "tree"}, shm.path(), 0, ui).code, 0);
  EXPECT_EQ(ui.replaceCalls.size(), 1u);
  EXPECT_FALSE(Exists(disk / "tree"));
  EXPECT_EQ(CheckWholeSomewhere(tree, disk / "tree", shm / "tree"), (int)tree.size());
  EXPECT_EQ(ReadWholeFile(shm / "tree/d0/other"), "o");
  EXPECT_TRUE(ui.errorCalls.empty());
}

TEST(FileOperationMove, AFailureMidwayLeavesEveryFileWholeInOnePlace) {
  TempDir disk;
  ShmDir shm;
  if (!SecondFileSystem(disk, shm)) GTEST_SKIP() << "/dev/shm is not a second file system here";

  // A folder in the way of a file in the middle of the tree: cancel there.
  auto tree = MakeTree(shm / "t1", 3, 8);
  std::filesystem::create_directories(disk / "t1/d1/f4");
  ScriptedFileOperationUI ui;
  ui.errorAnswers = {ErrorAnswer::Cancel};
  FileOperationResult r = RunOp(FO_MOVE, {shm / "t1"}, disk.path(), 0, ui);
  EXPECT_EQ(r.code, FO_ERROR_CANCELLED);
  ASSERT_EQ(ui.errorCalls.size(), 1u);
  EXPECT_EQ(ui.errorCalls[0].error, EEXIST);
  int moved = CheckWholeSomewhere(tree, shm / "t1", disk / "t1");
  EXPECT_GT(moved, 0);
  EXPECT_LT(moved, (int)tree.size());

  // The same failure skipped: the rest moves, the skipped file stays with
  // its folder, and the job does not claim success.
  ScriptedFileOperationUI ui2;
  ui2.errorAnswers = {ErrorAnswer::Skip};
  r = RunOp(FO_MOVE, {shm / "t1"}, disk.path(), 0, ui2);
  EXPECT_EQ(r.code, FO_ERROR_FAILED);
  EXPECT_EQ(CheckWholeSomewhere(tree, shm / "t1", disk / "t1"), (int)tree.size() - 1);
  EXPECT_EQ(Names(shm / "t1"), std::vector<std::string>{"d1"});
  EXPECT_EQ(Names(shm / "t1/d1"), std::vector<std::string>{"f4"});

  // Cancelled at a question in the middle.
  auto tree2 = MakeTree(shm / "t2", 2, 6);
  std::filesystem::create_directories(disk / "t2/d1");
  std::ofstream(disk / "t2/d1/f2") << "in the way";
  ScriptedFileOperationUI ui3;
  ui3.replaceAnswers = {ConflictAnswer::Cancel};
  r = RunOp(FO_MOVE, {shm / "t2"}, disk.path(), 0, ui3);
  EXPECT_EQ(r.code, FO_ERROR_CANCELLED);
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(ReadWholeFile(disk / "t2/d1/f2"), "in the way");
  std::filesystem::remove(disk / "t2/d1/f2");
  moved = CheckWholeSomewhere(tree2, shm / "t2", disk / "t2");
  EXPECT_GT(moved, 0);
  EXPECT_LT(moved, (int)tree2.size());
}

TEST(FileOperation, NonUtf8NamesGoThroughEveryFunction) {
  TempDir dir, dst;
  ShmDir shm;
  const std::string file = "bad\xff\xfe\xe5\x90\x8d.txt", folder = "dir\xc3\x28";
  std::string f = dir.file(file, "N");
  std::string d = dir.dir(folder);
  dir.file(folder + "/" + file, "M");
  ScriptedFileOperationUI ui;
  EXPECT_EQ(RunOp(FO_COPY, {f, d}, dst.path(), 0, ui).code, 0);
  EXPECT_EQ(ReadWholeFile(dst / file), "N");
  EXPECT_EQ(ReadWholeFile(dst / (folder + "/" + file)), "M");
  EXPECT_EQ(RunOp(FO_COPY, {f}, dir.path(), 0, ui).code, 0);
  EXPECT_EQ(ReadWholeFile(dir / "bad\xff\xfe\xe5\x90\x8d - \xE3\x82\xB3\xE3\x83\x94\xE3\x83\xBC.txt"), "N");
  EXPECT_EQ(RunOp(FO_RENAME, {dst / file}, "new\xfe", 0, ui).code, 0);
  EXPECT_EQ(ReadWholeFile(dst / "new\xfe"), "N");
  if (SecondFileSystem(dir, shm)) {
    EXPECT_EQ(RunOp(FO_MOVE, {d}, shm.path(), 0, ui).code, 0);
    EXPECT_EQ(ReadWholeFile(shm / (folder + "/" + file)), "M");
    EXPECT_FALSE(Exists(d));
    d = shm / folder;
  }
  EXPECT_EQ(RunOp(FO_MOVE, {d}, dst.path(), FOF_NOCONFIRMATION, ui).code, 0);  // merges with the copy
  EXPECT_FALSE(Exists(d));
  EXPECT_EQ(RunOp(FO_DELETE, {dst / folder, dst / "new\xfe"}, "", FOF_NOCONFIRMATION, ui).code, 0);
  EXPECT_TRUE(Names(dst.path()).empty());
  EXPECT_EQ(Names(dir.path()).size(), 2u);  // the file and its copy
  EXPECT_TRUE(ui.errorCalls.empty());
}

TEST(FileOperationProgress, ShowsAfterHalfASecondAndCancelStopsSafely) {
  TempDir src, dst;
  std::string big = PatternData(8 << 20, 5);
  std::string a = src.file("a.bin", big), b = src.file("b.txt", "B");
  dst.file("a.bin", "old");

  // A quick job shows no progress.
  ScriptedFileOperationUI quick;
  EXPECT_EQ(RunOp(FO_COPY, {b}, dst.path(), 0, quick).code, 0);
  EXPECT_EQ(quick.progressStarted, 0);
  EXPECT_EQ(quick.progressFinished, 0);
  std::filesystem::remove(dst / "b.txt");

  // The job waits in a question (long past half a second, which is no
  // working time, so no progress shows) until a cancel has been handed over,
  // then is told to replace: the cancel wins, the old file stays and nothing
  // further is copied.
  ScriptedFileOperationUI ui;
  ui.replaceAnswers = {ConflictAnswer::Yes};
  ui.onReplace = [&](const ScriptedFileOperationUI::ReplaceCall&) {
    usleep(700 * 1000);
    ui.Cancel();
    EXPECT_TRUE(ui.WaitFor([&] { return ui.CancelDelivered(); }));
  };
  FileOperationResult r = RunOp(FO_COPY, {a, b}, dst.path(), 0, ui);
  EXPECT_EQ(r.code, FO_ERROR_CANCELLED);
  EXPECT_TRUE(r.aborted);
  EXPECT_EQ(ReadWholeFile(dst / "a.bin"), "old");
  EXPECT_FALSE(Exists(dst / "b.txt"));
  EXPECT_FALSE(HasPartFiles(dst.path()));
  EXPECT_EQ(ui.progressStarted, 0);
  EXPECT_EQ(ui.progressFinished, 0);

  // Silent: the same wait shows nothing.
  ScriptedFileOperationUI silent;
  silent.replaceAnswers = {ConflictAnswer::No};
  silent.onReplace = [](const ScriptedFileOperationUI::ReplaceCall&) { usleep(700 * 1000); };
  EXPECT_EQ(RunOp(FO_COPY, {a}, dst.path(), FOF_SILENT, silent).code, 0);
  EXPECT_EQ(silent.progressStarted, 0);
}

// Counts the keys it receives.
class KeyCounter : public QWidget {
 public:
  int keys = 0;

 protected:
  void keyPressEvent(QKeyEvent*) override { ++keys; }
};

TEST(FileOperationProgress, WindowsOpenBeforeTheJobTakeNoInputMeanwhile) {
  KeyCounter window;
  window.show();
  TempDir src, dst;
  std::string a = src.file("a", "new");
  dst.file("a", "old");
  ScriptedFileOperationUI ui;
  ui.replaceAnswers = {ConflictAnswer::Yes};
  std::atomic<bool> typed{false};
  ui.onReplace = [&](const ScriptedFileOperationUI::ReplaceCall&) {
    // A key typed at the main window while the job waits.
    QMetaObject::invokeMethod(
        &window,
        [&] {
          QTest::keyClick(&window, Qt::Key_C);
          typed = true;
        },
        Qt::QueuedConnection);
    EXPECT_TRUE(ui.WaitFor([&] { return typed.load(); }));
  };
  EXPECT_EQ(RunOp(FO_COPY, {a}, dst.path(), 0, ui).code, 0);
  EXPECT_TRUE(typed);
  EXPECT_EQ(window.keys, 0);
  QTest::keyClick(&window, Qt::Key_C);
  EXPECT_EQ(window.keys, 1);  // and all is as before once it is over
}

}  // namespace
