// Start-up and shut-down of the main window: the INI keys, the line lists,
// the tool bar files, a fresh state folder, and state that cannot be written.
#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
#include <QSplitter>
#include <QTabBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "FormFixture.h"
#include "app/RunControl.h"
#include "platform/namespace/IDList.h"
#include "platform/state/IniFile.h"
#include "platform/state/LineList.h"
#include "platform/system/Library.h"

namespace {

std::vector<std::string> LinesOfFile(const std::string& path) {
  TLineList list;
  list.LoadFromFile(path);
  return list.Lines;
}

std::vector<std::string> Hints(TForm1* form, QToolBar* bar) {
  std::vector<std::string> hints;
  for (QToolButton* button : form->Buttons(bar)) hints.push_back(TForm1::HintOf(button));
  return hints;
}

class MainFormState : public ::testing::Test {
 protected:
  FormFixture f;

  std::string Dir(const std::string& name) { return f.state.dir("files/" + name); }
  int IniInt(const std::string& key, int fallback = -12345) {
    return TIniFile(f.StatePath("tolvane.ini")).ReadInteger("Window", key, fallback);
  }
  void WriteIni(const std::string& text) { f.WriteState("tolvane.ini", text); }
};

TEST_F(MainFormState, StartUpReadsEveryKeyListAndBar) {
  const std::string a = Dir("alpha"), b = Dir("beta"), c = Dir("gamma");
  const std::string launcher = f.state.file("files/notes.txt", "x");
  f.WriteLines("log/Path1SL.text", {a, b});
  f.WriteLines("log/Path2SL.text", {c});
  f.WriteLines("log/HistoryPath1.text", {"/h1a", "/h1b"});
  f.WriteLines("log/HistoryPath2.text", {"/h2"});
  f.WriteLines("log/FileRunPath1.text", {"/r1.txt"});
  f.WriteLines("log/FileRunPath2.text", {"/r2.txt", "/r3.txt"});
  f.WriteLines("log/ImagePath.text", {"/i1.png", "/i2.png"});
  f.WriteLines("log/TextPath.text", {"/t1.md"});
  f.WriteLines("log/ToolBar1.txt", {launcher});
  f.WriteLines("log/ToolBar2.txt", {c, a, b});
  WriteIni(
      "[Window]\nTop=40\nLeft=30\nWidth=600\nHeight=400\nState=0\nListViewWide=250\n"
      "TreeView1Wide=150\nTreeView2Wide=170\nTC1TabIndex=1\nTC2TabIndex=0\nImageTabIndex=1\nTextTabIndex=0\n"
      "[Ext]\nImageExt=.png;.gif\nTextExt=.md\n[ListView1]\nViewStyle=3\n[ListView2]\nViewStyle=2\n");
  TForm1* form = f.Open();

  EXPECT_EQ(form->x(), 30);
  EXPECT_EQ(form->y(), 40);
  EXPECT_EQ(form->width(), 600);
  EXPECT_EQ(form->height(), 400);
  EXPECT_EQ(form->WindowStateCode(), 0);
  EXPECT_EQ(form->TC1Pane->width(), 250);
  EXPECT_EQ(form->ImageExt, ".png;.gif");
  EXPECT_EQ(form->TextExt, ".md");
  EXPECT_EQ(form->ImageTabIndex, 1);
  EXPECT_EQ(form->TextTabIndex, 0);
  EXPECT_EQ(form->LV1->ViewStyle(), vsReport);
  EXPECT_EQ(form->LV2->ViewStyle(), vsList);

  // One tab per line, the saved one current, its folder shown, the left list focused.
  ASSERT_EQ(form->TC1->count(), 2);
  EXPECT_EQ(form->TC1->tabText(0), "alpha");
  EXPECT_EQ(form->TC1->tabText(1), "beta");
  EXPECT_EQ(form->TC1->currentIndex(), 1);
  EXPECT_EQ(form->LV1->GetPathName(), b);
  ASSERT_EQ(form->TC2->count(), 1);
  EXPECT_EQ(form->LV2->GetPathName(), c);
  EXPECT_EQ(form->CurrentList(), form->LV1);

  EXPECT_EQ(form->Path1SL.Lines, (std::vector<std::string>{a, b}));
  EXPECT_EQ(form->FileRunPath1.Lines, (std::vector<std::string>{"/r1.txt"}));
  EXPECT_EQ(form->FileRunPath2.Lines, (std::vector<std::string>{"/r2.txt", "/r3.txt"}));
  EXPECT_EQ(form->ImagePath.Lines, (std::vector<std::string>{"/i1.png", "/i2.png"}));
  EXPECT_EQ(form->TextPath.Lines, (std::vector<std::string>{"/t1.md"}));
  // The folders shown at start head the histories; what was read follows.
  EXPECT_EQ(form->HistoryPath1.Lines, (std::vector<std::string>{b, "/h1a", "/h1b"}));
  EXPECT_EQ(form->HistoryPath2.Lines, (std::vector<std::string>{c, "/h2"}));

  EXPECT_EQ(Hints(form, form->ToolBar1), (std::vector<std::string>{launcher}));
  EXPECT_EQ(Hints(form, form->ToolBar2), (std::vector<std::string>{c, a, b}));
}

TEST_F(MainFormState, ShutDownWritesListsBarsAndKeys) {
  const std::string a = Dir("alpha"), b = Dir("beta"), c = Dir("gamma");
  f.WriteLines("log/Path1SL.text", {a, b});
  f.WriteLines("log/Path2SL.text", {c});
  f.WriteLines("log/ToolBar2.txt", {b, a});
  WriteIni("[Window]\nTC1TabIndex=1\nTreeView1Wide=150\nTreeView2Wide=170\n");
  TForm1* form = f.Open();
  form->FileRunPath1.Add("/ran.txt");
  form->ImagePath.Lines = {"/p.png", "/q.png"};
  form->ImageTabIndex = 1;
  form->TextTabIndex = 0;
  form->move(50, 60);
  form->resize(640, 420);
  QApplication::processEvents();
  form->TC2->addTab("extra");
  form->Path2SL.Add(a);
  form->TC2->setCurrentIndex(1);
  form->LV2->SetPathName(a);
  const int paneWidth = form->TC1Pane->width();
  f.Close();

  // Every line ends with CR LF.
  EXPECT_EQ(ReadWholeFile(f.StatePath("log/Path1SL.text")), a + "\r\n" + b + "\r\n");
  EXPECT_EQ(LinesOfFile(f.StatePath("log/Path2SL.text")), (std::vector<std::string>{c, a}));
  EXPECT_EQ(LinesOfFile(f.StatePath("log/HistoryPath1.text")), (std::vector<std::string>{b}));
  EXPECT_EQ(LinesOfFile(f.StatePath("log/HistoryPath2.text")), (std::vector<std::string>{a, c}));
  EXPECT_EQ(LinesOfFile(f.StatePath("log/FileRunPath1.text")), (std::vector<std::string>{"/ran.txt"}));
  EXPECT_EQ(ReadWholeFile(f.StatePath("log/FileRunPath2.text")), "");
  EXPECT_EQ(LinesOfFile(f.StatePath("log/ImagePath.text")), (std::vector<std::string>{"/p.png", "/q.png"}));
  EXPECT_EQ(LinesOfFile(f.StatePath("log/TextPath.text")), (std::vector<std::string>{"defo"}));
  // Both bar files, in button order, the empty one too.
  EXPECT_EQ(LinesOfFile(f.StatePath("log/ToolBar2.txt")), (std::vector<std::string>{b, a}));
  ASSERT_TRUE(std::filesystem::exists(f.StatePath("log/ToolBar1.txt")));
  EXPECT_EQ(ReadWholeFile(f.StatePath("log/ToolBar1.txt")), "");

  EXPECT_EQ(IniInt("Left"), 50);
  EXPECT_EQ(IniInt("Top"), 60);
  EXPECT_EQ(IniInt("Width"), 640);
  EXPECT_EQ(IniInt("Height"), 420);
  EXPECT_EQ(IniInt("State"), 0);
  EXPECT_EQ(IniInt("ListViewWide"), paneWidth);
  // Trees never shown keep the widths they were given.
  EXPECT_EQ(IniInt("TreeView1Wide"), 150);
  EXPECT_EQ(IniInt("TreeView2Wide"), 170);
  EXPECT_EQ(IniInt("TC1TabIndex"), 1);
  EXPECT_EQ(IniInt("TC2TabIndex"), 1);
  EXPECT_EQ(IniInt("ImageTabIndex"), 1);
  EXPECT_EQ(IniInt("TextTabIndex"), 0);
  // The list views' own sections.
  EXPECT_TRUE(TIniFile(f.StatePath("tolvane.ini")).SectionExists("ListView1"));
  EXPECT_TRUE(TIniFile(f.StatePath("tolvane.ini")).SectionExists("ListView2"));
  // Keys the user edits by hand are never written; a missing preview list is
  // seeded with the first-day extensions.
  EXPECT_FALSE(TIniFile(f.StatePath("tolvane.ini")).ValueExists("Edit", "Path1"));
  EXPECT_NE(TIniFile(f.StatePath("tolvane.ini")).ReadString("Ext", "ImageExt", "").find(".jpg"), std::string::npos);
}

TEST_F(MainFormState, MaximisedKeepsTheNormalBounds) {
  WriteIni("[Window]\nTop=40\nLeft=30\nWidth=500\nHeight=350\nState=0\n");
  TForm1* form = f.Open();
  form->setWindowState(Qt::WindowMaximized);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->width() != 500; }, 5000));
  f.Close();
  EXPECT_EQ(IniInt("State"), 2);
  EXPECT_EQ(IniInt("Top"), 40);
  EXPECT_EQ(IniInt("Left"), 30);
  EXPECT_EQ(IniInt("Width"), 500);
  EXPECT_EQ(IniInt("Height"), 350);

  // The next start restores those bounds, then maximises.
  form = f.Open();
  EXPECT_EQ(form->WindowStateCode(), 2);
  EXPECT_EQ(form->normalGeometry().size(), QSize(500, 350));
}

