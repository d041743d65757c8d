// Renaming a batch as one job: chains, cycles, a failure halfway that puts
// everything back, identities, and the batch undone as one step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FileOperationTestUtil.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/fileops/BatchRename.h"
#include "platform/fileops/RenamePattern.h"

namespace {

class BatchRenameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileOperationJournal::Instance().Clear();
    dir_ = tmp_.dir("d");
  }
  void TearDown() override { FileOperationJournal::Instance().Clear(); }
  std::string Make(const std::string& name) { return tmp_.file("d/" + name, "content of " + name); }
  std::string Content(const std::string& name) { return ReadWholeFile(dir_ + "/" + name); }
  BatchRenameItem Item(const std::string& from, const std::string& to) {
    struct stat st = Lstat(dir_ + "/" + from);
    return {dir_, from, to, st.st_dev, st.st_ino};
  }

  TempDir tmp_;
  std::string dir_;
  ScriptedFileOperationUI ui_;
};

}  // namespace

TEST_F(BatchRenameTest, ChainsAndCyclesGoThroughTemporaryNames) {
  for (const char* n : {"a", "b", "c", "x", "y"}) Make(n);
  // a <-> b, and the chain x -> y -> z, and c stays.
  BatchRename job({Item("a", "b"), Item("b", "a"), Item("y", "z"), Item("x", "y"), Item("c", "c")});
  BatchRenameResult result = job.Run(true);
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_EQ(result.renamed, 4u);
  EXPECT_EQ(Content("a"), "content of b");
  EXPECT_EQ(Content("b"), "content of a");
  EXPECT_EQ(Content("y"), "content of x");
  EXPECT_EQ(Content("z"), "content of y");
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a", "b", "c", "y", "z"}));  // no temporary left

  // The whole batch is one undo step, cycle and all.
  EXPECT_EQ(FileOperationJournal::Instance().NewestDescription(), "名前の一括変更 (4 項目)");
  ASSERT_EQ(FileOperationJournal::Instance().UndoLast(&ui_), 0);
  EXPECT_EQ(Content("a"), "content of a");
  EXPECT_EQ(Content("b"), "content of b");
  EXPECT_EQ(Content("x"), "content of x");
  EXPECT_EQ(Content("y"), "content of y");
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a", "b", "c", "x", "y"}));
  EXPECT_FALSE(FileOperationJournal::Instance().CanUndo());
}

TEST_F(BatchRenameTest, AFailureHalfwayPutsEveryFileBack) {
  std::vector<BatchRenameItem> items;
  for (int i = 0; i < 6; ++i) {
    Make("f" + std::to_string(i));
    items.push_back(Item("f" + std::to_string(i), "g" + std::to_string(i)));
  }
  // A cycle as well: it waits for the free names, so it never starts.
  Make("p");
  Make("q");
  items.push_back(Item("p", "q"));
  items.push_back(Item("q", "p"));
  BatchRename job(items);
  // Another program takes a name the batch needs once three steps are done.
  job.SetStepHook([&](size_t step) {
    if (step == 3) tmp_.file("d/g4", "someone else's");
  });
  BatchRenameResult result = job.Run(true);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find("「f4」"), std::string::npos) << result.message;
  EXPECT_NE(result.message.find("元の名前に戻しました"), std::string::npos) << result.message;
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Content("f" + std::to_string(i)), "content of f" + std::to_string(i));
  EXPECT_EQ(Content("p"), "content of p");
  EXPECT_EQ(Content("q"), "content of q");
  EXPECT_EQ(Content("g4"), "someone else's");
  EXPECT_EQ(Names(dir_).size(), 9u);
  EXPECT_FALSE(FileOperationJournal::Instance().CanUndo());
}

TEST_F(BatchRenameTest, NothingMovesWhenANameIsTakenOrAFileWasSwapped) {
  Make("a");
  Make("b");
  Make("taken");
  BatchRenameResult result = BatchRename({Item("a", "a2"), Item("b", "taken")}).Run(true);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.message.find("何も変更していません"), std::string::npos);
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a", "b", "taken"}));

  // "b" was listed, then replaced by another file under the same name.
  BatchRenameItem listed = Item("b", "b2");
  Make("b.new");  // made while the old one lives: another inode for sure
  ASSERT_EQ(rename((dir_ + "/b.new").c_str(), (dir_ + "/b").c_str()), 0);
  result = BatchRename({Item("a", "a2"), listed}).Run(true);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a", "b", "taken"}));

  // Two files given one name.
  result = BatchRename({Item("a", "z"), Item("b", "z")}).Run(true);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a", "b", "taken"}));
}

TEST_F(BatchRenameTest, UndoRefusesWhenAFileChangedAndKeepsTheStep) {
  Make("a");
  Make("b");
  ASSERT_TRUE(BatchRename({Item("a", "b"), Item("b", "c")}).Run(true).ok);
  // Someone edits one of the renamed files: undoing must not carry it off.
  tmp_.file("d/c", "edited");
  EXPECT_NE(FileOperationJournal::Instance().UndoLast(&ui_), 0);
  ASSERT_FALSE(ui_.messages.empty());
  EXPECT_NE(ui_.messages.back().find("変更されています"), std::string::npos);
  EXPECT_TRUE(FileOperationJournal::Instance().CanUndo());
  EXPECT_EQ(Names(dir_), (std::vector<std::string>{"b", "c"}));
}

TEST_F(BatchRenameTest, APatternRenamesTwentyPhotosAndUndoBringsThemBack) {
  std::vector<RenameSource> sources;
  for (int i = 1; i <= 20; ++i) {
    std::string name = "IMG_" + std::to_string(1000 + i) + ".jpg";
    Make(name);
    RenameSource s;
    ASSERT_TRUE(LookUpRenameSource(dir_, name, s));
    sources.push_back(s);
  }
  RenameRule rule;
  rule.namePattern = "旅行_[C:3]";
  auto rows = PreviewRename(rule, sources);
  ASSERT_FALSE(AnyRenameConflict(rows));
  std::vector<BatchRenameItem> items;
  for (size_t i = 0; i < rows.size(); ++i)
    items.push_back({dir_, rows[i].oldName, rows[i].newName, sources[i].dev, sources[i].ino});
  ASSERT_TRUE(BatchRename(items).Run(true).ok);
  EXPECT_EQ(Content("旅行_001.jpg"), "content of IMG_1001.jpg");
  EXPECT_EQ(Content("旅行_020.jpg"), "content of IMG_1020.jpg");
  ASSERT_EQ(FileOperationJournal::Instance().UndoLast(&ui_), 0);
  EXPECT_EQ(Content("IMG_1020.jpg"), "content of IMG_1020.jpg");
  EXPECT_EQ(Names(dir_).size(), 20u);
}
