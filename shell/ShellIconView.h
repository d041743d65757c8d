#pragma once
// The icon and list styles of a folder list: items of one size in a grid
// that fills lines across (icons) or columns down (list). Each item's place
// is arithmetic on its number, so a file that appears in a folder of a
// million rows costs no walk over the others, as Qt's list view makes on
// each insert.
#include <QAbstractItemView>

#include "shell/ShellItemViews.h"

class TShellListModel;

class TShellIconView : public QAbstractItemView {
 public:
  enum TFlow { LeftToRight, TopToBottom };

  TShellIconView(TShellListModel* model, QWidget* parent);

  // grid: the pitch of the items; empty, the items' own size. Icons above
  // their names fill their cell.
  void SetLayout(TFlow flow, QSize grid, bool iconsAbove);
  TFlow Flow() const { return flow_; }
  QSize GridSize() const { return grid_; }
  // A band drawn while the mouse selects over empty space.
  void SetSelectionRectVisible(bool visible) { bandVisible_ = visible; }

  void setModel(QAbstractItemModel* model) override;
  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;
  void keyboardSearch(const QString& search) override { find_.Search(this, rows_, search); }
  void reset() override;

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  // One item a row: the other columns belong to the detailed view.
  bool isIndexHidden(const QModelIndex& index) const override { return index.column() != 0; }
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void initViewItemOption(QStyleOptionViewItem* option) const override;
  void updateGeometries() override;
  void scrollContentsBy(int dx, int dy) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void rowsInserted(const QModelIndex& parent, int first, int last) override;
  void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                   const QList<int>& roles = QList<int>()) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  bool Across() const { return flow_ == LeftToRight; }
  // The size every item has, and the step from one to the next.
  QSize ItemSize() const;
  QSize Pitch() const;
  int LongestNameRow() const;
  // Items in a line across (or a column down), and the lines in sight.
  int PerLine() const;
  int LinesInSight() const;
  int LineCount() const;
  // The first line in sight; its first item is the first shown.
  int TopLine() const;
  QRect ItemRect(int row) const;
  void UpdateItems(int first, int last);
  void SizeChanged();
  // Rows came or went at first: the items after it moved by their number.
  void RowsMoved(int first);

  TShellListModel* rows_;
  TTypeAheadFind find_;
  TFlow flow_ = TopToBottom;
  QSize grid_;
  bool iconsAbove_ = false;
  bool bandVisible_ = false;
  mutable QSize itemSize_;
  // Where a selecting drag started, in the content's coordinates; the band.
  QPoint pressedAt_;
  QRect band_;
  bool banding_ = false;
  int lastPerLine_ = 0;
};
