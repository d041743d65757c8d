// The file commands on a real main window over real folders, driven by key
// presses: copy and move between the panes and through the destination menu,
// delete to the trash and empty it, undo from the lists' shell menu, rename,
// new folder, the editors, run with parameters, the view dialog and defaults.
// The engine asks the test's own interface; dialogs are answered as they open.
#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FileChecks.h"
#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/Form4.h"
#include "app/InputNewDirDlg.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/PathText.h"
#include "shell/ShellListModel.h"

namespace {

using Lines = std::vector<std::string>;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The names a list shows, in its order.
Lines Names(TShellListView* list) {
  Lines names;
  for (int i = 0; i < list->FileList()->Count(); ++i)
    names.push_back(TForm1::LastPathComponent(list->FileList()->Items(i)->GetItemPath()));
  return names;
}

// Selects exactly these items; the focus mark goes to the last of them.
void Select(TShellListView* list, const Lines& names) {
  list->SelectAllRows(false);
  for (const std::string& name : names) {
    const int row = FormFixture::RowOf(list, name);
    ASSERT_GE(row, 0) << name;
    list->SetRowSelected(row, true);
    list->SetFocusedRow(row);
  }
}

// A program that writes its working folder, then each argument, one per line, to out.
std::string RecordingScript(const TempDir& dir, const std::string& name, const std::string& out) {
  std::string path = dir.file(
      name, "#!/bin/sh\nprintf '%s\\n' \"$(pwd)\" \"$@\" > '" + out + ".part'\nmv '" + out + ".part' '" + out + "'\n");
  chmod(path.c_str(), 0755);
  return path;
}

Lines Recorded(const std::string& out) { return SplitLines(ReadWholeFile(out)); }

std::string TrashList() {
  QProcess process;
  process.start("trash-list", {});
  process.waitForFinished(10000);
  return process.readAllStandardOutput().toStdString();
}

PItemIDList Computer() {
  PItemIDList computer = nullptr;
  GetSpecialFolderIDList(CSIDL_DRIVES, computer);
  return computer;
}

// Answers the modal dialogs of a command in order, each as it shows.
class DialogAnswers {
 public:
  explicit DialogAnswers(std::vector<std::function<void(QDialog*)>> answers) : answers_(std::move(answers)) {
    QObject::connect(&poll_, &QTimer::timeout, [this] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      // An answered dialog hides until it is shown again for the next item.
      if (dialog && dialog->isVisible() && answered < answers_.size()) answers_[answered++](dialog);
    });
    poll_.start(10);
  }
  size_t answered = 0;

 private:
  std::vector<std::function<void(QDialog*)>> answers_;
  QTimer poll_;
};

class FileCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { FileOperationJournal::Instance().Clear(); }
  void TearDown() override { FileOperationJournal::Instance().Clear(); }

  TForm1* Open(const std::string& left, const std::string& right) {
    f.WriteLines("log/Path1SL.text", {left});
    f.WriteLines("log/Path2SL.text", {right});
    return f.Open();
  }
  // Presses a letter in the focused list, once or twice within the key
  // delay, and waits until its command has run.
  void Press(Qt::Key key, int times = 1) {
    for (int i = 0; i < times; ++i) QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.form->KeyTimer->isActive(); }, 5000));
  }
  // Answers the destination menu with the entry folder of the submenu.
  void ChooseDestination(const QString& submenu, const std::string& folder) {
    f.choose = [submenu, folder](QMenu* menu) -> QAction* {
      QMenu* sub = FormFixture::OpenSubmenu(menu, submenu);
      return sub ? FormFixture::Entry(sub, Q(folder)) : nullptr;
    };
  }
  void SetIni(const std::string& text) { f.WriteState("tolvane.ini", text); }

  TempDir files;  // outlives the window
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
  FormFixture f;
};

// --- Copy and move -----------------------------------------------------------------

