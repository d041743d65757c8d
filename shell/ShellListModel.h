#pragma once
// The rows of a folder list view, served from the folder list on demand. The
// model keeps only the row count the view was told and the column layout;
// every cell is asked of the row's item when it is painted.
#include <QAbstractTableModel>
#include <functional>
#include <string>
#include <vector>

class TShellFileList;
class TShellFileItem;

class TShellListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  struct Column {
    std::string caption;
    int width;
    bool rightAligned;
    int field;  // 0 name, 1 size, 2 type, 3 modified, 4 attributes
  };

  explicit TShellListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  void SetFileList(TShellFileList* list) { list_ = list; }
  void SetRowCount(int count);
  // One row came in at row or left from it; selections and the current row move with the rows.
  void InsertRow(int row);
  void RemoveRow(int row);
  // Icons are drawn large for the icon view, small elsewhere.
  void SetLargeIcons(bool large) { largeIcons_ = large; }
  void ClearColumns();
  void AddColumn(const std::string& caption, int width, bool rightAligned);
  const std::vector<Column>& Columns() const { return columns_; }
  // The width the user gave a column; kept here because a reset of the rows
  // resets the header's sections.
  void SetColumnWidth(int column, int width) {
    if (column >= 0 && column < static_cast<int>(columns_.size()) && width > 0) columns_[column].width = width;
  }
  TShellFileItem* Item(int row) const;
  // Attribute marks as letters (true) or left to the painter.
  void SetAttributeLetters(bool letters) { attributeLetters_ = letters; }
  // The row drawn as the drop target, -1 for none.
  void SetDropRow(int row);
  // Row changed under the model (renamed, attributes re-read).
  void RowChanged(int row);

  // Computes the icons and names of rows first..last ahead of painting them.
  void CacheHint(int first, int last) const;
  // The first row from start on (wrapping to row 0 when wrap) whose name
  // contains text (partial) or begins with it, ignoring case; -1 for none.
  int FindItem(const QString& text, int start, bool partial, bool wrap) const;

  // The attribute letters of a find-data attribute word: R, H, S, A.
  static std::string AttributeLetters(uint32_t attributes);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // A rename typed in place failed: the row, the name typed and the errno.
  std::function<void(int row, const QString& typed, int error)> OnRenameFailed;

 private:
  TShellFileList* list_ = nullptr;
  int rows_ = 0;
  bool largeIcons_ = true;
  int dropRow_ = -1;
  bool attributeLetters_ = true;
  std::vector<Column> columns_;
};
