#include "shell/ShellListModel.h"

#include <cerrno>

#include <algorithm>

#include <QBrush>
#include <QLocale>
#include <QPalette>

#include "platform/namespace/SystemImageList.h"
#include "shell/ShellFileList.h"

void TShellListModel::SetRowCount(int count) {
  beginResetModel();
  rows_ = count < 0 ? 0 : count;
  endResetModel();
}

void TShellListModel::InsertRow(int row) {
  beginInsertRows({}, row, row);
  ++rows_;
  endInsertRows();
}

void TShellListModel::RemoveRow(int row) {
  if (row < 0 || row >= rows_) return;
  beginRemoveRows({}, row, row);
  --rows_;
  endRemoveRows();
}

void TShellListModel::ClearColumns() {
  beginResetModel();
  columns_.clear();
  endResetModel();
}

void TShellListModel::AddColumn(const std::string& caption, int width, bool rightAligned) {
  int n = static_cast<int>(columns_.size());
  beginInsertColumns({}, n, n);
  columns_.push_back({caption, width, rightAligned, n});
  endInsertColumns();
}

TShellFileItem* TShellListModel::Item(int row) const {
  // A row past what the list holds stays empty rather than reading freed items.
  if (!list_ || row < 0 || row >= rows_) return nullptr;
  return list_->Items(row);
}

void TShellListModel::SetDropRow(int row) {
  if (row == dropRow_) return;
  int old = dropRow_;
  dropRow_ = row;
  RowChanged(old);
  RowChanged(row);
}

void TShellListModel::RowChanged(int row) {
  if (row < 0 || row >= rows_ || columns_.empty()) return;
  emit dataChanged(index(row, 0), index(row, static_cast<int>(columns_.size()) - 1));
}

std::string TShellListModel::AttributeLetters(uint32_t attributes) {
  std::string text;
  if (attributes & 0x1) text += 'R';
  if (attributes & 0x2) text += 'H';
  if (attributes & 0x4) text += 'S';
  if (attributes & 0x20) text += 'A';
  return text;
}

int TShellListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TShellListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant TShellListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.column() >= static_cast<int>(columns_.size())) return {};
  const Column& column = columns_[index.column()];
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(
        Qt::Alignment(column.rightAligned ? Qt::AlignRight | Qt::AlignVCenter : Qt::AlignLeft | Qt::AlignVCenter));
  if (role == Qt::BackgroundRole)
    return index.row() == dropRow_ ? QVariant(QPalette().brush(QPalette::Highlight)) : QVariant();
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::DecorationRole) return {};
  TShellFileItem* item = Item(index.row());
  if (!item) return {};
  if (role == Qt::DecorationRole) {
    if (column.field != 0) return {};
    int overlay = static_cast<int>(item->GetOverlayMask() >> 8);
    return SystemImageList::Instance().Pixmap(item->GetImageIndex(), largeIcons_ ? 32 : 16, overlay);
  }
  std::string text;
  switch (column.field) {
    case 0:
      text = role == Qt::EditRole ? item->GetEditName() : item->GetDisplayName();
      break;
    case 1:
      text = item->GetSizeText();
      break;
    case 2:
      text = item->GetTypeName();
      break;
    case 3:
      text = item->GetModifiedText();
      break;
    case 4:
      if (attributeLetters_) text = AttributeLetters(item->GetItemAttributes());
      break;
    default:
      break;
  }
  return QString::fromStdString(text);
}

void TShellListModel::CacheHint(int first, int last) const {
  for (int row = std::max(first, 0); row <= last && row < rows_; ++row) {
    if (TShellFileItem* item = Item(row)) {
      item->GetImageIndex();
      item->GetDisplayName();
    }
  }
}

int TShellListModel::FindItem(const QString& text, int start, bool partial, bool wrap) const {
  if (rows_ == 0 || text.isEmpty()) return -1;
  QLocale locale;
  QString wanted = locale.toUpper(text);
  start = std::clamp(start, 0, rows_ - 1);
  auto matches = [&](int row) {
    TShellFileItem* item = Item(row);
    if (!item) return false;
    QString name = locale.toUpper(QString::fromStdString(item->GetDisplayName()));
    return partial ? name.contains(wanted) : name.startsWith(wanted);
  };
  for (int row = start; row < rows_; ++row)
    if (matches(row)) return row;
  if (wrap)
    for (int row = 0; row < start; ++row)
      if (matches(row)) return row;
  return -1;
}

QVariant TShellListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns_.size())) return {};
  if (role == Qt::DisplayRole) return QString::fromStdString(columns_[section].caption);
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(columns_[section].rightAligned ? Qt::AlignRight | Qt::AlignVCenter
                                                                            : Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

Qt::ItemFlags TShellListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  // Asked for every painted cell, so no shell query here: the view checks that
  // the item can be renamed before it starts an edit.
  if (index.column() == 0) f |= Qt::ItemIsEditable;
  return f;
}

bool TShellListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || index.column() != 0 || !list_) return false;
  TShellFileItem* item = Item(index.row());
  if (!item) return false;
  QString text = value.toString();
  if (text.isEmpty()) return false;
  std::string name = text.toStdString();
  if (name == item->GetEditName()) return false;
  list_->SuspendWatching();
  errno = 0;
  bool renamed = item->Rename(name);
  int error = errno;
  list_->ResumeWatching();
  if (renamed)
    RowChanged(index.row());
  else if (OnRenameFailed)
    OnRenameFailed(index.row(), text, error);
  return renamed;
}
