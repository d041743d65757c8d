// Find files in the window: the dialog from Ctrl+F, results in a new tab that
// every command works on, Enter to a hit's folder, Esc and closing the tab to
// stop, the tab and the history kept over a restart.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

#include "FileChecks.h"
#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "app/FormSearch.h"
#include "app/SearchCommand.h"
#include "app/TextView.h"
#include "platform/fileops/FileOperation.h"
#include "platform/state/LineList.h"

namespace {

using Lines = std::vector<std::string>;

Lines Names(TShellListView* list) {
  Lines names;
  for (int i = 0; i < list->FileList()->Count(); ++i)
    names.push_back(TForm1::LastPathComponent(list->FileList()->Items(i)->GetItemPath()));
  std::sort(names.begin(), names.end());
  return names;
}

class SearchCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FileOperationJournal::Instance().Clear();
    root = files.dir("root");
    other = files.dir("other");
    files.dir("root/trip");
    files.file("root/a.jpg", "jpeg a");
    files.file("root/trip/b.jpg", "jpeg b");
    files.file("root/trip/thumb.jpg", "small");
    files.file("root/note.txt", std::string("memo \x8C\x9F\x8D\xF5 end"));  // 検索 in CP932
  }
  void TearDown() override { FileOperationJournal::Instance().Clear(); }

  TForm1* Open() { return f.OpenOn(root, other); }
  TSearchController* Search() { return TSearchController::Of(f.form.get()); }
  // Starts a search from the left pane as the dialog would and waits for its end.
  void Find(const SearchQuery& query) {
    f.form->LV1->setFocus();
    Search()->AskQuery = [query](TShellListView*, SearchQuery& q) {
      q = query;
      return true;
    };
    Search()->OpenDialog(f.form->LV1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Search()->Running(query.Encode()); }, 10000));
    QTest::qWait(3 * TSearchController::kTickMs);
  }
  SearchQuery Query(const std::string& masks, const std::string& text = {}) {
    SearchQuery q;
    q.folder = root;
    q.masks = masks;
    q.text = text;
    return q;
  }
  void Press(Qt::Key key, int times = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    for (int i = 0; i < times; ++i) QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.form->KeyTimer->isActive(); }, 5000));
  }
  void SelectOnly(const std::vector<std::string>& names) {
    TShellListView* list = f.form->LV1;
    list->SelectAllRows(false);
    for (const std::string& name : names) {
      int row = FormFixture::RowOf(list, name);
      ASSERT_GE(row, 0) << name;
      list->SetRowSelected(row, true);
      list->SetFocusedRow(row);
    }
  }

  TempDir files;
  std::string root, other;
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
  FormFixture f;
};

TEST_F(SearchCommandTest, CtrlFAsksAndTheHitsFillANewTabWithTheirFolders) {
  TForm1* form = Open();
  form->LV1->setFocus();
  // The real dialog, filled in and started as a user does.
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<TFormSearch*>(QApplication::activeModalWidget());
    if (!dialog) return;
    answer.stop();
    EXPECT_EQ(dialog->Folder->currentText().toStdString(), root);
    dialog->Masks->setEditText("*.jpg | thumb*.*");
    QTest::mouseClick(dialog->Start, Qt::LeftButton);
  });
  answer.start(10);
  Press(Qt::Key_F, 1, Qt::ControlModifier);
  ASSERT_EQ(form->TC1->count(), 2);
  EXPECT_EQ(form->TC1->currentIndex(), 1);
  EXPECT_EQ(form->TC1->tabText(1), "検索 *.jpg | thumb*.*");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1) == Lines{"a.jpg", "b.jpg"}; }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->Status1->text().startsWith("検索終了　2 件"); }, 5000))
      << form->Status1->text().toStdString();
  // Five columns, the name cell saying where the file was found.
  EXPECT_EQ(form->LV1->ColumnCount(), 5);
  int row = FormFixture::RowOf(form->LV1, "b.jpg");
  EXPECT_EQ(form->LV1->FileList()->Items(row)->GetDisplayName(), "b.jpg    [trip/]");
  // The search is remembered in the state folder, and the dialog starts from it.
  TLineList history;
  ASSERT_TRUE(history.LoadFromFile(f.StatePath("log/SearchHistory.txt")));
  ASSERT_EQ(history.Count(), 1);
  EXPECT_NE(history[0].find("masks=*.jpg%20|%20thumb*.*"), std::string::npos);
  ASSERT_EQ(TSearchController::History().size(), 1u);
  TFormSearch again(form, root, {}, TSearchController::History());
  EXPECT_EQ(again.Masks->currentText(), "*.jpg | thumb*.*");
}

