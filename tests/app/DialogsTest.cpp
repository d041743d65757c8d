// The four small dialogs on real files and real folder lists: renaming that
// never replaces, the view dialog applying to one pane, running a script with
// parameters in its folder, and the new-folder name.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

#include "FileChecks.h"
#include "TempDir.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/InputNewDirDlg.h"
#include "shell/ShellListView.h"
#include "shell/watch/WatcherThread.h"

namespace {

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Shows a dialog without a modal loop and makes it the active window, as exec() would.
void ShowActive(QDialog& dialog) {
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
}

// A key as the user types it: to whatever has the focus.
void Press(QDialog& dialog, Qt::Key key) {
  QWidget* target = QApplication::focusWidget();
  QTest::keyClick(target ? target : &dialog, key);
}

// Types text as the keyboard delivers it, one character per key (also beyond ASCII).
void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Clicks a radio button on its mark (a button stretched by its group is not
// clickable in its empty right part).
void Pick(QRadioButton* button) { QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2)); }

// --- Rename ----------------------------------------------------------------------

TEST(RenameDialog, RenamesASeriesWithEnterAndOneDialog) {
  TempDir dir;
  std::string first = dir.file("old one.txt", "1");
  std::string second = dir.file("second", "2");
  TForm2 dialog;
  dialog.SetFileName(first);
  ShowActive(dialog);
  EXPECT_EQ(dialog.Edit1->text(), "old one.txt");
  EXPECT_EQ(QApplication::focusWidget(), dialog.Edit1);
  dialog.Edit1->selectAll();
  Type(dialog.Edit1, "新しい名前.txt");
  QTest::keyClick(dialog.Edit1, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  // The same dialog serves the next file of the series.
  dialog.SetFileName(second);
  ShowActive(dialog);
  EXPECT_EQ(dialog.Edit1->text(), "second");
  dialog.Edit1->setText("second.md");
  QTest::mouseClick(dialog.OK, Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"second.md", "新しい名前.txt"}));
  EXPECT_EQ(ReadWholeFile(dir / "新しい名前.txt"), "1");
  EXPECT_EQ(ReadWholeFile(dir / "second.md"), "2");
}

TEST(RenameDialog, AFailedRenameSaysWhyAndKeepsTheDialogForAnotherName) {
  TempDir dir;
  std::string a = dir.file("a.txt", "keep a");
  dir.file("b.txt", "keep b");
  dir.dir("sub");
  TForm2 dialog;
  dialog.SetFileName(a);
  ShowActive(dialog);
  // Taken, empty, and names that would move the file elsewhere: the file stays,
  // the dialog stays open with the reason and the name to correct.
  const std::vector<std::pair<QString, QString>> cases = {{"b.txt", "同じ名前のファイルが既にあります"},
                                                          {"", "名前を入力してください"},
                                                          {"sub/a.txt", "この名前は使えません"},
                                                          {"../a.txt", "この名前は使えません"}};
  for (const auto& [name, reason] : cases) {
    dialog.Edit1->setText(name);
    QTest::keyClick(dialog.Edit1, Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible()) << name.toStdString();
    EXPECT_TRUE(dialog.Label2->text().startsWith("名前を変更できません")) << dialog.Label2->text().toStdString();
    EXPECT_TRUE(dialog.Label2->text().contains(reason)) << dialog.Label2->text().toStdString();
    EXPECT_EQ(dialog.Edit1->text(), name);
  }
  EXPECT_EQ(ReadWholeFile(dir / "a.txt"), "keep a");
  EXPECT_EQ(ReadWholeFile(dir / "b.txt"), "keep b");
  EXPECT_TRUE(Entries(dir / "sub").empty());
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"a.txt", "b.txt", "sub"}));

  // Corrected in the same dialog: renamed, closed; the next file starts with the plain prompt.
  dialog.Edit1->setText("c.txt");
  QTest::keyClick(dialog.Edit1, Qt::Key_Enter);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(ReadWholeFile(dir / "c.txt"), "keep a");
  dialog.SetFileName(dir / "b.txt");
  ShowActive(dialog);
  EXPECT_EQ(dialog.Label2->text(), "名前を変えてください");
  dialog.close();
}

TEST(RenameDialog, OKOnAnUntouchedNameThatIsNotUtf8KeepsItsBytes) {
  TempDir dir;
  std::string odd = dir.file("caf\xe9.txt", "x");
  TForm2 dialog;
  dialog.SetFileName(odd);
  ShowActive(dialog);
  QTest::mouseClick(dialog.OK, Qt::LeftButton);
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"caf\xe9.txt"});
}

TEST(RenameDialog, EscapeStaysOpenCancelAndCloseBoxRenameNothing) {
  TempDir dir;
  std::string file = dir.file("name.txt", "n");
  TForm2 dialog;
  dialog.SetFileName(file);
  ShowActive(dialog);
  dialog.Edit1->setText("other.txt");
  Press(dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ShowActive(dialog);
  dialog.Edit1->setText("other.txt");
  dialog.close();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"name.txt"});
}