TEST_F(FileCommandsTest, CopyAndMoveBetweenPanesAnswerConflictsEachWay) {
  const std::string a = files.dir("a"), b = files.dir("b");
  files.file("a/one.txt", "new one");
  files.file("a/two.txt", "new two");
  files.file("b/one.txt", "old one");
  TForm1* form = Open(a, b);
  ASSERT_TRUE(f.Focus(form->LV1));

  // Declined: the existing file stays, the other arrives, and the right pane
  // lists it at once, not after its watching settles.
  Select(form->LV1, {"one.txt", "two.txt"});
  ui.replaceAnswers = {ConflictAnswer::No};
  Press(Qt::Key_C, 2);
  EXPECT_EQ(ReadWholeFile(b + "/one.txt"), "old one");
  EXPECT_EQ(ReadWholeFile(b + "/two.txt"), "new two");
  EXPECT_EQ(Names(form->LV2), (Lines{"one.txt", "two.txt"}));
  ui.replaceAnswers = {ConflictAnswer::Yes, ConflictAnswer::Yes};
  Press(Qt::Key_C, 2);
  EXPECT_EQ(ReadWholeFile(b + "/one.txt"), "new one");
  EXPECT_EQ(ui.replaceCalls.size(), 3u);

  // A move declined for one file leaves it in the source; both lists follow at once.
  files.file("a/one.txt", "newest one");
  Select(form->LV1, {"one.txt", "two.txt"});
  ui.replaceAnswers = {ConflictAnswer::No, ConflictAnswer::Yes};
  Press(Qt::Key_M, 2);
  EXPECT_EQ(ReadWholeFile(a + "/one.txt"), "newest one");
  EXPECT_EQ(ReadWholeFile(b + "/one.txt"), "new one");
  EXPECT_FALSE(Exists(a + "/two.txt"));
  EXPECT_EQ(Names(form->LV1), (Lines{"one.txt"}));
  EXPECT_EQ(Names(form->LV2), (Lines{"one.txt", "two.txt"}));
  EXPECT_TRUE(f.messages.empty());
}

// The selection goes to the engine as the folder and a block of names, taken
// from the list's index of names once it is read while idle.
TEST_F(FileCommandsTest, CopyNamesTheSelectedRowsFromTheListsIndex) {
  const std::string a = files.dir("a"), b = files.dir("b");
  for (int i = 0; i < 30; ++i) files.file("a/n" + std::to_string(100 + i), std::to_string(i));
  files.dir("a/sub");
  files.file("a/sub/inner", "inner");
  TForm1* form = Open(a, b);
  ASSERT_TRUE(f.Focus(form->LV1));
  TShellFileList* rows = form->LV1->FileList();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !rows->IdleWorkLeft(); }, 5000));
  for (int row = 0; row < rows->Count(); ++row) EXPECT_EQ(rows->IndexedName(row), rows->Items(row)->EntryName());
  Select(form->LV1, {"n101", "n105", "n129", "sub"});
  Press(Qt::Key_C, 2);
  EXPECT_EQ(Names(form->LV2), (Lines{"sub", "n101", "n105", "n129"}));
  EXPECT_EQ(ReadWholeFile(b + "/n105"), "5");
  EXPECT_EQ(ReadWholeFile(b + "/sub/inner"), "inner");
  EXPECT_TRUE(ui.progress.empty());  // a few sources: no progress window at once
}

TEST_F(FileCommandsTest, MoveLeavesTheFocusAtItsPlaceOrTheLastItemWithNothingSelected) {
  const std::string a = files.dir("a"), b = files.dir("b");
  for (const char* name : {"f0", "f1", "f2", "f3", "f4"}) files.file(std::string("a/") + name, name);
  TForm1* form = Open(a, b);
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"f1"});
  Press(Qt::Key_M, 2);
  EXPECT_EQ(Names(form->LV1), (Lines{"f0", "f2", "f3", "f4"}));
  EXPECT_EQ(form->LV1->FocusedRow(), 1);
  EXPECT_EQ(form->LV1->SelectedCount(), 0);

  Select(form->LV1, {"f3", "f4"});  // the focus on the last row
  Press(Qt::Key_M, 2);
  EXPECT_EQ(Names(form->LV1), (Lines{"f0", "f2"}));
  EXPECT_EQ(form->LV1->FocusedRow(), 1);
  EXPECT_EQ(form->LV1->SelectedCount(), 0);
  EXPECT_EQ(Names(form->LV2), (Lines{"f1", "f3", "f4"}));
}

