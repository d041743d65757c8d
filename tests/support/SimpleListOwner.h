#pragma once
// A small real owner for a folder list, without a window: it keeps the
// selection, focus and columns the way a list view would, and records what the
// list tells it.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "shell/ShellFileList.h"

class SimpleListOwner : public IShellFileListOwner {
 public:
  struct Column {
    std::string caption;
    int width;
    bool rightAligned;
  };

  bool IncludeHidden = false;
  TShVirtuaItems VirtuaItems = DefaultShVirtuaItems();
  TViewStyle Style = vsReport;
  bool MouseDown = false;
  int ItemsCount = 0;
  int Focus = -1;
  int ListChanges = 0;
  int SelUpdates = 0;
  int Width = 600;
  std::vector<bool> Selected;
  std::vector<Column> Columns;
  std::vector<int> Order;
  PItemIDList TreeSelection = nullptr;  // not owned
  std::function<bool(TShellFileItem*)> Filter;
  // When set, the test by name the list may run on several threads; it must agree with Filter.
  std::function<bool(std::string_view)> ByName;
  std::vector<TViewStyle> StylesSet;

  SimpleListOwner() {
    for (int i = 0; i < 5; ++i) AddColumn(ColumnCaptions[i], 100 + i, i == 1);
  }

  bool GetIncludeHidden() const override { return IncludeHidden; }
  TShVirtuaItems GetShVirtuaItems() const override { return VirtuaItems; }
  TViewStyle GetViewStyle() const override { return Style; }
  void SetViewStyle(TViewStyle style) override {
    Style = style;
    StylesSet.push_back(style);
  }
  bool HandleAllocated() const override { return true; }
  bool RecreatingWnd() const override { return false; }
  bool MouseDownOnItem() const override { return MouseDown; }

  void SetItemsCount(int count) override {
    ItemsCount = count;
    Selected.assign(count, false);
    if (Focus >= count) Focus = -1;
  }
  void BeginItemsUpdate() override {}
  void EndItemsUpdate() override {}
  void BeginSelUpdate() override {}
  void EndSelUpdate() override { ++SelUpdates; }
  bool IsRowSelected(int row) const override {
    return row >= 0 && row < static_cast<int>(Selected.size()) && Selected[row];
  }
  void SetRowSelected(int row, bool selected) override {
    if (row >= 0 && row < static_cast<int>(Selected.size())) Selected[row] = selected;
  }
  void SelectAllRows(bool selected) override { std::fill(Selected.begin(), Selected.end(), selected); }
  int SelectedCount() const override { return static_cast<int>(std::count(Selected.begin(), Selected.end(), true)); }
  int FocusedRow() const override { return Focus; }
  void SetFocusedRow(int row) override { Focus = row; }
  void MakeRowVisible(int) override {}
  void RowInserted(int row) override {
    ++ItemsCount;
    Selected.insert(Selected.begin() + row, false);
    if (Focus >= row) ++Focus;
  }
  void RowRemoved(int row) override {
    --ItemsCount;
    Selected.erase(Selected.begin() + row);
    if (Focus > row || Focus >= ItemsCount) --Focus;
  }
  void Repaint() override {}

  int ColumnCount() const override { return static_cast<int>(Columns.size()); }
  std::vector<int> ColumnOrder() const override { return Order; }
  int ColumnWidth(int column) const override { return Columns.at(column).width; }
  void ClearColumns() override {
    Columns.clear();
    Order.clear();
  }
  void AddColumn(const std::string& caption, int width, bool rightAligned) override {
    Order.push_back(static_cast<int>(Columns.size()));
    Columns.push_back({caption, width, rightAligned});
  }
  void SetColumnOrder(const std::vector<int>& order) override { Order = order; }
  int ClientWidth() const override { return Width; }

  bool DoShFilter(TShellFileItem* item) override { return !Filter || Filter(item); }
  std::function<bool(std::string_view)> NameFilter() override { return ByName; }
  void DoShListChange(TShellFileList*) override { ++ListChanges; }
  PCItemIDList LinkedTreeSelectedIDList() const override { return TreeSelection; }
};
