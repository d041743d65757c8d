// The window's two sides: which pane a control belongs to, which pane has the
// focus, and the folder tab a pane keeps while a preview covers its list.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTabBar>
#include <QTest>
#include <QToolBar>

#include "FormFixture.h"
#include "app/TextView.h"

namespace {

class PaneTest : public ::testing::Test {
 protected:
  TempDir files;  // outlives the window
  FormFixture f;
};

TEST_F(PaneTest, EachPaneOwnsItsPartsAndTheWindowFindsThePaneOfEach) {
  TForm1* form = f.OpenOn(files.dir("a"), files.dir("b"));
  for (TPane* pane : {&form->Left, &form->Right}) {
    const QObject* parts[] = {pane->List, pane->Tabs, pane->Edit, pane->Tree, pane->Status, pane->Widget};
    for (const QObject* part : parts) EXPECT_EQ(form->PaneOf(part), pane) << part->objectName().toStdString();
    EXPECT_EQ(&form->OtherPane(form->OtherPane(*pane)), pane);
    EXPECT_NE(&form->OtherPane(*pane), pane);
    EXPECT_EQ(&form->PaneAt(pane->Index()), pane);
  }
  EXPECT_TRUE(form->Left.IsLeft());
  EXPECT_FALSE(form->Right.IsLeft());
  // The design's names are the panes' own parts and lines.
  EXPECT_EQ(form->LV1, form->Left.List);
  EXPECT_EQ(form->TC2, form->Right.Tabs);
  EXPECT_EQ(&form->Path2SL, &form->Right.Lines);
  EXPECT_EQ(&form->HistoryPath1, &form->Left.History);
  // The window's own controls, and the previews that move between the panes, are no pane's.
  const QObject* others[] = {form->ToolBar1, form->Image1, form->Memo1, form->Panes, nullptr};
  for (const QObject* other : others) EXPECT_EQ(form->PaneOf(other), nullptr);
}

TEST_F(PaneTest, TheCurrentPaneIsTheOneWhoseListHasTheFocus) {
  TForm1* form = f.OpenOn(files.dir("a"), files.dir("b"));
  ASSERT_TRUE(f.Focus(form->LV2));
  EXPECT_EQ(form->CurrentPane(), &form->Right);
  EXPECT_EQ(form->CurrentList(), form->LV2);
  // Inside the list (its view) counts as the list.
  QWidget* inner = QApplication::focusWidget();
  EXPECT_TRUE(form->Right.ListHasFocus(inner));
  EXPECT_FALSE(form->Left.ListHasFocus(inner));
  // The filter edit belongs to the pane, but the commands need its list.
  ASSERT_TRUE(f.Focus(form->Edit1));
  EXPECT_EQ(form->CurrentPane(), nullptr);
  EXPECT_TRUE(form->Left.HasFocus(QApplication::focusWidget()));
  EXPECT_FALSE(form->Right.HasFocus(QApplication::focusWidget()));
}

TEST_F(PaneTest, APreviewOverAPaneKeepsItsFolderTabUntilTheListComesBack) {
  const std::string left = files.dir("left");
  files.file("left/note.txt", "hello\n");
  f.WriteState("tolvane.ini", "[Ext]\nImageExt=.bmp\nTextExt=.txt\n");
  f.WriteLines("log/Path1SL.text", {left});
  f.WriteLines("log/Path2SL.text", {files.dir("r0"), files.dir("r1")});
  TForm1* form = f.Open();
  form->TC2->setCurrentIndex(1);
  form->ShowTabFolder(form->LV2);
  ASSERT_TRUE(f.Focus(form->LV1));
  form->LV1->RefreshList();
  FormFixture::SelectOnly(form->LV1, "note.txt");
  VExecute(*form);
  ASSERT_TRUE(form->LV2->isHidden());
  EXPECT_EQ(form->Memo1->parentWidget(), form->TC2Pane);
  // The tabs are the preview's now; the folder tab waits aside.
  EXPECT_EQ(form->Right.FolderTab(), 1);
  EXPECT_EQ(form->TC2Tag, 1);
  EXPECT_EQ(form->CurrentTabLine(form->Right), files.dir("r1"));
  form->RestorePane(form->LV2);
  EXPECT_FALSE(form->LV2->isHidden());
  EXPECT_EQ(form->TC2->currentIndex(), 1);
  EXPECT_EQ(form->Right.FolderTab(), 1);
}

}  // namespace
