#pragma once
// The folder pane control: one shell folder shown through a shared model in a
// report view (five columns) or an icon/list view, with navigation, activation,
// in-place rename, selection size, the shell context menu and persisted
// column, view and sort settings.
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/DropTarget.h"
#include "platform/system/ScopeGuard.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListDelegate.h"
#include "shell/ShellTreeView.h"

class QAbstractItemView;
class QDrag;
class QItemSelection;
class QItemSelectionModel;
class QMenu;
class QMouseEvent;
class QStackedWidget;
class QTimer;
class TShellIconView;
class TShellReportView;
class TIniFile;
class TShellListModel;
class TShellPopupMenu;
class TShellListView;

using TShellListFilterEvent = std::function<void(TShellListView* sender, TShellFileItem* item, bool& accept)>;
using TShellListChangeEvent = std::function<void(TShellListView* sender, TShellFileList* fileList)>;
using TShellListSelChangeEvent = std::function<void(TShellListView* sender, uint64_t selSize)>;
using TShellListSelectItemEvent = std::function<void(TShellListView* sender, TShellFileItem* item, bool selected)>;
using TShellListExecuteEvent = std::function<void(TShellListView* sender, TShellFileItem* item, TShiftState shift,
                                                  int subItem, int x, int y, bool& defaultAction)>;
using TShellListBeginDragEvent =
    std::function<void(TShellListView* sender, TShellIDList* idList, const QPoint& pt, int x, int y, bool& canDrag)>;
using TShellListDragEnterEvent = std::function<void(TShellListView* sender, const TShellDragObject& dragObject,
                                                    TShiftState shift, const QPoint& pt, bool& accept)>;
// item is null over empty space.
using TShellListDragEvent = std::function<void(TShellListView* sender, const TShellDragObject& dragObject,
                                               TShellFileItem* item, TShiftState shift, int x, int y)>;
using TShellListDropEvent =
    std::function<void(TShellListView* sender, const TShellDragObject& dragObject, TShellFileItem* item,
                       TShiftState shift, int x, int y, bool& defaultAction)>;
using TShellClipboardEvent = std::function<void(TShellListView* sender, bool contented)>;

class TShellListView : public QWidget, public IShellFileListOwner {
  Q_OBJECT
 public:
  explicit TShellListView(QWidget* parent = nullptr);
  ~TShellListView() override;

  // --- Properties ---
  bool IncludeHidden() const { return includeHidden_; }
  void SetIncludeHidden(bool value);
  TShVirtuaItems ShVirtuaItems() const { return virtuaItems_; }
  void SetShVirtuaItems(TShVirtuaItems value);
  TViewStyle ViewStyle() const { return style_; }
  void SetViewStyleProperty(TViewStyle style);
  TShellPopupMenu* ShellPopupMenu() const { return shellPopupMenu_; }
  void SetShellPopupMenu(TShellPopupMenu* menu);
  const TAttributesImage& AttributesImage() const { return attributesImage_; }
  // Copies the images and indexes; with images the attribute marks are drawn, not written.
  void SetAttributesImage(const TAttributesImage& value);
  // The linked folder tree, set by the tree itself; not owned.
  TShellTreeView* ShellTreeView() const { return shellTreeView_; }
  void SetShellTreeView(TShellTreeView* tree) { shellTreeView_ = tree; }
  // The ordinary menu, shown from the keyboard or on empty space; not owned.
  QMenu* PopupMenu = nullptr;

  // --- Events ---
  TShellListFilterEvent OnShFilter;
  // The same test by a folder entry's name, safe on any thread; see NameFilter.
  std::function<std::function<bool(std::string_view)>(TShellListView* sender)> OnShNameFilter;
  // True when OnShFilter lets every row through now: no row is looked at.
  std::function<bool(TShellListView* sender)> OnShFilterPassesAll;
  TShellListChangeEvent OnShListChange;
  TShellListSelChangeEvent OnShSelChange;
  // A row became selected or deselected; reported after OnShSelChange of the
  // same change. Thousands of rows selected or deselected at once (all, an
  // inversion) are told by OnShSelChange alone.
  TShellListSelectItemEvent OnSelectItem;
  TShellListExecuteEvent OnShExecute;
  // The clipboard changed; contented when it now holds a list of files.
  TShellClipboardEvent OnShClipboard;
  TShellListDrawItemEvent OnCustomDrawItem;
  TShellListDrawSubItemEvent OnCustomDrawSubItem;
  // A drag is about to start from the selection; pt is where the button went down.
  TShellListBeginDragEvent OnShBeginDrag;
  TShellListDragEnterEvent OnShDragEnter;
  TShellListDragEvent OnShDragOver;
  TShellListDropEvent OnShDragDrop;
  std::function<void(TShellListView* sender)> OnShDragLeave;
  // Runs a drag in place of the window system's loop (where the platform has
  // none, as offscreen); null runs the real one.
  static std::function<void(QDrag*, Qt::DropActions)> DragLoop;
  // The row highlighted as drop target, -1 for none.
  int DropTargetRow() const { return dropRow_; }

