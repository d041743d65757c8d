#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

#include "TempDir.h"
#include "shell/ShellListModel.h"
#include "shell/ShellListView.h"
#include "shell/ShellReportView.h"
#include "shell/watch/WatcherThread.h"

namespace {
class ReportViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int n = 0; n < kFiles; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "f%03d.txt", n);
      dir.file(name, std::string(n, 'x'));
    }
    view = std::make_unique<TShellListView>();
    view->resize(500, 300);
    view->SetViewStyleProperty(vsReport);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    view->SetPathName(dir.path());
    ASSERT_EQ(view->FileList()->Count(), kFiles);
    report = view->ReportView();
    report->setFocus();
    report->setCurrentIndex(view->Model()->index(0, 0));
    QApplication::processEvents();
  }
  void TearDown() override {
    view.reset();
    WaitForWatcherThreads();
  }
  int Current() const { return report->currentIndex().row(); }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(report, key, modifiers); }

  static constexpr int kFiles = 300;
  TempDir dir;
  std::unique_ptr<TShellListView> view;
  TShellReportView* report = nullptr;
};
}  // namespace

// Each row's place is worked out from its number: what is painted, clicked
// and scrolled to must agree, whichever way the columns are ordered and
// however far the view is scrolled.
TEST_F(ReportViewTest, RowsAndColumnsAreFoundWhereTheyArePlaced) {
  QHeaderView* header = report->header();
  const int height = report->RowHeight();
  ASSERT_GT(height, 0);
  auto roundTrip = [&](int row, int column) {
    const QModelIndex index = view->Model()->index(row, column);
    const QRect rect = report->visualRect(index);
    EXPECT_EQ(rect.height(), height);
    EXPECT_EQ(rect.left(), header->sectionViewportPosition(column));
    EXPECT_EQ(rect.width(), header->sectionSize(column));
    EXPECT_EQ(report->indexAt(rect.center()), index) << row << "," << column;
  };
  roundTrip(3, 0);
  roundTrip(5, 2);
  // Below the last row and right of the last column there is no row.
  report->scrollTo(view->Model()->index(kFiles - 1, 0));
  const QRect last = report->visualRect(view->Model()->index(kFiles - 1, 0));
  EXPECT_TRUE(report->viewport()->rect().contains(last)) << "the last row is whole in sight";
  EXPECT_FALSE(report->indexAt(last.center() + QPoint(0, height)).isValid());
  EXPECT_FALSE(report->indexAt(QPoint(header->length() + 5, 5)).isValid());

  report->scrollTo(view->Model()->index(120, 0), QAbstractItemView::PositionAtTop);
  EXPECT_EQ(report->TopRow(), 120);
  EXPECT_EQ(report->indexAt(QPoint(1, 1)).row(), 120);
  roundTrip(125, 1);
  report->scrollTo(view->Model()->index(200, 0), QAbstractItemView::PositionAtCenter);
  EXPECT_NEAR(report->indexAt(QPoint(1, report->viewport()->height() / 2)).row(), 200, 1);

  // A column moved by the user is painted and found at its new place.
  header->moveSection(header->visualIndex(1), 3);
  roundTrip(200, 1);
  roundTrip(201, 3);
  // Columns wider than the view scroll sideways, the header with them.
  header->resizeSection(0, 900);
  QApplication::processEvents();
  QScrollBar* across = report->horizontalScrollBar();
  ASSERT_GT(across->maximum(), 0);
  across->setValue(200);
  EXPECT_EQ(header->offset(), 200);
  EXPECT_EQ(report->visualRect(view->Model()->index(200, 0)).left(), -200);
  roundTrip(200, 4);
}

