// Find files in the window: the dialog from Ctrl+F, results in a new tab that
// every command works on, Enter to a hit's folder, Esc and closing the tab to
// stop, the tab and the history kept over a restart.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDrag>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

#include "FileChecks.h"
#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "app/FormSearch.h"
#include "app/SearchCommand.h"
#include "app/TextView.h"
#include "platform/desktop/DropTarget.h"
#include "platform/fileops/FileOperation.h"
#include "platform/ui/PlatformUi.h"
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
  void TearDown() override {
    TShellListView::DragLoop = nullptr;
    SetDropHandler(nullptr);
    QGuiApplication::clipboard()->clear();
    FileOperationJournal::Instance().Clear();
  }

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

  // Every file and folder below root, relative, sorted.
  Lines Tree() {
    Lines found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
      found.push_back(entry.path().string().substr(root.size() + 1));
    std::sort(found.begin(), found.end());
    return found;
  }
  std::vector<std::string> Paths(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    for (const QUrl& url : urls) paths.push_back(url.toLocalFile().toStdString());
    return paths;
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

TEST_F(SearchCommandTest, AfterTheDialogTheKeysGoToTheResultsSoTheFirstCCCopies) {
  TForm1* form = Open();
  ASSERT_TRUE(f.Focus(form->LV1));
  // The real dialog, left with Enter; nothing in the window is clicked afterwards.
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<TFormSearch*>(QApplication::activeModalWidget());
    if (!dialog) return;
    answer.stop();
    dialog->Masks->setEditText("*.jpg | thumb*.*");
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  answer.start(10);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1).size() == 2; }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return form->CurrentList() == form->LV1; }, 2000))
      << "the keys go nowhere until a row is clicked";
  // The focus mark is on the first hit; Shift+End takes it and the rest.
  ASSERT_TRUE(QApplication::focusWidget());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_End, Qt::ShiftModifier);
  Press(Qt::Key_C, 2);
  EXPECT_EQ(ReadWholeFile(other + "/a.jpg"), "jpeg a");
  EXPECT_EQ(ReadWholeFile(other + "/b.jpg"), "jpeg b");
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

TEST_F(SearchCommandTest, HitsDragTheirRealPathsAndADropOnTheResultsIsRefused) {
  InstallFileOperationDropHandler();  // as the program does when it starts
  TForm1* form = Open();
  Find(Query("*.jpg | thumb*.*"));
  ASSERT_EQ(Names(form->LV1), (Lines{"a.jpg", "b.jpg"}));
  // The desktop's drag loop, played by hand: enter, move and drop on a list's empty space.
  TShellListView* target = form->LV1;
  Qt::KeyboardModifiers modifiers = Qt::ControlModifier;
  QList<QUrl> dragged;
  bool accepted = false;
  TShellListView::DragLoop = [&](QDrag* drag, Qt::DropActions actions) {
    dragged = drag->mimeData()->urls();
    QWidget* viewport = target->CurrentView()->viewport();
    const QPoint at(10, viewport->height() - 5);
    QDragEnterEvent enter(at, actions, drag->mimeData(), Qt::LeftButton, modifiers);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, actions, drag->mimeData(), Qt::LeftButton, modifiers);
    QApplication::sendEvent(viewport, &move);
    accepted = move.isAccepted() && move.dropAction() != Qt::IgnoreAction;
    QDropEvent drop(at, actions, drag->mimeData(), Qt::LeftButton, modifiers);
    QApplication::sendEvent(viewport, &drop);
    drag->deleteLater();
  };
  auto dragRow = [&](const std::string& name) {
    QAbstractItemView* view = form->LV1->CurrentView();
    QPoint at = view->visualRect(form->LV1->Model()->index(FormFixture::RowOf(form->LV1, name), 0)).center();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
    QPoint to = at + QPoint(0, 12);
    QMouseEvent event(QEvent::MouseMove, to, view->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &event);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
  };

  // Onto the results themselves: they are no folder to put files in.
  const Lines before = Tree();
  dragRow("b.jpg");
  EXPECT_EQ(Paths(dragged), std::vector<std::string>{root + "/trip/b.jpg"});
  EXPECT_FALSE(accepted);
  EXPECT_EQ(Tree(), before);
  EXPECT_TRUE(ui.messages.empty());

  // Onto the other pane with Ctrl: the real file is copied.
  target = form->LV2;
  dragRow("b.jpg");
  EXPECT_TRUE(accepted);
  EXPECT_EQ(ReadWholeFile(other + "/b.jpg"), "jpeg b");
  EXPECT_EQ(ReadWholeFile(root + "/trip/b.jpg"), "jpeg b");
  // Without a key: moved, and its row leaves the results.
  modifiers = Qt::NoModifier;
  dragRow("a.jpg");
  EXPECT_EQ(ReadWholeFile(other + "/a.jpg"), "jpeg a");
  EXPECT_FALSE(Exists(root + "/a.jpg"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1) == Lines{"b.jpg"}; }, 3000));
}