TEST_F(FileCommandsTest, CopyToTheOtherPaneNeedsBothListsAndAFolder) {
  const std::string a = files.dir("a"), b = files.dir("b");
  files.file("a/x.txt", "x");
  TForm1* form = Open(a, b);
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"x.txt"});
  form->LV2->hide();  // as a preview in the right pane does
  Press(Qt::Key_C, 2);
  EXPECT_FALSE(Exists(b + "/x.txt"));
  Press(Qt::Key_M, 2);  // a move does not ask for it
  EXPECT_TRUE(Exists(b + "/x.txt"));

  // Into a shell folder there is nothing to copy to: said, nothing done.
  form->LV2->show();
  files.file("a/y.txt", "y");
  form->LV1->RefreshList();
  PItemIDList computer = Computer();
  form->LV2->SetFolderIDList(computer);
  FreeIDList(computer);
  Select(form->LV1, {"y.txt"});
  Press(Qt::Key_C, 2);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(Q(f.messages[0]), QStringLiteral("このフォルダへはコピーできません。"));
}

TEST_F(FileCommandsTest, DestinationMenuCopiesAndMovesThroughEverySubmenu) {
  const std::string src = files.dir("src"), d1 = files.dir("d1"), d2 = files.dir("d2"), d4 = files.dir("d4"),
                    d5 = files.dir("d5"), d6 = files.dir("d6");
  Lines bar;
  for (int i = 0; i <= 10; ++i) bar.push_back(files.dir("bar" + std::to_string(i)));
  files.file("src/x.txt", "x");
  files.file("src/y.txt", "y");
  f.WriteLines("log/Path1SL.text", {src, d1, "2"});
  f.WriteLines("log/Path2SL.text", {d2});
  f.WriteLines("log/HistoryPath1.text", {d4});
  f.WriteLines("log/HistoryPath2.text", {d5});
  f.WriteLines("log/ToolBar2.txt", bar);
  TForm1* form = f.Open();
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"x.txt"});
  const std::pair<QString, std::string> copies[] = {
      {"左タブ", d1}, {"右タブ", d2}, {"登録フォルダ", bar[0]}, {"左履歴", d4}, {"右履歴", d5}};
  for (const auto& [submenu, folder] : copies) {
    ChooseDestination(submenu, folder);
    Press(Qt::Key_C);
    EXPECT_EQ(ReadWholeFile(folder + "/x.txt"), "x") << submenu.toStdString();
  }
  // A tab of a shell folder is no destination; every folder button is one.
  EXPECT_EQ(FormFixture::VisibleTexts(form->Tab1List), QStringList({Q(src), Q(d1)}));
  EXPECT_EQ(FormFixture::VisibleTexts(form->N3).size(), 11);

  // Filled at every opening: a folder visited since is offered.
  form->LV2->SetPathName(d6);
  ChooseDestination("右履歴", d6);
  Press(Qt::Key_C);
  EXPECT_TRUE(Exists(d6 + "/x.txt"));

  Select(form->LV1, {"y.txt"});
  ChooseDestination("左タブ", d1);
  Press(Qt::Key_M);
  EXPECT_TRUE(Exists(d1 + "/y.txt"));
  EXPECT_FALSE(Exists(src + "/y.txt"));

  // From the right pane C and M act on its selection, up to the eleventh button.
  form->LV2->SetPathName(d2);
  ASSERT_TRUE(f.Focus(form->LV2));
  Select(form->LV2, {"x.txt"});
  ChooseDestination("登録フォルダ", bar[1]);
  Press(Qt::Key_C);
  EXPECT_TRUE(Exists(bar[1] + "/x.txt"));
  ChooseDestination("登録フォルダ", bar[10]);
  Press(Qt::Key_M);
  EXPECT_TRUE(Exists(bar[10] + "/x.txt"));
  EXPECT_FALSE(Exists(d2 + "/x.txt"));
  EXPECT_TRUE(Exists(src + "/x.txt"));
}

// --- Delete, empty, undo -------------------------------------------------------------

