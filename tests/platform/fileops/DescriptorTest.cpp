// Every way through the file operations gives back the descriptors it took:
// a long-running window would otherwise run out of them one copy at a time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "FileOperationTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/desktop/OpenWith.h"
#include "platform/fileops/FileOperation.h"
#include "platform/system/TextFiles.h"

namespace {

size_t OpenDescriptors() {
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST(Descriptors, CopyMoveUndoAndLaunchGiveBackWhatTheyOpen) {
  TempDir src, dst;
  ShmDir other;
  ASSERT_FALSE(other.path().empty());
  src.dir("d/e");
  src.file("d/f", "new");
  src.file("d/e/g", PatternData(70000));
  dst.dir("d");
  dst.file("d/f", "old");
  const size_t before = OpenDescriptors();

  // Copied, merged into a folder that was there, then undone.
  FileOperationJournal& journal = FileOperationJournal::Instance();
  journal.Clear();
  ScriptedFileOperationUI ui;
  ui.replaceAnswers = {ConflictAnswer::Yes};
  EXPECT_EQ(RunOp(FO_COPY, {src / "d"}, dst.path(), FOF_ALLOWUNDO, ui).code, 0);
  EXPECT_EQ(ReadWholeFile(dst / "d/e/g"), PatternData(70000));
  EXPECT_EQ(journal.UndoLast(&ui), 0);
  EXPECT_EQ(OpenDescriptors(), before);

  // Failures: a file onto a folder (retried, then skipped), and a missing
  // destination (cancelled).
  src.file("x", "file");
  dst.dir("x");
  ScriptedFileOperationUI failing;
  failing.errorAnswers = {ErrorAnswer::Retry, ErrorAnswer::Skip, ErrorAnswer::Cancel};
  EXPECT_EQ(RunOp(FO_COPY, {src / "x"}, dst.path(), FOF_NOCONFIRMATION, failing).code, FO_ERROR_FAILED);
  EXPECT_NE(RunOp(FO_COPY, {src / "x"}, dst / "missing", FOF_NOCONFIRMATION, failing).code, 0);
  EXPECT_EQ(OpenDescriptors(), before);

  // Moved within the file system into a folder that was there, and across.
  ScriptedFileOperationUI mover;
  mover.defaultReplace = ConflictAnswer::Yes;
  EXPECT_EQ(RunOp(FO_MOVE, {src / "d"}, dst.path(), FOF_NOCONFIRMATION, mover).code, 0);
  EXPECT_FALSE(Exists(src / "d"));
  EXPECT_EQ(RunOp(FO_MOVE, {dst / "d"}, other.path(), FOF_NOCONFIRMATION, mover).code, 0);
  EXPECT_EQ(ReadWholeFile(other / "d/e/g"), PatternData(70000));
  EXPECT_EQ(OpenDescriptors(), before);

  // A started program leaves no end of its report pipe behind.
  EXPECT_TRUE(StartDetachedProgram({"true"}));
  EXPECT_EQ(OpenDescriptors(), before);

  // A file reopened, and a name that is no regular file.
  {
    TReadOnlyFile file;
    EXPECT_EQ(file.Open(other / "d/f"), 0);
    EXPECT_EQ(file.Open(other / "d/e/g"), 0);
    EXPECT_EQ(file.Size(), 70000u);
    EXPECT_EQ(file.Open(other / "d"), -1);
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(file.Open(other / "d/f"), 0);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
