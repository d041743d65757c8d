#include "shell/ShellListView.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QTimer>
#include <QScrollBar>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPaintEvent>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <sys/stat.h>
#include <utility>

#include "platform/namespace/ContextMenuProvider.h"
#include "platform/desktop/DropTarget.h"
#include "platform/desktop/FilePayload.h"
#include "platform/fileops/ErrorText.h"
#include "platform/system/Exception.h"
#include "platform/state/IniFile.h"
#include "platform/desktop/OpenWith.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/network/Location.h"
#include "platform/state/StateFolder.h"
#include "shell/WaitCursor.h"
#include "shell/ShellItemViews.h"
#include "shell/ShellListModel.h"
#include "shell/ShellPopupMenu.h"
#include "shell/ShellTreeView.h"
#include "shell/ShellIconView.h"
#include "shell/ShellReportView.h"

namespace {
TShiftState CurrentShiftState() {
  Qt::KeyboardModifiers m = QGuiApplication::keyboardModifiers();
  TShiftState s = 0;
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  return s;
}
}  // namespace

TShellListView::TShellListView(QWidget* parent)
    : QWidget(parent),
      model_(new TShellListModel(this)),
      stack_(new QStackedWidget(this)),
      tree_(new TShellReportView(model_, stack_)),
      list_(new TShellIconView(model_, stack_)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);
  stack_->addWidget(list_);
  stack_->addWidget(tree_);
  setFocusProxy(list_);

  tree_->header()->setSectionsMovable(true);
  tree_->header()->setSectionsClickable(true);
  tree_->header()->setStretchLastSection(false);

  tree_->setModel(model_);
  list_->setModel(model_);
  selection_ = tree_->selectionModel();
  // The header marks the columns all of whose rows are selected, and finds
  // out by a look at every row: with a million selected, each paint of it
  // would take a visit to five million cells. Its own selection stays empty.
  tree_->header()->setSelectionModel(new QItemSelectionModel(model_, tree_->header()));
  prefetchTimer_ = new QTimer(this);
  prefetchTimer_->setInterval(0);
  connect(prefetchTimer_, &QTimer::timeout, this, &TShellListView::PrefetchStep);
  QItemSelectionModel* own = list_->selectionModel();
  list_->setSelectionModel(selection_);
  delete own;
  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(tree_), static_cast<QAbstractItemView*>(list_)}) {
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Renaming starts only through StartRename, which checks the item first.
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    view->viewport()->setAcceptDrops(true);
  }
  TShellListDelegate::Hooks hooks{this, &attributesImage_, &OnCustomDrawItem, &OnCustomDrawSubItem};
  tree_->setItemDelegate(new TShellListDelegate(model_, hooks, true, this));
  list_->setItemDelegate(new TShellListDelegate(model_, hooks, false, this));
  model_->OnRenameFailed = [this](int row, const QString& typed, int error) {
    // Once the editor has closed: why, then the same name again to correct.
    QTimer::singleShot(0, this, [this, row, typed, error] {
      ShowExceptionMessage(RenameErrorText(typed.toStdString(), error));
      ResumeRename(row, typed);
    });
  };
  connect(selection_, &QItemSelectionModel::selectionChanged, this, &TShellListView::SelectionChanged);
  connect(tree_->header(), &QHeaderView::sectionClicked, this, &TShellListView::ColumnClicked);
  connect(tree_->header(), &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
    if (!restoringWidths_) model_->SetColumnWidth(logical, size);
  });
  connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { restoringWidths_ = true; });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    const auto& columns = model_->Columns();
    for (int n = 0; n < static_cast<int>(columns.size()); ++n) tree_->header()->resizeSection(n, columns[n].width);
    restoringWidths_ = false;
  });
  if (QClipboard* clipboard = QGuiApplication::clipboard())
    connect(clipboard, &QClipboard::dataChanged, this, &TShellListView::ClipboardChanged);

  fileList_ = std::make_unique<TShellFileList>(this);
  model_->SetFileList(fileList_.get());
  for (int i = 0; i < kColumnCount; ++i) AddColumn(ColumnCaptions[i], 120, i == 1 || i == 4);
  SetupViewMode();

  if (IDListPtr desktop = GetSpecialFolderIDList(CSIDL_DESKTOP)) SetFolderIDList(desktop.get());
}