TEST_F(FileCommandsTest, DeleteGoesToTheTrashAndEmptyingClearsIt) {
  const std::string a = files.dir("a");
  files.file("a/gone.txt", "gone");
  files.file("a/stay.txt", "stay");
  TForm1* form = Open(a, a);
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"gone.txt"});
  ui.deleteAnswers = {true};
  Press(Qt::Key_D);
  EXPECT_FALSE(Exists(a + "/gone.txt"));
  ASSERT_EQ(ui.deleteCalls.size(), 1u);
  EXPECT_FALSE(ui.deleteCalls[0].second);  // to the trash, not for good
  EXPECT_NE(TrashList().find(a + "/gone.txt"), std::string::npos);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1) == Lines{"stay.txt"}; }, 8000));  // through its watching

  ui.emptyTrashAnswers = {true};
  Press(Qt::Key_D, 2);
  ASSERT_EQ(ui.emptyTrashCalls, std::vector<uint64_t>{1});
  EXPECT_EQ(TrashList(), "");
  EXPECT_TRUE(Exists(a + "/stay.txt"));
}

TEST_F(FileCommandsTest, ShellMenuUndoesCopyMoveAndDelete) {
  const std::string a = files.dir("a"), b = files.dir("b");
  for (const char* name : {"c.txt", "d.txt", "m.txt"}) files.file(std::string("a/") + name, name);
  TForm1* form = Open(a, b);
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"c.txt"});
  Press(Qt::Key_C, 2);
  ASSERT_TRUE(Exists(b + "/c.txt"));
  // From the pane that holds the copy, which then follows through its watching.
  EXPECT_EQ(ChooseFromShellMenu(form->LV2, "c.txt", "元に戻す"), QStringLiteral("元に戻す(&U) - 「c.txt」のコピー"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Exists(b + "/c.txt"); }, 5000));
  EXPECT_TRUE(Exists(a + "/c.txt"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV2) == Lines{}; }, 8000));

  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"m.txt"});
  Press(Qt::Key_M, 2);
  ASSERT_TRUE(Exists(b + "/m.txt"));
  EXPECT_FALSE(ChooseFromShellMenu(form->LV1, "c.txt", "元に戻す").isEmpty());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Exists(a + "/m.txt"); }, 5000));
  EXPECT_FALSE(Exists(b + "/m.txt"));

  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"d.txt"});
  ui.deleteAnswers = {true};
  Press(Qt::Key_D);
  ASSERT_FALSE(Exists(a + "/d.txt"));
  EXPECT_EQ(ChooseFromShellMenu(form->LV1, "c.txt", "元に戻す"),
            QStringLiteral("元に戻す(&U) - 「d.txt」のごみ箱への移動"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Exists(a + "/d.txt"); }, 5000));
  EXPECT_EQ(ReadWholeFile(a + "/d.txt"), "d.txt");
  EXPECT_EQ(TrashList(), "");
  EXPECT_EQ(ChooseFromShellMenu(form->LV1, "c.txt", "元に戻す"), "");  // nothing left to undo
}

// --- Rename and new folder -----------------------------------------------------------

TEST_F(FileCommandsTest, RenameSeriesGoesOnPastCancelAndNeverReplaces) {
  const std::string a = files.dir("a");
  for (const char* name : {"one.txt", "taken.txt", "three.txt", "two.txt"}) files.file(std::string("a/") + name, name);
  TForm1* form = Open(a, a);
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"one.txt", "three.txt", "two.txt"});
  Lines asked;
  auto answer = [&asked](const QString& name) {
    return [&asked, name](QDialog* dialog) {
      auto* rename = qobject_cast<TForm2*>(dialog);
      asked.push_back(rename->FileName());
      if (name.isEmpty()) return rename->Button1->click();
      rename->Edit1->selectAll();
      QTest::keyClicks(rename->Edit1, name);
      QTest::keyClick(rename->Edit1, Qt::Key_Return);
    };
  };
  // A name that is taken keeps the dialog open with the reason; cancelled then.
  QString reason;
  auto taken = [&](QDialog* dialog) {
    answer("taken.txt")(dialog);
    auto* rename = qobject_cast<TForm2*>(dialog);
    reason = rename->isVisible() ? rename->Label2->text() : QString();
    rename->Button1->click();
  };
  DialogAnswers answers({answer("first.txt"), answer(""), taken});
  Press(Qt::Key_R);
  EXPECT_TRUE(reason.contains("同じ名前のファイルが既にあります")) << reason.toStdString();
  EXPECT_EQ(asked, (Lines{a + "/one.txt", a + "/three.txt", a + "/two.txt"}));
  EXPECT_EQ(Names(form->LV1), (Lines{"first.txt", "taken.txt", "three.txt", "two.txt"}));
  EXPECT_EQ(ReadWholeFile(a + "/taken.txt"), "taken.txt");
}

