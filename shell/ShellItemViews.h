#pragma once
// What the views of a folder list share: type-ahead find answered by the
// folder's rows instead of Qt's own search over the model.
#include <QElapsedTimer>
#include <QItemSelection>
#include <QAbstractItemView>
#include <QString>

class TShellListModel;

// Collects the keys typed in quick succession and moves to the first row
// whose name contains them.
class TTypeAheadFind {
 public:
  void Search(QAbstractItemView* view, TShellListModel* model, const QString& typed);

 private:
  QString buffer_;
  QElapsedTimer last_;
};

// True when a change of the selection reaches over so many rows that finding
// where they lie costs more than painting the whole viewport.
bool WideSelectionChange(const QItemSelection& selected, const QItemSelection& deselected);

// The first line (row, or column of items) to show so that line is shown as
// hint asks, from the first shown now and the lines a page holds.
int FirstLineFor(QAbstractItemView::ScrollHint hint, int line, int top, int page);