TShellListView::~TShellListView() {
  // The list's watchers call back into this view; stop them before the views go.
  disconnect(selection_, nullptr, this, nullptr);
  model_->SetFileList(nullptr);
  fileList_.reset();
}

// --- Properties -------------------------------------------------------------------

void TShellListView::SetIncludeHidden(bool value) {
  if (value == includeHidden_) return;
  includeHidden_ = value;
  if (shellTreeView_) shellTreeView_->SetIncludeHidden(value);
  RefreshList();
}

void TShellListView::SetShVirtuaItems(TShVirtuaItems value) {
  if (value == virtuaItems_) return;
  virtuaItems_ = value;
  if (shellTreeView_) shellTreeView_->SetShVirtuaItems(value);
  RefreshList();
}

void TShellListView::SetViewStyleProperty(TViewStyle style) {
  if (style == style_) return;
  style_ = style;
  // The list switches to icons and back around every re-read; the views
  // follow only the style in force when the update ends.
  if (itemsUpdateLock_ == 0) SetupViewMode();
}

void TShellListView::SetupViewMode() {
  appliedStyle_ = style_;
  model_->SetLargeIcons(style_ == vsIcon);
  if (style_ == vsReport) {
    tree_->setIconSize(QSize(16, 16));
    stack_->setCurrentWidget(tree_);
    setFocusProxy(tree_);
  } else {
    switch (style_) {
      case vsIcon:
        list_->setIconSize(QSize(32, 32));
        list_->SetLayout(TShellIconView::LeftToRight, QSize(96, 72), true);
        break;
      case vsSmallIcon:
        list_->setIconSize(QSize(16, 16));
        list_->SetLayout(TShellIconView::LeftToRight, QSize(180, 22), false);
        break;
      default:
        list_->setIconSize(QSize(16, 16));
        list_->SetLayout(TShellIconView::TopToBottom, QSize(), false);
        break;
    }
    list_->SetSelectionRectVisible(style_ == vsIcon);
    stack_->setCurrentWidget(list_);
    setFocusProxy(list_);
  }
  QModelIndex current = selection_->currentIndex();
  CurrentView()->scrollTo(current.isValid() ? current : model_->index(0, 0));
}

void TShellListView::SetAttributesImage(const TAttributesImage& value) {
  attributesImage_ = value;
  model_->SetAttributeLetters(!value.Used());
  Repaint();
}

void TShellListView::SetShellPopupMenu(TShellPopupMenu* menu) {
  if (shellPopupMenu_) disconnect(shellPopupMenu_, &QObject::destroyed, this, nullptr);
  shellPopupMenu_ = menu;
  if (menu) {
    menu->AutoPopup = false;
    connect(menu, &QObject::destroyed, this, [this] { shellPopupMenu_ = nullptr; });
  }
}

QAbstractItemView* TShellListView::CurrentView() const {
  return style_ == vsReport ? static_cast<QAbstractItemView*>(tree_) : static_cast<QAbstractItemView*>(list_);
}

// --- Navigation --------------------------------------------------------------------

void TShellListView::SetPathName(const std::string& path) {
  if (SlowFolderTaken(path)) return;
  if (!FolderExists(path) && !IsArchiveFolderPath(path) && !IsLocationFolderPath(path)) return;
  if (IDListPtr id = PathToIDList(path)) SetFolderIDList(id.get());
}

bool TShellListView::SlowFolderTaken(const std::string& path) {
  if (showingChecked_ || !OnSlowFolder || !network::InFuseMount(path)) return false;
  return path == GetPathName() || OnSlowFolder(path);
}

void TShellListView::ShowCheckedFolder(PCItemIDList idList) {
  auto checked = BeginEnd([this] { showingChecked_ = true; }, [this] { showingChecked_ = false; });
  ReadAhead(IDListToPath(idList), 0);
  SetFolderIDList(idList);
}

std::string TShellListView::GetPathName() const { return fileList_->GetPathName(); }

