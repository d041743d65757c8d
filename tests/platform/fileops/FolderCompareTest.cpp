// Comparing two folders by time and by content, and a synchronisation carried
// out and undone.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "EnvGuard.h"
#include "FileOperationTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/FolderCompare.h"
#include "platform/fileops/FolderSync.h"

namespace {

constexpr time_t kOld = 1600000000, kNew = 1700000000;

class FolderCompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileOperationJournal::Instance().Clear();
    left_ = tmp_.dir("L");
    right_ = tmp_.dir("R");
  }
  void TearDown() override { FileOperationJournal::Instance().Clear(); }
  void Put(const std::string& path, const std::string& content, time_t mtime) {
    tmp_.file(path, content);
    SetMtime(tmp_ / path, mtime, 0);
  }
  // The usual pair: one of each kind.
  void MakeTrees() {
    tmp_.dir("L/sub");
    tmp_.dir("R/sub");
    tmp_.dir("L/onlyfolder");
    Put("L/onlyfolder/in.txt", "x", kOld);
    Put("L/only-left.txt", "left", kOld);
    Put("R/only-right.txt", "right", kOld);
    Put("L/newer-left.txt", "new text", kNew);
    Put("R/newer-left.txt", "old", kOld);
    Put("L/newer-right.txt", "old", kOld);
    Put("R/newer-right.txt", "new text", kNew);
    Put("L/same.txt", "same bytes", kOld);
    Put("R/same.txt", "same bytes", kOld);
    Put("L/same-bytes-other-time.txt", "twin", kOld);
    Put("R/same-bytes-other-time.txt", "twin", kNew);
    Put("L/same-time-other-bytes.txt", "abcd", kOld);
    Put("R/same-time-other-bytes.txt", "abce", kOld);
    Put("L/sub/deep.txt", "deep new", kNew);
    Put("R/sub/deep.txt", "deep", kOld);
  }
  std::map<std::string, CompareState> States(const CompareOptions& options) {
    CompareResult result = FolderCompare(left_, right_, options).Run();
    EXPECT_TRUE(result.error.empty()) << result.error;
    std::map<std::string, CompareState> states;
    for (const CompareEntry& e : result.entries) states[e.path] = e.state;
    return states;
  }

  TempDir tmp_;
  EnvGuard trashHome_{"XDG_DATA_HOME", tmp_ / "data"};  // the recycle bin of the test
  std::string left_, right_;
  ScriptedFileOperationUI ui_;
};

}  // namespace

TEST_F(FolderCompareTest, ByTimeAndByContent) {
  MakeTrees();
  CompareOptions byTime;
  auto t = States(byTime);
  EXPECT_EQ(t["only-left.txt"], CompareState::OnlyLeft);
  EXPECT_EQ(t["onlyfolder"], CompareState::OnlyLeft);
  EXPECT_EQ(t["only-right.txt"], CompareState::OnlyRight);
  EXPECT_EQ(t["newer-left.txt"], CompareState::NewerLeft);
  EXPECT_EQ(t["newer-right.txt"], CompareState::NewerRight);
  EXPECT_EQ(t["same.txt"], CompareState::Equal);
  EXPECT_EQ(t["same-bytes-other-time.txt"], CompareState::NewerRight);  // time alone cannot tell
  EXPECT_EQ(t["same-time-other-bytes.txt"], CompareState::Equal);       // nor here
  EXPECT_EQ(t.count("sub"), 0u);                                        // both have it; not entered
  EXPECT_EQ(t.count("sub/deep.txt"), 0u);

  CompareOptions byContent;
  byContent.content = true;
  byContent.subfolders = true;
  byContent.threads = 3;
  auto c = States(byContent);
  EXPECT_EQ(c["same-bytes-other-time.txt"], CompareState::Equal);
  EXPECT_EQ(c["same-time-other-bytes.txt"], CompareState::DifferentContent);
  EXPECT_EQ(c["newer-left.txt"], CompareState::NewerLeft);
  EXPECT_EQ(c["sub/deep.txt"], CompareState::NewerLeft);
  EXPECT_EQ(c.count("onlyfolder/in.txt"), 0u);  // a folder on one side is one entry

  CompareResult result = FolderCompare(left_, right_, byContent).Run();
  CompareCounts n = result.Counts();
  EXPECT_EQ(n.onlyLeft, 2u);
  EXPECT_EQ(n.onlyRight, 1u);
  EXPECT_EQ(n.newerLeft, 2u);
  EXPECT_EQ(n.newerRight, 1u);
  EXPECT_EQ(n.equal, 2u);
  EXPECT_EQ(n.different, 1u);
}

