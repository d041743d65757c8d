#include "shell/ShellIconView.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QRubberBand>
#include <QScrollBar>
#include <QStyleOptionRubberBand>
#include <QWheelEvent>
#include <algorithm>
#include <utility>

#include "shell/ShellCtrls.h"
#include "shell/ShellListModel.h"

TShellIconView::TShellIconView(TShellListModel* model, QWidget* parent) : QAbstractItemView(parent), rows_(model) {
  connect(this, &QAbstractItemView::iconSizeChanged, this, &TShellIconView::SizeChanged);
}

void TShellIconView::setModel(QAbstractItemModel* model) {
  QAbstractItemView::setModel(model);
  if (model)
    connect(model, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int) { RowsMoved(first); });
}

void TShellIconView::SetLayout(TFlow flow, QSize grid, bool iconsAbove) {
  flow_ = flow;
  grid_ = grid;
  iconsAbove_ = iconsAbove;
  SizeChanged();
}

void TShellIconView::SizeChanged() {
  itemSize_ = QSize();
  updateGeometries();
  viewport()->update();
}

QSize TShellIconView::ItemSize() const {
  if (itemSize_.isValid()) return itemSize_;
  // As icon mode draws: each name under its icon fills its cell.
  if (iconsAbove_ && grid_.isValid()) return itemSize_ = grid_ - QSize(2, 2);
  const int count = model() ? model()->rowCount() : 0;
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  if (count == 0 || !itemDelegate())
    return QSize(option.decorationSize.width() + fontMetrics().averageCharWidth() * 12,
                 std::max(option.decorationSize.height(), fontMetrics().height()) + 4);
  QSize size = itemDelegate()->sizeHint(option, model()->index(LongestNameRow(), 0)).expandedTo(QSize(1, 1));
  if (grid_.isValid()) size = QSize(grid_.width() - 2, std::min(size.height(), grid_.height()));
  return itemSize_ = size;
}

int TShellIconView::LongestNameRow() const {
  // Every item is as wide as the longest name among the first rows and some
  // thousands spread over the folder: a million names would take too long.
  const int count = model()->rowCount(), stride = std::max(1, count / 20000);
  int longest = count - 1;
  size_t length = 0;
  auto measure = [&](int row) {
    TShellFileItem* item = rows_->Item(row);
    const size_t size = item ? item->GetDisplayName().size() : 0;
    if (size > length) length = size, longest = row;
  };
  // The first rows, shown first, are measured each.
  for (int row = 0; row < std::min(count, 1000); ++row) measure(row);
  for (int row = 1000; row < count; row += stride) measure(row);
  measure(count - 1);
  return longest;
}

QSize TShellIconView::Pitch() const { return grid_.isValid() ? grid_ : ItemSize(); }

int TShellIconView::PerLine() const {
  const QSize pitch = Pitch();
  // Room is kept for the scroll bar, as Qt's list view keeps it: the items
  // stay where they are when it comes or goes.
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  if (Across())
    return std::max(1, (viewport()->width() - (verticalScrollBar()->isVisible() ? 0 : bar)) / pitch.width());
  return std::max(1, (viewport()->height() - (horizontalScrollBar()->isVisible() ? 0 : bar)) / pitch.height());
}

int TShellIconView::LinesInSight() const {
  const QSize pitch = Pitch();
  return std::max(1, Across() ? viewport()->height() / pitch.height() : viewport()->width() / pitch.width());
}

int TShellIconView::LineCount() const {
  const int count = model() ? model()->rowCount() : 0;
  const int per = PerLine();
  return (count + per - 1) / per;
}

int TShellIconView::TopLine() const { return Across() ? verticalScrollBar()->value() : horizontalScrollBar()->value(); }

int TShellIconView::horizontalOffset() const { return Across() ? 0 : horizontalScrollBar()->value() * Pitch().width(); }

int TShellIconView::verticalOffset() const { return Across() ? verticalScrollBar()->value() * Pitch().height() : 0; }

QRect TShellIconView::ItemRect(int row) const {
  const int per = PerLine(), line = row / per, place = row % per;
  const QSize pitch = Pitch();
  const QPoint cell = Across() ? QPoint(place * pitch.width(), line * pitch.height() - verticalOffset())
                               : QPoint(line * pitch.width() - horizontalOffset(), place * pitch.height());
  return QRect(cell + (iconsAbove_ ? QPoint(1, 1) : QPoint()), ItemSize());
}

QRect TShellIconView::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.parent().isValid() || index.column() != 0) return {};
  return ItemRect(index.row());
}

QModelIndex TShellIconView::indexAt(const QPoint& point) const {
  const int count = model() ? model()->rowCount() : 0;
  if (count == 0) return {};
  const QSize pitch = Pitch();
  const QPoint at = point + QPoint(horizontalOffset(), verticalOffset());
  if (at.x() < 0 || at.y() < 0) return {};
  const int line = Across() ? at.y() / pitch.height() : at.x() / pitch.width();
  const int place = Across() ? at.x() / pitch.width() : at.y() / pitch.height();
  if (place >= PerLine()) return {};
  const int row = line * PerLine() + place;
  if (row >= count || !ItemRect(row).contains(point)) return {};
  return model()->index(row, 0);
}