void TShellListView::SetFolderIDList(PCItemIDList idList) {
  if (!idList || SlowFolderTaken(IDListToPath(idList))) return;
  PCItemIDList current = fileList_->FolderIDList.get();
  if (current && GetIDListLevel(idList) == GetIDListLevel(current)) {
    ShellFolderPtr desktop = SHGetDesktopFolder();
    if (desktop && CompareIDsIn(desktop.get(), idList, current) == 0) return;
  }
  fileList_->SetFolder(idList);
  ShowReading();
  if (fileList_->FolderHasAttribute(SFGAO_FILESYSTEM)) {
    std::string path = fileList_->GetPathName();
    // Not into a server's folder, which would hold the window when it stalls.
    if (!path.empty() && !network::InFuseMount(path) && chdir(path.c_str()) != 0) {
      // The folder vanished between the read and the change; the list shows what it found.
    }
  }
}

void TShellListView::RefreshList() {
  // A server's folder is read again on a worker, never here.
  if (const std::string path = GetPathName();
      OnSlowFolder && !fileList_->Reading() && !fileList_->ReadsAhead() && network::InFuseMount(path))
    ReadAhead(path, 0);
  fileList_->Populate();
  SetItemsCount(fileList_->Count());
  ShowReading();
  Repaint();
}

void TShellListView::ApplyMask() {
  if (!fileList_->ApplyFilter()) RefreshList();
}

void TShellListView::ReadAhead(const std::string& path, int waitMs) {
  // Setting up a huge list takes longer than a frame: before the list is
  // first painted, its rows come after that paint.
  const size_t rowsInWait = painted_ || !isVisible() ? SIZE_MAX : kRowsBeforeFirstPaint;
  fileList_->ReadAhead(path, waitMs, rowsInWait, [this] {
    // On the worker: the list takes the rows on its own thread.
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (!fileList_->Reading()) return;
          if (painted_) {
            RefreshList();
            return;
          }
          refreshOnPaint_ = true;
          // A list hidden before its first paint still gets its rows.
          QTimer::singleShot(kFirstPaintWaitMs, this, [this] { RefreshAfterPaint(); });
        },
        Qt::QueuedConnection);
  });
}

void TShellListView::RefreshAfterPaint() {
  if (!std::exchange(refreshOnPaint_, false)) return;
  if (fileList_->Reading()) RefreshList();
}

bool TShellListView::Reading() const { return fileList_->Reading(); }

void TShellListView::ShowReading() {
  if (fileList_->Reading())
    setCursor(Qt::WaitCursor);
  else
    unsetCursor();
}

void TShellListView::SortColumn(int index, bool ascending) {
  if (!IsColumn(index)) return;
  fileList_->SortOrder[index] = ascending ? 1 : -1;
  fileList_->SortByColumn(index);
}

// --- Selection ---------------------------------------------------------------------

void TShellListView::SelectAll() {
  BeginSelUpdate();
  SelectAllRows(true);
  EndSelUpdate();
}

// Thousands of rows at once are not told one by one, nor their sizes read
// then: a million calls would hold the window.
constexpr int kRowsToldOneByOne = 4096;

