// What a new user finds on the first day, on a real window over real folders:
// the key list (F12) against the tables the dispatch runs, undo by key, the
// double-press window from the INI file, the status line under each pane, a
// terminal in the folder (F11) and a file that no application opens.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/statvfs.h>

#include "EnvGuard.h"
#include "FileChecks.h"
#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "app/KeyTable.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/PathText.h"
#include "shell/actions/ShellActns.h"

namespace {

using Lines = std::vector<std::string>;

// A program that writes its working folder, then each argument, one per line,
// to out; it needs nothing from PATH.
std::string RecordingScript(TempDir& dir, const std::string& name, const std::string& out) {
  std::string path = dir.file(name, "#!/bin/sh\nprintf '%s\\n' \"$(pwd)\" \"$@\" > '" + out + ".part'\n/bin/mv '" +
                                        out + ".part' '" + out + "'\n");
  chmod(path.c_str(), 0755);
  return path;
}

class FirstDayKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileOperationJournal::Instance().Clear();
    left = files.dir("left");
    right = files.dir("right");
  }
  void TearDown() override { FileOperationJournal::Instance().Clear(); }

  TForm1* Open() {
    form = f.OpenOn(left, right);
    for (QAction* action : form->ActionList1)
      QObject::connect(action, &QAction::triggered, form, [this, action] { ran << action->objectName(); });
    EXPECT_TRUE(f.Focus(form->LV1));
    return form;
  }
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    ASSERT_TRUE(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
  }
  void WaitIdle() {
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->KeyTimer->isActive(); }, 5000));
  }

  TempDir files;  // outlives the window
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
  FormFixture f;
  TForm1* form = nullptr;
  std::string left, right;
  QStringList ran;
};

TEST_F(FirstDayKeysTest, F12ListsEveryKeyTheDispatchKnows) {
  Open();
  Press(Qt::Key_F12);
  auto* dialog = form->findChild<QDialog*>("keyTableDialog");
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(dialog->isVisible());
  auto* table = dialog->findChild<QTableWidget*>("keyTable");
  ASSERT_TRUE(table);
  QStringList keys;
  for (int row = 0; row < table->rowCount(); ++row) {
    keys << table->item(row, 0)->text();
    EXPECT_FALSE(table->item(row, 1)->text().isEmpty()) << keys.back().toStdString();
  }
  auto listed = [&](const QString& key) { return keys.contains(key); };

  // Every letter command, list key and key group of the dispatch's tables.
  for (const TLetterCommand& command : LetterCommands()) EXPECT_TRUE(listed(command.name)) << command.name;
  for (const TListKey& key : ListKeys()) EXPECT_TRUE(listed(QString::fromUtf8(key.keys))) << key.keys;
  for (const TKeyGroup& group : KeyGroups()) EXPECT_TRUE(listed(QString::fromUtf8(group.keys))) << group.keys;
  // The shortcuts as the shell actions carry them, not as a table says.
  int shortcuts = 0;
  for (const TCustomShellAction* action : form->ActionList2->Actions()) {
    if (action->shortcut().isEmpty()) continue;
    ++shortcuts;
    EXPECT_TRUE(listed(action->shortcut().toString(QKeySequence::NativeText))) << action->objectName().toStdString();
  }
  EXPECT_EQ(shortcuts, 13);
  EXPECT_TRUE(listed("Alt+BackSpace"));
  EXPECT_TRUE(listed("F11"));

  // No key is listed twice, with two meanings.
  EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
  // F12 again brings the one list back rather than a second one.
  ASSERT_TRUE(f.Focus(form->LV1));
  Press(Qt::Key_F12);
  EXPECT_EQ(form->findChildren<QDialog*>("keyTableDialog").size(), 1);
  EXPECT_TRUE(dialog->isVisible());
}