void TShellIconView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid()) return;
  // Rows may have come while the view was not laid out.
  updateGeometries();
  QScrollBar* bar = Across() ? verticalScrollBar() : horizontalScrollBar();
  bar->setValue(FirstLineFor(hint, index.row() / PerLine(), bar->value(), LinesInSight()));
}

QModelIndex TShellIconView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  const int count = model() ? model()->rowCount() : 0;
  if (count == 0) return {};
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return model()->index(0, 0);
  const int row = current.row(), per = PerLine(), lines = LineCount();
  // Across a line and from line to line, whichever way the items flow.
  const bool back = action == MoveLeft || action == MoveUp;
  const bool alongLine =
      Across() ? (action == MoveLeft || action == MoveRight) : (action == MoveUp || action == MoveDown);
  int wanted = row;
  switch (action) {
    case MovePrevious:
      wanted = row - 1;
      break;
    case MoveNext:
      wanted = row + 1;
      break;
    case MoveLeft:
    case MoveRight:
    case MoveUp:
    case MoveDown:
      if (alongLine) {
        wanted = back ? row - 1 : row + 1;
      } else if (back) {
        wanted = row - per >= 0 ? row - per : row;
      } else {
        // Onto the last item when the next line is too short to have one here.
        wanted = row + per < count ? row + per : row / per + 1 < lines ? count - 1 : row;
      }
      break;
    case MovePageUp:
      wanted = row - per * LinesInSight();
      break;
    case MovePageDown:
      wanted = row + per * LinesInSight();
      break;
    case MoveHome:
      wanted = 0;
      break;
    case MoveEnd:
      wanted = count - 1;
      break;
  }
  return model()->index(std::clamp(wanted, 0, count - 1), 0);
}

void TShellIconView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags flags) {
  const int count = model() ? model()->rowCount() : 0;
  const int columns = model() ? model()->columnCount() : 0;
  if (!selectionModel() || count == 0 || columns == 0) return;
  const QRect area = rect.normalized().translated(horizontalOffset(), verticalOffset());
  const QSize pitch = Pitch();
  const int per = PerLine();
  // The cells the rectangle touches: lines, and places along a line.
  const int across0 = area.left() / pitch.width(), across1 = area.right() / pitch.width();
  const int down0 = area.top() / pitch.height(), down1 = area.bottom() / pitch.height();
  const int line0 = std::max(0, Across() ? down0 : across0),
            line1 = std::min(LineCount() - 1, Across() ? down1 : across1);
  const int place0 = std::max(0, Across() ? across0 : down0), place1 = std::min(per - 1, Across() ? across1 : down1);
  QItemSelection items;
  const bool outside = area.right() < 0 || area.bottom() < 0;
  auto add = [&](int first, int last) {
    last = std::min(last, count - 1);
    if (first <= last) items.append(QItemSelectionRange(model()->index(first, 0), model()->index(last, columns - 1)));
  };
  if (!outside && place0 <= place1) {
    if (place0 == 0 && place1 == per - 1)
      add(line0 * per, line1 * per + per - 1);
    else
      for (int line = line0; line <= line1; ++line) add(line * per + place0, line * per + place1);
  }
  selectionModel()->select(items, flags);
}

QRegion TShellIconView::visualRegionForSelection(const QItemSelection& selection) const {
  QRegion region;
  const int per = PerLine(), first = TopLine() * per, last = first + (LinesInSight() + 1) * per - 1;
  for (const QItemSelectionRange& range : selection) {
    const int top = std::max(range.top(), first), bottom = std::min(range.bottom(), last);
    for (int row = top; row <= bottom; ++row) region += ItemRect(row);
  }
  return region;
}

void TShellIconView::initViewItemOption(QStyleOptionViewItem* option) const {
  QAbstractItemView::initViewItemOption(option);
  if (!iconsAbove_) return;
  // As icon mode draws: the name under the icon, only the name marked when selected.
  option->showDecorationSelected = false;
  option->decorationPosition = QStyleOptionViewItem::Top;
  option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
}

void TShellIconView::updateGeometries() {
  const int count = model() ? model()->rowCount() : 0;
  const int per = PerLine(), page = LinesInSight();
  QScrollBar* lines = Across() ? verticalScrollBar() : horizontalScrollBar();
  QScrollBar* still = Across() ? horizontalScrollBar() : verticalScrollBar();
  // The first item shown stays first when the lines hold more or fewer.
  const int topItem = lastPerLine_ > 0 ? lines->value() * lastPerLine_ : 0;
  still->setRange(0, 0);
  lines->setSingleStep(1);
  lines->setPageStep(page);
  lines->setRange(0, std::max(0, (count + per - 1) / per - page));
  if (lastPerLine_ > 0 && lastPerLine_ != per) {
    lines->setValue(topItem / per);
    viewport()->update();
  }
  lastPerLine_ = per;
  QAbstractItemView::updateGeometries();
}

