// The folder combo box: building and merging its entries, showing a folder
// through temporary ancestor entries, choosing an entry, and drawing.
#include "shell/ShellComboBox.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QStyledItemDelegate>
#include <QStylePainter>
#include <algorithm>

#include "platform/namespace/SystemImageList.h"
#include "shell/ShellTreeView.h"

// Draws the drop-down list's rows through the combo box, indented by level.
class TShellComboDelegate : public QStyledItemDelegate {
 public:
  explicit TShellComboDelegate(TShellComboBox* combo) : QStyledItemDelegate(combo), combo_(combo) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    painter->save();
    painter->setFont(option.font);
    painter->fillRect(option.rect, option.palette.brush(QPalette::Base));
    bool selected = option.state & QStyle::State_Selected;
    int row = index.row();
    combo_->PaintEntry(painter, option.rect, option.palette, combo_->Entry(row), row, false, selected,
                       selected && (option.state & QStyle::State_HasFocus));
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    TShellComboItem* item = combo_->Entry(index.row());
    int indent = item ? 12 * std::max(0, item->GetLevel()) : 0;
    int text = option.fontMetrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    return QSize(2 + indent + 16 + 4 + text + 8, combo_->ItemHeight());
  }

 private:
  TShellComboBox* combo_;
};

namespace {
// The icon tinted with the selection colour, as a selected entry shows it.
QPixmap Blended(QPixmap pixmap, QColor colour) {
  QPainter painter(&pixmap);
  painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
  colour.setAlpha(128);
  painter.fillRect(pixmap.rect(), colour);
  return pixmap;
}

// Same level and the same item to the desktop.
bool SameItem(PCItemIDList a, PCItemIDList b) {
  int level = GetIDListLevel(a);
  if (level < 0 || level != GetIDListLevel(b)) return false;
  if (level == 0 || IDListsEqual(a, b)) return true;
  ShellFolderPtr desktop = SHGetDesktopFolder();
  return CompareIDsIn(desktop.get(), a, b) == 0;
}
}  // namespace

// --- Construction and properties ---------------------------------------------------

TShellComboBox::TShellComboBox(QWidget* parent) : QComboBox(parent), list_(std::make_unique<TShellComboList>(this)) {
  setMaxVisibleItems(8);
  setIconSize(QSize(16, 16));
  setItemDelegate(new TShellComboDelegate(this));
  setAcceptDrops(true);
  connect(this, &QComboBox::activated, this, &TShellComboBox::EntryChosen);
}

TShellComboBox::~TShellComboBox() {
  // The strings go with the widget; the entries need not be mirrored any more.
  list_->ComboBox = nullptr;
}

bool TShellComboBox::IncludeHidden() const { return includeHidden_; }

void TShellComboBox::SetIncludeHidden(bool value) {
  if (includeHidden_ == value) return;
  includeHidden_ = value;
  FollowSettings();
}

TShVirtuaItems TShellComboBox::ShVirtuaItems() const { return virtuaItems_; }

void TShellComboBox::SetShVirtuaItems(TShVirtuaItems value) {
  if (virtuaItems_ == value) return;
  virtuaItems_ = value;
  FollowSettings();
}

void TShellComboBox::FollowSettings() {
  // A linked tree rebuilds us itself; alone we follow at once.
  if (!ready_ || tree_) return;
  IDListPtr selected(CopyIDList(GetSelectedIDList()));
  Rebuild();
  SelectIDList(selected.get());
}

TShellTreeView* TShellComboBox::ShellTreeView() const { return tree_.data(); }

void TShellComboBox::SetShellTreeView(TShellTreeView* tree) { tree_ = tree; }

bool TShellComboBox::Ready() const { return ready_; }

int TShellComboBox::EntryCount() const { return list_->Count(); }

TShellComboItem* TShellComboBox::Entry(int index) const { return list_->Items(index); }

PCItemIDList TShellComboBox::GetSelectedIDList() const {
  TShellComboItem* item = list_->Items(currentIndex());
  return item ? item->GetAbsoluteIDList() : nullptr;
}

// --- Entries -------------------------------------------------------------------------

std::unique_ptr<TShellComboItem> TShellComboBox::MakeEntry(TShellComboItem* parent, PCItemIDList id) {
  if (!parent || !parent->AbsoluteIDList || !id) return nullptr;
  IDListPtr relative(CopyFirstID(id));
  if (!relative) return nullptr;
  IDListPtr absolute(parent->GetLevel() == 0 ? CopyIDList(relative.get())
                                             : ConcatIDLists(parent->AbsoluteIDList.get(), relative.get()));
  if (!absolute) return nullptr;
  return std::make_unique<TShellComboItem>(list_.get(), parent, relative.release(), absolute.release(), ready_);
}

