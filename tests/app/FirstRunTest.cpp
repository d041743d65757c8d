// What a new user meets on a real window: undo from the lists' ordinary menu,
// the first details view, the folder tree on a deep folder, the progress that
// waits for answers, and a stop signal during the start.
#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FileChecks.h"
#include "FormFixture.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "app/RunControl.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/PathText.h"
#include "shell/ShellListModel.h"
#include "shell/ShellReportView.h"

namespace {

std::vector<std::string> Names(TShellListView* list) {
  std::vector<std::string> names;
  for (int i = 0; i < list->FileList()->Count(); ++i)
    names.push_back(TForm1::LastPathComponent(list->FileList()->Items(i)->GetItemPath()));
  return names;
}

// Opens the list's menu as the given reason does, over empty space, and hands
// the popped-up menu to use (which closes it or triggers an entry).
void WithListMenu(TShellListView* list, QContextMenuEvent::Reason reason, const std::function<void(QMenu*)>& use) {
  QAbstractItemView* view = list->CurrentView();
  QWidget* target = reason == QContextMenuEvent::Mouse ? view->viewport() : static_cast<QWidget*>(view);
  const QPoint at(view->viewport()->width() - 5, view->viewport()->height() - 5);
  ASSERT_FALSE(view->indexAt(at).isValid());
  bool used = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || used) return;
    used = true;
    use(menu);
    if (menu->isVisible()) menu->close();
  });
  poll.start(10);
  if (reason == QContextMenuEvent::Mouse) QTest::mousePress(target, Qt::RightButton, {}, at);
  QContextMenuEvent event(reason, at, target->mapToGlobal(at));
  QApplication::sendEvent(target, &event);
  if (reason == QContextMenuEvent::Mouse) QTest::mouseRelease(target, Qt::RightButton, {}, at);
  EXPECT_TRUE(QTest::qWaitFor([&] { return used; }, 5000));
}

QAction* UndoEntry(QMenu* menu) {
  for (QAction* action : menu->actions())
    if (action->text().startsWith(QStringLiteral("元に戻す"))) return action;
  return nullptr;
}

class FirstRunTest : public ::testing::Test {
 protected:
  void SetUp() override { FileOperationJournal::Instance().Clear(); }
  void TearDown() override { FileOperationJournal::Instance().Clear(); }
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.form->KeyTimer->isActive(); }, 5000));
  }

  TempDir files;  // outlives the window
  FormFixture f;
};

TEST_F(FirstRunTest, EmptySpaceMenuUndoesTheDeleteOfTheLastShownFile) {
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
  const std::string a = files.dir("a");
  files.file("a/only.txt", "only");
  TForm1* form = f.OpenOn(a, a);
  ASSERT_TRUE(f.Focus(form->LV1));
  form->LV1->SelectAllRows(true);
  ui.deleteAnswers = {true};
  Press(Qt::Key_D);
  ASSERT_FALSE(Exists(a + "/only.txt"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1).empty(); }, 8000));

  WithListMenu(form->LV1, QContextMenuEvent::Mouse, [](QMenu* menu) {
    QAction* undo = UndoEntry(menu);
    ASSERT_NE(undo, nullptr);
    EXPECT_EQ(undo->text(), QStringLiteral("元に戻す(&U) - 「only.txt」のごみ箱への移動"));
    EXPECT_TRUE(undo->isEnabled());
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(undo).center());
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return Exists(a + "/only.txt"); }, 5000));
  EXPECT_EQ(ReadWholeFile(a + "/only.txt"), "only");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Names(form->LV1) == std::vector<std::string>{"only.txt"}; }, 8000));

  // From the keyboard's menu key the same menu opens; with nothing left the entry is off.
  WithListMenu(form->LV1, QContextMenuEvent::Keyboard, [](QMenu* menu) {
    QAction* undo = UndoEntry(menu);
    ASSERT_NE(undo, nullptr);
    EXPECT_EQ(undo->text(), QStringLiteral("元に戻す(&U)"));
    EXPECT_FALSE(undo->isEnabled());
  });
}

TEST_F(FirstRunTest, FreshDetailsViewIsWideEnoughForNames) {
  // A fresh state folder: nothing in it but the empty log folder.
  f.state.file("home/file1.txt", "x");
  TForm1* form = f.Open();
  ASSERT_TRUE(f.Focus(form->LV1));
  for (int i = 0; i < 4 && form->LV1->ViewStyle() != vsReport; ++i) Press(Qt::Key_H, Qt::ControlModifier);
  ASSERT_EQ(form->LV1->ViewStyle(), vsReport);
  ASSERT_EQ(Names(form->LV1), std::vector<std::string>{"file1.txt"});
  TShellReportView* report = form->LV1->ReportView();
  const int needed = report->fontMetrics().horizontalAdvance("file1.txt") + report->iconSize().width() + 8;
  EXPECT_GE(report->header()->sectionSize(0), needed);
  EXPECT_GE(report->header()->sectionSize(1), report->fontMetrics().horizontalAdvance("1 KB") + 8);
  const std::string ini = ReadWholeFile(f.StatePath("tolvane.ini"));
  EXPECT_NE(ini.find("ColumnsWidth0=200"), std::string::npos) << ini;
}

