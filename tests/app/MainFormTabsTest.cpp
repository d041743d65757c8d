// Pane tabs, histories, the History and tab-list menus and the pane filter,
// on a real main window over real folders.
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "FormFixture.h"
#include "platform/state/LineList.h"
#include "shell/actions/Wildcard.h"

namespace {

using Lines = std::vector<std::string>;
QString Q(const std::string& s) { return QString::fromStdString(s); }

Lines Names(TShellListView* list) {
  Lines names;
  for (int i = 0; i < list->FileList()->Count(); ++i)
    names.push_back(TForm1::LastPathComponent(list->FileList()->Items(i)->GetItemPath()));
  std::sort(names.begin(), names.end());
  return names;
}
// A child of the tree's root without a file-system path (the computer).
int ShellFolderChild(TShellTreeView* tree) {
  for (int i = 0; i < tree->RootNode()->childCount(); ++i)
    if (TShellTreeView::NodeOf(tree->RootNode()->child(i))->ShellItem()->GetItemPath().empty()) return i;
  return -1;
}

class MainFormTabsTest : public ::testing::Test {
 protected:
  TForm1* Open(const Lines& left, const Lines& right = {}) {
    f.WriteLines("log/Path1SL.text", left);
    f.WriteLines("log/Path2SL.text", right.empty() ? Lines{files.path()} : right);
    return f.Open();
  }
  Lines Folders(const std::string& stem, int count) {
    Lines folders;
    for (int i = 0; i < count; ++i) folders.push_back(files.dir(stem + std::to_string(i)));
    return folders;
  }
  void Click(QTabBar* tabs, int index, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(tabs, button, {}, tabs->tabRect(index).center());
  }
  TempDir files;  // outlives the window
  FormFixture f;
};

TEST_F(MainFormTabsTest, ListingChangeUpdatesTabEditLineAndHistory) {
  const std::string a = files.dir("alpha"), b = files.dir("Beta & Co");
  TForm1* form = Open({a});
  form->Edit1->setText(Q(a) + "/*.txt");
  form->LV1->SetPathName(b);
  EXPECT_EQ(form->Edit1->text(), Q(b) + "/*.txt");
  EXPECT_EQ(form->TC1->tabText(0), "Beta && Co");
  EXPECT_EQ(form->Path1SL.Lines, Lines{b});
  EXPECT_EQ(Lines(form->HistoryPath1.Lines.begin(), form->HistoryPath1.Lines.begin() + 2), (Lines{b, a}));
  form->LV1->SetPathName("/");  // no last name: the whole path
  EXPECT_EQ(form->TC1->tabText(0), "/");
  EXPECT_EQ(form->Edit1->text(), "/*.txt");
}

TEST_F(MainFormTabsTest, HistoriesKeepTenWithoutDuplicatesAndTellCaseApart) {
  const Lines d = Folders("d", 11);
  TForm1* form = Open({files.path()});
  for (const std::string& folder : d) form->LV1->SetPathName(folder);
  EXPECT_EQ(form->HistoryPath1.Lines, (Lines{d[10], d[9], d[8], d[7], d[6], d[5], d[4], d[3], d[2], d[1]}));
  form->LV1->SetPathName(d[5]);
  form->LV1->RefreshList();  // a re-read keeps it on top, once
  EXPECT_EQ(form->HistoryPath1.Lines, (Lines{d[5], d[10], d[9], d[8], d[7], d[6], d[4], d[3], d[2], d[1]}));
  const std::string upper = files.dir("case/Foo"), lower = files.dir("case/foo");
  form->LV1->SetPathName(upper);
  form->LV1->SetPathName(lower);
  EXPECT_EQ(form->HistoryPath1[1], upper);
  EXPECT_EQ(form->HistoryPath1[0], lower);

  // Executed files go to their own pane's file history.
  files.file("d0/x.txt");
  files.file("d0/y.txt");
  form->LV1->SetPathName(d[0]);
  form->LV2->SetPathName(d[0]);
  for (auto [list, name] :
       {std::pair{form->LV1, "x.txt"}, {form->LV1, "y.txt"}, {form->LV1, "x.txt"}, {form->LV2, "y.txt"}})
    form->LV1ShExecute(list, list->FileList()->Items(FormFixture::RowOf(list, name)));
  EXPECT_EQ(form->FileRunPath1.Lines, (Lines{d[0] + "/x.txt", d[0] + "/y.txt"}));
  EXPECT_EQ(form->FileRunPath2.Lines, Lines{d[0] + "/y.txt"});
}

TEST_F(MainFormTabsTest, ShellFolderGetsItsTreeIndexAndNoHistory) {
  const std::string a = files.dir("alpha");
  TForm1* form = Open({a});
  const int k = ShellFolderChild(form->TV1);
  ASSERT_GE(k, 0);
  TShellTreeNode* node = TShellTreeView::NodeOf(form->TV1->RootNode()->child(k));
  const QString text = node->text(0);
  const Lines history = form->HistoryPath1.Lines;
  form->TV1->setCurrentItem(node);  // as the tree's Enter does
  form->TV1->SetShellListView(form->LV1);
  form->TV1->SetShellListView(nullptr);
  ASSERT_EQ(form->LV1->GetPathName(), "");
  EXPECT_EQ(form->Path1SL.Lines, Lines{std::to_string(k)});
  EXPECT_EQ(form->TC1->tabText(0), text);
  EXPECT_EQ(form->Edit1->text(), text + "/*.*");
  EXPECT_EQ(form->HistoryPath1.Lines, history);

  // Reached without the tree, whose selection is elsewhere.
  form->LV1->SetPathName(a);
  form->TV1->setCurrentItem(form->TV1->RootNode());
  form->LV1->SetFolderIDList(node->ShellItem()->GetAbsoluteIDList());
  EXPECT_EQ(form->Path1SL.Lines, Lines{std::to_string(k)});
  EXPECT_EQ(form->TC1->tabText(0), text);

  f.Close();  // the next start shows the same node
  form = f.Open();
  EXPECT_EQ(form->TC1->tabText(0), text);
  EXPECT_EQ(form->LV1->GetPathName(), "");
}

TEST_F(MainFormTabsTest, ShiftEnterTabIsFilledByTheFolderItOpens) {
  const std::string a = files.dir("alpha"), inner = files.dir("alpha/inner");
  TForm1* form = Open({a});
  ASSERT_TRUE(f.Focus(form->LV1));
  form->LV1->SetFocusedRow(FormFixture::RowOf(form->LV1, "inner"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::ShiftModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == inner; }, 3000));
  EXPECT_EQ(form->TC1->count(), 2);
  EXPECT_EQ(form->TC1->currentIndex(), 1);
  EXPECT_EQ(form->TC1->tabText(1), "inner");
  EXPECT_EQ(form->Path1SL.Lines, (Lines{a, inner}));
}

