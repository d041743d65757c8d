// Key dispatch on a real main window over real folders: single and double
// presses, quick masks, F-keys and digits, the list and tree keys, and the
// shell actions' Ctrl shortcuts.
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTabBar>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "FileChecks.h"
#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "app/TextView.h"
#include "platform/namespace/Drives.h"
#include "platform/namespace/PathText.h"

namespace {

using Lines = std::vector<std::string>;

// Stands in for the desktop's applications: records what would be opened.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  UrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
  ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
  Lines paths;
 public slots:
  void Open(const QUrl& url) { paths.push_back(url.toLocalFile().toStdString()); }
};

class MainFormKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    left = files.dir("left");
    right = files.dir("right");
    form = f.OpenOn(left, right);
    for (QAction* action : form->ActionList1)
      QObject::connect(action, &QAction::triggered, form, [this, action] { ran << action->objectName(); });
    SetFileOperationUIOverride(&ui);
    ASSERT_TRUE(f.Focus(form->LV1));
  }
  void TearDown() override { SetFileOperationUIOverride(nullptr); }

  // A key as the user types it: to whatever has the focus.
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    ASSERT_TRUE(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
  }
  void Select(TShellListView* list, const std::string& name) { FormFixture::SelectOnly(list, name); }
  Lines Names(TShellListView* list) {
    Lines names;
    for (int i = 0; i < list->FileList()->Count(); ++i)
      names.push_back(BaseName(list->FileList()->Items(i)->GetItemPath()));
    std::sort(names.begin(), names.end());
    return names;
  }
  bool Idle() const { return !form->KeyTimer->isActive(); }
  bool Focused(QWidget* widget) const { return widget->isAncestorOf(QApplication::focusWidget()); }

  TempDir files;  // outlives the window
  FormFixture f;
  ScriptedFileOperationUI ui;
  TForm1* form = nullptr;
  std::string left, right;
  QStringList ran;  // the letter actions run, in order
};

TEST_F(MainFormKeysTest, OnePressRunsSingleTwoRunDoubleOthersWhilePendingDrop) {
  QElapsedTimer clock;
  clock.start();
  Press(Qt::Key_A);
  EXPECT_EQ(form->KeyTimerTag, 65);
  Press(Qt::Key_Y);
  Press(Qt::Key_Y);  // both dropped: no Y and no YY
  QTest::qWait(120);
  EXPECT_TRUE(ran.empty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !ran.empty(); }, 1000));
  EXPECT_GE(clock.elapsed(), 190);
  EXPECT_TRUE(Idle());

  Press(Qt::Key_A);
  Press(Qt::Key_A);
  EXPECT_TRUE(Idle());
  QTest::qWait(300);
  EXPECT_EQ(ran, (QStringList{"A", "AA"}));  // never the single A of the double press
}

TEST_F(MainFormKeysTest, ShiftAndAltSetQuickMasksCtrlGoesToTheShellActions) {
  for (const char* name : {"apple.txt", "Avocado.md", "banana.txt", "cherry.tar"})
    files.file("left/" + std::string(name));
  form->LV1->RefreshList();
  form->Edit1->setText(QString::fromStdString(left) + "/*.*");

  Press(Qt::Key_A, Qt::ShiftModifier);
  EXPECT_EQ(form->Edit1->text().toStdString(), left + "/a*.*");
  EXPECT_EQ(Names(form->LV1), (Lines{"Avocado.md", "apple.txt"}));
  Press(Qt::Key_T, Qt::AltModifier);
  EXPECT_EQ(form->Edit1->text().toStdString(), left + "/*.t*");
  EXPECT_EQ(Names(form->LV1), (Lines{"apple.txt", "banana.txt", "cherry.tar"}));

  // Shift+1 on a US layout arrives as "!"; the key's code tells the digit.
  QKeyEvent exclam(QEvent::KeyPress, Qt::Key_Exclam, Qt::ShiftModifier, 10, 0, 0, "!");
  QApplication::sendEvent(QApplication::focusWidget(), &exclam);
  EXPECT_EQ(form->Edit1->text().toStdString(), left + "/1*.*");
  form->Edit1->setText(QString::fromStdString(left) + "/*.t*");
  form->LV1->RefreshList();

  Press(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);  // nothing at all
  EXPECT_EQ(form->Edit1->text().toStdString(), left + "/*.t*");
  EXPECT_EQ(form->LV1->SelectedCount(), 0);
  Press(Qt::Key_A, Qt::ControlModifier);  // select all
  EXPECT_EQ(form->LV1->SelectedCount(), 3);
  Press(Qt::Key_R, Qt::ControlModifier);  // reverse the selection
  EXPECT_EQ(form->LV1->SelectedCount(), 0);
  QTest::qWait(250);
  EXPECT_TRUE(ran.empty());
}