TEST_F(MainFormState, HiddenListSavesTheFolderTabKeptInTag) {
  const std::string a = Dir("a"), b = Dir("b"), c = Dir("c");
  f.WriteLines("log/Path1SL.text", {a, b, c});
  f.WriteLines("log/Path2SL.text", {a, b});
  TForm1* form = f.Open();
  // A preview holds the left pane: its tabs are preview tabs, the folder tab waits in the Tag.
  form->TC1Tag = 2;
  form->TC1->setCurrentIndex(0);
  form->LV1->hide();
  form->TC2Tag = 0;
  form->TC2->setCurrentIndex(1);
  f.Close();
  EXPECT_EQ(IniInt("TC1TabIndex"), 2);
  EXPECT_EQ(IniInt("TC2TabIndex"), 1);
}

TEST_F(MainFormState, TreeIndexLinesShowTheirNodeOrTheHomeFolder) {
  const std::string other = Dir("other");
  f.WriteLines("log/Path1SL.text", {"1"});
  f.WriteLines("log/Path2SL.text", {"-1", "9999"});
  WriteIni("[Window]\nTC2TabIndex=1\n");
  TForm1* form = f.Open();

  // The second child of the desktop: a folder without a path, captioned as its node.
  TShellTreeNode* node = TShellTreeView::NodeOf(form->TV1->RootNode()->child(1));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(form->TC1->tabText(0), node->text(0));
  EXPECT_EQ(form->LV1->GetPathName(), "");
  ASSERT_NE(form->LV1->FolderIDList(), nullptr);
  EXPECT_TRUE(IDListsEqual(form->LV1->FolderIDList(), node->ShellItem()->GetAbsoluteIDList()));

  // Numbers that name no child stand for the home folder.
  EXPECT_EQ(form->TC2->tabText(0), "home");
  EXPECT_EQ(form->LV2->GetPathName(), f.HomePath());
  form->LV2->SetPathName(other);
  form->TC2->setCurrentIndex(0);
  form->ShowTabFolder(form->LV2);
  EXPECT_EQ(form->LV2->GetPathName(), f.HomePath());

  EXPECT_TRUE(TForm1::IsTreeIndex("3"));
  EXPECT_TRUE(TForm1::IsTreeIndex("-1"));
  EXPECT_FALSE(TForm1::IsTreeIndex(""));
  EXPECT_FALSE(TForm1::IsTreeIndex("/3"));
  EXPECT_FALSE(TForm1::IsTreeIndex("3a"));
  EXPECT_FALSE(TForm1::IsTreeIndex("99999999999"));
}