TEST_F(FileCommandsTest, NewFolderMakesTheWholeChainAndNothingInAShellFolder) {
  const std::string a = files.dir("a");
  TForm1* form = Open(a, a);
  auto name = [](const QString& text) {
    return [text](QDialog* dialog) {
      auto* ask = qobject_cast<TInputNewDirDlg*>(dialog);
      QTest::keyClicks(ask->edtDirName, text);
      ask->btnOK->click();
    };
  };
  DialogAnswers answers({name("x/y z/w"), name("../out"), name("x")});
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(f.Focus(form->LV1));  // offscreen, nobody hands it back after a dialog
    Press(Qt::Key_K);
  }
  EXPECT_TRUE(FolderExists(a + "/x/y z/w"));
  EXPECT_FALSE(Exists(files.path() + "/out"));
  ASSERT_EQ(f.messages.size(), 2u);
  EXPECT_EQ(Q(f.messages[1]), QStringLiteral("同じ名前のフォルダが既にあります。\n") + Q(a + "/x"));

  PItemIDList computer = Computer();
  form->LV1->SetFolderIDList(computer);
  FreeIDList(computer);
  ASSERT_TRUE(f.Focus(form->LV1));
  Press(Qt::Key_K);
  QTest::qWait(50);
  EXPECT_EQ(answers.answered, 3u);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// --- External programs ---------------------------------------------------------------

TEST_F(FileCommandsTest, EditorsGetEachSelectedPathAsItsOwnArgument) {
  const std::string a = files.dir("a"), bin = files.dir("bin"), out = files.dir("out");
  for (const char* name : {"plain.txt", "third & more.txt", "with blanks.txt"}) files.file(std::string("a/") + name);
  TForm1* form = Open(a, a);
  SetIni("[Edit]\nPath1=" + RecordingScript(files, "bin/edit one", out + "/e") +
         "\nPath2=" + RecordingScript(files, "bin/edit2", out + "/ee") +
         "\n[Binary]\nBinary=" + RecordingScript(files, "bin/hex", out + "/b") + "\n");
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"plain.txt", "third & more.txt", "with blanks.txt"});
  const Lines expected{bin, a + "/plain.txt", a + "/third & more.txt", a + "/with blanks.txt"};
  Press(Qt::Key_E);
  Press(Qt::Key_E, 2);
  Press(Qt::Key_B);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Exists(out + "/e") && Exists(out + "/ee") && Exists(out + "/b"); }, 5000));
  EXPECT_EQ(Recorded(out + "/e"), expected);
  EXPECT_EQ(Recorded(out + "/ee"), expected);
  EXPECT_EQ(Recorded(out + "/b"), expected);

  // "notepad.exe" is the machine's editor, here $VISUAL; a missing program is said.
  EnvGuard visual("VISUAL", RecordingScript(files, "bin/visual", out + "/v"));
  SetIni("[Edit]\nPath1=notepad.exe\nPath2=" + bin + "/none\n");
  Select(form->LV1, {"with blanks.txt"});
  Press(Qt::Key_E);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Exists(out + "/v"); }, 5000));
  EXPECT_EQ(Recorded(out + "/v").back(), a + "/with blanks.txt");
  Press(Qt::Key_E, 2);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_EQ(Q(f.messages[0]), QStringLiteral("プログラムを起動できません。\n") + Q(bin + "/none"));
}

