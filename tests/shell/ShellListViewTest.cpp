#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QClipboard>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempDir.h"
#include "platform/desktop/DropTarget.h"
#include "platform/desktop/FilePayload.h"
#include "platform/state/IniFile.h"
#include "platform/system/Exception.h"
#include "shell/ShellListModel.h"
#include "shell/ShellIconView.h"
#include "shell/ShellReportView.h"
#include "shell/ShellListView.h"
#include "shell/ShellPopupMenu.h"
#include "shell/watch/WatcherThread.h"

namespace {
class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view = std::make_unique<TShellListView>();
    view->resize(700, 400);
    view->SetViewStyleProperty(vsReport);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  }
  void TearDown() override {
    view.reset();
    WaitForWatcherThreads();
  }

  int Row(const std::string& name) const {
    for (int i = 0; i < view->FileList()->Count(); ++i)
      if (view->FileList()->Items(i)->GetDisplayName() == name) return i;
    return -1;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (int i = 0; i < view->FileList()->Count(); ++i) names.push_back(view->FileList()->Items(i)->GetDisplayName());
    return names;
  }
  QString Cell(int row, int column) const {
    return view->Model()->data(view->Model()->index(row, column), Qt::DisplayRole).toString();
  }
  // Makes the row current and focused in the current view.
  void Focus(int row) {
    view->CurrentView()->setFocus();
    view->CurrentView()->setCurrentIndex(view->Model()->index(row, 0));
  }

  TempDir dir;
  std::unique_ptr<TShellListView> view;
};

std::string Cwd() {
  char buffer[4096];
  return getcwd(buffer, sizeof buffer) ? buffer : "";
}
}  // namespace

TEST_F(ListViewTest, NavigatesAndServesRowsOnDemand) {
  dir.file("b.txt", "12345");
  dir.file("a.txt", "1");
  dir.dir("sub");
  std::string hidden = dir.file(".secret", "x");
  chmod(hidden.c_str(), 0444);
  view->SetPathName(dir.path());
  EXPECT_EQ(view->GetPathName(), dir.path());
  EXPECT_EQ(Cwd(), std::filesystem::canonical(dir.path()).string());
  EXPECT_EQ(view->Model()->rowCount(), 4);

  // Report view: five columns, the size column right-aligned, movable header.
  TShellReportView* tree = view->ReportView();
  EXPECT_EQ(view->CurrentView(), tree);
  ASSERT_EQ(view->Model()->columnCount(), 5);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(view->Model()->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString(),
              QString::fromUtf8(ColumnCaptions[i]));
  EXPECT_TRUE(view->Model()->headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
              Qt::AlignRight);
  EXPECT_TRUE(tree->header()->sectionsMovable());

  int b = Row("b.txt");
  ASSERT_GE(b, 0);
  EXPECT_EQ(Cell(b, 0), "b.txt");
  EXPECT_FALSE(Cell(b, 1).isEmpty());
  EXPECT_FALSE(Cell(b, 3).isEmpty());
  EXPECT_FALSE(view->Model()->data(view->Model()->index(b, 0), Qt::DecorationRole).value<QPixmap>().isNull());
  int h = Row(".secret");
  ASSERT_GE(h, 0);
  EXPECT_TRUE(Cell(h, 4).startsWith("RH")) << Cell(h, 4).toStdString();
  EXPECT_EQ(TShellListModel::AttributeLetters(0x1 | 0x2 | 0x20), "RHA");
  EXPECT_EQ(TShellListModel::AttributeLetters(0x27), "RHSA");
  // Rows past the count are empty rather than stale.
  EXPECT_FALSE(view->Model()->data(view->Model()->index(99, 0), Qt::DisplayRole).isValid());

  // A path that is no folder changes nothing; the folder already shown is not re-read.
  int changes = 0;
  view->OnShListChange = [&](TShellListView*, TShellFileList*) { ++changes; };
  view->SetPathName(dir / "missing");
  view->SetPathName(dir / "b.txt");
  view->SetPathName(dir.path());
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(view->GetPathName(), dir.path());

  // A filter sees each item; other styles show the same rows in the list view.
  view->OnShFilter = [](TShellListView*, TShellFileItem* item, bool& accept) {
    accept = item->GetDisplayName() != "a.txt";
  };
  view->RefreshList();
  EXPECT_EQ(Row("a.txt"), -1);
  EXPECT_EQ(view->Model()->rowCount(), 3);
  view->SetViewStyleProperty(vsList);
  EXPECT_EQ(view->CurrentView(), view->IconView());
  EXPECT_EQ(view->IconView()->Flow(), TShellIconView::TopToBottom);
  view->SetViewStyleProperty(vsIcon);
  // Large icons above their names, in lines across.
  EXPECT_EQ(view->IconView()->iconSize(), QSize(32, 32));
  EXPECT_EQ(view->IconView()->Flow(), TShellIconView::LeftToRight);
  const QRect first = view->IconView()->visualRect(view->Model()->index(0, 0));
  const QRect second = view->IconView()->visualRect(view->Model()->index(1, 0));
  EXPECT_EQ(first.top(), second.top());
  EXPECT_EQ(second.left() - first.left(), view->IconView()->GridSize().width());
  EXPECT_LT(first.width(), view->IconView()->GridSize().width());
  EXPECT_EQ(view->IconView()->selectionModel(), view->ReportView()->selectionModel());
}

