#include "shell/ShellListDelegate.h"

#include <QPainter>

#include "shell/ShellCtrls.h"
#include "shell/ShellListModel.h"

int TShellListDelegate::DrawMarks(QPainter* painter, uint32_t attributes, int x, int y) const {
  const TAttributesImage& images = *hooks_.images;
  const std::pair<uint32_t, int> marks[] = {
      {0x1, images.ReadOnly}, {0x2, images.Hidden}, {0x4, images.System}, {0x20, images.Archive}};
  for (const auto& [bit, image] : marks) {
    if (!(attributes & bit) || image < 0 || image >= images.ImageList.size()) continue;
    const QPixmap& pixmap = images.ImageList[image];
    painter->drawPixmap(x, y, pixmap);
    x += pixmap.width();
  }
  return x;
}

void TShellListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  TShellFileItem* item = model_->Item(index.row());
  int field = index.column() < static_cast<int>(model_->Columns().size()) ? model_->Columns()[index.column()].field : 0;
  if (!item) {
    QStyledItemDelegate::paint(painter, option, index);
    return;
  }
  uint32_t attributes = item->GetItemAttributes();
  bool defaultDraw = true;
  bool subItemDraw = (attributes & (0x1 | 0x2 | 0x4 | 0x20)) != 0;
  // Qt paints cell by cell; the item hook is asked for each cell of the row.
  if (hooks_.onItem && *hooks_.onItem)
    (*hooks_.onItem)(hooks_.sender, index.row(), option.state, defaultDraw, subItemDraw);
  if (!defaultDraw) return;
  bool attributeImages = hooks_.images && hooks_.images->Used();
  if (report_ && subItemDraw && hooks_.onSubItem && *hooks_.onSubItem) {
    bool subDefault = true;
    (*hooks_.onSubItem)(hooks_.sender, index.row(), field, option.state, subDefault);
    if (!subDefault) return;
  }
  if (report_ && field == 4 && attributeImages) {
    painter->fillRect(option.rect,
                      option.state & QStyle::State_Selected ? option.palette.highlight() : option.palette.base());
    DrawMarks(painter, attributes, option.rect.left() + 2, option.rect.top());
    return;
  }
  QStyledItemDelegate::paint(painter, option, index);
  if (!report_ && field == 0 && attributeImages) {
    // Over the lower right corner of the icon.
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    QRect icon = opt.widget ? opt.widget->style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, opt.widget)
                            : opt.rect;
    const QList<QPixmap>& list = hooks_.images->ImageList;
    int size = list.isEmpty() ? 0 : list.first().height();
    DrawMarks(painter, attributes, icon.center().x(), icon.bottom() - size + 1);
  }
}