TEST_F(SearchCommandTest, CopyDeleteWithUndoAndPreviewWorkOnHits) {
  TForm1* form = Open();
  Find(Query("", "検索"));  // text in CP932, found by the automatic encodings
  ASSERT_EQ(Names(form->LV1), Lines{"note.txt"});
  Find(Query("*.jpg"));
  ASSERT_EQ(Names(form->LV1), (Lines{"a.jpg", "b.jpg", "thumb.jpg"}));

  SelectOnly({"a.jpg", "b.jpg"});
  Press(Qt::Key_C, 2);
  EXPECT_EQ(ReadWholeFile(other + "/a.jpg"), "jpeg a");
  EXPECT_EQ(ReadWholeFile(other + "/b.jpg"), "jpeg b");

  SelectOnly({"thumb.jpg"});
  ui.deleteAnswers = {true};
  Press(Qt::Key_D);
  ASSERT_FALSE(Exists(root + "/trip/thumb.jpg"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1) == Lines{"a.jpg", "b.jpg"}; }, 3000));
  Press(Qt::Key_Backspace, 1, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Exists(root + "/trip/thumb.jpg"); }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1).size() == 3; }, 3000));

  // A file deleted behind the list's back between the hit and the command.
  SelectOnly({"a.jpg"});
  ASSERT_EQ(unlink((root + "/a.jpg").c_str()), 0);
  Press(Qt::Key_C, 2);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1) == Lines{"b.jpg", "thumb.jpg"}; }, 3000));

  // A text hit previews in the other pane.
  Find(Query("*.txt"));
  SelectOnly({"note.txt"});
  Press(Qt::Key_V);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->Memo1->isVisible(); }, 5000));
}

TEST_F(SearchCommandTest, EnterOnAHitOpensItsFolderWithTheFileFocused) {
  TForm1* form = Open();
  Find(Query("b.jpg"));
  ASSERT_EQ(Names(form->LV1), Lines{"b.jpg"});
  SelectOnly({"b.jpg"});
  Press(Qt::Key_Return);
  EXPECT_EQ(form->LV1->GetPathName(), root + "/trip");
  EXPECT_EQ(form->TC1->count(), 3);
  TShellFileItem* focused = form->LV1->FileList()->Items(form->LV1->FocusedRow());
  ASSERT_TRUE(focused);
  EXPECT_EQ(focused->GetItemPath(), root + "/trip/b.jpg");
}

TEST_F(SearchCommandTest, TheTabOutlivesARestartAndSearchesAgain) {
  TForm1* form = Open();
  Find(Query("*.txt"));
  ASSERT_EQ(Names(form->LV1), Lines{"note.txt"});
  f.Close();
  files.file("root/trip/new.txt", "made while closed");
  form = f.Open();
  ASSERT_EQ(form->TC1->count(), 2);
  EXPECT_EQ(form->TC1->tabText(1), "検索 *.txt");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1) == Lines{"new.txt", "note.txt"}; }, 5000));
}

TEST_F(SearchCommandTest, EscAndClosingTheTabStopTheSearchAtOnce) {
  for (int d = 0; d < 30; ++d) {
    files.dir("root/big" + std::to_string(d));
    for (int i = 0; i < 30; ++i)
      files.file("root/big" + std::to_string(d) + "/" + std::to_string(i), std::string(128 * 1024, 'z'));
  }
  TForm1* form = Open();
  SearchQuery slow = Query("", "never(there|here)");
  slow.regex = true;
  form->LV1->setFocus();
  TSearchController* search = Search();
  search->Start(form->LV1, slow);
  ASSERT_TRUE(search->Running(slow.Encode()));
  form->LV1->setFocus();
  auto start = std::chrono::steady_clock::now();
  QTest::keyClick(form->LV1->CurrentView(), Qt::Key_Escape);
  EXPECT_FALSE(search->Running(slow.Encode()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->Status1->text().startsWith("検索終了"); }, 2000));

  slow.text = "never(again|more)";  // a search no other tab shows
  search->Start(form->LV1, slow);
  ASSERT_TRUE(search->Running(slow.Encode()));
  Press(Qt::Key_T, 2);  // closes the results tab
  EXPECT_TRUE(QTest::qWaitFor([&] { return !search->Running(slow.Encode()); }, 150));
}

}  // namespace