TEST_F(ListViewTest, ActivationNavigatesFoldersAndExecutesFiles) {
  dir.file("run.sh", "x");
  std::string sub = dir.dir("inner");
  dir.file("inner/deep.txt", "y");
  view->SetPathName(dir.path());
  int executed = 0;
  std::string executedName;
  view->OnShExecute = [&](TShellListView*, TShellFileItem* item, TShiftState, int, int, int, bool& def) {
    ++executed;
    executedName = item->GetDisplayName();
    def = false;
  };
  Focus(Row("inner"));
  QTest::keyClick(view->CurrentView(), Qt::Key_Return);
  EXPECT_EQ(executed, 0);
  EXPECT_EQ(view->GetPathName(), sub);
  EXPECT_EQ(Names(), std::vector<std::string>{"deep.txt"});

  view->SetPathName(dir.path());
  int row = Row("run.sh");
  QRect rect = view->ReportView()->visualRect(view->Model()->index(row, 0));
  QTest::mouseDClick(view->ReportView()->viewport(), Qt::LeftButton, {}, rect.center());
  EXPECT_EQ(executed, 1);
  EXPECT_EQ(executedName, "run.sh");
  EXPECT_EQ(view->GetPathName(), dir.path());
}

TEST_F(ListViewTest, AFolderThatBecameAFileOpensAsAFile) {
  std::string sub = dir.dir("was-folder");
  dir.dir("gone");
  view->SetPathName(dir.path());
  ASSERT_EQ(Names(), (std::vector<std::string>{"gone", "was-folder"}));
  int executed = 0;
  std::string executedPath;
  view->OnShExecute = [&](TShellListView*, TShellFileItem* item, TShiftState, int, int, int, bool& def) {
    ++executed;
    executedPath = item->GetItemPath();
    def = false;
  };
  // Changed behind the list's back, before its watcher reports it.
  ASSERT_EQ(rmdir(sub.c_str()), 0);
  dir.file("was-folder", "now a file");
  ASSERT_EQ(rmdir((dir / "gone").c_str()), 0);
  Focus(Row("was-folder"));
  QTest::keyClick(view->CurrentView(), Qt::Key_Return);
  EXPECT_EQ(executed, 1);
  EXPECT_EQ(executedPath, sub);
  EXPECT_EQ(view->GetPathName(), dir.path());
  // A folder that is gone is not entered either: the list is read again.
  Focus(Row("gone"));
  QTest::keyClick(view->CurrentView(), Qt::Key_Return);
  EXPECT_EQ(executed, 1);
  EXPECT_EQ(view->GetPathName(), dir.path());
  EXPECT_EQ(Names(), std::vector<std::string>{"was-folder"});
}