int TShellComboBox::AddEntry(TShellComboItem* parent, int position, PCItemIDList id) {
  std::unique_ptr<TShellComboItem> item = MakeEntry(parent, id);
  if (!item) return -1;
  TShellComboItem* made = item.get();
  list_->Insert(position, std::move(item));
  return list_->IndexOf(made);
}

bool TShellComboBox::Admits(int folderLevel, TShItemIDType folderType, TShellComboItem* child) const {
  if (folderLevel == 0) {
    TShItemIDType type = child->GetItemType();
    if (type == itBitBucket) return virtuaItems_.Contains(itBitBucket);
    if (type == itNetWork) return virtuaItems_.Contains(itNetWork);
    return type != itVirtual;
  }
  if (folderLevel == 1) {
    if (folderType == itMyComputer) return child->GetItemType() != itVirtual || virtuaItems_.Contains(itVirtual);
    if (folderType == itNetWork) return virtuaItems_.Contains(itNetWork);
  }
  return true;
}

void TShellComboBox::MergeChildren(int index) {
  TShellComboItem* entry = list_->Items(index);
  if (!entry || !entry->IsValid()) return;
  ShellFolderPtr folder = entry->BindFolder();
  if (!folder) return;
  std::unique_ptr<IEnumIDList> children =
      folder->EnumObjects(SHCONTF_FOLDERS | (includeHidden_ ? SHCONTF_INCLUDEHIDDEN : 0));
  // A folder that cannot be read keeps what it showed.
  if (!children) return;
  int level = entry->GetLevel();
  TShItemIDType type = level == 1 ? entry->GetItemType() : itUnknown;
  std::vector<std::unique_ptr<TShellComboItem>> fresh;
  PItemIDList id = nullptr;
  while (children->Next(id)) {
    IDListPtr owned(id);
    std::unique_ptr<TShellComboItem> item = MakeEntry(entry, owned.get());
    if (!item) continue;
    item->ParentFolder = folder;
    if (Admits(level, type, item.get())) fresh.push_back(std::move(item));
  }
  std::vector<PItemIDList> ids;
  for (auto& item : fresh) ids.push_back(item->RelativeIDList.get());
  folder->PrepareCompare(0, ids.data(), ids.size());
  std::stable_sort(fresh.begin(), fresh.end(), [&](const auto& a, const auto& b) {
    return CompareIDsIn(folder.get(), a->RelativeIDList.get(), b->RelativeIDList.get()) == 2;
  });

  // Merge with the existing children, keeping those that are still there
  // (and what hangs below them).
  int child = list_->FirstChild(index);
  size_t next = 0;
  while (next < fresh.size() && child >= 0) {
    int order =
        CompareIDsIn(folder.get(), list_->Items(child)->RelativeIDList.get(), fresh[next]->RelativeIDList.get());
    if (order == 0) {
      ++next;
      child = list_->NextSibling(child);
    } else if (order == 1) {
      list_->Insert(child, std::move(fresh[next++]));
      ++child;
    } else {
      list_->Delete(child);
      TShellComboItem* following = list_->Items(child);
      if (!following || following->ParentItem != entry) child = -1;
    }
  }
  while (child >= 0) {
    list_->Delete(child);
    TShellComboItem* following = list_->Items(child);
    if (!following || following->ParentItem != entry) child = -1;
  }
  for (; next < fresh.size(); ++next) list_->Insert(list_->LastDescendant(index) + 1, std::move(fresh[next]));
}

void TShellComboBox::RemoveTemporary() {
  for (int i = list_->Count() - 1; i >= 0; --i) {
    TShellComboItem* item = list_->Items(i);
    if (item && item->Temporary) list_->Delete(i);
  }
}

bool TShellComboBox::ChildrenListed(TShellComboItem* parent) const {
  if (!parent) return false;
  // The desktop's first child is listed in full by Rebuild, as is a computer once merged.
  return parent == list_->Items(list_->FirstChild(0)) || parent->GetItemType() == itMyComputer;
}