TEST_F(FirstDayKeysTest, AltBackspaceUndoesWhatTheMenuUndoesAndBackspaceStillGoesUp) {
  const std::string sub = files.dir("left/sub");
  files.file("left/sub/gone.txt", "keep me");
  Open();
  form->LV1->SetPathName(sub);
  FormFixture::SelectOnly(form->LV1, "gone.txt");
  ui.deleteAnswers = {true};
  Press(Qt::Key_D);
  WaitIdle();
  ASSERT_FALSE(Exists(sub + "/gone.txt"));

  Press(Qt::Key_Backspace, Qt::AltModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Exists(sub + "/gone.txt"); }, 5000));
  EXPECT_EQ(ReadWholeFile(sub + "/gone.txt"), "keep me");
  EXPECT_EQ(form->LV1->GetPathName(), sub);  // undo is not "up"
  EXPECT_FALSE(FileOperationJournal::Instance().CanUndo());
  Press(Qt::Key_Backspace, Qt::AltModifier);  // nothing left: nothing happens
  QTest::qWait(50);
  EXPECT_EQ(form->LV1->GetPathName(), sub);

  Press(Qt::Key_Backspace);
  EXPECT_EQ(form->LV1->GetPathName(), left);
  Press(Qt::Key_Backspace, Qt::ShiftModifier);  // any other modifier still goes up
  EXPECT_EQ(form->LV1->GetPathName(), DirName(left));
}

TEST_F(FirstDayKeysTest, TheDoublePressWindowComesFromTheIniFile) {
  f.WriteState("tolvane.ini", "[Option]\r\nDoubleKeyInterval=700\r\n");
  Open();
  EXPECT_EQ(form->KeyDelayMs, 700);
  Press(Qt::Key_A);
  QTest::qWait(350);  // past the usual 200 ms
  Press(Qt::Key_A);
  WaitIdle();
  EXPECT_EQ(ran, QStringList{"AA"});
  ran.clear();
  Press(Qt::Key_A);
  QTest::qWait(450);
  EXPECT_TRUE(ran.isEmpty());  // still waiting for a second press
  EXPECT_TRUE(QTest::qWaitFor([&] { return !ran.isEmpty(); }, 2000));
  EXPECT_EQ(ran, QStringList{"A"});
  f.Close();

  // A value nobody could type with, or none at all, is the usual 200 ms.
  for (const char* ini : {"[Option]\r\nDoubleKeyInterval=5\r\n", "[Option]\r\nDoubleKeyInterval=soon\r\n", ""}) {
    f.WriteState("tolvane.ini", ini);
    EXPECT_EQ(f.OpenOn(left, right)->KeyDelayMs, 200) << ini;
    f.Close();
  }
}

TEST_F(FirstDayKeysTest, TheStatusLineCountsItemsSelectionAndFreeSpace) {
  files.file("left/a.txt", std::string(1000, 'a'));
  files.file("left/b.txt", std::string(3000, 'b'));
  files.dir("left/sub");
  files.file("right/one.txt", "1");
  Open();
  QLabel* status = form->Status1;
  EXPECT_TRUE(status->isVisible());
  EXPECT_TRUE(status->text().startsWith(QStringLiteral("3 個の項目"))) << status->text().toStdString();
  EXPECT_FALSE(status->text().contains(QStringLiteral("選択")));
  EXPECT_TRUE(form->Status2->text().startsWith(QStringLiteral("1 個の項目")));

  // The free space the file system reports, in the line's own units.
  struct statvfs fs;
  ASSERT_EQ(statvfs(left.c_str(), &fs), 0);
  const QString free = TForm1::ByteSizeText(static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize);
  EXPECT_TRUE(status->text().contains(QStringLiteral("空き ") + free.left(free.indexOf('.'))))
      << status->text().toStdString();

  form->LV1->SetRowSelected(FormFixture::RowOf(form->LV1, "a.txt"), true);
  form->LV1->SetRowSelected(FormFixture::RowOf(form->LV1, "b.txt"), true);
  EXPECT_TRUE(status->text().contains(QStringLiteral("2 個を選択（3.9 KB）"))) << status->text().toStdString();
  form->LV1->SetRowSelected(FormFixture::RowOf(form->LV1, "b.txt"), false);
  EXPECT_TRUE(status->text().contains(QStringLiteral("1 個を選択（1000 バイト）"))) << status->text().toStdString();

  // A new file shows after a re-read, and another folder has its own count.
  files.file("left/c.txt", "c");
  Press(Qt::Key_G);
  WaitIdle();
  EXPECT_TRUE(status->text().startsWith(QStringLiteral("4 個の項目"))) << status->text().toStdString();
  form->LV1->SetPathName(left + "/sub");
  EXPECT_TRUE(status->text().startsWith(QStringLiteral("0 個の項目"))) << status->text().toStdString();

  EXPECT_EQ(TForm1::ByteSizeText(0), QStringLiteral("0 バイト"));
  EXPECT_EQ(TForm1::ByteSizeText(1536), QStringLiteral("1.5 KB"));
  EXPECT_EQ(TForm1::ByteSizeText(5ULL << 30), QStringLiteral("5.0 GB"));
  EXPECT_EQ(TForm1::ByteSizeText(300ULL << 40), QStringLiteral("300 TB"));
}

