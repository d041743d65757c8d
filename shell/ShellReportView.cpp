#include "shell/ShellReportView.h"

#include <QEvent>
#include <QHoverEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <algorithm>
#include <utility>

#include "shell/ShellListModel.h"

TShellReportView::TShellReportView(TShellListModel* model, QWidget* parent)
    : QAbstractItemView(parent), rows_(model), header_(new QHeaderView(Qt::Horizontal, this)) {
  // As a tree view's header: the name column stays first.
  header_->setFirstSectionMovable(false);
  header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setHorizontalScrollMode(ScrollPerPixel);
  viewport()->setAttribute(Qt::WA_Hover);
  auto columnsMoved = [this] {
    updateGeometries();
    viewport()->update();
  };
  connect(header_, &QHeaderView::sectionResized, this, columnsMoved);
  connect(header_, &QHeaderView::sectionMoved, this, columnsMoved);
  connect(header_, &QHeaderView::sectionCountChanged, this, columnsMoved);
  connect(header_, &QHeaderView::geometriesChanged, this, &TShellReportView::updateGeometries);
  connect(header_, &QHeaderView::sectionHandleDoubleClicked, this, [this](int logical) {
    header_->resizeSection(logical, std::max(sizeHintForColumn(logical), header_->sectionSizeHint(logical)));
  });
  connect(this, &QAbstractItemView::iconSizeChanged, this, &TShellReportView::HeightChanged);
}

void TShellReportView::setModel(QAbstractItemModel* model) {
  QAbstractItemView::setModel(model);
  header_->setModel(model);
  if (!model) return;
  connect(model, &QAbstractItemModel::rowsRemoved, this,
          [this](const QModelIndex&, int first, int last) { RowsMoved(first, first - last - 1); });
}

int TShellReportView::RowHeight() const {
  if (rowHeight_ > 0) return rowHeight_;
  // From the font and the icon size alone, never from a row: every row has
  // the same height whether its icon has come yet or not.
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.features |= QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
  option.text = QStringLiteral("Ag");
  rowHeight_ = std::max(1, style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).height());
  return rowHeight_;
}

void TShellReportView::HeightChanged() {
  rowHeight_ = 0;
  updateGeometries();
  viewport()->update();
}

int TShellReportView::TopRow() const { return model() && model()->rowCount() > 0 ? verticalScrollBar()->value() : -1; }

int TShellReportView::VisibleRows() const { return std::max(1, viewport()->height() / RowHeight()); }

int TShellReportView::RowAt(int y) const {
  if (!model() || y < 0) return -1;
  const int row = (y + verticalOffset()) / RowHeight();
  return row < model()->rowCount() ? row : -1;
}

QRect TShellReportView::RowsRect(int first, int last) const {
  const int height = RowHeight();
  return QRect(0, first * height - verticalOffset(), viewport()->width(), (last - first + 1) * height);
}

void TShellReportView::UpdateRows(int first, int last) {
  if (first < 0 || last < first) return;
  const QRect rows = RowsRect(first, last) & viewport()->rect();
  if (!rows.isEmpty()) viewport()->update(rows);
}

QRect TShellReportView::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.parent().isValid() || header_->isSectionHidden(index.column())) return {};
  const int height = RowHeight();
  return QRect(header_->sectionViewportPosition(index.column()), index.row() * height - verticalOffset(),
               header_->sectionSize(index.column()), height);
}

QModelIndex TShellReportView::indexAt(const QPoint& point) const {
  const int row = RowAt(point.y());
  const int column = row < 0 ? -1 : header_->logicalIndexAt(point.x());
  return column < 0 ? QModelIndex() : model()->index(row, column);
}

void TShellReportView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid()) return;
  // Rows may have come while the view was not laid out.
  updateGeometries();
  verticalScrollBar()->setValue(FirstLineFor(hint, index.row(), verticalScrollBar()->value(), VisibleRows()));
}

int TShellReportView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int TShellReportView::verticalOffset() const { return verticalScrollBar()->value() * RowHeight(); }