TEST_F(MainFormState, FreshStateFolderIsSeeded) {
  TForm1* form = f.Open();
  const std::string home = f.HomePath();
  EXPECT_EQ(ReadWholeFile(f.StatePath("log/Path1SL.text")), home + "\r\n");
  EXPECT_EQ(ReadWholeFile(f.StatePath("log/Path2SL.text")), home + "\r\n");
  EXPECT_EQ(ReadWholeFile(f.StatePath("log/ImagePath.text")), "defo\r\n");
  EXPECT_EQ(ReadWholeFile(f.StatePath("log/TextPath.text")), "defo\r\n");
  EXPECT_EQ(TIniFile(f.StatePath("registry.ini"))
                .ReadString("HKEY_CURRENT_USER\\Software\\Kirinaro\\Susie\\Plug-in", "Path", ""),
            ExecutableFolder() + "/spi");
  ASSERT_TRUE(std::filesystem::exists(f.StatePath("log/HistoryPath1.text")));
  EXPECT_EQ(ReadWholeFile(f.StatePath("log/HistoryPath1.text")), "");
  std::string imageExt = TIniFile(f.StatePath("tolvane.ini")).ReadString("Ext", "ImageExt", "");
  EXPECT_NE(imageExt.find(".png"), std::string::npos);
  EXPECT_NE(imageExt.find(".jpg"), std::string::npos);
  EXPECT_EQ(form->ImageExt, imageExt);
  EXPECT_NE(form->TextExt.find(".txt"), std::string::npos);
  EXPECT_EQ(form->TC1->count(), 1);
  EXPECT_EQ(form->LV1->GetPathName(), home);
  EXPECT_EQ(form->LV2->GetPathName(), home);
  EXPECT_TRUE(f.messages.empty());
}