TEST_F(FirstDayKeysTest, F11OpensTheTerminalInTheFolderOrSaysThereIsNone) {
  const std::string out = files.path() + "/terminal.out";
  const std::string script = RecordingScript(files, "my term.sh", out);
  Open();
  {
    EnvGuard terminal("TERMINAL", "\"" + script + "\" --title here");
    Press(Qt::Key_F11);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Exists(out); }, 5000));
    EXPECT_EQ(SplitLines(ReadWholeFile(out)), (Lines{left, "--title", "here"}));
    EXPECT_TRUE(f.messages.empty());
  }
  // Neither $TERMINAL nor x-terminal-emulator: said in the window.
  EnvGuard noTerminal("TERMINAL", "");
  EnvGuard path("PATH", files.dir("empty-bin"));
  Press(Qt::Key_F11);
  ASSERT_EQ(f.messages.size(), 1u);
  EXPECT_NE(f.messages[0].find("端末を開けません"), std::string::npos);
  EXPECT_NE(f.messages[0].find("TERMINAL"), std::string::npos);
}

TEST_F(FirstDayKeysTest, EnterOnAFileNothingOpensSaysSoAndOffersTheChooser) {
  // No application anywhere declares the type, and there is no xdg-open. The
  // system's type database stays (the other tests of this process need it).
  const std::string data = files.dir("system-data");
  symlink("/usr/share/mime", (data + "/mime").c_str());
  EnvGuard dataDirs("XDG_DATA_DIRS", data);
  EnvGuard path("PATH", files.dir("empty-bin"));
  const std::string out = files.path() + "/viewer.out";
  const std::string viewer = RecordingScript(files, "viewer.sh", out);
  // One program that takes files, declaring no type at all.
  f.state.dir("data/applications");
  f.state.file("data/applications/plain-viewer.desktop",
               "[Desktop Entry]\nType=Application\nName=Plain Viewer\nExec=" + viewer + " %f\n");
  files.file("left/report.zzq", "data");
  Open();
  FormFixture::SelectOnly(form->LV1, "report.zzq");

  QString said;
  QStringList offered;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->objectName() != "openWithDialog") return;
    answer.stop();
    said = dialog->findChild<QLabel*>("messageLabel")->text();
    auto* list = dialog->findChild<QListWidget*>("applicationList");
    for (int i = 0; i < list->count(); ++i) offered << list->item(i)->text();
    list->setCurrentRow(0);
    auto* ok = dialog->findChild<QPushButton*>("okButton");
    // Nothing to choose would leave it disabled: the chooser then goes away unanswered.
    ok->isEnabled() ? ok->click() : dialog->reject();
  });
  answer.start(10);
  Press(Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !said.isEmpty(); }, 5000));
  EXPECT_TRUE(said.contains(QStringLiteral("「report.zzq」を開くアプリケーションが登録されていません")))
      << said.toStdString();
  EXPECT_EQ(offered, QStringList{"Plain Viewer"});
  ASSERT_TRUE(QTest::qWaitFor([&] { return Exists(out); }, 5000));
  EXPECT_EQ(SplitLines(ReadWholeFile(out)), (Lines{left, left + "/report.zzq"}));
  // Still recorded as a file opened from this pane.
  EXPECT_EQ(form->FileRunPath1[0], left + "/report.zzq");
}

}  // namespace
