// A new user's first day on the real window: a pane whose folder is removed
// from outside, the INI file deleted to reset the layout, the first window of
// a fresh installation, the menu key, and a rename refused with its reason.
#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "FormFixture.h"
#include "TempDir.h"
#include "app/Form2.h"
#include "platform/namespace/Drives.h"
#include "platform/namespace/PathText.h"
#include "platform/state/IniFile.h"
#include "platform/state/LineList.h"
#include "shell/ShellListView.h"
#include "shell/ShellReportView.h"

namespace {

class FirstDayTest : public ::testing::Test {
 protected:
  void Press(Qt::Key key) {
    ASSERT_TRUE(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.form->KeyTimer->isActive(); }, 5000));
  }
  std::vector<std::string> LinesOf(const std::string& path) {
    TLineList list;
    list.LoadFromFile(path);
    return list.Lines;
  }
  TIniFile Ini() { return TIniFile(f.StatePath("tolvane.ini")); }

  TempDir files;  // outlives the window
  FormFixture f;
};

TEST_F(FirstDayTest, APaneWhoseFolderIsRemovedMovesToTheNearestParentAtOnce) {
  const std::string top = files.dir("L");
  const std::string sub = files.dir("L/sub");
  files.file("L/sub/a.txt", "a");
  files.file("L/sub/b.txt", "b");
  const std::string deep = files.dir("L/two/levels");  // empty: its removal raises no change in it
  const std::string right = files.dir("R");
  TForm1* form = f.OpenOn(sub, right);
  ASSERT_TRUE(f.Focus(form->LV1));
  ASSERT_EQ(form->LV1->FileList()->Count(), 2);

  // As `rm -rf L/sub` from a terminal.
  QElapsedTimer clock;
  clock.start();
  std::filesystem::remove_all(sub);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == top; }, 5000)) << form->LV1->GetPathName();
  EXPECT_LT(clock.elapsed(), 1500);
  EXPECT_EQ(form->Path1SL.Lines, std::vector<std::string>{top});
  EXPECT_EQ(form->TC1->tabText(0), "L");
  EXPECT_TRUE(form->Edit1->text().startsWith(QString::fromStdString(top))) << form->Edit1->text().toStdString();
  EXPECT_EQ(form->LV1->FileList()->Count(), 1);  // "two"

  // Every way out works from there.
  Press(Qt::Key_Backspace);
  EXPECT_EQ(form->LV1->GetPathName(), files.path());
  Press(Qt::Key_Backslash);
  EXPECT_EQ(form->LV1->GetPathName(), MountPointOf(files.path()));

  // Two levels gone, the inner one empty: the pane lands where something is left.
  form->LV1->SetPathName(deep);
  ASSERT_EQ(form->LV1->GetPathName(), deep);
  clock.restart();
  std::filesystem::remove_all(top + "/two");
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->LV1->GetPathName() == top; }, 5000)) << form->LV1->GetPathName();
  EXPECT_LT(clock.elapsed(), 1500);
  Press(Qt::Key_Backspace);
  EXPECT_EQ(form->LV1->GetPathName(), files.path());
  // The right pane was left alone, and the state file holds no gone folder.
  EXPECT_EQ(form->LV2->GetPathName(), right);
  f.Close();
  EXPECT_EQ(LinesOf(f.StatePath("log/Path1SL.text")), std::vector<std::string>{files.path()});
}