TEST_F(ListViewTest, HeaderClickReversesSortAndKeepsSelection) {
  for (const char* n : {"c", "a", "d", "b"}) dir.file(n, n);
  view->SetPathName(dir.path());
  ASSERT_EQ(Names(), (std::vector<std::string>{"a", "b", "c", "d"}));
  view->SetRowSelected(Row("b"), true);
  view->SetFocusedRow(Row("b"));
  QHeaderView* header = view->ReportView()->header();
  QPoint name(header->sectionViewportPosition(0) + 5, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, name);
  EXPECT_EQ(Names(), (std::vector<std::string>{"d", "c", "b", "a"}));
  EXPECT_EQ(view->SelectedCount(), 1);
  EXPECT_TRUE(view->IsRowSelected(Row("b")));
  EXPECT_EQ(view->FocusedRow(), Row("b"));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, name);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(view->IsRowSelected(1));
}

TEST_F(ListViewTest, SelectionSizeCountsAllBytes) {
  dir.file("one", std::string(100, 'x'));
  dir.file("two", std::string(23, 'x'));
  std::string big = dir.file("big");
  // Sparse: takes no disk space, but its size does not fit in 32 bits.
  ASSERT_EQ(truncate(big.c_str(), 5'000'000'123LL), 0);
  view->SetPathName(dir.path());
  std::vector<uint64_t> fired;
  view->OnShSelChange = [&](TShellListView*, uint64_t size) { fired.push_back(size); };
  Focus(0);
  fired.clear();
  QTest::keyClick(view->CurrentView(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(view->SelectedCount(), 3);
  ASSERT_EQ(fired.size(), 1u);  // one event for the whole selection
  EXPECT_EQ(fired.back(), 5'000'000'123ULL + 123);
  view->SetRowSelected(Row("one"), false);
  EXPECT_EQ(view->SelSize(), 5'000'000'123ULL + 23);
  view->BeginSelUpdate();
  view->SelectAllRows(false);
  view->SetRowSelected(Row("two"), true);
  view->SetRowSelected(Row("two"), true);  // twice: still one row, counted once
  size_t before = fired.size();
  view->EndSelUpdate();
  EXPECT_EQ(fired.size(), before + 1);
  EXPECT_EQ(fired.back(), 23u);
  EXPECT_EQ(view->SelectedCount(), 1);
  view->RefreshList();  // a re-read drops the selection and its total
  EXPECT_EQ(view->SelSize(), 0u);
}

// Files written or deleted while selected: the sum follows, whether a row
// stays in its place, moves or goes.
TEST_F(ListViewTest, SelectionSizeFollowsSelectedFilesThatAreWritten) {
  dir.file("a", std::string(10, 'x'));
  dir.file("b", std::string(20, 'x'));
  dir.file("c", std::string(30, 'x'));
  for (int column : {0, 1}) {
    view->SetPathName(dir.path());
    view->FileList()->SortByColumn(column);
    view->SelectAllRows(false);
    view->SetRowSelected(Row("b"), true);
    view->SetRowSelected(Row("c"), true);
    ASSERT_EQ(view->SelSize(), 50u);
    // b stays between a and c by size; then c moves before a.
    dir.file("b", std::string(25, 'x'));
    ASSERT_TRUE(view->FileList()->ApplyChangedNames({"b"}));
    EXPECT_EQ(view->SelSize(), 55u) << "column " << column;
    dir.file("c", std::string(5, 'x'));
    ASSERT_TRUE(view->FileList()->ApplyChangedNames({"c"}));
    EXPECT_EQ(view->SelSize(), 30u) << "column " << column;
    EXPECT_EQ(view->SelectedCount(), 2);
    // A selected file deleted leaves the sum.
    ASSERT_EQ(unlink((dir / "b").c_str()), 0);
    ASSERT_TRUE(view->FileList()->ApplyChangedNames({"b"}));
    EXPECT_EQ(view->SelSize(), 5u) << "column " << column;
    EXPECT_EQ(view->SelectedCount(), 1);
    dir.file("b", std::string(20, 'x'));
    dir.file("c", std::string(30, 'x'));
    ASSERT_TRUE(view->FileList()->ApplyChangedNames({"b", "c"}));
  }
}

TEST_F(ListViewTest, RenameInPlace) {
  dir.file("old.txt", "o");
  dir.file("taken.txt", "keep me");
  view->SetPathName(dir.path());
  int row = Row("old.txt");
  Focus(row);
  view->SetRowSelected(row, true);
  QTest::keyClick(view->CurrentView(), Qt::Key_F2);
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), "old.txt");
  editor->selectAll();
  QTest::keyClicks(editor, "new.txt");
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();  // the delegate commits through a queued call
  EXPECT_TRUE(std::filesystem::exists(dir / "new.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "old.txt"));
  EXPECT_EQ(Cell(row, 0), "new.txt");

  // Renaming onto an existing name never replaces it; the row keeps its name,
  // the user is told why and edits the typed name again.
  std::vector<std::string> messages;
  SetExceptionDisplay([&](const std::string& m) { messages.push_back(m); });
  Focus(row);
  view->SetRowSelected(row, true);
  QTest::keyClick(view->CurrentView(), Qt::Key_F2);
  editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "taken.txt");
  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !messages.empty(); }, 2000));
  SetExceptionDisplay(nullptr);
  EXPECT_EQ(ReadWholeFile(dir / "taken.txt"), "keep me");
  EXPECT_EQ(Cell(row, 0), "new.txt");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("同じ名前のファイルが既にあります"), std::string::npos) << messages[0];
  ASSERT_TRUE(view->IsEditingLabel());
  editor = qobject_cast<QLineEdit*>(view->CurrentView()->indexWidget(view->Model()->index(row, 0)));
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), "taken.txt");
  editor->setText("third.txt");
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  EXPECT_EQ(ReadWholeFile(dir / "third.txt"), "o");
  EXPECT_EQ(Cell(row, 0), "third.txt");
}

