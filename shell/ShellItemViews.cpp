#include "shell/ShellItemViews.h"

#include <QApplication>
#include <QItemSelectionModel>

#include "shell/ShellListModel.h"

bool WideSelectionChange(const QItemSelection& selected, const QItemSelection& deselected) {
  constexpr int kWideRows = 1000;
  int rows = 0;
  for (const QItemSelection* ranges : {&selected, &deselected})
    for (const QItemSelectionRange& r : *ranges)
      if ((rows += r.height()) > kWideRows) return true;
  return false;
}

int FirstLineFor(QAbstractItemView::ScrollHint hint, int line, int top, int page) {
  switch (hint) {
    case QAbstractItemView::PositionAtTop:
      return line;
    case QAbstractItemView::PositionAtBottom:
      return line - page + 1;
    case QAbstractItemView::PositionAtCenter:
      return line - page / 2;
    case QAbstractItemView::EnsureVisible:
      break;
  }
  return line < top ? line : line >= top + page ? line - page + 1 : top;
}

void TTypeAheadFind::Search(QAbstractItemView* view, TShellListModel* model, const QString& typed) {
  if (typed.isEmpty() || !model || model->rowCount() == 0) return;
  if (!last_.isValid() || last_.elapsed() > QApplication::keyboardInputInterval()) buffer_.clear();
  last_.restart();
  buffer_ += typed;
  int current = view->currentIndex().isValid() ? view->currentIndex().row() : -1;
  // A fresh search starts after the current row, so typing one letter again
  // steps through the rows that hold it; a longer text may still match here.
  int start = buffer_.size() == typed.size() ? current + 1 : std::max(current, 0);
  if (start >= model->rowCount()) start = 0;
  int row = model->FindItem(buffer_, start, true, true);
  if (row < 0) return;
  QModelIndex index = model->index(row, 0);
  view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  view->scrollTo(index);
}