QModelIndex TShellReportView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  const int count = model() ? model()->rowCount() : 0;
  if (count == 0) return {};
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return model()->index(0, 0);
  int row = current.row();
  switch (action) {
    case MoveUp:
    case MovePrevious:
      --row;
      break;
    case MoveDown:
    case MoveNext:
      ++row;
      break;
    case MovePageUp:
      row -= VisibleRows();
      break;
    case MovePageDown:
      row += VisibleRows();
      break;
    case MoveHome:
      row = 0;
      break;
    case MoveEnd:
      row = count - 1;
      break;
    case MoveLeft:
    case MoveRight: {
      // Whole rows are selected: the arrows scroll the columns instead.
      QScrollBar* bar = horizontalScrollBar();
      bar->setValue(bar->value() + (action == MoveLeft ? -bar->singleStep() : bar->singleStep()));
      return current;
    }
  }
  return model()->index(std::clamp(row, 0, count - 1), current.column());
}

void TShellReportView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) {
  const int count = model() ? model()->rowCount() : 0;
  const int columns = model() ? model()->columnCount() : 0;
  if (!selectionModel() || count == 0 || columns == 0) return;
  const QRect area = rect.normalized();
  const int height = RowHeight(), offset = verticalOffset();
  const int top = std::max(0, (area.top() + offset) / height);
  const int bottom = std::min(count - 1, (area.bottom() + offset) / height);
  QItemSelection rows;
  if (area.bottom() + offset >= 0 && top <= bottom)
    rows.select(model()->index(top, 0), model()->index(bottom, columns - 1));
  selectionModel()->select(rows, flags);
}

QRegion TShellReportView::visualRegionForSelection(const QItemSelection& selection) const {
  QRegion region;
  const int first = TopRow();
  if (first < 0) return region;
  const int last = first + VisibleRows();
  for (const QItemSelectionRange& range : selection) {
    const int top = std::max(range.top(), first), bottom = std::min(range.bottom(), last);
    if (top <= bottom) region += RowsRect(top, bottom);
  }
  return region;
}

void TShellReportView::updateGeometries() {
  // Sizing the header of a hidden view loads bold faces of the font, which
  // costs the start several milliseconds; it is sized when shown.
  if (isVisible() && !header_->isHidden()) {
    const int height = std::max(header_->minimumHeight(), header_->sizeHint().height());
    if (viewportMargins().top() != height) setViewportMargins(0, height, 0, 0);
    const QRect port = viewport()->geometry();
    header_->setGeometry(port.left(), port.top() - height, port.width(), height);
  }
  const int count = model() ? model()->rowCount() : 0;
  const int page = VisibleRows();
  QScrollBar* rows = verticalScrollBar();
  rows->setSingleStep(1);
  rows->setPageStep(page);
  rows->setRange(0, std::max(0, count - page));
  QScrollBar* columns = horizontalScrollBar();
  columns->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
  columns->setPageStep(viewport()->width());
  columns->setRange(0, std::max(0, header_->length() - viewport()->width()));
  header_->setOffset(horizontalOffset());
  QAbstractItemView::updateGeometries();
}

void TShellReportView::scrollContentsBy(int dx, int dy) {
  header_->setOffset(horizontalOffset());
  if (scrollingStill_) return;
  // Moves the editor of a rename with its row.
  viewport()->scroll(isRightToLeft() ? -dx : dx, dy * RowHeight());
}

void TShellReportView::paintEvent(QPaintEvent* event) {
  const int count = model() ? model()->rowCount() : 0;
  const int columns = header_->count();
  if (count == 0 || columns == 0) return;
  QPainter painter(viewport());
  const QRect area = event->rect();
  const int height = RowHeight(), offset = verticalOffset();
  const int first = std::max(0, (area.top() + offset) / height);
  const int last = std::min(count - 1, (area.bottom() + offset) / height);
  int leftmost = header_->visualIndexAt(area.left()), rightmost = header_->visualIndexAt(area.right());
  if (leftmost < 0) leftmost = 0;
  if (rightmost < 0) rightmost = columns - 1;
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.state |= QStyle::State_Enabled;
  if (isActiveWindow()) option.state |= QStyle::State_Active;
  const QModelIndex current = currentIndex();
  const bool focused = hasFocus() && current.isValid();
  QAbstractItemDelegate* delegate = itemDelegate();
  for (int row = first; row <= last; ++row) {
    const int y = row * height - offset;
    const bool selected = selectionModel() && selectionModel()->isSelected(model()->index(row, 0));
    for (int visual = leftmost; visual <= rightmost; ++visual) {
      const int logical = header_->logicalIndex(visual);
      if (header_->isSectionHidden(logical)) continue;
      QStyleOptionViewItem cell(option);
      cell.rect = QRect(header_->sectionViewportPosition(logical), y, header_->sectionSize(logical), height);
      if (selected) cell.state |= QStyle::State_Selected;
      if (row == hoveredRow_) cell.state |= QStyle::State_MouseOver;
      cell.viewItemPosition = columns == 1            ? QStyleOptionViewItem::OnlyOne
                              : visual == 0           ? QStyleOptionViewItem::Beginning
                              : visual == columns - 1 ? QStyleOptionViewItem::End
                                                      : QStyleOptionViewItem::Middle;
      delegate->paint(&painter, cell, model()->index(row, logical));
    }
    if (focused && row == current.row()) {
      // One mark around the whole row, as the selection is of whole rows.
      QStyleOptionFocusRect mark;
      mark.QStyleOption::operator=(option);
      mark.state |= QStyle::State_KeyboardFocusChange;
      mark.rect = QRect(-horizontalOffset(), y, header_->length(), height);
      mark.backgroundColor = palette().color(selected ? QPalette::Highlight : QPalette::Base);
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &mark, &painter, this);
    }
  }
}