// The keys a user moves with: by one, by a page of the rows in sight, to
// either end; Shift extends the selection over every row passed.
TEST_F(ReportViewTest, KeysMoveByRowsAndPagesAndShiftSelectsWhatTheyPass) {
  const int page = report->viewport()->height() / report->RowHeight();
  ASSERT_GT(page, 3);
  Key(Qt::Key_Down);
  EXPECT_EQ(Current(), 1);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(Current(), 1 + page);
  EXPECT_GE(report->TopRow() + page, Current() + 1) << "the focused row is in sight";
  Key(Qt::Key_PageUp);
  EXPECT_EQ(Current(), 1);
  Key(Qt::Key_End);
  EXPECT_EQ(Current(), kFiles - 1);
  EXPECT_EQ(report->TopRow(), kFiles - page);
  Key(Qt::Key_Down);
  EXPECT_EQ(Current(), kFiles - 1);
  Key(Qt::Key_Home);
  EXPECT_EQ(Current(), 0);
  EXPECT_EQ(report->TopRow(), 0);

  Key(Qt::Key_Down, Qt::ShiftModifier);
  Key(Qt::Key_PageDown, Qt::ShiftModifier);
  EXPECT_EQ(view->SelectedCount(), page + 2);
  EXPECT_TRUE(view->IsRowSelected(0));
  EXPECT_TRUE(view->IsRowSelected(page + 1));
  EXPECT_FALSE(view->IsRowSelected(page + 2));
  Key(Qt::Key_End, Qt::ShiftModifier);
  EXPECT_EQ(view->SelectedCount(), kFiles);
  Key(Qt::Key_Home);
  EXPECT_EQ(view->SelectedCount(), 1);

  // A click with Shift takes the rows between; one with Ctrl adds a row.
  const auto centre = [&](int row) { return report->visualRect(view->Model()->index(row, 0)).center(); };
  QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, centre(2));
  QTest::mouseClick(report->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre(6));
  QTest::mouseClick(report->viewport(), Qt::LeftButton, Qt::ControlModifier, centre(8));
  EXPECT_EQ(view->SelectedCount(), 6);
  EXPECT_FALSE(view->IsRowSelected(7));
  EXPECT_EQ(Current(), 8);

  // Left and right scroll the columns; the focus stays on its row.
  report->header()->resizeSection(0, 900);
  QApplication::processEvents();
  Key(Qt::Key_Right);
  EXPECT_GT(report->horizontalScrollBar()->value(), 0);
  EXPECT_EQ(Current(), 8);
}

// A double click on a column's edge fits it to the names in sight.
TEST_F(ReportViewTest, AColumnEdgeDoubleClickedFitsTheNamesInSight) {
  dir.file("a-name-long-enough-to-need-a-wider-column-than-the-default.txt");
  view->RefreshList();
  QHeaderView* header = report->header();
  header->resizeSection(0, 40);
  QTest::mouseDClick(header->viewport(), Qt::LeftButton, {},
                     QPoint(header->sectionViewportPosition(0) + header->sectionSize(0) - 1, header->height() / 2));
  const int text = report->fontMetrics().horizontalAdvance(
      QStringLiteral("a-name-long-enough-to-need-a-wider-column-than-the-default.txt"));
  EXPECT_GE(header->sectionSize(0), text);
}

namespace {
struct PaintCount : QObject {
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};
}  // namespace

// Files that come and go keep the same files in sight; a row that comes far
// below what is shown costs no paint.
TEST_F(ReportViewTest, WhatIsShownFollowsFilesThatComeAndGo) {
  auto rows = [&] { return view->FileList()->Count(); };
  auto topName = [&] { return view->FileList()->Items(report->TopRow())->GetDisplayName(); };
  report->scrollTo(view->Model()->index(100, 0), QAbstractItemView::PositionAtTop);
  ASSERT_EQ(topName(), "f100.txt");
  dir.file("a-first.txt");
  ASSERT_EQ(::unlink((dir / "f000.txt").c_str()), 0);
  ASSERT_EQ(::unlink((dir / "f001.txt").c_str()), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return rows() == kFiles - 1; }, 10000));
  EXPECT_EQ(topName(), "f100.txt");
  // The top row itself goes: the next one takes its place.
  ASSERT_EQ(::unlink((dir / "f100.txt").c_str()), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return rows() == kFiles - 2; }, 10000));
  EXPECT_EQ(topName(), "f101.txt");

  PaintCount spy;
  report->viewport()->installEventFilter(&spy);
  QApplication::processEvents();
  spy.paints = 0;
  dir.file("f250-below.txt");
  ASSERT_TRUE(QTest::qWaitFor([&] { return rows() == kFiles - 1; }, 10000));
  QTest::qWait(50);
  EXPECT_EQ(spy.paints, 0);

  report->viewport()->removeEventFilter(&spy);
}