void TShellListView::SelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  // Ranges of whole rows start at column 0; other ranges of the same rows are
  // not counted again.
  auto sum = [this](const QItemSelection& ranges) {
    uint64_t total = 0;
    for (const QItemSelectionRange& r : ranges) {
      if (r.left() != 0) continue;
      if (r.bottom() - r.top() >= 64) fileList_->FetchSizes(r.top(), r.bottom());
      for (int row = r.top(); row <= r.bottom(); ++row)
        if (TShellFileItem* item = model_->Item(row)) total += item->GetSize();
    }
    return total;
  };
  if (rowLeaving_) {
    // The list tells the size that left: the row at its index is another.
  } else if (!selection_->hasSelection()) {
    selSize_ = 0;
    selSizeCounting_ = false;
  } else if (nextSelSize_) {
    selSize_ = *nextSelSize_;
  } else if (selSizeCounting_ && SelectedCount() <= kRowsToldOneByOne) {
    // Few rows left selected: counted now, they need little of the disk.
    selSizeCounting_ = false;
    selSize_ = 0;
    for (const auto& [first, last] : SelectedSpans(model_->rowCount()))
      selSize_ += sum(QItemSelection(model_->index(first, 0), model_->index(last, 0)));
  } else if (!selSizeCounting_) {
    uint64_t added = sum(selected), removed = sum(deselected);
    selSize_ = selSize_ + added >= removed ? selSize_ + added - removed : 0;
  }
  FireSelChange();
  if (!OnSelectItem) return;
  // The owner may ask for the count with each row: it is counted once.
  auto reporting = BeginEnd([this] { reportingRows_ = true; },
                            [this] {
                              reportingRows_ = false;
                              reportedCount_ = -1;
                            });
  auto wide = [](const QItemSelection& ranges) {
    int rows = 0;
    for (const QItemSelectionRange& r : ranges)
      if (r.left() == 0 && (rows += r.height()) > kRowsToldOneByOne) return true;
    return false;
  };
  for (auto [ranges, state] : {std::pair{&deselected, false}, std::pair{&selected, true}}) {
    if (wide(*ranges) || (rowLeaving_ && !state)) continue;
    for (const QItemSelectionRange& r : *ranges) {
      if (r.left() != 0) continue;
      for (int row = r.top(); row <= r.bottom(); ++row)
        if (TShellFileItem* item = model_->Item(row)) OnSelectItem(this, item, state);
    }
  }
}

void TShellListView::CountSelSizeLater() {
  selSizeCounting_ = true;
  nextSelSize_ = 0;
  if (!prefetchOnPaint_) prefetchTimer_->start();
}

void TShellListView::CountSelSizeNow() {
  uint64_t total = 0;
  if (!selSizeCounting_ || !fileList_->SizeTotal(total)) return;
  selSizeCounting_ = false;
  const int rows = model_->rowCount();
  if (SelectedCount() < rows) {
    // Every size is in memory now: one pass over the selected rows.
    total = 0;
    for (const auto& [first, last] : SelectedSpans(rows))
      for (int row = first; row <= last; ++row)
        if (TShellFileItem* item = model_->Item(row)) total += item->GetSize();
  }
  selSize_ = total;
  FireSelChange();
}

void TShellListView::FireSelChange() {
  if (selUpdateLock_ > 0) return;
  if (OnShSelChange) OnShSelChange(this, selSize_);
}

void TShellListView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FireSelChange();
}

void TShellListView::ClipboardChanged() {
  if (!OnShClipboard) return;
  QClipboard* clipboard = QGuiApplication::clipboard();
  OnShClipboard(this, clipboard && MimeDataHoldsFiles(clipboard->mimeData()));
}

void TShellListView::BeginSelUpdate() { ++selUpdateLock_; }

void TShellListView::EndSelUpdate() {
  if (selUpdateLock_ == 0) return;
  if (--selUpdateLock_ == 0) FireSelChange();
}

bool TShellListView::IsRowSelected(int row) const { return selection_->isRowSelected(row, QModelIndex()); }

void TShellListView::SetRowSelected(int row, bool selected) {
  QModelIndex index = model_->index(row, 0);
  if (!index.isValid()) return;
  selection_->select(
      index, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) | QItemSelectionModel::Rows);
}

void TShellListView::SelectAllRows(bool selected) {
  int rows = model_->rowCount(), columns = model_->columnCount();
  if (!selected || rows == 0 || columns == 0) {
    if (selection_->hasSelection()) selection_->clearSelection();
    return;
  }
  // One range for all rows: cheap however many there are.
  uint64_t total = 0;
  auto known = BeginEnd(
      [&] {
        if (fileList_->SizeTotal(total)) {
          nextSelSize_ = total;
          selSizeCounting_ = false;
        } else if (rows > kRowsToldOneByOne) {
          CountSelSizeLater();
        }
      },
      [this] { nextSelSize_.reset(); });
  selection_->select(QItemSelection(model_->index(0, 0), model_->index(rows - 1, columns - 1)),
                     QItemSelectionModel::ClearAndSelect);
}

