// The combo box's entries: items that know their place in the list, and the
// list that keeps them in display order and mirrors them in the box's strings.
#include <QAbstractItemModel>

#include "shell/ShellComboBox.h"

// --- TShellComboItem -------------------------------------------------------------

TShellComboItem::TShellComboItem(TShellComboList* list, TShellComboItem* parentItem, PItemIDList relative,
                                 PItemIDList absolute, bool temporary)
    : ComboList(list), ParentItem(parentItem), Temporary(temporary) {
  RelativeIDList.reset(relative);
  AbsoluteIDList.reset(absolute);
}

int TShellComboItem::GetIndex() { return ComboList ? ComboList->IndexOf(this) : -1; }

int TShellComboItem::GetLevel() { return GetIDListLevel(AbsoluteIDList.get()); }

PCItemIDList TShellComboItem::GetParentIDList() {
  if (!ParentIDList && AbsoluteIDList) {
    if (GetLevel() == 1)
      ParentIDList = GetSpecialFolderIDList(CSIDL_DESKTOP);
    else
      ParentIDList.reset(CopyParentIDList(AbsoluteIDList.get()));
  }
  return ParentIDList.get();
}

PCItemIDList TShellComboItem::GetAbsoluteIDList() { return AbsoluteIDList.get(); }

bool TShellComboItem::IsValid() { return RelativeIDList && AbsoluteIDList; }

ShellFolderPtr TShellComboItem::BindFolder() { return BindToFolder(AbsoluteIDList.get()); }

void TShellComboItem::ResetIcons() {
  ImageIndex = -1;
  SelectedIndex = -1;
  DisplayName.clear();
}

// --- TShellComboList -------------------------------------------------------------

TShellComboList::TShellComboList(TShellComboBox* comboBox) : ComboBox(comboBox) {}

TShellComboList::~TShellComboList() = default;

TShellComboItem* TShellComboList::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[index].get();
}

int TShellComboList::IndexOf(const TShellComboItem* item) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[i].get() == item) return i;
  return -1;
}

void TShellComboList::Insert(int index, std::unique_ptr<TShellComboItem> item) {
  if (!item) return;
  index = std::clamp(index, 0, Count());
  QString name = QString::fromUtf8(item->GetDisplayName());
  item->ComboList = this;
  items_.insert(items_.begin() + index, std::move(item));
  if (ComboBox) ComboBox->insertItem(index, name);
}

void TShellComboList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  int last = LastDescendant(index);
  if (ComboBox) {
    // A removed selection leaves nothing selected rather than a neighbour.
    int current = ComboBox->currentIndex();
    if (current >= index && current <= last) ComboBox->setCurrentIndex(-1);
    ComboBox->model()->removeRows(index, last - index + 1);
  }
  // Descendants go first, so that no entry outlives its parent.
  for (int i = last; i >= index; --i) items_.erase(items_.begin() + i);
}

void TShellComboList::Clear() {
  if (ComboBox) ComboBox->clear();
  while (!items_.empty()) items_.pop_back();
}

bool TShellComboList::IsDescendant(const TShellComboItem* item, const TShellComboItem* ancestor) const {
  for (const TShellComboItem* p = item ? item->ParentItem : nullptr; p; p = p->ParentItem)
    if (p == ancestor) return true;
  return false;
}

int TShellComboList::FirstChild(int index) const {
  TShellComboItem* item = Items(index);
  TShellComboItem* next = Items(index + 1);
  return item && next && next->ParentItem == item ? index + 1 : -1;
}

int TShellComboList::LastDescendant(int index) const {
  TShellComboItem* item = Items(index);
  if (!item) return -1;
  int last = index;
  while (last + 1 < Count() && IsDescendant(items_[last + 1].get(), item)) ++last;
  return last;
}

int TShellComboList::NextSibling(int index) const {
  TShellComboItem* item = Items(index);
  if (!item) return -1;
  int next = LastDescendant(index) + 1;
  TShellComboItem* candidate = Items(next);
  return candidate && candidate->ParentItem == item->ParentItem ? next : -1;
}