TEST_F(FirstDayTest, KeysAFreshInstallationGetsAreSeededWheneverTheIniLacksThem) {
  const std::string a = files.dir("a");
  files.file("a/photo.jpg", "not really");
  // The user deleted tolvane.ini to reset the layout; the line lists are still there.
  f.WriteLines("log/Path1SL.text", {a});
  f.WriteLines("log/Path2SL.text", {a});
  f.WriteLines("log/ImagePath.text", {"defo"});
  f.WriteLines("log/TextPath.text", {"defo"});
  TForm1* form = f.Open();
  EXPECT_NE(form->ImageExt.find(".jpg"), std::string::npos) << form->ImageExt;
  EXPECT_NE(form->TextExt.find(".md"), std::string::npos) << form->TextExt;
  for (const char* section : {"ListView1", "ListView2"}) {
    EXPECT_EQ(Ini().ReadInteger(section, "ColumnsCount", 0), 5) << section;
    EXPECT_EQ(Ini().ReadInteger(section, "ColumnsWidth0", 0), 200) << section;
  }
  form->LV1->SetViewStyle(vsReport);
  QApplication::processEvents();
  EXPECT_GE(form->LV1->ReportView()->header()->sectionSize(0), 200);
  f.Close();

  // An INI that holds some of them keeps those and gets the others.
  f.WriteState("tolvane.ini", "[Ext]\nImageExt=.png\n[ListView2]\nColumnsCount=5\nColumnsWidth0=333\n");
  form = f.Open();
  EXPECT_EQ(form->ImageExt, ".png");
  EXPECT_NE(form->TextExt.find(".txt"), std::string::npos) << form->TextExt;
  EXPECT_EQ(Ini().ReadString("Ext", "ImageExt", ""), ".png");
  EXPECT_EQ(Ini().ReadInteger("ListView1", "ColumnsWidth0", 0), 200);
  EXPECT_EQ(Ini().ReadInteger("ListView2", "ColumnsWidth1", 0), 80);
  f.Close();
  EXPECT_EQ(Ini().ReadInteger("ListView2", "ColumnsWidth0", 0), 333);
}

TEST_F(FirstDayTest, AFirstWindowTakesTwoThirdsOfTheScreenCentredWithEvenPanes) {
  TForm1* form = f.Open();
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  // Two thirds, or the design size on a screen too small for it to be enough.
  const int w = std::min(std::max(area.width() * 2 / 3, 696), area.width());
  const int h = std::min(std::max(area.height() * 2 / 3, 467), area.height());
  EXPECT_NEAR(form->width(), w, 2);
  EXPECT_NEAR(form->height(), h, 2);
  EXPECT_NEAR(form->x() - area.x(), (area.width() - w) / 2, 2);
  EXPECT_NEAR(form->y() - area.y(), (area.height() - h) / 2, 2);
  EXPECT_NEAR(form->TC1Pane->width(), form->TC2Pane->width(), 2);

  // A resized window keeps the panes' proportion, whatever the user made it.
  form->resize(form->width() + 300, form->height());
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->Panes->width() > form->TC1Pane->width() * 2; }, 2000));
  EXPECT_NEAR(form->TC1Pane->width(), form->TC2Pane->width(), 2);
  QList<int> sizes = form->Panes->sizes();
  const int shared = sizes[1] + sizes[2];
  sizes[1] = shared / 3;
  sizes[2] = shared - sizes[1];
  form->Panes->setSizes(sizes);
  QApplication::processEvents();
  form->resize(form->width() - 200, form->height());
  QApplication::processEvents();
  EXPECT_NEAR(form->TC2Pane->width(), 2 * form->TC1Pane->width(), 4)
      << form->TC1Pane->width() << " | " << form->TC2Pane->width();
  const QRect saved = form->geometry();
  const int savedPane = form->TC1Pane->width();
  f.Close();

  // The next start takes what was saved.
  form = f.Open();
  EXPECT_EQ(form->geometry(), saved);
  EXPECT_EQ(form->TC1Pane->width(), savedPane);
}

// Opens the list's menu by the menu key, the pointer far away, and returns
// where the menu showed.
QPoint MenuKeyPosition(TShellListView* list) {
  QAbstractItemView* view = list->CurrentView();
  QPoint shownAt(-1, -1);
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || shownAt != QPoint(-1, -1)) return;
    shownAt = menu->pos();
    menu->close();
  });
  poll.start(10);
  // What the desktop's menu key delivers: the mouse pointer's position.
  const QPoint pointer(view->width() - 3, view->height() - 3);
  QContextMenuEvent event(QContextMenuEvent::Keyboard, pointer, view->mapToGlobal(pointer));
  QApplication::sendEvent(view, &event);
  EXPECT_TRUE(QTest::qWaitFor([&] { return shownAt != QPoint(-1, -1); }, 5000));
  return shownAt;
}