void TShellListView::InvertSelection() {
  const int rows = model_->rowCount(), last = model_->columnCount() - 1;
  if (rows == 0 || last < 0) return;
  QItemSelection ranges;
  int next = 0;
  for (const auto& [first, end] : SelectedSpans(rows)) {
    if (first > next) ranges.append(QItemSelectionRange(model_->index(next, 0), model_->index(first - 1, last)));
    next = end + 1;
  }
  if (next < rows) ranges.append(QItemSelectionRange(model_->index(next, 0), model_->index(rows - 1, last)));
  uint64_t total = 0;
  const bool known = fileList_->SizeTotal(total);
  const uint64_t was = selSize_;
  // Clearing below ends any count under way: it is taken up again.
  const bool counting = selSizeCounting_;
  BeginSelUpdate();
  // Cleared first: the selection model compares the old ranges with the new
  // ones pairwise, which thousands of spans on both sides make slow.
  if (selection_->hasSelection()) selection_->clearSelection();
  auto sized = BeginEnd(
      [&] {
        if (known && !counting)
          nextSelSize_ = total >= was ? total - was : 0;
        else if (counting || rows > kRowsToldOneByOne)
          CountSelSizeLater();
      },
      [this] { nextSelSize_.reset(); });
  if (!ranges.isEmpty()) selection_->select(ranges, QItemSelectionModel::Select);
  EndSelUpdate();
}

bool TShellListView::IsEditingLabel() const {
  QAbstractItemView* view = CurrentView();
  QWidget* editor = view->indexWidget(view->currentIndex());
  return editor && editor->isVisible();
}

int TShellListView::NextSelectedRow(int after) const {
  int best = -1;
  for (const QItemSelectionRange& r : selection_->selection()) {
    if (r.left() != 0 || r.bottom() <= after) continue;
    int row = std::max(r.top(), after + 1);
    if (best < 0 || row < best) best = row;
  }
  return best;
}

std::vector<std::pair<int, int>> TShellListView::SelectedSpans(int rows) const {
  // Ranges may overlap when a row was selected twice: their union, in order.
  std::vector<std::pair<int, int>> ranges, spans;
  for (const QItemSelectionRange& r : selection_->selection())
    if (r.left() == 0 && r.top() < rows) ranges.emplace_back(r.top(), std::min(r.bottom(), rows - 1));
  std::sort(ranges.begin(), ranges.end());
  for (const auto& [top, bottom] : ranges) {
    if (!spans.empty() && top <= spans.back().second + 1)
      spans.back().second = std::max(spans.back().second, bottom);
    else
      spans.emplace_back(top, bottom);
  }
  return spans;
}

void TShellListView::SelectSpans(const std::vector<std::pair<int, int>>& spans) {
  const int last = model_->columnCount() - 1;
  if (spans.empty() || last < 0) return;
  QItemSelection ranges;
  for (const auto& [first, end] : spans)
    ranges.append(QItemSelectionRange(model_->index(first, 0), model_->index(end, last)));
  selection_->select(ranges, QItemSelectionModel::Select);
}

int TShellListView::SelectedCount() const {
  if (reportingRows_ && reportedCount_ >= 0) return reportedCount_;
  int count = 0;
  for (const auto& [top, bottom] : SelectedSpans(model_->rowCount())) count += bottom - top + 1;
  if (reportingRows_) reportedCount_ = count;
  return count;
}

