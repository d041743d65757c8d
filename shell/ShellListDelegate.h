#pragma once
// Painting of the folder list rows: the owner's custom-draw hooks, and
// attribute marks drawn as images instead of letters.
#include <QList>
#include <QPixmap>
#include <QStyle>
#include <QStyledItemDelegate>
#include <functional>

class TShellListModel;

// Images for the attribute marks; an empty ImageList means letters are shown.
struct TAttributesImage {
  QList<QPixmap> ImageList;
  int Archive = -1;
  int Hidden = -1;
  int ReadOnly = -1;
  int System = -1;
  bool Used() const { return !ImageList.isEmpty(); }
};

using TShellListDrawItemEvent =
    std::function<void(QWidget* sender, int item, QStyle::State state, bool& defaultDraw, bool& subItemDraw)>;
using TShellListDrawSubItemEvent =
    std::function<void(QWidget* sender, int item, int subItem, QStyle::State state, bool& defaultDraw)>;

class TShellListDelegate : public QStyledItemDelegate {
 public:
  struct Hooks {
    QWidget* sender = nullptr;
    const TAttributesImage* images = nullptr;
    const TShellListDrawItemEvent* onItem = nullptr;
    const TShellListDrawSubItemEvent* onSubItem = nullptr;
  };
  TShellListDelegate(TShellListModel* model, Hooks hooks, bool report, QObject* parent)
      : QStyledItemDelegate(parent), model_(model), hooks_(hooks), report_(report) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  // The marks of the set bits, left to right from x; returns the x after them.
  int DrawMarks(QPainter* painter, uint32_t attributes, int x, int y) const;

  TShellListModel* model_;
  Hooks hooks_;
  bool report_;
};
