// The folder list view's settings (its keys of the INI file) and its
// columns: captions, widths and order.
#include <QHeaderView>
#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/state/IniFile.h"
#include "platform/state/StateFolder.h"
#include "shell/ShellItemViews.h"
#include "shell/ShellListModel.h"
#include "shell/ShellListView.h"
#include "shell/ShellTreeView.h"
#include "shell/ShellReportView.h"

// --- Settings ----------------------------------------------------------------------

void TShellListView::LoadSettings(const std::string& section) {
  TIniFile ini(IniFilePath());
  LoadSettings(ini, section);
}

void TShellListView::SaveSettings(const std::string& section) {
  try {
    TIniFile ini(IniFilePath());
    SaveSettings(ini, section);
  } catch (...) {
  }
}

void TShellListView::LoadSettings(TIniFile& ini, const std::string& section) {
  int present = ColumnCount();
  int count = ini.ReadInteger(section, "ColumnsCount", present);
  if (count <= 0) return;
  // A stored count larger than the columns present reads what fits.
  int used = std::min(count, present);
  std::vector<int> order;
  for (int n = 0; n < used; ++n) order.push_back(ini.ReadInteger(section, "Columns" + std::to_string(n), n));
  if (used == present) SetColumnOrder(order);
  for (int n = 0; n < used; ++n) {
    int width = ini.ReadInteger(section, "ColumnsWidth" + std::to_string(n), 30);
    if (width >= 0) tree_->header()->resizeSection(n, width);
  }
  int style = ini.ReadInteger(section, "ViewStyle", 0);
  SetViewStyleProperty(style >= vsIcon && style <= vsReport ? static_cast<TViewStyle>(style) : vsIcon);
  for (int n = 0; n < kColumnCount; ++n)
    fileList_->SortOrder[n] = ini.ReadInteger(section, "SortOrder" + std::to_string(n), 1) < 0 ? -1 : 1;
  int sortType = ini.ReadInteger(section, "SortType", 0);
  SortColumn(IsColumn(sortType) ? sortType : 0, true);
}

void TShellListView::SaveSettings(TIniFile& ini, const std::string& section) {
  try {
    std::vector<int> order = ColumnOrder();
    int count = ColumnCount();
    if (static_cast<int>(order.size()) != count) return;
    if (count > 1) {
      ini.WriteInteger(section, "ColumnsCount", count);
      for (int n = 0; n < count; ++n) {
        ini.WriteInteger(section, "Columns" + std::to_string(n), order[n]);
        ini.WriteInteger(section, "ColumnsWidth" + std::to_string(n), ColumnWidth(n));
      }
    }
    ini.WriteInteger(section, "ViewStyle", style_);
    for (int n = 0; n < kColumnCount; ++n)
      ini.WriteInteger(section, "SortOrder" + std::to_string(n), fileList_->SortOrder[n]);
    ini.WriteInteger(section, "SortType", fileList_->SortType);
    ini.UpdateFile();
  } catch (...) {
    // Settings are a convenience; a failed write must not stop a shutdown.
  }
}

// --- Columns -----------------------------------------------------------------------

int TShellListView::ColumnCount() const { return model_->columnCount(); }

std::vector<int> TShellListView::ColumnOrder() const {
  std::vector<int> order;
  for (int v = 0; v < ColumnCount(); ++v) order.push_back(tree_->header()->logicalIndex(v));
  return order;
}

int TShellListView::ColumnWidth(int column) const {
  const auto& columns = model_->Columns();
  return column >= 0 && column < static_cast<int>(columns.size()) ? columns[column].width : 0;
}

void TShellListView::ClearColumns() { model_->ClearColumns(); }

void TShellListView::AddColumn(const std::string& caption, int width, bool rightAligned) {
  model_->AddColumn(caption, width, rightAligned);
  tree_->header()->resizeSection(ColumnCount() - 1, width);
}

void TShellListView::SetColumnOrder(const std::vector<int>& order) {
  int n = ColumnCount();
  if (static_cast<int>(order.size()) != n) return;
  // Only a permutation of the columns present is applied.
  std::vector<bool> seen(n, false);
  for (int logical : order) {
    if (logical < 0 || logical >= n || seen[logical]) return;
    seen[logical] = true;
  }
  QHeaderView* header = tree_->header();
  for (int v = 0; v < n; ++v) header->moveSection(header->visualIndex(order[v]), v);
}

bool TShellListView::DoShFilter(TShellFileItem* item) {
  bool accept = true;
  if (OnShFilter) OnShFilter(this, item, accept);
  return accept;
}

std::function<bool(std::string_view)> TShellListView::NameFilter() {
  return OnShNameFilter ? OnShNameFilter(this) : nullptr;
}

bool TShellListView::FilterPassesAll() { return !OnShFilter || (OnShFilterPassesAll && OnShFilterPassesAll(this)); }

PCItemIDList TShellListView::LinkedTreeSelectedIDList() const {
  return shellTreeView_ ? shellTreeView_->GetSelectedIDList() : nullptr;
}

void TShellListView::IdleWorkAdded() {
  if (model_->rowCount() > 0 && fileList_->IdleWorkLeft() && !prefetchOnPaint_) prefetchTimer_->start();
}

void TShellListView::DoShListChange(TShellFileList* list) {
  // Rows changed may need their sizes and names read again while idle.
  if (list == fileList_.get()) IdleWorkAdded();
  if (OnShListChange) OnShListChange(this, list);
}
