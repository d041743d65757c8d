// Undo through the engine's own records while the files change: edits made
// while the job still ran, a mount inside a copy, whole-second file systems,
// a time set back, a cancelled move, and a trash slot taken by another item.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "EnvGuard.h"
#include "FileOperationTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"
#include "platform/fileops/Trash.h"

namespace {

FileOperationJournal& Journal() { return FileOperationJournal::Instance(); }

TEST(UndoSafety, EditsMadeWhileTheJobStillRanAreKept) {
  TempDir tmp;
  tmp.dir("s/T");
  tmp.dir("d");
  tmp.file("s/T/a", "a");
  tmp.file("s/trig", "new trig");
  tmp.file("d/trig", "old trig");
  Journal().Clear();
  ScriptedFileOperationUI ui;
  ui.replaceAnswers = {ConflictAnswer::No};
  // T is copied already while the question about trig is open.
  ui.onReplace = [&](const ScriptedFileOperationUI::ReplaceCall&) {
    std::ofstream(tmp / "d/T/a", std::ios::app) << " and the user's edit";
    std::ofstream(tmp / "d/T/notes") << "notes";
  };
  EXPECT_EQ(RunOp(FO_COPY, {tmp / "s/T", tmp / "s/trig"}, tmp / "d", FOF_ALLOWUNDO, ui).code, 0);
  ASSERT_TRUE(Journal().CanUndo());
  EXPECT_NE(Journal().UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(tmp / "d/T/a"), "a and the user's edit");
  EXPECT_EQ(ReadWholeFile(tmp / "d/T/notes"), "notes");
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.back().find("元に戻せません"), std::string::npos);

  // The edit alone, without anything new, refuses as well.
  std::filesystem::remove(tmp / "d/T/notes");
  Journal().Clear();
  std::filesystem::remove_all(tmp / "d/T");
  ui.onReplace = nullptr;
  ui.replaceAnswers = {ConflictAnswer::No};
  EXPECT_EQ(RunOp(FO_COPY, {tmp / "s/T", tmp / "s/trig"}, tmp / "d", FOF_ALLOWUNDO, ui).code, 0);
  std::ofstream(tmp / "d/T/a", std::ios::app) << "!";
  EXPECT_NE(Journal().UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(tmp / "d/T/a"), "a!");
  Journal().Clear();
}

TEST(UndoSafety, NoRemovalCrossesIntoAMount) {
  TempDir tmp;
  tmp.dir("s/T/disk");
  tmp.file("s/T/f", "f");
  tmp.dir("d");
  std::string other = tmp.dir("other");
  tmp.file("other/keep", "somebody else's");
  Journal().Clear();
  ScriptedFileOperationUI ui;
  ui.defaultError = ErrorAnswer::Skip;
  ASSERT_EQ(RunOp(FO_COPY, {tmp / "s/T"}, tmp / "d", FOF_ALLOWUNDO, ui).code, 0);
  {
    BindMount bind(other, tmp / "d/T/disk");
    if (!bind.mounted()) GTEST_SKIP() << "bind mounts are not permitted here";
    EXPECT_NE(Journal().UndoLast(&ui), 0);
    EXPECT_EQ(ReadWholeFile(tmp / "other/keep"), "somebody else's");
    EXPECT_EQ(ReadWholeFile(tmp / "d/T/f"), "f");

    // Deleting for good stops at the mount too.
    FileOperationResult r = RunOp(FO_DELETE, {tmp / "d/T"}, "", FOF_NOCONFIRMATION, ui);
    EXPECT_EQ(r.code, FO_ERROR_FAILED);
    ASSERT_FALSE(ui.errorCalls.empty());
    EXPECT_EQ(ui.errorCalls.back().error, EXDEV);
    EXPECT_EQ(ReadWholeFile(tmp / "other/keep"), "somebody else's");
  }
  EXPECT_EQ(ReadWholeFile(tmp / "other/keep"), "somebody else's");
  Journal().Clear();
}

// An ext4 file system with 128-byte inodes, which keep whole seconds only.
class WholeSecondMount {
 public:
  WholeSecondMount() {
    std::string image = base_ / "image", dir = base_.dir("mnt");
    std::string make = "truncate -s 16M '" + image + "' && mkfs.ext4 -q -F -I 128 '" + image + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) return;
    mounted_ = std::system(("mount -o loop '" + image + "' '" + dir + "' 2>/dev/null").c_str()) == 0;
    path_ = dir;
  }
  ~WholeSecondMount() {
    if (mounted_) std::system(("umount '" + path_ + "'").c_str());
  }
  bool mounted() const { return mounted_; }
  const std::string& path() const { return path_; }

 private:
  TempDir base_;
  std::string path_;
  bool mounted_ = false;
};