TEST_F(MainFormState, MissingOrUnreadableListsStartFresh) {
  // Not a fresh folder (the INI file exists), but the pane and preview lists are
  // gone or unreadable, and a bar file holds blank lines.
  const std::string a = Dir("a");
  WriteIni("[Window]\nTC1TabIndex=5\nImageTabIndex=7\n");
  f.WriteState("log/Path2SL.text", std::string("/x\0/y", 5));
  f.WriteLines("log/HistoryPath1.text", {"/kept"});
  f.WriteLines("log/ToolBar2.txt", {"", a, ""});
  TForm1* form = f.Open();
  EXPECT_EQ(form->Path1SL.Lines, (std::vector<std::string>{f.HomePath()}));
  EXPECT_EQ(form->Path2SL.Lines, (std::vector<std::string>{f.HomePath()}));
  EXPECT_EQ(form->ImagePath.Lines, (std::vector<std::string>{"defo"}));
  EXPECT_EQ(form->TextPath.Lines, (std::vector<std::string>{"defo"}));
  EXPECT_TRUE(form->FileRunPath1.Lines.empty());
  EXPECT_EQ(form->HistoryPath1.Lines.back(), "/kept");
  EXPECT_EQ(form->TC1->count(), 1);
  EXPECT_EQ(form->TC1->currentIndex(), 0);
  EXPECT_EQ(form->ImageTabIndex, 0);
  EXPECT_EQ(form->LV1->GetPathName(), f.HomePath());
  EXPECT_EQ(form->LV2->GetPathName(), f.HomePath());
  EXPECT_EQ(Hints(form, form->ToolBar1), std::vector<std::string>{});
  EXPECT_EQ(Hints(form, form->ToolBar2), (std::vector<std::string>{a}));
  // A tab whose folder has gone since still opens the pane somewhere.
  f.Close();
  f.WriteLines("log/Path1SL.text", {f.state.path() + "/files/gone"});
  form = f.Open();
  EXPECT_EQ(form->LV1->GetPathName(), f.HomePath());
}