  // A folder whose every call may wait on a server (inside a network
  // location's FUSE mount) is never entered from the window's thread: the
  // list hands it here, to be shown later through ShowCheckedFolder. False
  // leaves it to the list (a server no longer mounted answers at once).
  std::function<bool(const std::string& path)> OnSlowFolder;

  // --- Operations ---
  void SetPathName(const std::string& path);
  // Shows a folder a worker has looked at (idList made there) and reads it
  // ahead, without a call into the folder from this thread.
  void ShowCheckedFolder(PCItemIDList idList);
  std::string GetPathName() const;
  void SetFolderIDList(PCItemIDList idList);
  PCItemIDList FolderIDList() const { return fileList_->FolderIDList.get(); }
  TShellFileList* FileList() const { return fileList_.get(); }
  void RefreshList();
  // The mask changed: the rows read are filtered again, or the folder is
  // read again when they no longer stand for it.
  void ApplyMask();
  // Reads path on a worker for the next SetPathName of it, waiting there at
  // most until waitMs after this call; a folder that takes longer shows a
  // wait cursor and its rows when they arrive. Before the list's first paint,
  // the rows of a huge folder arrive after that paint even when read in time.
  void ReadAhead(const std::string& path, int waitMs);
  // True while the folder shown waits for its rows.
  bool Reading() const;
  void SuspendWatching() { fileList_->SuspendWatching(); }
  void ResumeWatching() { fileList_->ResumeWatching(); }
  // Watching stops until the returned guard goes, however the scope is left.
  [[nodiscard]] auto SuspendedWatching() {
    return BeginEnd([this] { SuspendWatching(); }, [this] { ResumeWatching(); });
  }
  void SortColumn(int index, bool ascending);
  bool InvokeCommand(TShellCommandKind kind);
  // Settings in the INI file named like the executable, or in the given one.
  void LoadSettings(const std::string& section);
  void SaveSettings(const std::string& section);
  void LoadSettings(TIniFile& ini, const std::string& section);
  void SaveSettings(TIniFile& ini, const std::string& section);
  // Total size of the selected items, 64-bit; while SelSizeCounting, not yet
  // known (a large selection before the sizes were all read), and
  // OnShSelChange tells when it is.
  uint64_t SelSize() const { return selSize_; }
  bool SelSizeCounting() const { return selSizeCounting_; }
  void SelectAll();
  // Selects exactly the rows that were not selected: one change of the
  // selection, its size from the list's total when that is known.
  void InvertSelection();
  // Starts editing the name of the first selected row when its item can be renamed.
  bool StartRename();
  // After a failed rename: edits the row's name again, filled with what was typed.
  void ResumeRename(int row, const QString& typed);
  // True while a name is being edited in place.
  bool IsEditingLabel() const;
  // The first selected row after the given one (-1: from the start); -1 when none.
  int NextSelectedRow(int after) const;
  // The view showing the current style (the report tree or the icon/list view).
  QAbstractItemView* CurrentView() const;
  TShellReportView* ReportView() const { return tree_; }
  TShellIconView* IconView() const;
  TShellListModel* Model() const { return model_; }