TEST_F(FirstRunTest, TreeOnADeepFolderHasItsWidthAndShowsTheSelectedNode) {
  const std::string deep = files.dir("one/two/three/four/five/six/seven/eight/nine/ten/eleven/twelve");
  TForm1* form = f.OpenOn(deep, deep);
  form->resize(800, 400);
  QApplication::processEvents();
  const int kept = form->TV1->property("keptWidth").toInt();
  ASSERT_GE(kept, 121);
  ASSERT_TRUE(f.Focus(form->LV1));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Comma);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->TV1->isVisible() && form->TV1->hasFocus(); }, 5000));
  QApplication::processEvents();
  EXPECT_EQ(form->TV1->width(), kept);

  QTreeWidgetItem* selected = form->TV1->currentItem();
  ASSERT_NE(selected, nullptr);
  EXPECT_EQ(selected->text(0), QStringLiteral("twelve"));
  // The icon and the text, past an indentation wider than the tree.
  auto textRect = [&] {
    QRect text = form->TV1->visualItemRect(selected);
    text.setWidth(form->TV1->sizeHintForIndex(form->TV1->currentIndex()).width());
    return text;
  };
  ASSERT_GT(form->TV1->indentation() * 12, kept);
  const QRect viewport = form->TV1->viewport()->rect();
  EXPECT_TRUE(QTest::qWaitFor([&] { return viewport.contains(textRect()); }, 2000))
      << textRect().left() << ".." << textRect().right() << " in " << viewport.right() << ", scrolled "
      << form->TV1->horizontalScrollBar()->value() << " of " << form->TV1->horizontalScrollBar()->maximum()
      << ", column " << form->TV1->header()->sectionSize(0);

  // A wider window widens the right pane, not the tree.
  form->resize(1000, 400);
  QApplication::processEvents();
  EXPECT_EQ(form->TV1->width(), kept);
}

TEST_F(FirstRunTest, NoProgressWindowWhileTheDeleteConfirmationWaits) {
  const std::string a = files.dir("a");
  files.file("a/gone.txt", "gone");
  TForm1* form = f.OpenOn(a, a);
  ASSERT_TRUE(f.Focus(form->LV1));
  form->LV1->SelectAllRows(true);

  bool progressSeen = false, asked = false;
  QElapsedTimer sinceAsked;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    for (QWidget* window : QApplication::topLevelWidgets())
      if (window->objectName() == "progressDialog" && window->isVisible()) progressSeen = true;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal->objectName() != "deleteDialog") return;
    if (!asked) {
      asked = true;
      sinceAsked.start();
    }
    // Answered only after two seconds of thinking.
    if (sinceAsked.elapsed() >= 2000)
      if (auto* yes = modal->findChild<QPushButton*>("yesButton")) yes->click();
  });
  poll.start(20);
  Press(Qt::Key_D);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Exists(a + "/gone.txt"); }, 15000));
  EXPECT_TRUE(asked);
  EXPECT_GE(sinceAsked.elapsed(), 2000);
  EXPECT_FALSE(progressSeen);
}

TEST_F(FirstRunTest, StopSignalDuringAStartMessageClosesAndWritesTheState) {
  files.file("tool.txt", "x");
  f.WriteLines("log/ToolBar1.txt",
               {files.path() + "/gone1.sh", files.path() + "/tool.txt", files.path() + "/gone2.sh"});
  const std::string a = files.dir("a");
  f.WriteLines("log/Path1SL.text", {a});
  f.WriteLines("log/Path2SL.text", {a});
  // Real message boxes, as in a run.
  SetExceptionDisplay(nullptr);
  CatchTerminationSignals();

  int boxes = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->property("seen").toBool()) return;
    box->setProperty("seen", true);
    EXPECT_EQ(box->text(), QStringLiteral("アイコンがありません.どうしよう"));
    if (++boxes == 1) std::raise(SIGTERM);
  });
  poll.start(20);
  f.form = std::make_unique<TForm1>();
  poll.stop();
  EXPECT_EQ(boxes, 1);  // the second box was closed before anyone saw it
  CloseOnTerminationSignals(f.form.get());
  f.form->show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !f.form->isVisible(); }, 5000));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  const std::string ini = ReadWholeFile(f.StatePath("tolvane.ini"));
  EXPECT_NE(ini.find("[Window]"), std::string::npos);
  EXPECT_NE(ini.find("[ListView1]"), std::string::npos);
  // All three buttons were made and written back.
  EXPECT_EQ(SplitLines(ReadWholeFile(f.StatePath("log/ToolBar1.txt"))).size(), 3u);
  EXPECT_EQ(SplitLines(ReadWholeFile(f.StatePath("log/Path1SL.text"))), std::vector<std::string>{a});
}

}  // namespace
