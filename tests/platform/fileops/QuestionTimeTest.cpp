// Time spent waiting for an answer is no working time: a quick job whose
// question waits long never shows its progress, and one that works long
// still does.
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/FileOperation.h"

namespace {

TEST(FileOperationProgress, QuestionsDoNotCountTowardsTheProgressDelay) {
  TempDir tmp;
  tmp.dir("a");
  const std::string source = tmp.file("a/x.txt", "new");
  const std::string target = tmp.dir("b");
  tmp.file("b/x.txt", "old");
  ScriptedFileOperationUI ui;
  ui.replaceAnswers = {ConflictAnswer::Yes};
  // The user thinks for over a second before answering.
  ui.onReplace = [](const ScriptedFileOperationUI::ReplaceCall&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  };
  FileOperationRequest request;
  request.function = FO_COPY;
  request.sources = {source};
  request.destination = target;
  EXPECT_EQ(RunFileOperation(request, &ui).code, 0);
  EXPECT_EQ(ReadWholeFile(target + "/x.txt"), "new");
  EXPECT_EQ(ui.replaceCalls.size(), 1u);
  EXPECT_EQ(ui.progressStarted, 0);

  // A delete confirmation that waits as long shows no progress either (for
  // good, so no trash is touched).
  FileOperationRequest remove;
  remove.function = FO_DELETE;
  remove.sources = {target + "/x.txt"};
  struct SlowConfirm : ScriptedFileOperationUI {
    bool ConfirmDelete(const std::vector<std::string>& paths, bool permanent) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      return ScriptedFileOperationUI::ConfirmDelete(paths, permanent);
    }
  } slow;
  slow.deleteAnswers = {true};
  EXPECT_EQ(RunFileOperation(remove, &slow).code, 0);
  EXPECT_EQ(slow.deleteCalls.size(), 1u);
  EXPECT_EQ(slow.progressStarted, 0);
  EXPECT_FALSE(std::filesystem::exists(target + "/x.txt"));
}

}  // namespace