TEST_F(ListViewTest, SettingsRoundTripDefaultsAndMending) {
  dir.file("a", "1");
  dir.file("b", "22");
  view->SetPathName(dir.path());
  std::string iniPath = dir / "t.ini";
  {
    TIniFile ini(iniPath);
    view->SetColumnOrder({2, 0, 1, 3, 4});
    view->ReportView()->header()->resizeSection(1, 77);
    view->SortColumn(1, false);
    view->SaveSettings(ini, "LV");
  }
  {
    TIniFile ini(iniPath);
    EXPECT_EQ(ini.ReadInteger("LV", "ColumnsCount", 0), 5);
    EXPECT_EQ(ini.ReadInteger("LV", "Columns0", -1), 2);
    EXPECT_EQ(ini.ReadInteger("LV", "ColumnsWidth1", -1), 77);
    EXPECT_EQ(ini.ReadInteger("LV", "ViewStyle", -1), 3);
    EXPECT_EQ(ini.ReadInteger("LV", "SortOrder1", 0), -1);
    EXPECT_EQ(ini.ReadInteger("LV", "SortType", -1), 1);
  }
  auto fresh = std::make_unique<TShellListView>();
  fresh->SetPathName(dir.path());
  {
    TIniFile ini(iniPath);
    fresh->LoadSettings(ini, "LV");
  }
  EXPECT_EQ(fresh->ColumnOrder(), (std::vector<int>{2, 0, 1, 3, 4}));
  EXPECT_EQ(fresh->ColumnWidth(1), 77);
  EXPECT_EQ(fresh->ViewStyle(), vsReport);
  EXPECT_EQ(fresh->FileList()->SortType, 1);
  EXPECT_EQ(fresh->FileList()->SortOrder[1], 1);  // the sort column starts ascending

  // An empty section gives the defaults.
  {
    TIniFile ini(iniPath);
    fresh->LoadSettings(ini, "Empty");
  }
  EXPECT_EQ(fresh->ColumnOrder(), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(fresh->ColumnWidth(3), 30);
  EXPECT_EQ(fresh->ViewStyle(), vsIcon);
  EXPECT_EQ(fresh->FileList()->SortType, 0);

  // A count of 0 leaves everything; a count larger than the columns reads what fits.
  {
    TIniFile ini(iniPath);
    ini.WriteInteger("Zero", "ColumnsCount", 0);
    ini.WriteInteger("Zero", "ViewStyle", 2);
    ini.WriteInteger("Many", "ColumnsCount", 9);
    ini.WriteInteger("Many", "ColumnsWidth2", 55);
    ini.WriteInteger("Many", "ViewStyle", 1);
    fresh->LoadSettings(ini, "Zero");
    EXPECT_EQ(fresh->ViewStyle(), vsIcon);
    EXPECT_NO_THROW(fresh->LoadSettings(ini, "Many"));
  }
  EXPECT_EQ(fresh->ColumnWidth(2), 55);
  EXPECT_EQ(fresh->ViewStyle(), vsSmallIcon);
  fresh.reset();
}

TEST_F(ListViewTest, ContextMenuChoosesShellOrOrdinaryMenu) {
  dir.file("f.txt", "f");
  view->SetPathName(dir.path());
  QMenu ordinary;
  ordinary.addAction("x");
  view->PopupMenu = &ordinary;
  TShellPopupMenu shellMenu;
  int shellShown = 0;
  int shellCount = 0;
  shellMenu.OnShBeforPopup = [&](QObject*, const TShellIDList& list, const QPoint&, bool& allow) {
    ++shellShown;
    shellCount = list.Count();
    allow = false;  // no modal loop in a test
  };
  view->SetShellPopupMenu(&shellMenu);
  EXPECT_FALSE(shellMenu.AutoPopup);

  int row = Row("f.txt");
  QWidget* viewport = view->ReportView()->viewport();
  QPoint at = view->ReportView()->visualRect(view->Model()->index(row, 0)).center();
  QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
  QTest::mousePress(viewport, Qt::RightButton, {}, at);
  QContextMenuEvent onRow(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
  QApplication::sendEvent(viewport, &onRow);
  QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
  EXPECT_EQ(shellShown, 1);
  EXPECT_EQ(shellCount, 1);
  EXPECT_FALSE(ordinary.isVisible());

  // From the keyboard: the ordinary menu.
  QContextMenuEvent fromKey(QContextMenuEvent::Keyboard, at, viewport->mapToGlobal(at));
  QApplication::sendEvent(view->ReportView(), &fromKey);
  EXPECT_EQ(shellShown, 1);
  EXPECT_TRUE(ordinary.isVisible());
  ordinary.close();

  // A right click on empty space: the ordinary menu too.
  QPoint empty(viewport->width() - 5, viewport->height() - 5);
  QTest::mousePress(viewport, Qt::RightButton, {}, empty);
  QContextMenuEvent onEmpty(QContextMenuEvent::Mouse, empty, viewport->mapToGlobal(empty));
  QApplication::sendEvent(viewport, &onEmpty);
  EXPECT_EQ(shellShown, 1);
  EXPECT_TRUE(ordinary.isVisible());
  ordinary.close();
  view->SetShellPopupMenu(nullptr);
}

TEST_F(ListViewTest, ClipboardWatchingTellsWhetherFilesAreOffered) {
  std::string file = dir.file("c.txt", "c");
  std::vector<bool> told;
  view->OnShClipboard = [&](TShellListView*, bool contented) { told.push_back(contented); };
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setMimeData(MakeFilesMimeData({file}, false));
  QCoreApplication::processEvents();
  ASSERT_FALSE(told.empty());
  EXPECT_TRUE(told.back());
  clipboard->setText("just text");
  QCoreApplication::processEvents();
  EXPECT_FALSE(told.back());
  view->OnShClipboard = nullptr;
  clipboard->clear();
}

TEST_F(ListViewTest, DragStartsOnlyPastFivePixelsWithTheButtonHeld) {
  dir.file("d.txt", "d");
  view->SetPathName(dir.path());
  int asked = 0, count = 0;
  view->OnShBeginDrag = [&](TShellListView*, TShellIDList* list, const QPoint&, int, int, bool& canDrag) {
    ++asked;
    count = list->Count();
    canDrag = false;  // no drag loop in a test
  };
  QWidget* viewport = view->ReportView()->viewport();
  QPoint at = view->ReportView()->visualRect(view->Model()->index(Row("d.txt"), 0)).center();
  auto move = [&](QPoint to, Qt::MouseButtons held) {
    QMouseEvent event(QEvent::MouseMove, to, viewport->mapToGlobal(to), Qt::NoButton, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
  };
  QTest::mousePress(viewport, Qt::LeftButton, {}, at);
  ASSERT_EQ(view->SelectedCount(), 1);
  move(at + QPoint(5, 5), Qt::LeftButton);
  EXPECT_EQ(asked, 0);
  move(at + QPoint(6, 0), Qt::NoButton);  // the button is no longer held
  EXPECT_EQ(asked, 0);
  move(at + QPoint(0, 6), Qt::LeftButton);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(count, 1);
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
  move(at + QPoint(20, 0), Qt::LeftButton);  // released: no drag until the next press
  EXPECT_EQ(asked, 1);
}

TEST_F(ListViewTest, DropsGoToTheRowFolderOrTheShownFolder) {
  std::string sub = dir.dir("sub");
  dir.file("plain.txt", "p");
  TempDir source;
  std::string dragged = source.file("moving.txt", "m");
  view->SetPathName(dir.path());
  struct Drop {
    std::vector<std::string> sources;
    std::string folder;
  };
  std::vector<Drop> drops;
  SetDropHandler([&](const std::vector<std::string>& sources, const std::string& folder, uint32_t) {
    drops.push_back({sources, folder});
    return true;
  });
  int entered = 0, left = 0;
  view->OnShDragEnter = [&](TShellListView*, const TShellDragObject&, TShiftState, const QPoint&, bool&) { ++entered; };
  view->OnShDragLeave = [&](TShellListView*) { ++left; };
  QWidget* viewport = view->ReportView()->viewport();
  std::unique_ptr<QMimeData> data(MakeFilesMimeData({dragged}, false));
  auto dropAt = [&](QPoint at) {
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    bool accepted = move.isAccepted();
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return accepted;
  };
  QPoint onSub = view->ReportView()->visualRect(view->Model()->index(Row("sub"), 0)).center();
  EXPECT_TRUE(dropAt(onSub));
  ASSERT_EQ(drops.size(), 1u);
  EXPECT_EQ(drops[0].folder, sub);
  EXPECT_EQ(drops[0].sources, std::vector<std::string>{dragged});
  EXPECT_EQ(view->DropTargetRow(), -1);  // the highlight goes with the drop

  // A file row takes no drop: the shown folder does.
  QPoint onFile = view->ReportView()->visualRect(view->Model()->index(Row("plain.txt"), 0)).center();
  EXPECT_TRUE(dropAt(onFile));
  ASSERT_EQ(drops.size(), 2u);
  EXPECT_EQ(drops[1].folder, dir.path());
  EXPECT_EQ(entered, 2);

  // Data without files is refused at once; a leave fires the event.
  QMimeData text;
  text.setText("words");
  QDragEnterEvent enter(onSub, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &enter);
  EXPECT_FALSE(enter.isAccepted());
  QDragEnterEvent again(onSub, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &again);
  EXPECT_EQ(view->DropTargetRow(), Row("sub"));
  EXPECT_TRUE(view->Model()->data(view->Model()->index(Row("sub"), 0), Qt::BackgroundRole).isValid());
  QDragLeaveEvent leave;
  QApplication::sendEvent(viewport, &leave);
  EXPECT_EQ(left, 1);
  EXPECT_EQ(view->DropTargetRow(), -1);
  EXPECT_FALSE(view->Model()->data(view->Model()->index(Row("sub"), 0), Qt::BackgroundRole).isValid());
  EXPECT_EQ(drops.size(), 2u);
  SetDropHandler(nullptr);
}

TEST_F(ListViewTest, CustomDrawHooksAndAttributeImages) {
  std::string ro = dir.file("ro.txt", "r");
  chmod(ro.c_str(), 0444);
  view->SetPathName(dir.path());
  int row = Row("ro.txt");
  ASSERT_GE(row, 0);
  EXPECT_TRUE(Cell(row, 4).contains('R'));

  std::vector<int> subItems;
  bool presetSubItemDraw = false;
  view->OnCustomDrawItem = [&](QWidget*, int item, QStyle::State, bool&, bool& subItemDraw) {
    if (item == row) presetSubItemDraw = subItemDraw;
  };
  view->OnCustomDrawSubItem = [&](QWidget*, int item, int subItem, QStyle::State, bool&) {
    if (item == row) subItems.push_back(subItem);
  };
  QPixmap red(12, 12);
  red.fill(Qt::red);
  TAttributesImage images;
  images.ImageList = {red};
  images.ReadOnly = 0;
  view->SetAttributesImage(images);
  EXPECT_TRUE(Cell(row, 4).isEmpty());  // images replace the letters

  TShellReportView* tree = view->ReportView();
  QRect cell = tree->visualRect(view->Model()->index(row, 4));
  ASSERT_TRUE(cell.isValid());
  QImage shot = tree->viewport()->grab().toImage();
  EXPECT_TRUE(presetSubItemDraw);
  EXPECT_NE(std::find(subItems.begin(), subItems.end(), 4), subItems.end());
  double ratio = shot.devicePixelRatio();
  QPoint mark = (QPointF(cell.left() + 2 + 6, cell.top() + 6) * ratio).toPoint();
  auto reddish = [](QColor c) { return c.red() > 200 && c.green() < 80 && c.blue() < 80; };
  EXPECT_TRUE(reddish(QColor(shot.pixel(mark))));

  // A hook that draws the row itself leaves the cell unpainted by default drawing.
  view->OnCustomDrawItem = [&](QWidget*, int item, QStyle::State, bool& defaultDraw, bool&) {
    if (item == row) defaultDraw = false;
  };
  shot = tree->viewport()->grab().toImage();
  EXPECT_FALSE(reddish(QColor(shot.pixel(mark))));
  view->OnCustomDrawItem = nullptr;
  view->OnCustomDrawSubItem = nullptr;
}

TEST_F(ListViewTest, AFilterThatThrowsLeavesTheListPaintedWatchedAndUsable) {
  dir.file("a.txt");
  view->SetPathName(dir.path());
  ASSERT_EQ(Names(), std::vector<std::string>{"a.txt"});
  ASSERT_TRUE(view->updatesEnabled());

  bool fail = true;
  view->OnShFilter = [&](TShellListView*, TShellFileItem* item, bool& accept) {
    if (fail) throw EInvalidOperation("filter");
    accept = item->GetDisplayName() != "hidden.txt";
  };
  dir.file("b.txt");
  EXPECT_THROW(view->RefreshList(), EInvalidOperation);
  EXPECT_TRUE(view->updatesEnabled());
  EXPECT_EQ(view->GetViewStyle(), vsReport);
  // The view never counts rows the list lacks.
  EXPECT_LE(view->Model()->rowCount(), view->FileList()->Count());

  // Watching goes on: a file made now shows without being asked for.
  fail = false;
  dir.file("c.txt");
  QElapsedTimer timer;
  timer.start();
  while (Row("c.txt") < 0 && timer.elapsed() < 8000) QTest::qWait(50);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));

  // A later refresh repaints and shows what the filter keeps.
  dir.file("hidden.txt");
  dir.file("d.txt");
  view->RefreshList();
  EXPECT_TRUE(view->updatesEnabled());
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"}));
  EXPECT_EQ(view->Model()->rowCount(), 4);
  EXPECT_EQ(Cell(Row("d.txt"), 0), "d.txt");
}