TEST_F(MainFormKeysTest, FKeysStartLaunchersDigitsShowFolderButtonsAndCopy) {
  UrlCatcher catcher;
  TLineList launchers, folders, ten;
  for (int i = 1; i <= 4; ++i) launchers.Add(files.file("left/tool" + std::to_string(i) + ".sh", "#!/bin/sh\n"));
  for (int i = 0; i < 10; ++i) ten.Add(files.dir("d" + std::to_string(i)));
  folders.Lines.assign(ten.Lines.begin(), ten.Lines.begin() + 3);
  form->BuildLauncherBar(launchers, form->ToolBar1, form->ImageList1);
  form->BuildFolderBar(folders, form->ToolBar2);
  form->LV1->RefreshList();

  Press(Qt::Key_F2);
  Press(Qt::Key_F1, Qt::ShiftModifier);
  Press(Qt::Key_F4, Qt::AltModifier);  // taken as F4: the window stays
  Press(Qt::Key_F7);                   // no seventh button
  Press(Qt::Key_F3, Qt::ControlModifier);
  EXPECT_EQ(catcher.paths, (Lines{launchers[1], launchers[0], launchers[3]}));
  EXPECT_TRUE(form->isVisible());

  Select(form->LV1, "tool1.sh");
  Press(Qt::Key_1);
  Press(Qt::Key_1);  // copies the selection into the first button's folder
  EXPECT_TRUE(Exists(folders[0] + "/tool1.sh"));
  EXPECT_TRUE(Exists(left + "/tool1.sh"));
  Press(Qt::Key_0);  // three buttons: no tenth, once or twice
  QTest::qWait(300);
  Press(Qt::Key_0);
  Press(Qt::Key_0);
  EXPECT_EQ(form->LV1->GetPathName(), left);
  Press(Qt::Key_2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == folders[1]; }, 1000));

  form->ClearToolBar(form->ToolBar2);
  form->BuildFolderBar(ten, form->ToolBar2);
  Press(Qt::Key_0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == ten[9]; }, 1000));
}