TEST_F(MainFormTabsTest, TabsSwitchOnLeftClickAndCloseOnRightClickOrTT) {
  const Lines t = Folders("t", 5);
  TForm1* form = Open(t);
  Click(form->TC1, 3);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == t[3]; }, 3000));
  Click(form->TC1, 3, Qt::RightButton);  // tab 3 of 5: tab 2 becomes current
  EXPECT_EQ(form->TC1->currentIndex(), 2);
  EXPECT_EQ(form->LV1->GetPathName(), t[2]);
  EXPECT_EQ(form->Path1SL.Lines, (Lines{t[0], t[1], t[2], t[4]}));
  Click(form->TC1, 0, Qt::RightButton);  // another tab: the shown one stays
  EXPECT_EQ(form->Path1SL.Lines, (Lines{t[1], t[2], t[4]}));
  EXPECT_EQ(form->TC1->tabText(form->TC1->currentIndex()), "t2");

  // TT on the first tab makes the new first one current.
  form->TC1->setCurrentIndex(0);
  ASSERT_TRUE(f.Focus(form->LV1));
  TTExecute(*form);
  EXPECT_EQ(form->TC1->currentIndex(), 0);
  EXPECT_EQ(form->LV1->GetPathName(), t[2]);
  EXPECT_EQ(form->Path1SL.Lines, (Lines{t[2], t[4]}));

  // The last tab stays, whichever way.
  Click(form->TC1, 1, Qt::RightButton);
  Click(form->TC1, 0, Qt::RightButton);
  TTExecute(*form);
  EXPECT_EQ(form->TC1->count(), 1);
  EXPECT_EQ(form->Path1SL.Lines, Lines{t[2]});
}

TEST_F(MainFormTabsTest, PreviewTabsAreLeftAloneByTheHiddenListsChanges) {
  const Lines t = Folders("t", 3);
  TForm1* form = Open({t[0]}, {t[0], t[1]});
  // A picture preview holds the right pane; its folder tab 1 waits in the tag.
  form->TC2Tag = 1;
  form->ImagePath.Lines = {"/p/one.png", "/p/two.png"};
  form->TC2Pane->layout()->addWidget(form->Image1);
  form->Image1->show();
  form->LV2->hide();
  form->RebuildTabs(form->TC2, form->ImagePath);
  form->LV2->SetPathName(t[2]);
  EXPECT_EQ(form->Path2SL.Lines, (Lines{t[0], t[2]}));
  EXPECT_EQ(form->TC2->tabText(1), "two.png");
  Click(form->TC2, 0, Qt::RightButton);  // closing a preview tab drops its picture, not a folder
  EXPECT_EQ(form->ImagePath.Lines, Lines{"/p/two.png"});
  EXPECT_EQ(form->Path2SL.Lines, (Lines{t[0], t[2]}));
}

