// The folder menu over a real folder tree: its levels, moving a pane, opening
// a file, the top of the tree, and names that are not UTF-8.
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include "FormFixture.h"

namespace {

class FolderMenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = files.dir("root");
    for (const char* folder : {"root/alpha/deep", "root/beta", "root/.hidden"}) files.dir(folder);
    for (const char* file : {"root/alpha/inner.txt", "root/z.txt", "root/.dot", "root/a&b.txt"}) files.file(file);
    f.WriteLines("log/Path1SL.text", {files.path()});
    f.WriteLines("log/Path2SL.text", {files.path()});
    form = f.Open();
    form->Hooks.OpenChosenFile = [this](const std::string& path) { opened.push_back(path); };
  }
  // Focuses the list with the named item focused and selected.
  void FocusItem(TShellListView* list, const std::string& name) {
    ASSERT_TRUE(f.Focus(list));
    list->SelectAllRows(false);
    for (int i = 0; i < list->FileList()->Count(); ++i)
      if (TForm1::LastPathComponent(list->FileList()->Items(i)->GetItemPath()) == name) {
        list->SetRowSelected(i, true);
        list->SetFocusedRow(i);
      }
  }
  // Answers the menu by opening the submenus along the path and clicking its last entry.
  void ChoosePath(const QStringList& path) {
    f.choose = [path](QMenu* menu) -> QAction* {
      for (int i = 0; i + 1 < path.size() && menu; ++i) menu = FormFixture::OpenSubmenu(menu, path[i]);
      QAction* entry = menu ? FormFixture::Entry(menu, path.back()) : nullptr;
      if (entry) entry->trigger();
      return entry;
    };
  }
  TempDir files;
  FormFixture f;
  TForm1* form = nullptr;
  std::string root;
  std::vector<std::string> opened;
};

TEST_F(FolderMenuTest, EveryLevelReadsFolderUpSubfoldersFiles) {
  FocusItem(form->LV1, "root");
  LExecute(*form);
  ASSERT_EQ(f.popups, std::vector<QMenu*>{form->PopupMenu2});
  EXPECT_EQ(form->PopupMenu2Tag, 0);
  // Hidden folders stay out, hidden files are listed.
  EXPECT_EQ(FormFixture::VisibleTexts(form->PopupMenu2),
            (QStringList{"root", "↑", "alpha", "beta", ".dot", "a&b.txt", "z.txt"}));
  QMenu* alpha = FormFixture::OpenSubmenu(form->PopupMenu2, "alpha");
  EXPECT_EQ(FormFixture::VisibleTexts(alpha), (QStringList{"alpha", "↑", "deep", "inner.txt"}));
  emit alpha->aboutToShow();  // filled once per popup
  EXPECT_EQ(alpha->actions().size(), 4);
  EXPECT_EQ(FormFixture::VisibleTexts(FormFixture::OpenSubmenu(alpha, "↑")).mid(0, 3),
            (QStringList{"root", "↑", "alpha"}));

  QPointer<QMenu> old = alpha;  // the next popup builds afresh
  LExecute(*form);
  EXPECT_TRUE(old.isNull());
  EXPECT_EQ(FormFixture::VisibleTexts(form->PopupMenu2).size(), 7);
}

TEST_F(FolderMenuTest, EntriesMoveTheirPaneOrOpenTheirFile) {
  FocusItem(form->LV1, "root");
  ChoosePath({"alpha", "deep", "deep"});
  LExecute(*form);
  EXPECT_EQ(form->LV1->GetPathName(), root + "/alpha/deep");
  EXPECT_EQ(form->LV2->GetPathName(), files.path());

  FocusItem(form->LV2, "root");  // the right pane follows a menu opened from it
  ChoosePath({"↑", "↑", QString::fromStdString(TForm1::LastPathComponent(files.path()))});
  LExecute(*form);
  EXPECT_EQ(form->PopupMenu2Tag, 1);
  EXPECT_EQ(form->LV2->GetPathName(), files.path());

  ChoosePath({"a&b.txt"});
  LExecute(*form);
  ChoosePath({"alpha", "inner.txt"});
  LExecute(*form);
  EXPECT_EQ(opened, (std::vector<std::string>{root + "/a&b.txt", root + "/alpha/inner.txt"}));
}

TEST_F(FolderMenuTest, UpOnTheTopFolderOpensItAgain) {
  ASSERT_TRUE(f.Focus(form->LV1));
  form->PopupMenu2Tag = 0;  // as a folder button's right click opens it
  form->PopupMenu2Root = "/";
  ChoosePath({"↑", "/"});
  form->Hooks.ExecPopup(form->PopupMenu2, form->MenuPoint(form->PopupMenu2));
  EXPECT_EQ(FormFixture::VisibleTexts(form->PopupMenu2).mid(0, 2), (QStringList{"/", "↑"}));
  EXPECT_EQ(form->LV1->GetPathName(), "/");
}

TEST_F(FolderMenuTest, NothingToShowWithoutAFocusedSelectedItem) {
  FocusItem(form->LV1, "root");
  form->LV1->SelectAllRows(false);
  LExecute(*form);
  EXPECT_TRUE(f.popups.empty());
  FocusItem(form->LV1, "root");  // an opener that names no folder leaves the menu as it was
  LExecute(*form);
  const QStringList built = FormFixture::VisibleTexts(form->PopupMenu2);
  form->PopupMenu2Root.clear();
  emit form->PopupMenu2->aboutToShow();
  EXPECT_EQ(FormFixture::VisibleTexts(form->PopupMenu2), built);
}

TEST_F(FolderMenuTest, NamesThatAreNotUtf8KeepTheirBytes) {
  const std::string odd = "odd\xff\xfe";
  files.dir("root/" + odd);
  files.file("root/" + odd + "/f\xff.txt");
  FocusItem(form->LV1, "root");
  f.choose = [](QMenu* menu) -> QAction* {  // the caption shows a stand-in for the bytes
    for (QAction* entry : menu->actions())
      if (entry->menu() && entry->text().startsWith("odd")) {
        emit entry->menu()->aboutToShow();
        entry->menu()->actions().front()->trigger();
      }
    return nullptr;
  };
  LExecute(*form);
  EXPECT_EQ(form->LV1->GetPathName(), root + "/" + odd);

  form->LV1->SetPathName(root);  // opened from the odd folder itself
  FocusItem(form->LV1, odd);
  f.choose = [](QMenu* menu) {
    menu->actions().back()->trigger();
    return menu->actions().back();
  };
  LExecute(*form);
  EXPECT_EQ(opened, std::vector<std::string>{root + "/" + odd + "/f\xff.txt"});
}

}  // namespace