void TShellIconView::scrollContentsBy(int dx, int dy) {
  const QSize pitch = Pitch();
  viewport()->scroll(dx * pitch.width(), dy * pitch.height());
}

void TShellIconView::wheelEvent(QWheelEvent* event) {
  // Items flowing down the columns scroll sideways, by the wheel too.
  if (!Across() && event->angleDelta().x() == 0)
    QCoreApplication::sendEvent(horizontalScrollBar(), event);
  else
    QAbstractItemView::wheelEvent(event);
}

void TShellIconView::paintEvent(QPaintEvent* event) {
  const int count = model() ? model()->rowCount() : 0;
  if (count == 0 && band_.isNull()) return;
  QPainter painter(viewport());
  const QRect area = event->rect();
  const QSize pitch = Pitch();
  const int per = PerLine();
  const int from =
      Across() ? (area.top() + verticalOffset()) / pitch.height() : (area.left() + horizontalOffset()) / pitch.width();
  const int to = Across() ? (area.bottom() + verticalOffset()) / pitch.height()
                          : (area.right() + horizontalOffset()) / pitch.width();
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.state |= QStyle::State_Enabled;
  if (isActiveWindow()) option.state |= QStyle::State_Active;
  const QModelIndex current = currentIndex();
  QAbstractItemDelegate* delegate = itemDelegate();
  for (int row = std::max(0, from) * per, last = std::min(count - 1, (to + 1) * per - 1); row <= last; ++row) {
    QStyleOptionViewItem item(option);
    item.rect = ItemRect(row);
    if (!item.rect.intersects(area)) continue;
    const QModelIndex index = model()->index(row, 0);
    if (selectionModel() && selectionModel()->isSelected(index)) item.state |= QStyle::State_Selected;
    if (hasFocus() && index == current) item.state |= QStyle::State_HasFocus;
    delegate->paint(&painter, item, index);
  }
  if (!band_.isNull()) {
    QStyleOptionRubberBand band;
    band.initFrom(this);
    band.shape = QRubberBand::Rectangle;
    band.opaque = false;
    band.rect = band_.translated(-horizontalOffset(), -verticalOffset());
    painter.save();
    style()->drawControl(QStyle::CE_RubberBand, &band, &painter, this);
    painter.restore();
  }
}

void TShellIconView::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  pressedAt_ = at + QPoint(horizontalOffset(), verticalOffset());
  banding_ = bandVisible_ && event->button() == Qt::LeftButton && !indexAt(at).isValid();
  QAbstractItemView::mousePressEvent(event);
}

void TShellIconView::mouseMoveEvent(QMouseEvent* event) {
  QAbstractItemView::mouseMoveEvent(event);
  if (!banding_ || !(event->buttons() & Qt::LeftButton)) return;
  const QRect old = band_;
  band_ = QRect(pressedAt_, event->position().toPoint() + QPoint(horizontalOffset(), verticalOffset())).normalized();
  const QPoint offset(horizontalOffset(), verticalOffset());
  viewport()->update((old | band_).translated(-offset).adjusted(-2, -2, 2, 2));
}

void TShellIconView::mouseReleaseEvent(QMouseEvent* event) {
  QAbstractItemView::mouseReleaseEvent(event);
  banding_ = false;
  if (band_.isNull()) return;
  band_ = QRect();
  viewport()->update();
}

void TShellIconView::reset() {
  QAbstractItemView::reset();
  itemSize_ = QSize();
  updateGeometries();
}

void TShellIconView::rowsInserted(const QModelIndex& parent, int first, int last) {
  QAbstractItemView::rowsInserted(parent, first, last);
  RowsMoved(first);
}

void TShellIconView::RowsMoved(int first) {
  updateGeometries();
  // Every item after first moves by a place: those in sight are painted.
  const int per = PerLine();
  if (first < (TopLine() + LinesInSight() + 1) * per) viewport()->update();
}

void TShellIconView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
  if (state() == EditingState || !topLeft.isValid() || !bottomRight.isValid()) {
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    return;
  }
  // The items that changed, not the whole view: a file written in a huge
  // folder is reported item by item.
  const int per = PerLine(), first = TopLine() * per, last = first + (LinesInSight() + 1) * per - 1;
  const int top = std::max(topLeft.row(), first), bottom = std::min(bottomRight.row(), last);
  for (int row = top; row <= bottom; ++row) viewport()->update(ItemRect(row));
}

void TShellIconView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  if (WideSelectionChange(selected, deselected))
    viewport()->update();
  else
    QAbstractItemView::selectionChanged(selected, deselected);
}

void TShellIconView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) SizeChanged();
  QAbstractItemView::changeEvent(event);
}

void TShellIconView::showEvent(QShowEvent* event) {
  QAbstractItemView::showEvent(event);
  updateGeometries();
}