TEST_F(MainFormTabsTest, TabListShowsEveryTabAndSwitchesToTheChosenOne) {
  const std::string a = files.dir("alpha"), b = files.dir("beta");
  TForm1* form = Open({a, b, a});
  const int k = ShellFolderChild(form->TV1);
  form->Path1SL[2] = std::to_string(k);
  ASSERT_TRUE(f.Focus(form->LV1));
  f.ChooseEntry(Q(b));
  TExecute(*form);
  ASSERT_EQ(f.popups, std::vector<QMenu*>{form->TabListPopup});
  EXPECT_EQ(FormFixture::VisibleTexts(form->TabListPopup),
            (QStringList{Q(a), Q(b), form->TV1->RootNode()->child(k)->text(0)}));
  EXPECT_EQ(form->TC1->currentIndex(), 1);
  EXPECT_EQ(form->LV1->GetPathName(), b);
  TTExecute(*form);  // the menu follows the number of tabs
  TExecute(*form);
  EXPECT_EQ(FormFixture::VisibleTexts(form->TabListPopup).size(), 2);
}

TEST_F(MainFormTabsTest, HistoryMenusShowTitleAndLinesAndMoveThePane) {
  const std::string a = files.dir("a"), b = files.dir("b"), c = files.dir("c");
  TForm1* form = Open({a}, {a});
  form->LV1->SetPathName(b);
  form->LV1->SetPathName(c);
  ASSERT_TRUE(f.Focus(form->LV1));
  f.ChooseEntry(Q(b));
  HExecute(*form);
  EXPECT_EQ(form->HistoryTag, 0);
  EXPECT_EQ(FormFixture::VisibleTexts(form->History).mid(0, 4), (QStringList{"左のフォルダ履歴", Q(c), Q(b), Q(a)}));
  EXPECT_EQ(form->LV1->GetPathName(), b);
  EXPECT_EQ(form->LV2->GetPathName(), a);

  ASSERT_TRUE(f.Focus(form->LV2));
  form->HistoryPath2.Clear();  // empty: only the title
  HExecute(*form);
  EXPECT_EQ(FormFixture::VisibleTexts(form->History), QStringList{"右のフォルダ履歴"});

  std::vector<std::string> opened;
  form->Hooks.OpenChosenFile = [&](const std::string& path) { opened.push_back(path); };
  form->FileRunPath2.Lines = {a + "/one.txt", a + "/two.txt"};
  f.ChooseEntry(Q(a + "/two.txt"));
  HHExecute(*form);
  EXPECT_EQ(form->HistoryTag, 3);
  EXPECT_EQ(FormFixture::VisibleTexts(form->History).front(), "右のファイル履歴");
  EXPECT_EQ(opened, Lines{a + "/two.txt"});
}

TEST_F(MainFormTabsTest, JumpAndDriveMenusShowEveryLineBeyondTen) {
  const Lines jumps = Folders("j", 12);
  f.WriteLines("log/ToolBar2.txt", jumps);
  TForm1* form = Open({files.path()}, {files.path()});
  ASSERT_TRUE(f.Focus(form->LV2));
  f.ChooseEntry(Q(jumps[11]));
  JExecute(*form);
  EXPECT_EQ(form->HistoryTag, 5);
  QStringList expected{"フォルダジャンプ"};
  for (const std::string& jump : jumps) expected << Q(jump);
  EXPECT_EQ(FormFixture::VisibleTexts(form->History), expected);
  EXPECT_EQ(form->LV2->GetPathName(), jumps[11]);
  EXPECT_EQ(form->LV1->GetPathName(), files.path());

  Lines drives;
  ListLogicalDrives(&drives);
  ASSERT_TRUE(f.Focus(form->LV1));
  f.ChooseEntry("/");
  NExecute(*form);
  EXPECT_EQ(form->HistoryTag, 6);
  expected = QStringList{"ドライブリスト"};
  for (const std::string& drive : drives) expected << Q(drive);
  EXPECT_EQ(FormFixture::VisibleTexts(form->History), expected);  // the extra entries hide again
  EXPECT_EQ(form->LV1->GetPathName(), "/");
}