TEST_F(FolderCompareTest, LargeFilesDifferingLateAndAFileChangedDuringTheCompare) {
  std::string data = PatternData(3 << 20, 7);
  Put("L/big.bin", data, kOld);
  Put("R/big.bin", data, kOld);
  std::string late = data;
  late[late.size() - 1] ^= 1;
  Put("L/late.bin", data, kOld);
  Put("R/late.bin", late, kOld);
  Put("L/moving.bin", data, kOld);
  Put("R/moving.bin", data, kOld);
  CompareOptions options;
  options.content = true;
  FolderCompare compare(left_, right_, options);
  // Another program writes to the file while it is read.
  compare.SetBeforeReadHook([&](const std::string& path) {
    if (path == "moving.bin") {
      int fd = open((right_ + "/moving.bin").c_str(), O_WRONLY | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(pwrite(fd, "Z", 1, 1 << 20), 1);
      close(fd);
    }
  });
  CompareResult result = compare.Run();
  std::map<std::string, CompareState> s;
  for (const CompareEntry& e : result.entries) s[e.path] = e.state;
  EXPECT_EQ(s["big.bin"], CompareState::Equal);
  EXPECT_EQ(s["late.bin"], CompareState::DifferentContent);
  EXPECT_EQ(s["moving.bin"], CompareState::Changed);
  EXPECT_EQ(compare.BytesDone(), compare.BytesTotal());
  EXPECT_EQ(compare.BytesTotal(), 6u * data.size());
}

TEST_F(FolderCompareTest, ASynchronisationIsCarriedOutAndUndoneAsOneStep) {
  MakeTrees();
  CompareOptions options;
  options.content = true;
  options.subfolders = true;
  std::vector<SyncLine> plan = PlanSync(FolderCompare(left_, right_, options).Run());
  std::map<std::string, SyncAction> suggested;
  for (const SyncLine& line : plan) suggested[line.path] = line.action;
  EXPECT_EQ(suggested["only-left.txt"], SyncAction::ToRight);
  EXPECT_EQ(suggested["only-right.txt"], SyncAction::ToLeft);
  EXPECT_EQ(suggested["newer-right.txt"], SyncAction::ToLeft);
  EXPECT_EQ(suggested["same-time-other-bytes.txt"], SyncAction::Skip);
  for (const SyncLine& line : plan) EXPECT_NE(line.action, SyncAction::DeleteLeft);
  // The user changes two lines: one deletion ticked, one copy skipped.
  for (SyncLine& line : plan) {
    if (line.path == "only-right.txt") line.action = SyncAction::DeleteRight;
    if (line.path == "onlyfolder") line.action = SyncAction::Skip;
  }
  ui_.deleteAnswers = {true};
  SyncOutcome outcome = RunSync(left_, right_, plan, &ui_, nullptr);
  ASSERT_EQ(outcome.code, 0);
  EXPECT_EQ(ReadWholeFile(right_ + "/only-left.txt"), "left");
  EXPECT_EQ(ReadWholeFile(right_ + "/newer-left.txt"), "new text");
  EXPECT_EQ(ReadWholeFile(left_ + "/newer-right.txt"), "new text");
  EXPECT_EQ(ReadWholeFile(right_ + "/sub/deep.txt"), "deep new");
  EXPECT_EQ(Lstat(right_ + "/only-right.txt").st_mode, 0u);
  EXPECT_EQ(Lstat(right_ + "/onlyfolder").st_mode, 0u);
  EXPECT_EQ(ReadWholeFile(right_ + "/same-time-other-bytes.txt"), "abce");
  // Compared again, the copied files are equal now.
  CompareResult again = FolderCompare(left_, right_, options).Run();
  EXPECT_EQ(again.Counts().newerLeft + again.Counts().newerRight, 0u);

  EXPECT_EQ(FileOperationJournal::Instance().NewestDescription(), "同期 (5 項目)");
  ASSERT_EQ(FileOperationJournal::Instance().UndoLast(&ui_), 0) << (ui_.messages.empty() ? "" : ui_.messages.back());
  EXPECT_FALSE(FileOperationJournal::Instance().CanUndo());
  EXPECT_EQ(Lstat(right_ + "/only-left.txt").st_mode, 0u);
  EXPECT_EQ(ReadWholeFile(right_ + "/newer-left.txt"), "old");
  EXPECT_EQ(ReadWholeFile(left_ + "/newer-right.txt"), "old");
  EXPECT_EQ(ReadWholeFile(right_ + "/sub/deep.txt"), "deep");
  EXPECT_EQ(ReadWholeFile(right_ + "/only-right.txt"), "right");
}

TEST_F(FolderCompareTest, PlanLinesOnlyOfferWhatTheSidesAllow) {
  tmp_.dir("L/x");
  Put("R/x", "a file where the left has a folder", kOld);
  CompareResult result = FolderCompare(left_, right_, CompareOptions()).Run();
  ASSERT_EQ(result.entries.size(), 1u);
  EXPECT_EQ(result.entries[0].state, CompareState::DifferentContent);
  std::vector<SyncLine> plan = PlanSync(result);
  EXPECT_EQ(plan[0].action, SyncAction::Skip);
  std::vector<SyncAction> choices = SyncChoices(plan[0]);
  EXPECT_EQ(std::count(choices.begin(), choices.end(), SyncAction::ToRight), 0);
  // A copy the line does not allow is not carried out even when asked for.
  plan[0].action = SyncAction::ToLeft;
  EXPECT_EQ(RunSync(left_, right_, plan, &ui_, nullptr).copied, 0u);
  EXPECT_TRUE(S_ISDIR(Lstat(left_ + "/x").st_mode));
}
