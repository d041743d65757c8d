// The launcher and folder bars on a real main window: building, pictures,
// registering with Q and F, saving and loading, and the folder buttons' clicks.
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "FormFixture.h"
#include "TempDir.h"
#include "platform/state/LineList.h"
#include "platform/namespace/PathText.h"

namespace {

using Lines = std::vector<std::string>;

QImage Picture(const QIcon& icon) { return icon.pixmap(16, 16).toImage(); }

class MainFormToolbarsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    left = files.dir("left");
    right = files.dir("right");
    form = f.OpenOn(left, right);
  }
  Lines Hints(QToolBar* bar) {
    Lines hints;
    for (QToolButton* button : form->Buttons(bar)) hints.push_back(TForm1::HintOf(button));
    return hints;
  }
  QStringList Captions(QToolBar* bar) {
    QStringList captions;
    for (QToolButton* button : form->Buttons(bar)) captions << button->text();
    return captions;
  }
  static TLineList LinesOf(const Lines& lines) {
    TLineList list;
    for (const std::string& line : lines) list.Add(line);
    return list;
  }
  // Selects the named items of the list in order; the last one gets the focus mark.
  void Select(TShellListView* list, const Lines& names) {
    list->SelectAllRows(false);
    for (const std::string& name : names) {
      int row = -1;
      for (int i = 0; i < list->FileList()->Count(); ++i)
        if (BaseName(list->FileList()->Items(i)->GetItemPath()) == name) row = i;
      ASSERT_GE(row, 0) << name;
      list->SetRowSelected(row, true);
      list->SetFocusedRow(row);
    }
  }

  TempDir files;
  FormFixture f;
  TForm1* form = nullptr;
  std::string left, right;
};

TEST_F(MainFormToolbarsTest, BarsKeepLineOrderPicturesAndByteExactHints) {
  const std::string text = files.file("left/notes.txt", "n");
  const std::string missing = left + "/gone.sh";
  const std::string folder = files.dir("left/a&b.d");
  form->BuildLauncherBar(LinesOf({text, missing, folder}), form->ToolBar1, form->ImageList1);
  EXPECT_EQ(Hints(form->ToolBar1), (Lines{text, missing, folder}));
  EXPECT_EQ(Captions(form->ToolBar1), (QStringList{"notes", "gone", "a&&b"}));
  EXPECT_EQ(f.messages, Lines{"アイコンがありません.どうしよう"});
  // The missing icon keeps its place: the folder's picture stays on the folder's button.
  ASSERT_EQ(form->ImageList1.size(), 3u);
  std::vector<QToolButton*> buttons = form->Buttons(form->ToolBar1);
  EXPECT_EQ(Picture(buttons[2]->icon()), Picture(form->ImageList1[2]));
  EXPECT_NE(Picture(buttons[1]->icon()), Picture(form->ImageList1[2]));

  const std::string odd = files.dir("caf\xe9");  // not UTF-8
  form->BuildFolderBar(LinesOf({left, "/", odd}), form->ToolBar2);
  EXPECT_EQ(Hints(form->ToolBar2), (Lines{left, "/", odd}));
  EXPECT_EQ(Captions(form->ToolBar2).mid(0, 2), (QStringList{"left", ""}));
  EXPECT_EQ(Picture(form->Buttons(form->ToolBar2)[0]->icon()), Picture(form->ImageList2));

  form->ClearToolBar(form->ToolBar1, &form->ImageList1);
  form->ClearToolBar(form->ToolBar2);
  EXPECT_TRUE(form->Buttons(form->ToolBar1).empty() && form->Buttons(form->ToolBar2).empty());
  EXPECT_TRUE(form->ImageList1.empty());
}

TEST_F(MainFormToolbarsTest, QAndFRegisterAndTheBarsComeBackInOrder) {
  const std::string tool = files.file("left/tool.sh", "#!/bin/sh\n");
  const std::string plain = files.dir("left/plain");
  files.dir("left/with.dot");
  files.file("left/a-file");
  form->LV1->RefreshList();
  const std::string first = files.dir("first");
  form->BuildFolderBar(LinesOf({first}), form->ToolBar2);
  ASSERT_TRUE(f.Focus(form->LV1));

  QExecute(*form);  // nothing selected
  EXPECT_TRUE(form->Buttons(form->ToolBar1).empty());
  Select(form->LV1, {"tool.sh"});
  QExecute(*form);
  Select(form->LV1, {"plain"});
  QExecute(*form);  // any item may be a launcher
  EXPECT_EQ(Hints(form->ToolBar1), (Lines{tool, plain}));

  Select(form->LV1, {"with.dot"});
  FExecute(*form);
  Select(form->LV1, {"a-file"});
  FExecute(*form);
  EXPECT_EQ(Hints(form->ToolBar2), Lines{first});
  Select(form->LV1, {"plain", "with.dot"});  // only the first in list order
  FExecute(*form);
  EXPECT_EQ(Hints(form->ToolBar2), (Lines{first, plain}));

  f.Close();
  TLineList saved1, saved2;
  ASSERT_TRUE(saved1.LoadFromFile(f.StatePath("log/ToolBar1.txt")));
  ASSERT_TRUE(saved2.LoadFromFile(f.StatePath("log/ToolBar2.txt")));
  EXPECT_EQ(saved1.Lines, (Lines{tool, plain}));
  EXPECT_EQ(saved2.Lines, (Lines{first, plain}));
  form = f.Open();
  EXPECT_EQ(Hints(form->ToolBar1), (Lines{tool, plain}));
  EXPECT_EQ(Hints(form->ToolBar2), (Lines{first, plain}));
}

TEST_F(MainFormToolbarsTest, FolderButtonsMoveTheFocusedPaneAndOpenTheFolderMenu) {
  const std::string target = files.dir("target");
  form->BuildFolderBar(LinesOf({target}), form->ToolBar2);
  QToolButton* button = form->Buttons(form->ToolBar2).front();

  ASSERT_TRUE(f.Focus(form->LV2));
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(form->LV2->GetPathName(), target);
  EXPECT_EQ(form->LV1->GetPathName(), left);
  EXPECT_TRUE(form->LV2->isAncestorOf(QApplication::focusWidget()));

  ASSERT_TRUE(f.Focus(form->Edit2));
  form->PopupMenu2Tag = 0;
  QTest::mouseClick(button, Qt::RightButton);
  ASSERT_EQ(f.popups.size(), 1u);
  EXPECT_EQ(f.popups[0], form->PopupMenu2);
  EXPECT_EQ(form->PopupMenu2Tag, 1);
  EXPECT_EQ(form->PopupMenu2Root.toStdString(), target);

  // Focus in neither pane: the menu cannot know which pane to move.
  QApplication::focusWidget()->clearFocus();
  QTest::mouseClick(button, Qt::RightButton);
  EXPECT_EQ(f.popups.size(), 1u);
  EXPECT_EQ(f.messages, Lines{"どちらに展開すべきかわかりません"});
}

}  // namespace