  // --- IShellFileListOwner ---
  bool GetIncludeHidden() const override { return includeHidden_; }
  TShVirtuaItems GetShVirtuaItems() const override { return virtuaItems_; }
  TViewStyle GetViewStyle() const override { return style_; }
  void SetViewStyle(TViewStyle style) override { SetViewStyleProperty(style); }
  bool HandleAllocated() const override { return true; }
  bool RecreatingWnd() const override { return false; }
  bool MouseDownOnItem() const override;
  void SetItemsCount(int count) override;
  void BeginItemsUpdate() override;
  void EndItemsUpdate() override;
  void BeginSelUpdate() override;
  void EndSelUpdate() override;
  bool IsRowSelected(int row) const override;
  void SetRowSelected(int row, bool selected) override;
  void SelectAllRows(bool selected) override;
  int SelectedCount() const override;
  std::vector<std::pair<int, int>> SelectedSpans(int rows) const override;
  void SelectSpans(const std::vector<std::pair<int, int>>& spans) override;
  void IdleWorkAdded() override;
  int FocusedRow() const override;
  void SetFocusedRow(int row) override;
  void MakeRowVisible(int row) override;
  void RowInserted(int row) override;
  void RowRemoved(int row) override;
  void SelectedSizeChanged(uint64_t was, uint64_t now) override;
  void Repaint() override;
  void RepaintRow(int row) override;
  int ColumnCount() const override;
  std::vector<int> ColumnOrder() const override;
  int ColumnWidth(int column) const override;
  void ClearColumns() override;
  void AddColumn(const std::string& caption, int width, bool rightAligned) override;
  void SetColumnOrder(const std::vector<int>& order) override;
  int ClientWidth() const override { return width(); }
  bool DoShFilter(TShellFileItem* item) override;
  std::function<bool(std::string_view)> NameFilter() override;
  bool FilterPassesAll() override;
  void DoShListChange(TShellFileList* list) override;
  PCItemIDList LinkedTreeSelectedIDList() const override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Becoming visible tells the current selection size.
  void showEvent(QShowEvent* event) override;

 private:
  // Where the menu key opens the menu: at the focused row, or the top-left corner.
  QPoint KeyboardMenuPoint() const;
  void Activate(const QModelIndex& index);
  void ColumnClicked(int column);
  void SelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
  void FireSelChange();
  // Reads row sizes ahead while idle, so selection totals never wait on stats.
  void PrefetchStep();
  void ClipboardChanged();
  // True when the move started (and ran) a drag of the selection.
  bool MaybeStartDrag(QMouseEvent* event);
  // Drop-target handling of the viewport's drag events; true when taken.
  bool HandleDragEvent(QAbstractItemView* view, QEvent* event);
  // The target for a point: a row's own target, else the folder's; null for none.
  std::unique_ptr<IDropTarget> TargetAt(QAbstractItemView* view, const QPoint& pos, TShellFileItem*& item, int& row);
  void ShowShellMenu(const QPoint& globalPos);
  // The wait cursor while the folder's rows are still being read.
  void ShowReading();
  void RefreshAfterPaint();
  void SetupViewMode();

  std::unique_ptr<TShellFileList> fileList_;
  TShellListModel* model_;
  QStackedWidget* stack_;
  TShellReportView* tree_;
  TShellIconView* list_;
  QItemSelectionModel* selection_;
  QTimer* prefetchTimer_;
  TShellPopupMenu* shellPopupMenu_ = nullptr;
  QPointer<TShellTreeView> shellTreeView_;
  bool includeHidden_ = true;
  TShVirtuaItems virtuaItems_ = DefaultShVirtuaItems();
  TViewStyle style_ = vsIcon;
  TViewStyle appliedStyle_ = vsIcon;  // what the views show; lags style_ inside an items update
  int dragButton_ = 0;                // 1 left, 2 right went down on a row, 3 dragging
  QPoint pressPoint_;
  TAttributesImage attributesImage_;
  std::unique_ptr<TShellDragObject> dragObject_;
  bool dragWithRight_ = false;
  int dropRow_ = -1;
  uint64_t selSize_ = 0;
  // The size the selection will have after the change under way, when known
  // without a pass over its rows.
  std::optional<uint64_t> nextSelSize_;
  // The size is counted once the sizes of all rows are read.
  bool selSizeCounting_ = false;
  // A wide change of the selection before the sizes are all read: its size
  // is counted after them rather than read from the disk on this thread.
  void CountSelSizeLater();
  void CountSelSizeNow();
  // The count of selected rows, kept while the rows changed are reported one by one.
  mutable int reportedCount_ = -1;
  bool reportingRows_ = false;
  // A row leaves the model: the list has let it go already, so the row at its
  // index is another; the list tells the selected size that left.
  bool rowLeaving_ = false;
  int selUpdateLock_ = 0;
  bool restoringWidths_ = false;
  int itemsUpdateLock_ = 0;
  // The first paint of a view is over; a huge read waits for it.
  bool painted_ = false;
  bool refreshOnPaint_ = false;
  // True when path is a slow folder that OnSlowFolder took (or the one shown).
  bool SlowFolderTaken(const std::string& path);
  bool showingChecked_ = false;
  bool prefetchOnPaint_ = false;
  static constexpr size_t kRowsBeforeFirstPaint = 10000;
  static constexpr int kFirstPaintWaitMs = 1000;
};
