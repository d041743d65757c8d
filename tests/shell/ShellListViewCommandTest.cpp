// Folder lists working on real files: the shell menu's results, clipboard
// commands and drags between two lists, type-ahead find and link overlays.
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QHeaderView>
#include <QImage>
#include <QMimeData>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FileChecks.h"
#include "ChoosingMenu.h"
#include "EnvGuard.h"
#include "ScriptedFileOperationUI.h"
#include "TempDir.h"
#include "platform/desktop/DropTarget.h"
#include "platform/ui/FileOperationDialogs.h"
#include "platform/ui/PlatformUi.h"
#include "platform/state/IniFile.h"
#include "platform/namespace/SystemImageList.h"
#include "platform/fileops/Trash.h"
#include "shell/ShellListModel.h"
#include "shell/ShellReportView.h"
#include "shell/ShellListView.h"
#include "shell/watch/WatcherThread.h"

namespace {
std::unique_ptr<TShellListView> ShownView(const std::string& path, QWidget* parent = nullptr) {
  auto view = std::make_unique<TShellListView>(parent);
  view->resize(600, 300);
  view->SetViewStyleProperty(vsReport);
  view->SetPathName(path);
  view->show();
  return view;
}

int Row(TShellListView* view, const std::string& name) {
  for (int i = 0; i < view->FileList()->Count(); ++i)
    if (view->FileList()->Items(i)->GetDisplayName() == name) return i;
  return -1;
}

void SelectOnly(TShellListView* view, const std::string& name) {
  int row = Row(view, name);
  ASSERT_GE(row, 0) << name;
  view->SelectAllRows(false);
  view->SetRowSelected(row, true);
  view->SetFocusedRow(row);
}

// A right click on a row, as the shell menu is asked for.
void RightClickRow(TShellListView* view, const std::string& name) {
  TShellReportView* tree = view->ReportView();
  QWidget* viewport = tree->viewport();
  QPoint at = tree->visualRect(view->Model()->index(Row(view, name), 0)).center();
  QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
  QTest::mousePress(viewport, Qt::RightButton, {}, at);
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
  QApplication::sendEvent(viewport, &event);
  QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
}

class ListViewCommandTest : public ::testing::Test {
 protected:
  void TearDown() override {
    TShellListView::DragLoop = nullptr;
    SetDropHandler(nullptr);
    QGuiApplication::clipboard()->clear();
    WaitForWatcherThreads();
  }
  TempDir dir;
  EnvGuard dataHome{"XDG_DATA_HOME", dir.dir("data")};
  ScriptedFileOperationUI ui;
  ScopedFileOperationUI scoped{&ui};
};
}  // namespace

TEST_F(ListViewCommandTest, ShellMenuResultsLinkDeleteAndRename) {
  std::string folder = dir.dir("work");
  std::string doomed = dir.file("work/doomed.txt", "d");
  dir.file("work/keep.txt", "k");
  auto view = ShownView(folder);
  ChoosingMenu menu;
  menu.ReadOnly = false;
  view->SetShellPopupMenu(&menu);

  // 17: a link is made next to the item and listed at once.
  menu.choose = [](QMenu* m) { return ChoosingMenu::ById(m, 17); };
  RightClickRow(view.get(), "keep.txt");
  EXPECT_EQ(menu.shown, 1);
  EXPECT_EQ(std::filesystem::read_symlink(folder + "/keep へのリンク.txt"), folder + "/keep.txt");
  EXPECT_GE(Row(view.get(), "keep へのリンク.txt"), 0);

  // 18: to the recycle bin, and the row goes without waiting for the watcher.
  ui.deleteAnswers = {true};
  menu.choose = [](QMenu* m) { return ChoosingMenu::ById(m, 18); };
  RightClickRow(view.get(), "doomed.txt");
  EXPECT_FALSE(Exists(doomed));
  EXPECT_TRUE(Exists(HomeTrashDirectory() + "/doomed.txt"));
  EXPECT_EQ(Row(view.get(), "doomed.txt"), -1);

  // A refused delete leaves the row.
  ui.deleteAnswers = {false};
  RightClickRow(view.get(), "keep.txt");
  EXPECT_TRUE(Exists(folder + "/keep.txt"));
  EXPECT_GE(Row(view.get(), "keep.txt"), 0);

  // 19: nothing runs; the name is edited in place.
  menu.choose = [](QMenu* m) { return ChoosingMenu::ById(m, 19); };
  RightClickRow(view.get(), "keep.txt");
  EXPECT_TRUE(view->IsEditingLabel());
  EXPECT_TRUE(Exists(folder + "/keep.txt"));
  view->SetShellPopupMenu(nullptr);
}