// --- View dialog ---------------------------------------------------------------

class ViewDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (TempDir* dir : {&left, &right}) {
      dir->file("a.txt", std::string(100, 'a'));
      dir->file("b.txt", std::string(300, 'b'));
      dir->file("c.txt", std::string(200, 'c'));
      dir->file(".hidden", "h");
    }
    lv1 = MakeList(left.path(), vsReport);
    lv2 = MakeList(right.path(), vsSmallIcon);
  }
  void TearDown() override {
    lv1.reset();
    lv2.reset();
    WaitForWatcherThreads();
  }

  static std::unique_ptr<TShellListView> MakeList(const std::string& path, TViewStyle style) {
    auto list = std::make_unique<TShellListView>();
    list->resize(500, 300);
    list->SetViewStyleProperty(style);
    list->SetPathName(path);
    list->show();
    return list;
  }
  static std::vector<std::string> Names(TShellListView* list) {
    std::vector<std::string> names;
    for (int i = 0; i < list->FileList()->Count(); ++i) names.push_back(list->FileList()->Items(i)->GetDisplayName());
    return names;
  }

  TempDir left, right;
  std::unique_ptr<TShellListView> lv1, lv2;
};

TEST_F(ViewDialogTest, OpensOnTheChosenListAndAppliesToItOnly) {
  const std::vector<std::string> byName{".hidden", "a.txt", "b.txt", "c.txt"};
  ASSERT_EQ(Names(lv1.get()), byName);
  ASSERT_EQ(Names(lv2.get()), byName);

  TForm3 dialog(lv1.get(), lv2.get());
  dialog.RadioGroup4->SetItemIndex(1);
  ShowActive(dialog);
  EXPECT_EQ(dialog.RadioGroup1->ItemIndex(), static_cast<int>(vsSmallIcon));
  EXPECT_TRUE(dialog.CheckBox1->isChecked());
  EXPECT_EQ(dialog.RadioGroup2->ItemIndex(), 0);
  EXPECT_EQ(dialog.RadioGroup3->ItemIndex(), 0);
  EXPECT_EQ(QApplication::focusWidget(), dialog.RadioGroup1->Button(vsSmallIcon));

  Pick(dialog.RadioGroup1->Button(3));  // details
  Pick(dialog.RadioGroup2->Button(2));  // by size
  Pick(dialog.RadioGroup3->Button(1));  // descending
  QTest::mouseClick(dialog.CheckBox1, Qt::LeftButton);
  QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  EXPECT_EQ(lv2->ViewStyle(), vsReport);
  EXPECT_FALSE(lv2->IncludeHidden());
  EXPECT_EQ(Names(lv2.get()), (std::vector<std::string>{"b.txt", "c.txt", "a.txt"}));
  EXPECT_EQ(lv1->ViewStyle(), vsReport);
  EXPECT_TRUE(lv1->IncludeHidden());
  EXPECT_EQ(Names(lv1.get()), byName);
}

TEST_F(ViewDialogTest, SortChoicesMapToTheirColumnsAndEachDialogOpensOnNameAscending) {
  // name, type, size, date are the list's columns 0, 2, 1, 3.
  const int columns[] = {0, 2, 1, 3};
  for (int item = 3; item >= 0; --item) {
    TForm3 dialog(lv1.get(), lv2.get());
    ShowActive(dialog);
    EXPECT_EQ(dialog.RadioGroup2->ItemIndex(), 0);
    EXPECT_EQ(dialog.RadioGroup3->ItemIndex(), 0);
    Pick(dialog.RadioGroup2->Button(item));
    Pick(dialog.RadioGroup3->Button(1));
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
    EXPECT_EQ(lv1->FileList()->SortType, columns[item]) << item;
    EXPECT_EQ(lv1->FileList()->SortOrder[static_cast<size_t>(columns[item])], -1) << item;
  }
  // Ascending by name again: OK on an untouched dialog.
  TForm3 dialog(lv1.get(), lv2.get());
  ShowActive(dialog);
  QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  EXPECT_EQ(Names(lv1.get()), (std::vector<std::string>{".hidden", "a.txt", "b.txt", "c.txt"}));
}