TEST_F(SearchCommandTest, ClipboardCarriesTheHitsAndNothingPastesIntoTheResults) {
  TForm1* form = Open();
  Find(Query("*.jpg | thumb*.*"));
  ASSERT_TRUE(f.Focus(form->LV1));
  SelectOnly({"a.jpg", "b.jpg"});
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
  const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(clip);
  std::vector<std::string> copied = Paths(clip->urls());
  std::sort(copied.begin(), copied.end());
  EXPECT_EQ(copied, (std::vector<std::string>{root + "/a.jpg", root + "/trip/b.jpg"}));
  EXPECT_TRUE(clip->data("x-special/gnome-copied-files").startsWith("copy\n"));

  // Pasted into the results: refused, nothing made below the searched folder.
  const Lines before = Tree();
  EXPECT_FALSE(form->LV1->InvokeCommand(sckPaste));
  EXPECT_EQ(Tree(), before);
  // Into a real folder: the files themselves.
  ASSERT_TRUE(f.Focus(form->LV2));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(ReadWholeFile(other + "/a.jpg"), "jpeg a");
  EXPECT_EQ(ReadWholeFile(other + "/b.jpg"), "jpeg b");

  // Cut from the results and pasted elsewhere: moved, and the row goes.
  ASSERT_TRUE(f.Focus(form->LV1));
  SelectOnly({"b.jpg"});
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::ControlModifier);
  EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->data("x-special/gnome-copied-files").startsWith("cut\n"));
  const std::string elsewhere = files.dir("elsewhere");
  form->LV2->SetPathName(elsewhere);
  ASSERT_TRUE(form->LV2->InvokeCommand(sckPaste));
  EXPECT_EQ(ReadWholeFile(elsewhere + "/b.jpg"), "jpeg b");
  EXPECT_FALSE(Exists(root + "/trip/b.jpg"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1) == Lines{"a.jpg"}; }, 3000));
}

TEST_F(SearchCommandTest, TheContextMenuOfAHitActsOnTheRealFile) {
  TForm1* form = Open();
  Find(Query("b.jpg"));
  ASSERT_EQ(Names(form->LV1), Lines{"b.jpg"});
  // A link is made beside the file, in its own folder.
  EXPECT_FALSE(ChooseFromShellMenu(form->LV1, "b.jpg", QStringLiteral("ショートカットの作成")).isEmpty());
  EXPECT_EQ(std::filesystem::read_symlink(root + "/trip/b へのリンク.jpg"), root + "/trip/b.jpg");
  // Deleted to the trash from the menu: the file goes, and so does its row.
  ui.deleteAnswers = {true};
  EXPECT_FALSE(ChooseFromShellMenu(form->LV1, "b.jpg", QStringLiteral("削除")).isEmpty());
  EXPECT_FALSE(Exists(root + "/trip/b.jpg"));
  EXPECT_EQ(ReadWholeFile(f.state.path() + "/data/Trash/files/b.jpg"), "jpeg b");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1).empty(); }, 3000));
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
