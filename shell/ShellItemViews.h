#pragma once
// The icon view of a folder list and what its views share, with type-ahead find
// answered by the folder's rows instead of Qt's own search over the model.
#include <QElapsedTimer>
#include <QItemSelection>
#include <QListView>
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
// where they lie costs more than painting the whole viewport: Qt's views walk
// their rows to place a far one.
bool WideSelectionChange(const QItemSelection& selected, const QItemSelection& deselected);

// The large icons are a grid flow of list mode with the icon above its name:
// Qt's icon mode places and indexes every item on its own, a second and a
// hundred megabytes for a million rows, where list mode keeps one offset per row.
class TShellIconView : public QListView {
 public:
  TShellIconView(TShellListModel* model, QWidget* parent) : QListView(parent), rows_(model) {}
  void keyboardSearch(const QString& search) override { find_.Search(this, rows_, search); }
  void SetIconsAbove(bool above) { iconsAbove_ = above; }

 protected:
  void initViewItemOption(QStyleOptionViewItem* option) const override {
    QListView::initViewItemOption(option);
    if (!iconsAbove_) return;
    // As icon mode draws: the name under the icon, only the name marked when selected.
    option->showDecorationSelected = false;
    option->decorationPosition = QStyleOptionViewItem::Top;
    option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
  }
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override {
    if (WideSelectionChange(selected, deselected))
      viewport()->update();
    else
      QListView::selectionChanged(selected, deselected);
  }

 private:
  TShellListModel* rows_;
  TTypeAheadFind find_;
  bool iconsAbove_ = false;
};