TEST_F(MainFormState, UnwritableStateGoesToTheFallbackFolder) {
  // A log "folder" that is a file and an INI "file" that is a folder: neither
  // can be written, whoever runs the test.
  const std::string a = Dir("a");
  std::filesystem::remove_all(f.StatePath("log"));
  f.WriteState("log", "not a folder");
  f.state.dir("state/tolvane.ini");
  TForm1* form = f.Open();
  form->LV1->SetPathName(a);
  form->FileRunPath2.Add("/ran.txt");
  form->resize(610, 410);
  f.Close();

  const std::string fallback = f.state.path() + "/config/tolvane";
  EXPECT_EQ(LinesOfFile(fallback + "/log/Path1SL.text"), (std::vector<std::string>{a}));
  EXPECT_EQ(LinesOfFile(fallback + "/log/FileRunPath2.text"), (std::vector<std::string>{"/ran.txt"}));
  EXPECT_TRUE(std::filesystem::exists(fallback + "/log/ToolBar1.txt"));
  EXPECT_EQ(TIniFile(fallback + "/tolvane.ini").ReadInteger("Window", "Width", 0), 610);
  ASSERT_EQ(f.messages.size(), 2u);
  EXPECT_NE(f.messages[0].find(fallback + "/log"), std::string::npos);
  EXPECT_NE(f.messages[1].find(fallback + "/tolvane.ini"), std::string::npos);

  // While the usual place stays unwritable, the next start reads what was saved.
  f.messages.clear();
  form = f.Open();
  EXPECT_EQ(form->LV1->GetPathName(), a);
  EXPECT_EQ(form->FileRunPath2.Lines, (std::vector<std::string>{"/ran.txt"}));
  EXPECT_EQ(form->width(), 610);
}

TEST_F(MainFormState, UnattendedRunTakesAScreenshotAndClosesCleanly) {
  const std::string shot = f.state.path() + "/shot.png";
  EnvGuard screenshot("TOLVANE_SCREENSHOT", shot);
  EnvGuard after("TOLVANE_SCREENSHOT_AFTER_MS", "10");
  EnvGuard quit("TOLVANE_QUIT_AFTER_MS", "50");
  TForm1* form = f.Open();
  InstallRunControl(form);
  form->repaint();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 3000));
  QImage image(QString::fromStdString(shot));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), form->size() * form->devicePixelRatio());
  // Closed as a user closes it: the state is on disk.
  EXPECT_EQ(LinesOfFile(f.StatePath("log/Path1SL.text")), (std::vector<std::string>{f.HomePath()}));
  EXPECT_EQ(IniInt("State"), 0);
}

TEST_F(MainFormState, TreeWidthSurvivesHidingAndRestart) {
  WriteIni("[Window]\nTreeView1Wide=150\n");
  TForm1* form = f.Open();
  form->TV1->show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->TV1->width() == 150; }, 5000)) << form->TV1->width();
  // The user drags the splitter, then the tree hides again.
  QList<int> sizes = form->Panes->sizes();
  sizes[0] += 30;
  sizes[2] -= 30;
  form->Panes->setSizes(sizes);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->TV1->width() == 180; }, 5000)) << form->TV1->width();
  form->TV1->hide();
  QApplication::processEvents();
  f.Close();
  EXPECT_EQ(IniInt("TreeView1Wide"), 180);
  form = f.Open();
  form->TV1->show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->TV1->width() == 180; }, 5000)) << form->TV1->width();
}

}  // namespace