TEST_F(FirstDayTest, TheMenuKeyOpensTheMenuAtTheFocusedRow) {
  const std::string a = files.dir("a");
  for (int i = 0; i < 6; ++i) files.file("a/file" + std::to_string(i) + ".txt", "x");
  const std::string empty = files.dir("empty");
  TForm1* form = f.OpenOn(a, empty);
  form->resize(900, 600);
  ASSERT_TRUE(f.Focus(form->LV1));
  form->LV1->SetViewStyle(vsReport);
  // The folder is read off the window's thread: on a slow build the rows come later.
  ASSERT_TRUE(QTest::qWaitFor([&] { return FormFixture::RowOf(form->LV1, "file3.txt") >= 0; }, 5000));
  FormFixture::SelectOnly(form->LV1, "file3.txt");
  QApplication::processEvents();
  QAbstractItemView* view = form->LV1->CurrentView();
  const QModelIndex current = view->selectionModel()->currentIndex();
  ASSERT_TRUE(current.isValid());
  const QRect row(view->viewport()->mapToGlobal(view->visualRect(current).topLeft()), view->visualRect(current).size());
  const QPoint at = MenuKeyPosition(form->LV1);
  EXPECT_GE(at.y(), row.top()) << at.y() << " row " << row.top() << ".." << row.bottom();
  EXPECT_LE(at.y(), row.bottom() + 2);
  EXPECT_GE(at.x(), row.left());
  EXPECT_LT(at.x(), row.left() + 60);

  // No focused row (an empty folder): the list's top-left corner.
  ASSERT_TRUE(f.Focus(form->LV2));
  QAbstractItemView* empties = form->LV2->CurrentView();
  ASSERT_FALSE(empties->selectionModel()->currentIndex().isValid());
  const QPoint corner = empties->viewport()->mapToGlobal(QPoint(0, 0));
  const QPoint atCorner = MenuKeyPosition(form->LV2);
  EXPECT_LE((atCorner - corner).manhattanLength(), 4) << atCorner.x() << "," << atCorner.y();
}

TEST_F(FirstDayTest, TheRenameDialogGrowsToShowItsWholeReason) {
  const std::string a = files.dir("a");
  files.file("a/first.txt", "1");
  files.file("a/taken.txt", "2");
  TForm1* form = f.OpenOn(a, a);
  ASSERT_TRUE(f.Focus(form->LV1));
  FormFixture::SelectOnly(form->LV1, "first.txt");

  bool typed = false, checked = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<TForm2*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    if (!typed) {
      typed = true;
      dialog->Edit1->setText("taken.txt");
      QTest::keyClick(dialog->Edit1, Qt::Key_Enter);
      return;
    }
    if (checked) return;
    checked = true;
    QLabel* label = dialog->Label2;
    const QString text = label->text();
    EXPECT_TRUE(text.contains("同じ名前のファイルが既にあります")) << text.toStdString();
    // Each line of the reason fits the label's width (no line broken inside
    // a word), the label is as tall as its text, and the dialog holds it.
    const int room = label->contentsRect().width();
    for (const QString& line : text.split('\n'))
      EXPECT_LE(label->fontMetrics().horizontalAdvance(line), room) << line.toStdString();
    EXPECT_GE(label->height(), label->heightForWidth(label->width()));
    EXPECT_TRUE(dialog->rect().contains(label->geometry())) << label->geometry().bottom() << " " << dialog->height();
    EXPECT_TRUE(dialog->rect().contains(dialog->OK->geometry()));
    dialog->Button1->click();
  });
  poll.start(20);
  Press(Qt::Key_R);
  EXPECT_TRUE(QTest::qWaitFor([&] { return checked && !QApplication::activeModalWidget(); }, 10000));
  EXPECT_TRUE(std::filesystem::exists(a + "/first.txt"));
  EXPECT_EQ(ReadWholeFile(a + "/taken.txt"), "2");
}

TEST_F(FirstDayTest, ThePropertiesDialogShowsTheWholePathOnOneLine) {
  const std::string deep = files.dir("a rather long folder name/and another level of it");
  files.file("a rather long folder name/and another level of it/note.txt", "hi");
  TForm1* form = f.OpenOn(deep, deep);
  ASSERT_TRUE(f.Focus(form->LV1));
  FormFixture::SelectOnly(form->LV1, "note.txt");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::AltModifier);
  QLabel* location = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (QWidget* window : QApplication::topLevelWidgets())
          if (window->objectName() == "propertiesDialog" && window->isVisible())
            location = window->findChild<QLabel*>("locationValue");
        return location != nullptr;
      },
      5000));
  QApplication::processEvents();
  EXPECT_EQ(location->text().toStdString(), deep);
  EXPECT_GE(location->contentsRect().width(), location->fontMetrics().horizontalAdvance(location->text()));
  EXPECT_LE(location->height(), 2 * location->fontMetrics().height());  // one line, not wrapped
  location->window()->close();
}

}  // namespace