void TShellReportView::SetHoveredRow(int row) {
  if (row == hoveredRow_) return;
  UpdateRows(hoveredRow_, hoveredRow_);
  hoveredRow_ = row;
  UpdateRows(row, row);
}

bool TShellReportView::viewportEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
      SetHoveredRow(indexAt(static_cast<QHoverEvent*>(event)->position().toPoint()).row());
      break;
    case QEvent::HoverLeave:
    case QEvent::Leave:
      SetHoveredRow(-1);
      break;
    default:
      break;
  }
  return QAbstractItemView::viewportEvent(event);
}

int TShellReportView::sizeHintForColumn(int column) const {
  const int top = TopRow();
  if (top < 0 || !itemDelegate()) return 0;
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const int last = std::min(model()->rowCount() - 1, top + VisibleRows());
  int width = 0;
  for (int row = top; row <= last; ++row)
    width = std::max(width, itemDelegate()->sizeHint(option, model()->index(row, column)).width());
  return width;
}

void TShellReportView::reset() {
  hoveredRow_ = -1;
  QAbstractItemView::reset();
  updateGeometries();
}

void TShellReportView::rowsInserted(const QModelIndex& parent, int first, int last) {
  QAbstractItemView::rowsInserted(parent, first, last);
  RowsMoved(first, last - first + 1);
}

void TShellReportView::RowsMoved(int first, int added) {
  hoveredRow_ = -1;
  const int top = verticalScrollBar()->value(), bottom = top + VisibleRows();
  updateGeometries();
  if (first <= top && model()->rowCount() > 0) {
    // The same files stay in sight, and so nothing shown is painted again.
    const bool topRemoved = added < 0 && first - added - 1 >= top;
    const int wanted = topRemoved ? first : top + added;
    const bool still = std::exchange(scrollingStill_, true);
    verticalScrollBar()->setValue(wanted);
    scrollingStill_ = still;
    // Rows short of a page cannot scroll: they are painted where they are.
    if (topRemoved || verticalScrollBar()->value() != wanted) viewport()->update();
    if (state() == EditingState) updateEditorGeometries();
  } else if (first <= bottom) {
    UpdateRows(first, bottom);
  }
}

void TShellReportView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                   const QList<int>& roles) {
  // The rows that changed, not the whole view: a file written in a huge
  // folder is reported row by row.
  if (state() == EditingState || !topLeft.isValid() || !bottomRight.isValid()) {
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    return;
  }
  const int top = std::max(topLeft.row(), TopRow()), bottom = std::min(bottomRight.row(), TopRow() + VisibleRows());
  UpdateRows(top, bottom);
}

void TShellReportView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  // The focus marks the whole row, not one cell.
  if (isVisible()) {
    UpdateRows(previous.row(), previous.row());
    UpdateRows(current.row(), current.row());
  }
  QAbstractItemView::currentChanged(current, previous);
}

void TShellReportView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  if (WideSelectionChange(selected, deselected))
    viewport()->update();
  else
    QAbstractItemView::selectionChanged(selected, deselected);
}

void TShellReportView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) HeightChanged();
  QAbstractItemView::changeEvent(event);
}

void TShellReportView::showEvent(QShowEvent* event) {
  QAbstractItemView::showEvent(event);
  updateGeometries();
}
