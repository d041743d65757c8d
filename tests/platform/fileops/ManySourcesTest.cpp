// Many sources of one folder handed as the folder and a block of names: the
// progress shows at once while they are looked up, every one is copied as a
// single one would be, Esc while looking up leaves nothing behind, and a bad
// name refuses the whole request.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "FileOperationTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"

namespace {

constexpr int kFiles = 12000;  // more than a job shows its progress at once for

// kFiles empty files f00000.. in dir, their names as one block.
std::string MakeEmptyFiles(const std::string& dir) {
  std::string names;
  char name[16];
  for (int i = 0; i < kFiles; ++i) {
    std::snprintf(name, sizeof name, "f%05d", i);
    int fd = open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
    names.append(name).push_back('\0');
  }
  return names;
}

FileOperationRequest CopyOf(const std::string& folder, std::string names, const std::string& destination) {
  FileOperationRequest request;
  request.function = FO_COPY;
  request.sourceFolder = folder;
  request.sourceNames = std::move(names);
  request.destination = destination;
  request.flags = FOF_ALLOWUNDO;
  return request;
}

TEST(FileOperationManySources, ShowsPreparingAtOnceAndCopiesEveryOne) {
  TempDir tmp;
  const std::string src = tmp.dir("src"), dst = tmp.dir("dst");
  std::string names = MakeEmptyFiles(src);
  // A folder and a file with data among them, and one given as a path.
  tmp.dir("src/tree");
  tmp.file("src/tree/inner.txt", "inner");
  tmp.file("src/data.bin", PatternData(100000));
  names.append("tree").push_back('\0');
  names += "data.bin";  // the last name needs no NUL
  FileOperationRequest request = CopyOf(src + "/", std::move(names), dst);
  request.sources = {tmp.file("alone.txt", "alone")};
  FileOperationJournal& journal = FileOperationJournal::Instance();
  journal.Clear();
  ScriptedFileOperationUI ui;

  EXPECT_EQ(RunFileOperation(request, &ui).code, 0);
  ASSERT_FALSE(ui.progress.empty());
  EXPECT_EQ(ui.progressStarted, 1);
  // Shown before any source was looked up, with their number.
  EXPECT_TRUE(ui.progress.front().preparing);
  EXPECT_EQ(ui.progress.front().sourcesTotal, uint64_t(kFiles + 3));
  EXPECT_EQ(ui.progress.front().itemsTotal, 0u);
  for (const FileOperationProgress& p : ui.progress) {
    if (!p.preparing) {
      EXPECT_EQ(p.itemsTotal, uint64_t(kFiles + 4));  // the tree's file too
    }
  }

  std::vector<std::string> want = Names(src);
  want.push_back("alone.txt");
  std::sort(want.begin(), want.end());
  EXPECT_EQ(Names(dst), want);
  EXPECT_EQ(ReadWholeFile(dst + "/tree/inner.txt"), "inner");
  EXPECT_EQ(ReadWholeFile(dst + "/data.bin"), PatternData(100000));
  EXPECT_EQ(Lstat(dst + "/f11999").st_size, 0);
  EXPECT_FALSE(HasPartFiles(dst));

  // One undo takes every copy away again, the sources stay.
  ASSERT_TRUE(journal.CanUndo());
  EXPECT_EQ(journal.UndoLast(&ui), 0);
  EXPECT_TRUE(Names(dst).empty());
  EXPECT_EQ(Names(src).size(), size_t(kFiles + 2));
}

TEST(FileOperationManySources, CancelWhileLookingUpLeavesNothing) {
  TempDir tmp;
  const std::string src = tmp.dir("src"), dst = tmp.dir("dst");
  FileOperationJournal& journal = FileOperationJournal::Instance();
  journal.Clear();
  ScriptedFileOperationUI ui;
  ui.Cancel();  // Esc as the progress opens
  FileOperationResult result = RunFileOperation(CopyOf(src, MakeEmptyFiles(src), dst), &ui);
  EXPECT_EQ(result.code, FO_ERROR_CANCELLED);
  EXPECT_TRUE(ui.CancelDelivered());
  ASSERT_FALSE(ui.progress.empty());
  EXPECT_TRUE(ui.progress.front().preparing);
  EXPECT_LT(ui.progress.back().sourcesChecked, uint64_t(kFiles));
  EXPECT_EQ(ui.progressFinished, 1);
  EXPECT_TRUE(Names(dst).empty());  // not a part file, not a name
  EXPECT_FALSE(journal.CanUndo());
}

TEST(FileOperationManySources, BadNamesRefuseTheRequestAndDeleteTakesNames) {
  TempDir tmp;
  const std::string src = tmp.dir("src"), dst = tmp.dir("dst");
  tmp.file("src/a", "A");
  tmp.file("src/b", "B");
  ScriptedFileOperationUI ui;
  for (std::string bad : {std::string("a\0..\0", 5), std::string("a\0\0b\0", 5), std::string("a\0x/y\0", 6)}) {
    EXPECT_EQ(RunFileOperation(CopyOf(src, bad, dst), &ui).code, FO_ERROR_BAD_REQUEST);
    EXPECT_TRUE(Names(dst).empty());
  }
  // Names without their folder.
  EXPECT_EQ(RunFileOperation(CopyOf("", std::string("a\0", 2), dst), &ui).code, FO_ERROR_BAD_REQUEST);

  FileOperationRequest remove;
  remove.function = FO_DELETE;
  remove.sourceFolder = src;
  remove.sourceNames = std::string("a\0b\0", 4);
  remove.flags = FOF_NOCONFIRMATION;
  EXPECT_EQ(RunFileOperation(remove, &ui).code, 0);
  EXPECT_TRUE(Names(src).empty());
}

}  // namespace