void TShellComboBox::Rebuild() {
  ready_ = false;
  auto update = ItemsUpdateOf(this);
  RemoveTemporary();
  if (list_->Count() == 0) {
    IDListPtr absolute = GetSpecialFolderIDList(CSIDL_DESKTOP);
    IDListPtr relative = absolute ? GetSpecialFolderIDList(CSIDL_DESKTOPDIRECTORY) : nullptr;
    if (relative)
      list_->Insert(
          0, std::make_unique<TShellComboItem>(list_.get(), nullptr, relative.release(), absolute.release(), false));
  }
  if (list_->Count() > 0) {
    MergeChildren(0);
    int first = list_->FirstChild(0);
    if (first >= 0) MergeChildren(first);
    if (currentIndex() < 0) setCurrentIndex(0);
    ready_ = true;
  }
}

void TShellComboBox::SelectIDList(PCItemIDList idList) {
  if (!idList) return;
  // A copy: the list may be one of our own entries, which the steps below can free.
  IDListPtr target(CopyIDList(idList));
  if (!target) return;
  if (!ready_) {
    remembered_ = std::move(target);
    return;
  }
  TShellComboItem* selected = list_->Items(currentIndex());
  if (selected && selected->IsValid() && SameItem(selected->AbsoluteIDList.get(), target.get())) return;
  auto update = ItemsUpdateOf(this);
  RemoveTemporary();
  int index = FindIndex(target.get());
  // A walk that gave up leaves no half-built chain behind.
  if (index == 0) RemoveTemporary();
  setCurrentIndex(index);
}

int TShellComboBox::FindIndex(PCItemIDList idList) {
  if (!idList || list_->Count() == 0 || GetIDListLevel(idList) <= 0) return 0;
  IDListPtr target(CopyIDList(idList));
  PCItemIDList id = target.get();
  TShellComboItem* desktop = list_->Items(0);
  int index = list_->FirstChild(0);
  if (index < 0) index = AddEntry(desktop, 1, id);
  // Whether the current level was read again already: an ID that is still
  // missing then gets a temporary entry instead of another read.
  bool merged = false;
  while (index >= 0) {
    TShellComboItem* item = list_->Items(index);
    ShellFolderPtr folder;
    item->GetParentFolder(folder);
    IDListPtr current(CopyFirstID(id));
    int order = CompareIDsIn(folder.get(), item->RelativeIDList.get(), current.get());
    TShellComboItem* parent = item->ParentItem;
    int parentIndex = list_->IndexOf(parent);
    if (order == 0) {
      PCItemIDList next = NextID(id);
      if (!next) return index;
      int child = list_->FirstChild(index);
      if (child < 0) child = AddEntry(item, index + 1, next);
      index = child;
      id = next;
      merged = false;
    } else if (order == 1) {
      if (!merged && (item->GetLevel() == 1 || ChildrenListed(parent))) {
        merged = true;
        MergeChildren(parentIndex);
        index = list_->FirstChild(parentIndex);
        if (index < 0) index = AddEntry(parent, parentIndex + 1, id);
      } else {
        // The ID goes before the first entry that sorts after it.
        index = AddEntry(parent, index, id);
      }
    } else if (order == 2) {
      int next = list_->NextSibling(index);
      if (next < 0) next = AddEntry(parent, list_->LastDescendant(index) + 1, id);
      index = next;
    } else {
      return 0;
    }
  }
  return 0;
}

TShellComboItem* TShellComboBox::FindEntry(PCItemIDList idList) const {
  if (!idList) return nullptr;
  for (int i = 0; i < list_->Count(); ++i) {
    TShellComboItem* item = list_->Items(i);
    if (item->IsValid() && SameItem(item->AbsoluteIDList.get(), idList)) return item;
  }
  return nullptr;
}

void TShellComboBox::UpdateEntry(TShellComboItem* item, const std::string& displayName) {
  int index = list_->IndexOf(item);
  if (index < 0) return;
  item->ResetIcons();
  item->DisplayName = displayName;
  setItemText(index, QString::fromUtf8(displayName));
  update();
}

void TShellComboBox::BeginItemsUpdate() {
  if (updateCount_++ == 0) {
    setUpdatesEnabled(false);
    view()->setUpdatesEnabled(false);
  }
}

void TShellComboBox::EndItemsUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0) {
    view()->setUpdatesEnabled(true);
    setUpdatesEnabled(true);
    update();
  }
}

