#pragma once
// The report style of a folder list: rows of equal height under a column
// header. Every row's place is arithmetic on its number, so a file that
// appears in a folder of a million rows costs no walk over the others, as
// Qt's tree and table views make on each insert.
#include <QAbstractItemView>
#include <QHeaderView>

#include "shell/ShellItemViews.h"

class TShellListModel;

class TShellReportView : public QAbstractItemView {
 public:
  TShellReportView(TShellListModel* model, QWidget* parent);

  QHeaderView* header() const { return header_; }
  int RowHeight() const;
  // The first row wholly or partly shown, -1 when there are none.
  int TopRow() const;

  void setModel(QAbstractItemModel* model) override;
  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& point) const override;
  void keyboardSearch(const QString& search) override { find_.Search(this, rows_, search); }
  // Measured on the rows in sight: a million rows would take seconds.
  int sizeHintForColumn(int column) const override;
  void reset() override;

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  bool isIndexHidden(const QModelIndex&) const override { return false; }
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void updateGeometries() override;
  void scrollContentsBy(int dx, int dy) override;
  void paintEvent(QPaintEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void rowsInserted(const QModelIndex& parent, int first, int last) override;
  void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                   const QList<int>& roles = QList<int>()) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // The rows' band in the viewport, whole width.
  QRect RowsRect(int first, int last) const;
  int RowAt(int y) const;
  int VisibleRows() const;
  void UpdateRows(int first, int last);
  void HeightChanged();
  // Rows added (or, negative, removed) at first: what is shown follows.
  void RowsMoved(int first, int added);
  void SetHoveredRow(int row);

  TShellListModel* rows_;
  QHeaderView* header_;
  TTypeAheadFind find_;
  mutable int rowHeight_ = 0;
  int hoveredRow_ = -1;
  bool scrollingStill_ = false;
};