TEST_F(ViewDialogTest, LeftAndRightMoveTheFocusUpAndDownPick) {
  TForm3 dialog(lv1.get(), lv2.get());
  ShowActive(dialog);
  EXPECT_EQ(dialog.RadioGroup4->ItemIndex(), 0);  // the left list unless told otherwise
  QWidget* const expected[] = {dialog.RadioGroup1->Button(vsReport),
                               dialog.RadioGroup2->Button(0),
                               dialog.RadioGroup3->Button(0),
                               dialog.CheckBox1,
                               dialog.Button1,
                               dialog.Button2,
                               dialog.RadioGroup1->Button(vsReport)};
  EXPECT_EQ(QApplication::focusWidget(), expected[0]);
  for (int i = 1; i < 7; ++i) {
    Press(dialog, Qt::Key_Right);
    EXPECT_EQ(QApplication::focusWidget(), expected[i]) << i;
  }
  for (int i = 5; i >= 0; --i) {
    Press(dialog, Qt::Key_Left);
    EXPECT_EQ(QApplication::focusWidget(), expected[i]) << i;
  }
  // The arrows moved the focus only; the choices are as they were.
  EXPECT_EQ(dialog.RadioGroup1->ItemIndex(), static_cast<int>(vsReport));
  EXPECT_EQ(dialog.RadioGroup2->ItemIndex(), 0);

  Press(dialog, Qt::Key_Right);
  Press(dialog, Qt::Key_Down);
  EXPECT_EQ(dialog.RadioGroup2->ItemIndex(), 1);
  EXPECT_TRUE(dialog.isVisible());
}

// --- Run with parameters --------------------------------------------------------

class RunDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = dir.dir("my dir");
    report = dir / "report.txt";
    script = folder + "/run me.sh";
    // Writes its arguments and working folder, then renames the report into
    // place so a reader never sees half of it.
    std::ofstream(script) << "#!/bin/sh\n"
                             "out='"
                          << report
                          << "'\n"
                             "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > \"$out.part\"\n"
                             "pwd -P >> \"$out.part\"\n"
                             "mv \"$out.part\" \"$out\"\n";
    chmod(script.c_str(), 0755);
  }
  bool WaitForReport() {
    for (int i = 0; i < 100 && !Exists(report); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return Exists(report);
  }

  TempDir dir;
  std::string folder, report, script;
};

TEST_F(RunDialogTest, EnterRunsTheFileWithSplitParametersInItsFolder) {
  TForm4 dialog;
  dialog.SetFileName(script);
  ShowActive(dialog);
  EXPECT_EQ(QApplication::focusWidget(), dialog.Edit2);
  Type(dialog.Edit2, "one \"two words\" три $HOME");
  QTest::keyClick(dialog.Edit2, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  ASSERT_TRUE(WaitForReport());
  std::string real = std::filesystem::canonical(folder).string();
  EXPECT_EQ(ReadWholeFile(report), "[one]\n[two words]\n[три]\n[$HOME]\n" + real + "\n");
}

TEST_F(RunDialogTest, EscapeStaysOpenAndCancelRunsNothing) {
  TForm4 dialog;
  dialog.SetFileName(script);
  ShowActive(dialog);
  Press(dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  QTest::mouseClick(dialog.Button2, Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  ShowActive(dialog);
  dialog.close();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(Exists(report));

  // A file gone meanwhile: the dialog just closes.
  dialog.SetFileName(dir / "gone.sh");
  ShowActive(dialog);
  QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// --- New folder -------------------------------------------------------------------

TEST(NewFolderDialog, OKIsEnabledExactlyWhileANameIsTyped) {
  TempDir dir;
  TInputNewDirDlg dialog;
  dialog.SetInitialDir(dir.path());
  dialog.edtDirName->setText("left over");
  ShowActive(dialog);
  EXPECT_TRUE(dialog.edtDirName->text().isEmpty());
  EXPECT_EQ(QApplication::focusWidget(), dialog.edtDirName);
  EXPECT_FALSE(dialog.btnOK->isEnabled());
  QTest::keyClick(dialog.edtDirName, Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());

  QTest::keyClick(dialog.edtDirName, Qt::Key_X);
  EXPECT_TRUE(dialog.btnOK->isEnabled());
  QTest::keyClick(dialog.edtDirName, Qt::Key_Backspace);
  EXPECT_FALSE(dialog.btnOK->isEnabled());
  Type(dialog.edtDirName, " ");
  EXPECT_TRUE(dialog.btnOK->isEnabled());

  Type(dialog.edtDirName, "new");
  QTest::keyClick(dialog.edtDirName, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.GetNewDirPath(), dir.path() + "/ new/");

  ShowActive(dialog);
  Press(dialog, Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(NewFolderDialog, PathsKeepTheRootAndNestNamesWithSlashes) {
  TInputNewDirDlg dialog;
  dialog.SetInitialDir("/home/user/");
  EXPECT_EQ(dialog.txtInitialDir->text(), "/home/user");
  dialog.edtDirName->setText("a/b");
  EXPECT_EQ(dialog.GetNewDirPath(), "/home/user/a/b/");

  dialog.SetInitialDir("/");
  EXPECT_EQ(dialog.txtInitialDir->text(), "/");
  EXPECT_EQ(dialog.GetNewDirPath(), "/a/b/");

  // Folder names that are not UTF-8 reach the path as they are.
  dialog.SetInitialDir("/tmp/caf\xe9");
  dialog.edtDirName->setText("x");
  EXPECT_EQ(dialog.GetNewDirPath(), "/tmp/caf\xe9/x/");

  // No folder: no path below "/".
  dialog.SetInitialDir("");
  EXPECT_EQ(dialog.GetNewDirPath(), "");
}

}  // namespace