TEST_F(MainFormKeysTest, BackspaceRootKeyAndShiftEnter) {
  UrlCatcher catcher;
  // A text file is one some application opens, whatever this machine has.
  f.state.dir("data/applications");
  f.state.file("data/applications/text-viewer.desktop",
               "[Desktop Entry]\nType=Application\nName=Text\nExec=true %f\nMimeType=text/plain;\n");
  const std::string sub = files.dir("left/sub"), deeper = files.dir("left/sub/deeper");
  files.file("left/sub/file.txt", "f");
  form->LV1->SetPathName(deeper);
  Press(Qt::Key_Backspace);
  EXPECT_EQ(form->LV1->GetPathName(), sub);
  Press(Qt::Key_Backslash);
  EXPECT_EQ(form->LV1->GetPathName(), MountPointOf(left));
  form->LV1->SetPathName("/");
  Press(Qt::Key_Backspace);
  EXPECT_EQ(form->LV1->GetPathName(), "/");

  // A file opens without a new tab; a folder opens in one.
  form->LV1->SetPathName(sub);
  const int tabs = form->TC1->count(), lines = form->Path1SL.Count();
  form->LV1->SetFocusedRow(FormFixture::RowOf(form->LV1, "file.txt"));
  Press(Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(form->TC1->count(), tabs);
  EXPECT_EQ(catcher.paths, Lines{sub + "/file.txt"});
  form->LV1->SetFocusedRow(FormFixture::RowOf(form->LV1, "deeper"));
  Press(Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(form->TC1->count(), tabs + 1);
  EXPECT_EQ(form->TC1->currentIndex(), tabs);
  EXPECT_EQ(form->Path1SL.Count(), lines + 1);
  EXPECT_EQ(form->LV1->GetPathName(), deeper);
}

TEST_F(MainFormKeysTest, TreesShowBesideTheirPanesAndHideOnLeaving) {
  const int paneWidth = form->TC1Pane->width();
  Press(Qt::Key_Comma);
  EXPECT_TRUE(form->TV1->isVisible() && form->Splitter1()->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), form->TV1);
  ASSERT_TRUE(form->TV1->SelectedNode() && form->TV1->SelectedNode()->ShellItem());
  EXPECT_EQ(form->TV1->SelectedNode()->ShellItem()->GetItemPath(), left);
  EXPECT_GT(form->Panes->sizes()[0], 20);
  EXPECT_EQ(form->TC1Pane->width(), paneWidth);  // the right pane made room

  Press(Qt::Key_Period);  // tree: the left list
  EXPECT_TRUE(Focused(form->LV1));
  EXPECT_FALSE(form->TV1->isVisible() || form->Splitter1()->isVisible());
  Press(Qt::Key_Period);  // left list: the right list
  EXPECT_TRUE(Focused(form->LV2));
  Press(Qt::Key_Period);  // right list: its tree
  EXPECT_TRUE(form->TV2->isVisible() && form->Splitter3()->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), form->TV2);
  EXPECT_EQ(form->TV2->SelectedNode()->ShellItem()->GetItemPath(), right);
  Press(Qt::Key_Comma);  // tree: the right list
  EXPECT_TRUE(Focused(form->LV2));
  EXPECT_FALSE(form->TV2->isVisible());
  Press(Qt::Key_Comma);  // right list: the left list
  EXPECT_TRUE(Focused(form->LV1));

  // Enter in a tree shows its folder in the list, without keeping them linked.
  const std::string sub = files.dir("left/sub");
  Press(Qt::Key_Comma);
  form->TV1->SetPathName(sub);
  Press(Qt::Key_Return);
  EXPECT_EQ(form->LV1->GetPathName(), sub);
  EXPECT_EQ(form->TV1->ShellListView(), nullptr);
}

TEST_F(MainFormKeysTest, PeriodBringsBackAPreviewedPane) {
  // A text preview in the right pane, as the preview command leaves it.
  form->LV2->hide();
  form->Edit2->hide();
  form->TC2Pane->layout()->addWidget(form->Memo1);
  form->Memo1->show();
  form->TC2->setTabText(0, "preview.txt");
  Press(Qt::Key_Period);
  EXPECT_TRUE(form->LV2->isVisible() && form->Edit2->isVisible());
  EXPECT_FALSE(form->Memo1->isVisible());
  EXPECT_EQ(form->TC2->tabText(0), "right");
  EXPECT_TRUE(Focused(form->LV2));
  EXPECT_EQ(form->LV2->GetPathName(), right);
}

TEST_F(MainFormKeysTest, GReadsAgainOShowsTheOtherFolderWFocusesTheEdit) {
  files.file("left/late.txt");
  Press(Qt::Key_G);
  // Well before the watchers would have settled.
  ASSERT_TRUE(QTest::qWaitFor([&] { return FormFixture::RowOf(form->LV1, "late.txt") >= 0; }, 800));
  Press(Qt::Key_O);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == right; }, 1000));
  Press(Qt::Key_W);
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == form->Edit1; }, 1000));
}

TEST_F(MainFormKeysTest, MovingTheSelectionKeepsTheFocusPosition) {
  for (const char* name : {"a", "b", "c"}) files.file("left/" + std::string(name), name);
  form->LV1->RefreshList();
  EXPECT_FALSE(form->TryTransferSelection(form->LV1, right, true));  // nothing selected
  Select(form->LV1, "b");
  EXPECT_FALSE(form->TryTransferSelection(form->LV1, "", true));  // nowhere to go
  ASSERT_TRUE(form->TryTransferSelection(form->LV1, right, true));
  EXPECT_FALSE(Exists(left + "/b"));
  EXPECT_EQ(ReadWholeFile(right + "/b"), "b");
  EXPECT_EQ(Names(form->LV1), (Lines{"a", "c"}));
  EXPECT_EQ(form->LV1->FocusedRow(), 1);
  EXPECT_EQ(form->LV1->SelectedCount(), 0);
}

}  // namespace

#include "MainFormKeysTest.moc"