TEST_F(ListViewCommandTest, CopyCutAndPasteBetweenTwoLists) {
  std::string left = dir.dir("left"), right = dir.dir("right");
  dir.file("left/a.txt", "alpha");
  dir.file("left/b.txt", "beta");
  auto a = ShownView(left);
  auto b = ShownView(right);

  SelectOnly(a.get(), "a.txt");
  ASSERT_TRUE(a->InvokeCommand(sckCopy));
  const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
  ASSERT_TRUE(clip);
  EXPECT_TRUE(clip->hasUrls());
  EXPECT_TRUE(clip->data("x-special/gnome-copied-files").startsWith("copy\n"));
  ASSERT_TRUE(b->InvokeCommand(sckPaste));
  EXPECT_EQ(ReadWholeFile(right + "/a.txt"), "alpha");
  EXPECT_TRUE(Exists(left + "/a.txt"));
  EXPECT_GE(Row(b.get(), "a.txt"), 0);  // shown at once, not left to the sleeping watchers

  SelectOnly(a.get(), "b.txt");
  ASSERT_TRUE(a->InvokeCommand(sckCut));
  EXPECT_TRUE(QGuiApplication::clipboard()->mimeData()->data("x-special/gnome-copied-files").startsWith("cut\n"));
  ASSERT_TRUE(b->InvokeCommand(sckPaste));
  EXPECT_EQ(ReadWholeFile(right + "/b.txt"), "beta");
  EXPECT_FALSE(Exists(left + "/b.txt"));
  EXPECT_GE(Row(b.get(), "b.txt"), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Row(a.get(), "b.txt") == -1; }, 5000));

  // What another file manager puts there: its own cut format only.
  std::string outside = dir.file("outside.txt", "o");
  auto* foreign = new QMimeData;
  foreign->setData("x-special/gnome-copied-files", QByteArray("cut\nfile://") + QByteArray(outside.c_str()));
  QGuiApplication::clipboard()->setMimeData(foreign);
  ASSERT_TRUE(b->InvokeCommand(sckPaste));
  EXPECT_EQ(ReadWholeFile(right + "/outside.txt"), "o");
  EXPECT_FALSE(Exists(outside));

  // Nothing usable on the clipboard: nothing happens.
  QGuiApplication::clipboard()->setText("just words");
  auto before = std::distance(std::filesystem::directory_iterator(right), {});
  EXPECT_FALSE(b->InvokeCommand(sckPaste));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(right), {}), before);
}

TEST_F(ListViewCommandTest, DragFromOneListDropsIntoTheOther) {
  InstallFileOperationDropHandler();
  std::string left = dir.dir("left"), right = dir.dir("right");
  dir.file("left/m.txt", "moved");
  dir.file("left/c.txt", "copied");
  std::string sub = dir.dir("left/sub");
  QWidget window;
  window.resize(1200, 400);
  auto a = ShownView(left, &window);
  auto b = ShownView(right, &window);
  b->move(600, 0);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

  // The desktop's drag loop, played by hand: enter, move and drop on the other list.
  Qt::KeyboardModifiers modifiers;
  TShellListView* target = b.get();
  QPoint dropPoint(20, 200);
  TShellListView::DragLoop = [&](QDrag* drag, Qt::DropActions actions) {
    QWidget* viewport = target->ReportView()->viewport();
    QDragEnterEvent enter(dropPoint, actions, drag->mimeData(), Qt::LeftButton, modifiers);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(dropPoint, actions, drag->mimeData(), Qt::LeftButton, modifiers);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(dropPoint, actions, drag->mimeData(), Qt::LeftButton, modifiers);
    QApplication::sendEvent(viewport, &drop);
    drag->deleteLater();
  };
  auto dragRow = [&](const std::string& name) {
    TShellReportView* tree = a->ReportView();
    QPoint at = tree->visualRect(a->Model()->index(Row(a.get(), name), 0)).center();
    QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, at);
    QPoint to = at + QPoint(0, 12);
    QMouseEvent event(QEvent::MouseMove, to, tree->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &event);
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, to);
  };

  // Same file system, no key: a move. Ctrl: a copy.
  dragRow("m.txt");
  EXPECT_EQ(ReadWholeFile(right + "/m.txt"), "moved");
  EXPECT_FALSE(Exists(left + "/m.txt"));
  modifiers = Qt::ControlModifier;
  dragRow("c.txt");
  EXPECT_EQ(ReadWholeFile(right + "/c.txt"), "copied");
  EXPECT_TRUE(Exists(left + "/c.txt"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Row(b.get(), "m.txt") >= 0 && Row(b.get(), "c.txt") >= 0; }, 5000));

  // A folder dropped onto its own row: the engine refuses with its message.
  target = a.get();
  dropPoint = a->ReportView()->visualRect(a->Model()->index(Row(a.get(), "sub"), 0)).center();
  modifiers = Qt::NoModifier;
  dragRow("sub");
  EXPECT_TRUE(std::filesystem::is_directory(sub));
  EXPECT_TRUE(std::filesystem::is_empty(sub));
  EXPECT_FALSE(ui.messages.empty());
}