TEST_F(MainFormTabsTest, FilterTakesSeveralMasksQuotesAndEmptyOnes) {
  const std::string dir = files.dir("mix"), other = files.dir("other"), sub = files.dir("mix/docs");
  for (const char* name : {"mix/a.txt", "mix/b.LOG", "mix/c.md", "mix/my file.txt", "mix/readme", "other/p.md"})
    files.file(name);
  TForm1* form = Open({dir});
  auto filter = [&](const std::string& folder, const QString& mask) {
    form->Edit1->setText(Q(folder) + "/" + mask);
    EXPECT_TRUE(f.Focus(form->Edit1));
    QTest::keyClick(form->Edit1, Qt::Key_Return);
    return Names(form->LV1);
  };
  const Lines all{"a.txt", "b.LOG", "c.md", "docs", "my file.txt", "readme"};
  EXPECT_EQ(filter(dir, "*.txt,*.log"), (Lines{"a.txt", "b.LOG", "my file.txt"}));
  EXPECT_TRUE(form->LV1->isAncestorOf(QApplication::focusWidget()));
  EXPECT_EQ(filter(dir, "*.txt *.md"), (Lines{"a.txt", "c.md", "my file.txt"}));
  EXPECT_EQ(filter(dir, "\"my file.txt\", c*.*"), (Lines{"c.md", "my file.txt"}));
  EXPECT_EQ(filter(dir, "d*"), Lines{"docs"});  // folders too
  EXPECT_EQ(filter(dir, ",,,"), Lines{});
  EXPECT_EQ(filter(dir, ""), all);
  EXPECT_EQ(filter(dir, "*.*"), all);
  EXPECT_EQ(filter(other, "*.txt"), Lines{});  // Enter goes to the folder the edit names
  EXPECT_EQ(form->LV1->GetPathName(), other);

  ASSERT_TRUE(f.Focus(form->LV1));
  WWExecute(*form);
  EXPECT_EQ(form->Edit1->text(), Q(other) + "/*.*");
  EXPECT_EQ(Names(form->LV1), Lines{"p.md"});
  EXPECT_EQ(TForm1::SplitMasks("\"say \"\"hi\"\"\"\t\"open"), (Lines{"say \"hi\"", "open"}));
}

TEST_F(MainFormTabsTest, CommandsNeedAListWithTheFocus) {
  const Lines t = Folders("t", 2);
  TForm1* form = Open(t);
  form->Edit1->setText(Q(t[0]) + "/*.txt");
  ASSERT_TRUE(f.Focus(form->Edit1));
  for (void (*command)(TForm1&) :
       {&HExecute, &HHExecute, &JExecute, &NExecute, &TExecute, &TTExecute, &WWExecute, &LExecute})
    command(*form);
  EXPECT_TRUE(f.popups.empty());
  EXPECT_EQ(form->TC1->count(), 2);
  EXPECT_EQ(form->Edit1->text(), Q(t[0]) + "/*.txt");
}

TEST_F(MainFormTabsTest, BothPanesFollowADeletedFolderAndNoTabLineIsMinusOne) {
  const std::string shown = files.dir("shown");
  files.file("shown/a.txt", "a");
  const std::string other = files.dir("other");
  TForm1* form = Open({shown}, {shown});
  ASSERT_TRUE(f.Focus(form->LV1));
  ASSERT_EQ(Names(form->LV1), Lines{"a.txt"});
  ASSERT_EQ(Names(form->LV2), Lines{"a.txt"});
  // Emptied first, then removed; the program's working folder is this one.
  std::filesystem::remove_all(shown);
  // The focused pane and the other one alike move to the parent that is left.
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == files.path(); }, 8000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->LV2->GetPathName() == files.path(); }, 8000));
  EXPECT_EQ(Names(form->LV2), Lines{"other"});
  // Read again with G: the pane names that parent, never "/".
  GExecute(*form);
  QApplication::processEvents();
  EXPECT_EQ(form->Path1SL.Lines, Lines{files.path()});
  EXPECT_EQ(form->Path2SL.Lines, Lines{files.path()});
  EXPECT_FALSE(form->Edit1->text().startsWith("/*"));
  // Moving on from there works as ever.
  form->LV2->SetPathName(other);
  EXPECT_EQ(form->Path2SL.Lines, Lines{other});
  f.Close();
  for (const char* name : {"log/Path1SL.text", "log/Path2SL.text"}) {
    TLineList saved;
    saved.LoadFromFile(f.StatePath(name));
    EXPECT_EQ(saved.IndexOf("-1"), -1) << name;
  }
}

}  // namespace