void TShellComboBox::EntryChosen(int index) {
  TShellComboItem* item = list_->Items(index);
  if (!item || !item->IsValid()) return;
  {
    auto update = ItemsUpdateOf(this);
    if (item->Temporary) {
      TShellComboItem* child = list_->Items(list_->FirstChild(index));
      if (child && child->Temporary) {
        int last = list_->LastDescendant(index);
        for (int i = last; i > index; --i) list_->Delete(i);
      }
    } else {
      RemoveTemporary();
    }
    setCurrentIndex(list_->IndexOf(item));
  }
  // The tree answers by selecting the same folder here, which may free entries.
  IDListPtr chosen(CopyIDList(item->AbsoluteIDList.get()));
  if (tree_) tree_->SelectIDList(chosen.get());
}

// --- Drawing -------------------------------------------------------------------------

int TShellComboBox::ItemHeight() const { return std::max(18, qRound(fontMetrics().height() * 1.2)); }

QString TShellComboBox::EditText() const {
  int index = currentIndex();
  TShellComboItem* item = list_->Items(index);
  if (!item) return {};
  std::string path = index == 0 ? std::string() : item->GetItemPath();
  return QString::fromUtf8(path.empty() ? item->GetDisplayName() : path);
}

void TShellComboBox::PaintEntry(QPainter* painter, const QRect& rect, const QPalette& palette, TShellComboItem* item,
                                int index, bool editPart, bool selected, bool focused) const {
  if (!ready_) return;
  if (index < 0 || !item) {
    painter->fillRect(rect, palette.brush(QPalette::Base));
    return;
  }
  painter->save();
  const int iconSize = 16;
  int x = rect.left() + 2 + (editPart ? 0 : 12 * std::max(0, item->GetLevel()));
  QRect iconRect(x, rect.top() + (rect.height() - iconSize) / 2, iconSize, iconSize);
  QPixmap pixmap =
      SystemImageList::Instance().Pixmap(selected ? item->GetSelectedIndex() : item->GetImageIndex(), iconSize);
  if (!pixmap.isNull()) {
    if (selected) pixmap = Blended(pixmap, palette.color(QPalette::Highlight));
    painter->drawPixmap(iconRect, pixmap);
  }
  QString text = editPart ? EditText() : QString::fromUtf8(item->GetDisplayName());
  QFontMetrics metrics(painter->font());
  int left = iconRect.right() + 1 + 4;
  int room = rect.right() - left - 4;
  // A long path keeps its end, the folder's own name.
  text = metrics.elidedText(text, editPart ? Qt::ElideLeft : Qt::ElideRight, std::max(0, room));
  QRect textRect(left, rect.top() + 1, std::min(metrics.horizontalAdvance(text) + 4, std::max(0, room + 4)),
                 rect.height() - 2);
  if (selected) painter->fillRect(textRect, palette.brush(QPalette::Highlight));
  painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
  painter->drawText(textRect.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
  if (focused) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = textRect;
    option.backgroundColor = palette.color(QPalette::Highlight);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, painter, this);
  }
  painter->restore();
}

void TShellComboBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  option.currentText.clear();
  option.currentIcon = QIcon();
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
  int index = currentIndex();
  bool focused = hasFocus() && !view()->isVisible();
  PaintEntry(&painter, field, palette(), list_->Items(index), index, true, focused, focused);
}

QSize TShellComboBox::sizeHint() const {
  QSize size = QComboBox::sizeHint();
  size.setHeight(std::max(size.height(), ItemHeight() + 6));
  return size;
}

QSize TShellComboBox::minimumSizeHint() const {
  QSize size = QComboBox::minimumSizeHint();
  size.setHeight(std::max(size.height(), ItemHeight() + 6));
  return size;
}

void TShellComboBox::showPopup() {
  QComboBox::showPopup();
  QWidget* popup = view()->window();
  if (popup == window()) return;
  int wanted = view()->sizeHintForColumn(0) + view()->verticalScrollBar()->sizeHint().width() +
               2 * view()->frameWidth() + (popup->width() - view()->width());
  if (popup->width() < wanted) popup->resize(wanted, popup->height());
}

void TShellComboBox::showEvent(QShowEvent* event) {
  QComboBox::showEvent(event);
  if (ready_) return;
  Rebuild();
  if (IDListPtr remembered = std::move(remembered_)) SelectIDList(remembered.get());
}

void TShellComboBox::changeEvent(QEvent* event) {
  QComboBox::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    // Rows are as high as the font asks.
    updateGeometry();
    view()->doItemsLayout();
  }
}