TEST_F(FileCommandsTest, DefaultEditorIsVisualThenEditorThenOneOnThePathThenTheDesktop) {
  const std::string bin = files.dir("bin");
  EnvGuard path("PATH", bin);
  EnvGuard visual("VISUAL", "my-editor --wait \"two words\"");
  EnvGuard editor("EDITOR", "vi");
  EXPECT_EQ(TForm1::DefaultEditorCommand(), (Lines{"my-editor", "--wait", "two words"}));
  setenv("VISUAL", "", 1);
  EXPECT_EQ(TForm1::DefaultEditorCommand(), (Lines{"vi"}));
  setenv("EDITOR", "", 1);
  EXPECT_EQ(TForm1::DefaultEditorCommand(), (Lines{"xdg-open"}));
  std::string mousepad = files.file("bin/mousepad", "#!/bin/sh\n");
  chmod(mousepad.c_str(), 0755);
  files.file("bin/gedit", "not executable");
  EXPECT_EQ(TForm1::DefaultEditorCommand(), (Lines{mousepad}));
}

TEST_F(FileCommandsTest, RunWithParametersStartsTheFocusedFileInItsFolder) {
  const std::string a = files.dir("a"), out = files.dir("out");
  std::string script = RecordingScript(files, "a/run me", out + "/x");
  TForm1* form = Open(a, a);
  ASSERT_TRUE(f.Focus(form->LV1));
  Select(form->LV1, {"run me"});
  std::string shown;
  DialogAnswers answers({[&shown](QDialog* dialog) {
    auto* run = qobject_cast<TForm4*>(dialog);
    shown = run->Edit1->text().toStdString();
    QTest::keyClicks(run->Edit2, "one \"two words\"");
    QTest::keyClick(run->Edit2, Qt::Key_Return);
  }});
  Press(Qt::Key_X);
  EXPECT_EQ(shown, script);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Exists(out + "/x"); }, 5000));
  EXPECT_EQ(Recorded(out + "/x"), (Lines{a, "one", "two words"}));
}

// --- View -----------------------------------------------------------------------------

TEST_F(FileCommandsTest, ViewDialogActsOnTheRightPaneOnlyAndDefaultsComeFromTheSettings) {
  const std::string a = files.dir("a");
  files.file("a/a_small", std::string(100, 's'));
  files.file("a/b_big", std::string(300, 'b'));
  files.file("a/c_mid", std::string(200, 'm'));
  TForm1* form = Open(a, a);
  const TViewStyle leftStyle = form->LV1->ViewStyle();
  const int wanted = form->LV2->ViewStyle() == vsReport ? 2 : 3;
  ASSERT_TRUE(f.Focus(form->LV2));
  int target = -1;
  DialogAnswers answers({[&](QDialog* dialog) {
    auto* view = qobject_cast<TForm3*>(dialog);
    target = view->RadioGroup4->ItemIndex();
    view->RadioGroup1->Button(wanted)->click();
    view->RadioGroup2->Button(2)->click();  // size
    view->RadioGroup3->Button(1)->click();  // descending
    view->Button1->click();
  }});
  Press(Qt::Key_S);
  EXPECT_EQ(target, 1);
  EXPECT_EQ(form->LV2->ViewStyle(), wanted == 3 ? vsReport : vsList);
  EXPECT_EQ(Names(form->LV2), (Lines{"b_big", "c_mid", "a_small"}));
  EXPECT_EQ(form->LV1->ViewStyle(), leftStyle);
  EXPECT_EQ(Names(form->LV1), (Lines{"a_small", "b_big", "c_mid"}));

  // An unknown view style leaves the style and still sorts.
  ASSERT_TRUE(f.Focus(form->LV1));
  SetIni("[Sort]\nViewStyle=7\nSortType=2\nUpDown=0\n");
  Press(Qt::Key_S, 2);
  EXPECT_EQ(form->LV1->ViewStyle(), leftStyle);
  EXPECT_EQ(Names(form->LV1), (Lines{"b_big", "c_mid", "a_small"}));
  SetIni("[Sort]\nViewStyle=1\nSortType=0\nUpDown=1\n");
  Press(Qt::Key_S, 2);
  EXPECT_EQ(form->LV1->ViewStyle(), vsSmallIcon);
  EXPECT_EQ(Names(form->LV1), (Lines{"a_small", "b_big", "c_mid"}));
}

}  // namespace
