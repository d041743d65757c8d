// The rename-many dialog's live preview, its conflicts and history, and the
// synchronise dialog's editable plan, on real files offscreen.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

#include "EnvGuard.h"
#include "FileChecks.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "app/CompareDialogs.h"
#include "app/RenameManyDialog.h"

namespace {

std::vector<RenameSource> Sources(const std::string& dir, const std::vector<std::string>& names) {
  std::vector<RenameSource> out;
  for (const std::string& name : names) {
    RenameSource s;
    EXPECT_TRUE(LookUpRenameSource(dir, name, s)) << name;
    out.push_back(s);
  }
  return out;
}

}  // namespace

TEST(RenameManyDialogTest, PreviewMarksConflictsAndOkRenamesAndKeepsThePattern) {
  TempDir tmp;
  EnvGuard home("TOLVANE_HOME", tmp.dir("state"));
  tmp.dir("state/log");
  const std::string dir = tmp.dir("photos");
  for (const char* n : {"b.jpg", "a.jpg", "c.jpg"}) tmp.file(std::string("photos/") + n, n);
  tmp.file("photos/x_1.jpg", "not in the batch");
  {
    TRenameManyDialog dialog(nullptr, Sources(dir, {"a.jpg", "b.jpg", "c.jpg"}));
    dialog.show();
    ASSERT_EQ(dialog.Preview->rowCount(), 3);
    EXPECT_FALSE(dialog.OkButton->isEnabled());  // nothing changes yet
    // Typed: the preview follows shortly.
    dialog.NamePattern->setEditText("x_[C]");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.Preview->item(0, 1)->text() == "x_1.jpg"; }, 2000));
    EXPECT_EQ(dialog.Preview->item(0, 2)->text(), QString::fromUtf8(RenameConflictText(RenameConflict::Exists)));
    EXPECT_FALSE(dialog.OkButton->isEnabled());
    EXPECT_TRUE(dialog.Status->text().contains("1 件の問題"));
    // Pressing OK anyway does nothing.
    static_cast<QDialog&>(dialog).accept();
    EXPECT_TRUE(std::filesystem::exists(dir + "/a.jpg"));
    dialog.Start->setValue(2);
    dialog.Width->setValue(3);
    dialog.UpdatePreview();
    EXPECT_EQ(dialog.Preview->item(2, 1)->text(), "x_004.jpg");
    EXPECT_TRUE(dialog.OkButton->isEnabled());
    static_cast<QDialog&>(dialog).accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
  }
  EXPECT_EQ(ReadWholeFile(dir + "/x_002.jpg"), "a.jpg");
  EXPECT_EQ(ReadWholeFile(dir + "/x_004.jpg"), "c.jpg");
  EXPECT_EQ(FileOperationJournal::Instance().NewestDescription(), "名前の一括変更 (3 項目)");
  ASSERT_EQ(FileOperationJournal::Instance().UndoLast(nullptr), 0);
  EXPECT_EQ(ReadWholeFile(dir + "/a.jpg"), "a.jpg");

  // The next time, the pattern is offered again with its extension pattern.
  TRenameManyDialog again(nullptr, Sources(dir, {"a.jpg"}));
  ASSERT_GE(again.NamePattern->count(), 1);
  EXPECT_EQ(again.NamePattern->itemText(0), "x_[C]");
  EXPECT_EQ(again.NamePattern->itemData(0).toString(), "[E]");
}

TEST(RenameManyDialogTest, ARaceAfterThePreviewIsRefusedWithNothingChanged) {
  TempDir tmp;
  EnvGuard home("TOLVANE_HOME", tmp.dir("state"));
  const std::string dir = tmp.dir("d");
  tmp.file("d/a", "a");
  TRenameManyDialog dialog(nullptr, Sources(dir, {"a"}));
  dialog.NamePattern->setEditText("b");
  dialog.UpdatePreview();
  ASSERT_TRUE(dialog.OkButton->isEnabled());
  tmp.file("d/b", "came meanwhile");
  static_cast<QDialog&>(dialog).accept();  // the preview is made again first: the conflict shows, nothing runs
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_FALSE(dialog.OkButton->isEnabled());
  EXPECT_EQ(ReadWholeFile(dir + "/a"), "a");
  EXPECT_EQ(ReadWholeFile(dir + "/b"), "came meanwhile");
}

TEST(SyncDialogTest, LinesCanBeChangedOneByOneAndTheRunIsOneUndoStep) {
  TempDir tmp;
  EnvGuard trash("XDG_DATA_HOME", tmp.dir("data"));
  const std::string l = tmp.dir("L"), r = tmp.dir("R");
  tmp.file("L/new.txt", "new");
  tmp.file("R/extra.txt", "extra");
  tmp.file("R/keep.txt", "keep");
  CompareResult result = FolderCompare(l, r, CompareOptions()).Run();
  TSyncDialog dialog(nullptr, l, r, PlanSync(result));
  ASSERT_EQ(dialog.Table->rowCount(), 3);
  // No line deletes unless set so on that line.
  for (const SyncLine& line : dialog.Plan())
    EXPECT_TRUE(line.action != SyncAction::DeleteLeft && line.action != SyncAction::DeleteRight);
  EXPECT_FALSE(dialog.SetAction("new.txt", SyncAction::ToLeft));  // nothing on the right to copy
  EXPECT_TRUE(dialog.SetAction("extra.txt", SyncAction::DeleteRight));
  EXPECT_TRUE(dialog.SetAction("keep.txt", SyncAction::Skip));
  EXPECT_TRUE(dialog.Status->text().contains("削除"));
  ScriptedFileOperationUI ui;
  ui.deleteAnswers = {true};
  SetFileOperationUIOverride(&ui);
  static_cast<QDialog&>(dialog).accept();
  SetFileOperationUIOverride(nullptr);
  EXPECT_EQ(ReadWholeFile(r + "/new.txt"), "new");
  EXPECT_FALSE(std::filesystem::exists(r + "/extra.txt"));
  EXPECT_FALSE(std::filesystem::exists(l + "/keep.txt"));
  ASSERT_EQ(FileOperationJournal::Instance().UndoLast(&ui), 0);
  EXPECT_FALSE(std::filesystem::exists(r + "/new.txt"));
  EXPECT_EQ(ReadWholeFile(r + "/extra.txt"), "extra");
  EXPECT_EQ(CompareSummary(result.Counts()).count("\n"), 5);
}
