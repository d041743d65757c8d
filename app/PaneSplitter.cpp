#include "app/PaneSplitter.h"

#include <QResizeEvent>
#include <algorithm>
#include <cmath>

TPaneSplitter::TPaneSplitter(QWidget* parent) : QSplitter(Qt::Horizontal, parent) {}

void TPaneSplitter::SetPanes(QWidget* left, QWidget* right) {
  left_ = left;
  right_ = right;
}

void TPaneSplitter::resizeEvent(QResizeEvent* event) {
  const QList<int> before = sizes();
  QSplitter::resizeEvent(event);
  // The first layout keeps the left pane's saved width exactly.
  if (!event->oldSize().isValid() || event->oldSize().width() <= 0) return;
  const int l = left_ ? indexOf(left_) : -1, r = right_ ? indexOf(right_) : -1;
  if (l < 0 || r < 0 || !left_->isVisibleTo(this) || !right_->isVisibleTo(this)) return;
  const int was = before[l] + before[r];
  QList<int> now = sizes();
  const int shared = now[l] + now[r];
  if (was <= 0 || shared <= 0 || (before[l] == now[l] && before[r] == now[r])) return;
  // The splitter itself gives the whole change to one pane.
  const int least = std::max(1, left_->minimumSizeHint().width());
  const int most = std::max(least, shared - std::max(1, right_->minimumSizeHint().width()));
  now[l] = std::clamp(static_cast<int>(std::lround(static_cast<double>(shared) * before[l] / was)), least, most);
  now[r] = shared - now[l];
  setSizes(now);
}
