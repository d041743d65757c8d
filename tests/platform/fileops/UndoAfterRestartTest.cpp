// Undo that outlives the program (the journal in the state folder, read
// again as at a restart) and an undo that fails for want of space and can be
// tried again once there is room.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "EnvGuard.h"
#include "FileOperationTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/Trash.h"

namespace {

// The program's journal kept in a file for a test's span.
class JournalFile {
 public:
  explicit JournalFile(const std::string& path) : path_(path) { FileOperationJournal::Instance().UseFile(path); }
  ~JournalFile() {
    FileOperationJournal::Instance().Clear();
    FileOperationJournal::Instance().UseFile("");
  }
  // As after a restart: nothing in memory, everything read from the file again.
  void Restart() {
    FileOperationJournal::Instance().UseFile("");
    EXPECT_FALSE(FileOperationJournal::Instance().CanUndo());
    FileOperationJournal::Instance().UseFile(path_);
  }

 private:
  std::string path_;
};

}  // namespace

TEST(UndoAfterRestart, MovesBackOnlyWhatIsStillTheItemItMoved) {
  TempDir dir;
  JournalFile journal(dir / "undo-journal");
  std::string from = dir.dir("from"), to = dir.dir("to");
  // A name no text format would keep as it is.
  std::string odd = "odd\nname\xff";
  dir.file("from/" + odd, "first");
  dir.file("from/swapped", "second");
  ScriptedFileOperationUI ui;
  ASSERT_EQ(RunOp(FO_MOVE, {from + "/swapped"}, to, FOF_ALLOWUNDO, ui).code, 0);
  ASSERT_EQ(RunOp(FO_MOVE, {from + "/" + odd}, to, FOF_ALLOWUNDO, ui).code, 0);
  EXPECT_EQ(Lstat(dir / "undo-journal").st_mode & 0777, 0600u);

  journal.Restart();
  ASSERT_TRUE(FileOperationJournal::Instance().CanUndo());
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(from + "/" + odd), "first");

  // Another file under the moved one's name, with its contents and time: not it.
  journal.Restart();
  std::string moved = to + "/swapped";
  struct stat before = Lstat(moved);
  ASSERT_EQ(unlink(moved.c_str()), 0);
  dir.file("to/swapped", "second");
  SetMtime(moved, before.st_mtim.tv_sec, before.st_mtim.tv_nsec);
  EXPECT_NE(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_FALSE(Exists(from + "/swapped"));
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.back().find("変更されています"), std::string::npos) << ui.messages.back();
  // Refused, it stays for later, also in the file.
  journal.Restart();
  EXPECT_TRUE(FileOperationJournal::Instance().CanUndo());
}

TEST(UndoAfterRestart, AFailedUndoLeavesNothingInTheWayOfTheNextTry) {
  TinyMount small("size=1m");
  if (!small.mounted()) GTEST_SKIP() << "tmpfs mounts are not permitted here";
  TempDir dir;
  JournalFile journal(dir / "undo-journal");
  std::string folder = small / "folder";
  mkdir(folder.c_str(), 0755);
  std::string data = PatternData(600 << 10);
  std::ofstream(folder + "/big", std::ios::binary) << data;
  ScriptedFileOperationUI ui;
  ASSERT_EQ(RunOp(FO_MOVE, {folder}, dir.path(), FOF_ALLOWUNDO, ui).code, 0);
  ASSERT_FALSE(Exists(folder));

  // The space is taken meanwhile: the move back fails (answered with cancel).
  std::ofstream(small / "filler", std::ios::binary) << PatternData(700 << 10);
  EXPECT_NE(FileOperationJournal::Instance().UndoLast(&ui), 0);
  ASSERT_FALSE(ui.errorCalls.empty());
  EXPECT_EQ(ui.errorCalls.back().error, ENOSPC);
  EXPECT_FALSE(Exists(folder));
  EXPECT_EQ(ReadWholeFile(dir / "folder/big"), data);

  unlink((small / "filler").c_str());
  EXPECT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(folder + "/big"), data);
  EXPECT_FALSE(Exists(dir / "folder"));
}

TEST(TrashEdges, AFullDiskIsNamedAndLeavesNoTrashFolderBehind) {
  TinyMount small("size=1m,nr_inodes=64");
  if (!small.mounted()) GTEST_SKIP() << "tmpfs mounts are not permitted here";
  std::string victim = small / "victim";
  std::ofstream(victim) << "v";
  // Every inode taken but two: the trash folder and its files/ fit, its info/ does not.
  std::vector<std::string> fillers;
  for (int i = 0;; ++i) {
    std::string f = small / ("f" + std::to_string(i));
    int fd = open(f.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd < 0) break;
    close(fd);
    fillers.push_back(f);
  }
  ASSERT_GE(fillers.size(), 2u);
  unlink(fillers.back().c_str());
  unlink(fillers[fillers.size() - 2].c_str());
  ScriptedFileOperationUI ui;
  ui.deleteAnswers.push_back(true);
  RunOp(FO_DELETE, {victim}, "", FOF_ALLOWUNDO | FOF_SILENT, ui);
  ASSERT_EQ(ui.permanentReasons.size(), 1u);
  EXPECT_NE(ui.permanentReasons[0].find("空き領域"), std::string::npos) << ui.permanentReasons[0];
  EXPECT_TRUE(Exists(victim));  // declined: still there
  EXPECT_FALSE(Exists(small / ".Trash-" + std::to_string(getuid())));
}

TEST(TrashEdges, RestoreRefusesAParentFolderThatBecameALink) {
  TempDir dir;
  EnvGuard data("XDG_DATA_HOME", dir / "data");
  JournalFile journal(dir / "undo-journal");
  std::string folder = dir.dir("docs");
  std::string elsewhere = dir.dir("elsewhere");
  std::string file = dir.file("docs/note", "n");
  ScriptedFileOperationUI ui;
  ui.deleteAnswers.push_back(true);
  ASSERT_EQ(RunOp(FO_DELETE, {file}, "", FOF_ALLOWUNDO, ui).code, 0);
  ASSERT_FALSE(Exists(file));
  ASSERT_EQ(rmdir(folder.c_str()), 0);
  ASSERT_EQ(symlink(elsewhere.c_str(), folder.c_str()), 0);

  EXPECT_NE(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_TRUE(Names(elsewhere).empty());
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.back().find(elsewhere), std::string::npos) << ui.messages.back();
  // The engine's restore refuses on its own as well.
  for (const TrashedItem& item : ListTrashedItems()) {
    if (item.originalPath != file) continue;
    int error = 0;
    EXPECT_FALSE(RestoreFromTrash(item, error));
    EXPECT_EQ(error, ELOOP);
  }
  EXPECT_TRUE(Names(elsewhere).empty());
}