TEST(UndoSafety, UndoesCopiesOnFileSystemsWithWholeSecondTimes) {
  WholeSecondMount ext4;
  if (!ext4.mounted()) GTEST_SKIP() << "cannot mount an ext4 image here";
  TempDir src;
  std::string file = src.file("c", "content");
  SetMtime(file, 1700000000, 123456789);
  Journal().Clear();
  ScriptedFileOperationUI ui;
  ASSERT_EQ(RunOp(FO_COPY, {file}, ext4.path(), FOF_ALLOWUNDO, ui).code, 0);
  ASSERT_EQ(Lstat(ext4.path() + "/c").st_mtim.tv_nsec, 0) << "this file system keeps nanoseconds";
  EXPECT_EQ(Journal().UndoLast(&ui), 0);
  EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
  EXPECT_FALSE(Exists(ext4.path() + "/c"));
  EXPECT_EQ(ReadWholeFile(file), "content");
}

TEST(UndoSafety, ACopyChangedAndGivenItsOldTimeBackIsKept) {
  TempDir src, dst;
  std::string file = src.file("c", "version 1");
  Journal().Clear();
  ScriptedFileOperationUI ui;
  ASSERT_EQ(RunOp(FO_COPY, {file}, dst.path(), FOF_ALLOWUNDO, ui).code, 0);
  struct stat left = Lstat(dst / "c");
  // As rsync -t or cp -p leave it: same size, the old time.
  std::ofstream(dst / "c", std::ios::trunc) << "version 2";
  SetMtime(dst / "c", left.st_mtim.tv_sec, left.st_mtim.tv_nsec);
  EXPECT_NE(Journal().UndoLast(&ui), 0);
  EXPECT_EQ(ReadWholeFile(dst / "c"), "version 2");
  Journal().Clear();
}

TEST(UndoSafety, ACancelledMoveAcrossFileSystemsCanBeUndone) {
  TinyMount tiny("size=1m");
  if (!tiny.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
  TempDir disk;
  std::vector<std::string> data;
  disk.dir("T");
  for (int i = 0; i < 5; ++i) {
    data.push_back(PatternData(300 << 10, i + 1));
    disk.file("T/f" + std::to_string(i), data.back());
  }
  Journal().Clear();
  ScriptedFileOperationUI ui;
  ui.errorAnswers = {ErrorAnswer::Cancel};
  FileOperationResult r = RunOp(FO_MOVE, {disk / "T"}, tiny.path(), FOF_ALLOWUNDO, ui);
  EXPECT_EQ(r.code, FO_ERROR_CANCELLED);
  ASSERT_EQ(ui.errorCalls.size(), 1u);
  EXPECT_EQ(ui.errorCalls[0].error, ENOSPC);
  size_t moved = Names(tiny / "T").size();
  EXPECT_GE(moved, 1u);
  EXPECT_LT(moved, 5u);
  ASSERT_TRUE(Journal().CanUndo());
  EXPECT_EQ(Journal().UndoLast(&ui), 0);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(ReadWholeFile(disk / "T/f" + std::to_string(i)) == data[i]) << i;
  EXPECT_TRUE(Names(tiny / "T").empty());
  Journal().Clear();
}

TEST(UndoSafety, TrashUndoRestoresOnlyTheRecordedItem) {
  TempDir tmp;
  EnvGuard data("XDG_DATA_HOME", tmp / "data");
  tmp.dir("p1/foo");
  tmp.dir("p2/foo");
  tmp.file("p1/foo/one", "p1's");
  tmp.file("p2/foo/two", "p2's");
  Journal().Clear();
  ScriptedFileOperationUI ui;
  ASSERT_EQ(RunOp(FO_DELETE, {tmp / "p1/foo"}, "", FOF_ALLOWUNDO | FOF_NOCONFIRMATION, ui).code, 0);
  std::string slot = tmp / "data/Trash/files/foo", info = tmp / "data/Trash/info/foo.trashinfo";
  ASSERT_TRUE(Exists(slot));
  // Emptied by another program, and the slot taken by p2's folder.
  std::filesystem::remove_all(slot);
  std::filesystem::remove(info);
  TrashedItem other;
  int error = 0;
  ASSERT_TRUE(MoveToTrash(tmp / "p2/foo", other, error));
  ASSERT_EQ(other.filesPath, slot);

  EXPECT_NE(Journal().UndoLast(&ui), 0);
  EXPECT_FALSE(Exists(tmp / "p1/foo"));
  EXPECT_EQ(ReadWholeFile(slot + "/two"), "p2's");
  EXPECT_TRUE(Exists(info));
  Journal().Clear();
}

}  // namespace