int TShellListView::FocusedRow() const {
  QModelIndex current = selection_->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void TShellListView::SetFocusedRow(int row) {
  QModelIndex index = model_->index(row, 0);
  if (index.isValid()) selection_->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void TShellListView::MakeRowVisible(int row) {
  QModelIndex index = model_->index(row, 0);
  if (index.isValid()) CurrentView()->scrollTo(index);
}

// A row above the first one shown moves what is shown by one: the view
// scrolls with it, so the same files stay in sight.
void TShellListView::RowInserted(int row) {
  QAbstractItemView* view = CurrentView();
  const int top = view->indexAt(QPoint(1, 1)).row();
  model_->InsertRow(std::clamp(row, 0, model_->rowCount()));
  if (top >= 0 && row <= top) view->scrollTo(model_->index(top + 1, 0), QAbstractItemView::PositionAtTop);
}

void TShellListView::RowRemoved(int row) {
  QAbstractItemView* view = CurrentView();
  const int top = view->indexAt(QPoint(1, 1)).row();
  auto leaving = BeginEnd([this] { rowLeaving_ = true; }, [this] { rowLeaving_ = false; });
  model_->RemoveRow(row);
  if (top > 0 && row < top) view->scrollTo(model_->index(top - 1, 0), QAbstractItemView::PositionAtTop);
}

void TShellListView::SelectedSizeChanged(uint64_t was, uint64_t now) {
  // A sum still to be made reads the sizes as they are then.
  if (selSizeCounting_) return;
  selSize_ = selSize_ + now >= was ? selSize_ + now - was : 0;
  FireSelChange();
}

void TShellListView::Repaint() {
  tree_->viewport()->update();
  list_->viewport()->update();
}

void TShellListView::RepaintRow(int row) { model_->RowChanged(row); }

bool TShellListView::MouseDownOnItem() const { return dragButton_ == 1 || dragButton_ == 2; }

void TShellListView::SetItemsCount(int count) {
  if (count == model_->rowCount()) {
    Repaint();
    return;
  }
  // A reset drops the selection without telling; the total follows it.
  model_->SetRowCount(count);
  selSize_ = 0;
  selSizeCounting_ = false;
  FireSelChange();
  // The sizes are read behind the first paint, not ahead of it.
  if (count > 0) {
    if (painted_ || !isVisible())
      prefetchTimer_->start();
    else
      prefetchOnPaint_ = true;
  }
}

void TShellListView::PrefetchStep() {
  // Small batches keep the GUI responsive even where each stat is slow.
  QElapsedTimer clock;
  clock.start();
  bool more = true;
  while (more && clock.elapsed() < 4) more = fileList_->PrefetchSizes(256);
  CountSelSizeNow();
  if (!more) prefetchTimer_->stop();
}

void TShellListView::BeginItemsUpdate() {
  if (itemsUpdateLock_++ == 0) setUpdatesEnabled(false);
}

void TShellListView::EndItemsUpdate() {
  if (itemsUpdateLock_ == 0) return;
  if (--itemsUpdateLock_ == 0) {
    if (appliedStyle_ != style_) SetupViewMode();
    setUpdatesEnabled(true);
  }
}

// --- Activation, columns, rename -----------------------------------------------------

void TShellListView::Activate(const QModelIndex& index) {
  TShellFileItem* item = model_->Item(index.row());
  if (!item) return;
  bool folder = item->HasAttribute(SFGAO_FOLDER);
  if (folder) {
    // The row was listed a while ago: a folder may have become a file since,
    // or gone. A file opens as a file; a gone one is not entered.
    if (std::string path = item->GetItemPath(); !path.empty() && !item->HasAttribute(SFGAO_STREAM)) {
      if (SlowFolderTaken(path)) return;
      struct stat st;
      if (::stat(path.c_str(), &st) != 0) {
        RefreshList();
        return;
      }
      folder = S_ISDIR(st.st_mode);
    }
  }
  if (folder) {
    // The item dies with the old folder's rows; navigate with a copy.
    IDListPtr copy(CopyIDList(item->GetAbsoluteIDList()));
    SetFolderIDList(copy.get());
    if (shellTreeView_) shellTreeView_->SelectIDList(copy.get());
    return;
  }
  QPoint pos = CurrentView()->viewport()->mapFromGlobal(QCursor::pos());
  bool defaultAction = true;
  if (OnShExecute) OnShExecute(this, item, CurrentShiftState(), index.column(), pos.x(), pos.y(), defaultAction);
  if (!defaultAction) return;
  std::string path = item->GetItemPath();
  if (!path.empty()) OpenWithDefaultApplication(path);
}

void TShellListView::ColumnClicked(int column) {
  if (!IsColumn(column)) return;
  auto update = BeginEnd([this] { BeginItemsUpdate(); }, [this] { EndItemsUpdate(); });
  WaitCursor wait;
  fileList_->SortOrder[column] = -fileList_->SortOrder[column];
  fileList_->SortByColumn(column);
}

bool TShellListView::StartRename() {
  int row = -1;
  for (const QItemSelectionRange& r : selection_->selection())
    if (r.left() == 0 && (row < 0 || r.top() < row)) row = r.top();
  TShellFileItem* item = model_->Item(row);
  if (!item || !item->HasAttribute(SFGAO_CANRENAME)) return false;
  QAbstractItemView* view = CurrentView();
  QModelIndex index = model_->index(row, 0);
  view->setCurrentIndex(index);
  view->setEditTriggers(QAbstractItemView::EditKeyPressed);
  view->edit(index);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  return view->indexWidget(index) != nullptr;
}

void TShellListView::ResumeRename(int row, const QString& typed) {
  if (!model_->Item(row) || !isVisible()) return;
  QAbstractItemView* view = CurrentView();
  QModelIndex index = model_->index(row, 0);
  view->setCurrentIndex(index);
  view->setEditTriggers(QAbstractItemView::EditKeyPressed);
  view->edit(index);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  if (auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(index))) {
    editor->setText(typed);
    editor->selectAll();
  }
}

// --- Commands and context menu -----------------------------------------------------

bool TShellListView::InvokeCommand(TShellCommandKind kind) {
  auto suspended = SuspendedWatching();
  bool ok = false;
  ShellFolderPtr shown;
  if (kind == sckPaste && !GetPathName().empty() && fileList_->GetFolder(shown) && shown->TakesDrops()) {
    ok = PasteAsDrop(GetPathName());
  } else if (kind == sckPaste) {
    TShellIDList2 target;
    IDListPtr folder = fileList_->GetLevel() == 0 ? GetSpecialFolderIDList(CSIDL_DESKTOPDIRECTORY)
                                                  : IDListPtr(CopyIDList(fileList_->FolderIDList.get()));
    if (folder) {
      target.AdoptParent(IDListPtr(CopyParentIDList(folder.get())));
      target.Adopt(IDListPtr(CopyLastID(folder.get())));
      ok = target.InvokeCommand(window(), kind);
      // The files arrived while the watchers slept: show them now.
      if (ok && !GetPathName().empty()) RefreshList();
    }
  } else {
    TShellIDList* selection = fileList_->GetSelectedIDList();
    if (selection->Count() > 0) {
      std::string first = selection->GetItemPath(0);
      bool wasFile = NonFolderExists(first);
      ok = selection->InvokeCommand(window(), kind);
      if (ok && kind == sckCreateLink && !GetPathName().empty()) RefreshList();
      if (ok && kind == sckDelete && !(wasFile ? NonFolderExists(first) : FolderExists(first))) {
        fileList_->DeleteSelected();
        if (shellTreeView_) shellTreeView_->RefreshVisibleNodes();
      }
    }
  }
  return ok;
}

void TShellListView::ShowShellMenu(const QPoint& globalPos) {
  auto suspended = SuspendedWatching();
  TShellIDList* selection = fileList_->GetSelectedIDList();
  ShellFolderPtr parent;
  if (selection->Count() > 0 && selection->GetParentFolder(parent)) {
    std::string first = selection->GetItemPath(0);
    bool wasFile = NonFolderExists(first);
    shellPopupMenu_->PopupComponent = this;
    int result = shellPopupMenu_->Popup(selection, globalPos);
    if (result == PopupResultOf(CMDOFF_CREATELINK)) {
      if (!GetPathName().empty()) RefreshList();
    } else if (result == PopupResultOf(CMDOFF_DELETE)) {
      if (!(wasFile ? NonFolderExists(first) : FolderExists(first))) {
        fileList_->DeleteSelected();
        if (shellTreeView_) shellTreeView_->RefreshVisibleNodes();
      }
    } else if (result == PopupResultOf(CMDOFF_RENAME)) {
      StartRename();
    }
  }
}

QPoint TShellListView::KeyboardMenuPoint() const {
  QAbstractItemView* view = CurrentView();
  QWidget* port = view->viewport();
  const QModelIndex current = selection_->currentIndex();
  QRect row = current.isValid() ? view->visualRect(current) : QRect();
  if (current.isValid() && !port->rect().intersects(row)) {
    view->scrollTo(current);
    row = view->visualRect(current);
  }
  // Below the focused row's start, as a desktop file manager places it.
  QPoint at = row.isValid() ? QPoint(row.left() + std::min(row.width(), row.height()), row.bottom()) : QPoint(0, 0);
  at.setX(std::clamp(at.x(), 0, std::max(0, port->width() - 1)));
  at.setY(std::clamp(at.y(), 0, std::max(0, port->height() - 1)));
  return port->mapToGlobal(at);
}

bool TShellListView::eventFilter(QObject* watched, QEvent* event) {
  bool isViewport = watched == tree_->viewport() || watched == list_->viewport();
  if (isViewport && (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
                     event->type() == QEvent::DragLeave || event->type() == QEvent::Drop))
    return HandleDragEvent(
        watched == tree_->viewport() ? static_cast<QAbstractItemView*>(tree_) : static_cast<QAbstractItemView*>(list_),
        event);
  switch (event->type()) {
    case QEvent::Paint:
      if (isViewport && !painted_) {
        painted_ = true;
        if (refreshOnPaint_)
          QMetaObject::invokeMethod(
              this, [this] { RefreshAfterPaint(); }, Qt::QueuedConnection);
        if (std::exchange(prefetchOnPaint_, false) && model_->rowCount() > 0) prefetchTimer_->start();
      }
      if (isViewport) {
        // The rows about to be painted get their icons and names in one go.
        auto* view = watched == tree_->viewport() ? static_cast<QAbstractItemView*>(tree_)
                                                  : static_cast<QAbstractItemView*>(list_);
        QRect area = static_cast<QPaintEvent*>(event)->rect();
        int first = view->indexAt(area.topLeft()).row();
        QModelIndex bottom = view->indexAt(area.bottomRight());
        int last = bottom.isValid() ? bottom.row() : model_->rowCount() - 1;
        if (first >= 0) model_->CacheHint(first, std::min(last, first + 2000));
      }
      break;
    case QEvent::MouseButtonPress:
      if (isViewport) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* view = watched == tree_->viewport() ? static_cast<QAbstractItemView*>(tree_)
                                                  : static_cast<QAbstractItemView*>(list_);
        bool onRow = view->indexAt(mouse->position().toPoint()).isValid();
        pressPoint_ = mouse->position().toPoint();
        if (mouse->button() == Qt::RightButton)
          dragButton_ = onRow ? 2 : 0;
        else if (mouse->button() == Qt::LeftButton)
          dragButton_ = onRow ? 1 : 0;
      }
      break;
    case QEvent::MouseButtonDblClick:
      // Activation is ours, not the style's: a double click on a row, whatever the platform says.
      if (isViewport && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        auto* view = watched == tree_->viewport() ? static_cast<QAbstractItemView*>(tree_)
                                                  : static_cast<QAbstractItemView*>(list_);
        QModelIndex index = view->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (index.isValid()) {
          dragButton_ = 0;
          Activate(index);
          return true;
        }
      }
      break;
    case QEvent::MouseMove:
      if (isViewport && MaybeStartDrag(static_cast<QMouseEvent*>(event))) return true;
      break;
    case QEvent::MouseButtonRelease:
      if (isViewport && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) dragButton_ = 0;
      break;
    case QEvent::ContextMenu: {
      // From the mouse it reaches the viewport; from the keyboard, the view.
      {
        auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        bool shellMenu = dragButton_ == 2 && shellPopupMenu_ && menuEvent->reason() == QContextMenuEvent::Mouse;
        dragButton_ = 0;
        // The menu key's event carries the mouse pointer, which may be anywhere.
        const QPoint at =
            menuEvent->reason() == QContextMenuEvent::Mouse ? menuEvent->globalPos() : KeyboardMenuPoint();
        if (shellMenu)
          ShowShellMenu(at);
        else if (PopupMenu)
          PopupMenu->popup(at);
        return true;
      }
    }
    case QEvent::KeyPress:
      if (!isViewport) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F2 && key->modifiers() == Qt::NoModifier) {
          StartRename();
          return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !(key->modifiers() & ~(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::KeypadModifier))) {
          QModelIndex current = selection_->currentIndex();
          if (current.isValid()) Activate(current);
          return true;
        }
        if (key->matches(QKeySequence::SelectAll)) {
          SelectAll();
          return true;
        }
      }
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

TShellIconView* TShellListView::IconView() const { return list_; }