TEST_F(ListViewCommandTest, TypeAheadFindsNamesContainingTheTypedText) {
  for (const char* name : {"apple.txt", "banana.txt", "cherry.txt", "grape.txt"}) dir.file(name, "x");
  auto view = ShownView(dir.path());
  view->SetPathName(dir.path());
  TShellReportView* tree = view->ReportView();
  tree->setFocus();
  tree->setCurrentIndex(view->Model()->index(0, 0));
  auto current = [&] { return view->FileList()->Items(tree->currentIndex().row())->GetDisplayName(); };
  // "AN" is in banana only; case does not matter.
  QTest::keyClicks(tree, "aN");
  EXPECT_EQ(current(), "banana.txt");
  EXPECT_EQ(view->SelectedCount(), 1);
  QTest::qWait(QApplication::keyboardInputInterval() + 50);
  // A fresh "r" looks from the next row on: cherry, then grape, then wraps.
  QTest::keyClick(tree, Qt::Key_R);
  EXPECT_EQ(current(), "cherry.txt");
  QTest::qWait(QApplication::keyboardInputInterval() + 50);
  QTest::keyClick(tree, Qt::Key_R);
  EXPECT_EQ(current(), "grape.txt");
  QTest::qWait(QApplication::keyboardInputInterval() + 50);
  QTest::keyClick(tree, Qt::Key_Z);  // no match: stays
  EXPECT_EQ(current(), "grape.txt");

  const TShellListModel* model = view->Model();
  EXPECT_EQ(model->FindItem("PPL", 0, true, false), Row(view.get(), "apple.txt"));
  EXPECT_EQ(model->FindItem("ppl", 0, false, false), -1);  // exact: from the start of the name
  EXPECT_EQ(model->FindItem("apple", 2, false, false), -1);
  EXPECT_EQ(model->FindItem("apple", 2, false, true), Row(view.get(), "apple.txt"));
}

TEST_F(ListViewCommandTest, LinksShowAnOverlayOnTheirIcon) {
  std::string target = dir.file("plain.txt", "p");
  std::filesystem::create_symlink(target, dir.path() + "/link.txt");
  auto view = ShownView(dir.path());
  auto image = [&](const std::string& name) {
    QModelIndex index = view->Model()->index(Row(view.get(), name), 0);
    return view->Model()->data(index, Qt::DecorationRole).value<QPixmap>().toImage();
  };
  TShellFileItem* link = view->FileList()->Items(Row(view.get(), "link.txt"));
  EXPECT_EQ(link->GetOverlayMask(), 2u << 8);
  QImage plainIcon = SystemImageList::Instance().Pixmap(link->GetImageIndex(), 16).toImage();
  EXPECT_FALSE(image("link.txt").isNull());
  EXPECT_NE(image("link.txt"), plainIcon);
  EXPECT_EQ(view->FileList()->Items(Row(view.get(), "plain.txt"))->GetOverlayMask(), 0u);
}

TEST_F(ListViewCommandTest, SizesReadAheadFollowChangesOnDisk) {
  for (int i = 0; i < 300; ++i) dir.file("f" + std::to_string(i), std::string(10, 'x'));
  auto view = ShownView(dir.path());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !view->FileList()->PrefetchSizes(1); }, 5000));
  uint64_t total = 0;
  view->OnShSelChange = [&](TShellListView*, uint64_t size) { total = size; };
  view->SelectAll();
  EXPECT_EQ(total, 3000u);
  // A file grown after its size was read ahead counts its new size.
  view->SelectAllRows(false);
  dir.file("f7", std::string(5000, 'y'));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        view->SelectAllRows(false);
        view->SelectAll();
        return total == 3000 - 10 + 5000;
      },
      5000))
      << total;
}

TEST_F(ListViewCommandTest, AChangeRightAfterResumingIsSeen) {
  auto view = ShownView(dir.path());
  view->SuspendWatching();
  view->ResumeWatching();
  dir.file("late.txt", "l");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Row(view.get(), "late.txt") >= 0; }, 5000));
}

TEST_F(ListViewCommandTest, ColumnWidthsSurviveIconViewsAndReReads) {
  dir.file("a.txt", "a");
  TIniFile ini(dir.path() + "/widths.ini");
  ini.WriteInteger("L", "ColumnsCount", 5);
  const int widths[5] = {210, 90, 130, 140, 60};
  for (int n = 0; n < 5; ++n) {
    ini.WriteInteger("L", "Columns" + std::to_string(n), n);
    ini.WriteInteger("L", "ColumnsWidth" + std::to_string(n), widths[n]);
  }
  ini.WriteInteger("L", "ViewStyle", vsIcon);
  TShellListView view;
  view.LoadSettings(ini, "L");
  view.SetPathName(dir.path());
  view.show();
  view.RefreshList();  // a re-read resets the header's sections
  view.SaveSettings(ini, "L");
  for (int n = 0; n < 5; ++n) EXPECT_EQ(ini.ReadInteger("L", "ColumnsWidth" + std::to_string(n), -1), widths[n]) << n;
  // A width the user drags in the report view is what is kept.
  view.SetViewStyleProperty(vsReport);
  view.ReportView()->header()->resizeSection(1, 77);
  view.RefreshList();
  EXPECT_EQ(view.ReportView()->header()->sectionSize(1), 77);
  view.SaveSettings(ini, "L");
  EXPECT_EQ(ini.ReadInteger("L", "ColumnsWidth1", -1), 77);
}
