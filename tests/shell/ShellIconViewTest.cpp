#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>

#include "TempDir.h"
#include "shell/ShellIconView.h"
#include "shell/ShellListModel.h"
#include "shell/ShellListView.h"
#include "shell/watch/WatcherThread.h"

namespace {
class IconViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int n = 0; n < kFiles; ++n) {
      char name[32];
      std::snprintf(name, sizeof name, "f%03d.txt", n);
      dir.file(name);
    }
    view = std::make_unique<TShellListView>();
    view->resize(500, 300);
    view->SetViewStyleProperty(vsList);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    view->SetPathName(dir.path());
    ASSERT_EQ(view->FileList()->Count(), kFiles);
    icons = view->IconView();
    ASSERT_EQ(view->CurrentView(), icons);
    icons->setFocus();
    icons->setCurrentIndex(view->Model()->index(0, 0));
    QApplication::processEvents();
  }
  void TearDown() override {
    view.reset();
    WaitForWatcherThreads();
  }
  int Current() const { return icons->currentIndex().row(); }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(icons, key, modifiers); }
  QRect Rect(int row) const { return icons->visualRect(view->Model()->index(row, 0)); }
  // Items in a column of the list style, or in a line of icons.
  int PerLine() const {
    int n = 1;
    while (n < kFiles && (icons->Flow() == TShellIconView::TopToBottom ? Rect(n).left() == Rect(0).left()
                                                                       : Rect(n).top() == Rect(0).top()))
      ++n;
    return n;
  }

  static constexpr int kFiles = 300;
  TempDir dir;
  std::unique_ptr<TShellListView> view;
  TShellIconView* icons = nullptr;
};
}  // namespace

// The list style fills columns down and scrolls sideways; the arrows follow
// the flow, and what is drawn, clicked and scrolled to agree.
TEST_F(IconViewTest, TheListStyleFlowsDownColumnsAndTheArrowsFollowIt) {
  const int per = PerLine();
  ASSERT_GT(per, 3);
  ASSERT_LT(per, kFiles);
  EXPECT_EQ(Rect(per).top(), Rect(0).top());
  EXPECT_GT(Rect(per).left(), Rect(0).left());
  for (int row : {0, 1, per + 2}) EXPECT_EQ(icons->indexAt(Rect(row).center()).row(), row);
  Key(Qt::Key_Down);
  EXPECT_EQ(Current(), 1);
  Key(Qt::Key_Right);
  EXPECT_EQ(Current(), 1 + per);
  Key(Qt::Key_Left);
  Key(Qt::Key_Left);
  EXPECT_EQ(Current(), 1) << "no column left of the first";
  Key(Qt::Key_End);
  EXPECT_EQ(Current(), kFiles - 1);
  EXPECT_TRUE(icons->viewport()->rect().contains(Rect(kFiles - 1))) << "scrolled sideways to the last";
  EXPECT_GT(icons->horizontalScrollBar()->value(), 0);
  EXPECT_EQ(icons->indexAt(Rect(kFiles - 1).center()).row(), kFiles - 1);
  // From a column whose right neighbour is short, onto the last item.
  const int lastColumn = (kFiles - 1) / per;
  const int high = (lastColumn - 1) * per + per - 1;
  if ((kFiles - 1) % per < per - 1) {
    icons->setCurrentIndex(view->Model()->index(high, 0));
    Key(Qt::Key_Right);
    EXPECT_EQ(Current(), kFiles - 1);
  }
  Key(Qt::Key_Home, Qt::ShiftModifier);
  EXPECT_EQ(view->SelectedCount(), kFiles);
  EXPECT_EQ(icons->horizontalScrollBar()->value(), 0);
}

// Large icons fill lines across. A band dragged over empty space selects
// the icons it touches; a narrower view keeps the first icon shown in sight.
TEST_F(IconViewTest, LargeIconsFillLinesAndABandSelectsWhatItCovers) {
  view->SetViewStyleProperty(vsIcon);
  QApplication::processEvents();
  ASSERT_EQ(icons->Flow(), TShellIconView::LeftToRight);
  const int per = PerLine();
  ASSERT_GT(per, 2);
  EXPECT_EQ(Rect(per).left(), Rect(0).left());
  EXPECT_EQ(Rect(per).top() - Rect(0).top(), icons->GridSize().height());
  Key(Qt::Key_Right);
  Key(Qt::Key_Down);
  EXPECT_EQ(Current(), 1 + per);

  // From the margin round the first icon to the middle of the one diagonally below.
  QWidget* port = icons->viewport();
  const QPoint from = Rect(0).bottomRight() + QPoint(1, 1), to = Rect(per + 1).center();
  ASSERT_FALSE(icons->indexAt(from).isValid());
  QTest::mousePress(port, Qt::LeftButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, to, port->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(port, &move);
  QTest::mouseRelease(port, Qt::LeftButton, {}, to);
  EXPECT_EQ(view->SelectedCount(), 4);
  for (int row : {0, 1, per, per + 1}) EXPECT_TRUE(view->IsRowSelected(row)) << row;

  icons->scrollTo(view->Model()->index(10 * per, 0), QAbstractItemView::PositionAtTop);
  ASSERT_EQ(icons->indexAt(Rect(10 * per).center()).row(), 10 * per);
  view->resize(view->width() - icons->GridSize().width(), view->height());
  QApplication::processEvents();
  const int narrower = PerLine();
  ASSERT_LT(narrower, per);
  const QRect shown = Rect(10 * per);
  EXPECT_GE(shown.top(), 0);
  EXPECT_LT(shown.top(), icons->GridSize().height()) << "the first icon shown stays in the first line";
}
