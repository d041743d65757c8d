#include "shell/actions/ShellActns.h"

#include <QAbstractItemView>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QListView>
#include <QMimeData>
#include <QRegularExpression>
#include <QTreeView>
#include <vector>

#include "platform/desktop/FilePayload.h"
#include "platform/system/ScopeGuard.h"
#include "shell/ShellListModel.h"
#include "shell/ShellListView.h"
#include "shell/ShellIconView.h"
#include "shell/ShellReportView.h"

namespace {

// Whether the clipboard holds a list of files. Reading it means fetching the
// data from whichever program owns it, so the answer is kept until the
// clipboard changes; the actions ask several times a second.
bool ClipboardHoldsFiles() {
  static QPointer<QClipboard> watched;
  static bool known = false;
  static bool holds = false;
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (!clipboard) return false;
  if (watched != clipboard) {
    QObject::connect(clipboard, &QClipboard::dataChanged, [] { known = false; });
    watched = clipboard;
    known = false;
  }
  if (!known) {
    holds = MimeDataHoldsFiles(clipboard->mimeData());
    known = true;
  }
  return holds;
}

// Selected flags of all items, read once from the selection's ranges: asking
// item by item costs a pass over every range each time.
std::vector<char> SelectionMask(QAbstractItemView* view, int count) {
  std::vector<char> mask(count, 0);
  QItemSelectionModel* selection = view ? view->selectionModel() : nullptr;
  if (!selection) return mask;
  QModelIndex root = view->rootIndex();
  for (const QItemSelectionRange& r : selection->selection()) {
    if (r.parent() != root || r.left() > 0 || r.right() < 0) continue;
    for (int row = std::max(r.top(), 0); row <= r.bottom() && row < count; ++row) mask[row] = 1;
  }
  return mask;
}

}  // namespace

// --- ListViewAccess ----------------------------------------------------------------

ListViewAccess::ListViewAccess(QObject* target) {
  if ((shell_ = qobject_cast<TShellListView*>(target))) return;
  if (IsListView(target)) view_ = qobject_cast<QAbstractItemView*>(target);
}

TShellListView* ListViewAccess::OwnerOfInnerView(const QObject* view) {
  if (!view) return nullptr;
  for (QObject* p = view->parent(); p; p = p->parent()) {
    if (auto* shell = qobject_cast<TShellListView*>(p)) {
      bool own = static_cast<const QObject*>(shell->ReportView()) == view ||
                 static_cast<const QObject*>(shell->IconView()) == view;
      return own ? shell : nullptr;
    }
  }
  return nullptr;
}

bool ListViewAccess::IsListView(const QObject* target) {
  if (qobject_cast<const TShellListView*>(target)) return true;
  auto* view = qobject_cast<const QAbstractItemView*>(target);
  if (!view || !(qobject_cast<const QListView*>(view) || qobject_cast<const QTreeView*>(view))) return false;
  // The folder tree is a tree, not a list; drop-down lists belong to their box.
  if (view->inherits("TShellTreeView")) return false;
  if (view->window()->windowType() == Qt::Popup) return false;
  return OwnerOfInnerView(view) == nullptr;
}

int ListViewAccess::ItemCount() const {
  if (shell_) return shell_->Model()->rowCount();
  if (!view_ || !view_->model()) return 0;
  return view_->model()->rowCount(view_->rootIndex());
}

int ListViewAccess::SelectedCount() const {
  if (shell_) return shell_->SelectedCount();
  int count = 0;
  for (char selected : SelectionMask(view_, ItemCount())) count += selected;
  return count;
}

void ListViewAccess::SetSelected(int index, bool selected) {
  if (shell_) {
    if (index == -1) {
      shell_->SelectAllRows(selected);
    } else {
      shell_->SetRowSelected(index, selected);
    }
    return;
  }
  if (!view_ || !view_->model() || !view_->selectionModel()) return;
  QAbstractItemModel* model = view_->model();
  QModelIndex root = view_->rootIndex();
  QItemSelectionModel::SelectionFlags command = selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect;
  if (index == -1) {
    int rows = model->rowCount(root), columns = std::max(model->columnCount(root), 1);
    if (rows == 0) return;
    view_->selectionModel()->select(QItemSelection(model->index(0, 0, root), model->index(rows - 1, columns - 1, root)),
                                    command);
    return;
  }
  QModelIndex item = model->index(index, 0, root);
  if (!item.isValid()) return;
  if (view_->selectionBehavior() == QAbstractItemView::SelectRows) command |= QItemSelectionModel::Rows;
  view_->selectionModel()->select(item, command);
}

bool ListViewAccess::IsEditingLabel() const {
  if (shell_) return shell_->IsEditingLabel();
  if (!view_) return false;
  QWidget* editor = view_->indexWidget(view_->currentIndex());
  return editor && editor->isVisible();
}

TViewStyle ListViewAccess::ViewStyle() const {
  if (shell_) return shell_->ViewStyle();
  if (!view_) return vsIcon;
  QVariant remembered = view_->property(StyleProperty);
  if (auto* list = qobject_cast<QListView*>(view_)) {
    // The mode tells all but list from report, which only the property knows.
    if (list->viewMode() == QListView::IconMode) return list->iconSize().width() >= 32 ? vsIcon : vsSmallIcon;
    return remembered.isValid() && remembered.toInt() == vsReport ? vsReport : vsList;
  }
  return remembered.isValid() ? TViewStyle(remembered.toInt()) : vsReport;
}

void ListViewAccess::SetViewStyle(TViewStyle style) {
  if (shell_) {
    shell_->SetViewStyleProperty(style);
    return;
  }
  if (!view_) return;
  if (auto* list = qobject_cast<QListView*>(view_)) {
    switch (style) {
      case vsIcon:
        list->setViewMode(QListView::IconMode);
        list->setIconSize(QSize(32, 32));
        break;
      case vsSmallIcon:
        list->setViewMode(QListView::IconMode);
        list->setIconSize(QSize(16, 16));
        break;
      default:
        list->setViewMode(QListView::ListMode);
        list->setIconSize(QSize(16, 16));
        break;
    }
  }
  // A tree view has only its columns; it keeps the style that was asked for.
  view_->setProperty(StyleProperty, int(style));
}

QWidget* ListViewAccess::FocusWidget() const {
  if (shell_) return shell_->CurrentView();
  return view_;
}

bool ListViewAccess::CanFocus() const {
  QWidget* w = FocusWidget();
  return w && w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus;
}

void ListViewAccess::SetFocus() {
  if (shell_) {
    shell_->setFocus(Qt::OtherFocusReason);  // the proxy is the view showing now
  } else if (view_) {
    view_->setFocus(Qt::OtherFocusReason);
  }
}

void ListViewAccess::BeginSelUpdate() {
  if (shell_) shell_->BeginSelUpdate();
}

void ListViewAccess::EndSelUpdate() {
  if (shell_) shell_->EndSelUpdate();
}

// --- TCustomShellAction ------------------------------------------------------------

TCustomShellAction::TCustomShellAction(const QString& caption, const QString& hint, const QKeySequence& shortcut,
                                       QObject* parent)
    : QAction(caption, parent) {
  SetHint(hint);
  setShortcut(shortcut);
  setShortcutContext(Qt::WindowShortcut);
}

void TCustomShellAction::SetHint(const QString& hint) {
  hint_ = hint;
  int bar = hint.indexOf(QLatin1Char('|'));
  QString shortPart = bar < 0 ? hint : hint.left(bar);
  QString longPart = bar < 0 ? hint : hint.mid(bar + 1);
  setToolTip(shortPart.isEmpty() ? StripAccelerator(text()) : shortPart);
  setStatusTip(longPart);
}

QString TCustomShellAction::StripAccelerator(const QString& caption) {
  QString s = caption;
  static const QRegularExpression bracketed(QStringLiteral("\\(&[^)]\\)"));
  s.remove(bracketed);
  s.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  s.remove(QLatin1Char('&'));
  s.replace(QLatin1Char('\x01'), QLatin1Char('&'));
  return s;
}

// --- TShellFileAction --------------------------------------------------------------

TShellListView* TShellFileAction::ShellListView() const { return shellListView_.data(); }

void TShellFileAction::SetShellListView(TShellListView* view) { shellListView_ = view; }

QWidget* TShellFileAction::BoundControl() const { return shellListView_.data(); }

TShellListView* TShellFileAction::GetControl(QObject* target) const { return qobject_cast<TShellListView*>(target); }

bool TShellFileAction::HandlesTarget(QObject* target) {
  bool kind = shellListView_ ? target == shellListView_.data() : qobject_cast<TShellListView*>(target) != nullptr;
  return kind && static_cast<QWidget*>(target)->isVisible();
}

void TShellFileAction::UpdateTarget(QObject* target) {
  TShellListView* view = GetControl(target);
  setEnabled(view && view->SelectedCount() > 0);
}

// --- TListViewAction ---------------------------------------------------------------

void TListViewAction::SetListView(QWidget* view) {
  if (TShellListView* owner = ListViewAccess::OwnerOfInnerView(view)) view = owner;
  listView_ = view;
}

QWidget* TListViewAction::BoundControl() const { return listView_.data(); }

QWidget* TListViewAction::GetControl(QObject* target) const { return qobject_cast<QWidget*>(target); }

bool TListViewAction::HandlesTarget(QObject* target) {
  bool kind = listView_ ? target == listView_.data() : ListViewAccess::IsListView(target);
  return kind && static_cast<QWidget*>(target)->isVisible();
}

// --- Clipboard, delete, properties -------------------------------------------------

namespace {
// Cut, copy and paste keys belong to a name editor while it is open.
bool EditsLabel(TShellListView* view) { return view && view->IsEditingLabel(); }
}  // namespace

TShellFileCut::TShellFileCut(QObject* parent)
    : TShellFileAction(QStringLiteral("切り取り(&T)"),
                       QStringLiteral("切り取り|選択されたオブジェクトを削除し、クリップボードにコピーします。"),
                       QKeySequence(Qt::CTRL | Qt::Key_X), parent) {}

bool TShellFileCut::HandlesTarget(QObject* target) {
  return TShellFileAction::HandlesTarget(target) && !EditsLabel(GetControl(target));
}

void TShellFileCut::ExecuteTarget(QObject* target) {
  if (TShellListView* view = GetControl(target)) view->InvokeCommand(sckCut);
}

TShellFileCopy::TShellFileCopy(QObject* parent)
    : TShellFileAction(QStringLiteral("コピー(&C)"),
                       QStringLiteral("コピー|選択されたオブジェクトをクリップボードにコピーします。"
                                      "新しい位置に挿入するには [貼り付け] を選んでください。"),
                       QKeySequence(Qt::CTRL | Qt::Key_C), parent) {}

bool TShellFileCopy::HandlesTarget(QObject* target) {
  return TShellFileAction::HandlesTarget(target) && !EditsLabel(GetControl(target));
}

void TShellFileCopy::ExecuteTarget(QObject* target) {
  if (TShellListView* view = GetControl(target)) view->InvokeCommand(sckCopy);
}

TShellFilePaste::TShellFilePaste(QObject* parent)
    : TShellFileAction(
          QStringLiteral("貼り付け(&P)"),
          QStringLiteral("貼り付け|コピーしたまたは切り取ったオブジェクトを、選択された位置に貼り付けます。"),
          QKeySequence(Qt::CTRL | Qt::Key_V), parent) {}

bool TShellFilePaste::HandlesTarget(QObject* target) {
  return TShellFileAction::HandlesTarget(target) && !EditsLabel(GetControl(target));
}

void TShellFilePaste::UpdateTarget(QObject* target) {
  TShellListView* view = GetControl(target);
  setEnabled(view && !view->GetPathName().empty() && ClipboardHoldsFiles());
}

void TShellFilePaste::ExecuteTarget(QObject* target) {
  if (TShellListView* view = GetControl(target)) view->InvokeCommand(sckPaste);
}

TShellFileDelete::TShellFileDelete(QObject* parent)
    : TShellFileAction(QStringLiteral("削除(&D)"), QStringLiteral("削除|選択されたオブジェクトを削除します。"),
                       QKeySequence(Qt::Key_Delete), parent) {}

void TShellFileDelete::UpdateTarget(QObject* target) {
  if (EditsLabel(GetControl(target))) {
    setEnabled(false);
    return;
  }
  TShellFileAction::UpdateTarget(target);
}

void TShellFileDelete::ExecuteTarget(QObject* target) {
  if (TShellListView* view = GetControl(target)) view->InvokeCommand(sckDelete);
}

TShellFileProperty::TShellFileProperty(QObject* parent)
    : TShellFileAction(QStringLiteral("プロパティ(&R)"),
                       QStringLiteral("プロパティ|選択されたオブジェクトのプロパティを表示します。"), QKeySequence(),
                       parent) {}

void TShellFileProperty::ExecuteTarget(QObject* target) {
  if (TShellListView* view = GetControl(target)) view->InvokeCommand(sckProperties);
}

// --- Sorting -----------------------------------------------------------------------

TShellFileSortAction::TShellFileSortAction(int column, const QString& caption, const QString& hint, QObject* parent)
    : TShellFileAction(caption, hint, QKeySequence(), parent), column_(column) {}

void TShellFileSortAction::UpdateTarget(QObject* target) {
  TShellListView* view = GetControl(target);
  setEnabled(view && !view->GetPathName().empty());
}

void TShellFileSortAction::ExecuteTarget(QObject* target) {
  if (TShellListView* view = GetControl(target)) view->SortColumn(column_, true);
}

TShellFileSortByName::TShellFileSortByName(QObject* parent)
    : TShellFileSortAction(0, QStringLiteral("名前順(&N)"),
                           QStringLiteral("名前順|オブジェクトを名前順に並び替えます。"), parent) {}

void TShellFileSortByName::UpdateTarget(QObject*) { setEnabled(true); }

TShellFileSortBySize::TShellFileSortBySize(QObject* parent)
    : TShellFileSortAction(1, QStringLiteral("サイズ順(&Z)"),
                           QStringLiteral("サイズ順|オブジェクトをサイズ順に並び替えます。"), parent) {}

TShellFileSortByType::TShellFileSortByType(QObject* parent)
    : TShellFileSortAction(2, QStringLiteral("種類順(&N)"),
                           QStringLiteral("種類順|オブジェクトを種類順に並び替えます。"), parent) {}

TShellFileSortByLastWrite::TShellFileSortByLastWrite(QObject* parent)
    : TShellFileSortAction(3, QStringLiteral("日付順(&D)"),
                           QStringLiteral("日付順|オブジェクトを日付順に並び替えます。"), parent) {}

TShellFileSortByAttr::TShellFileSortByAttr(QObject* parent)
    : TShellFileSortAction(4, QStringLiteral("属性順"), QStringLiteral("属性順|オブジェクトを属性順に並び替えます。"),
                           parent) {}

// --- View styles -------------------------------------------------------------------

TViewStyleAction::TViewStyleAction(TViewStyle style, const QString& caption, const QString& hint, QObject* parent)
    : TListViewAction(caption, hint, QKeySequence(), parent), style_(style) {
  setCheckable(true);
}

void TViewStyleAction::UpdateTarget(QObject* target) {
  ListViewAccess list(GetControl(target));
  if (list.IsValid()) setChecked(list.ViewStyle() == style_);
}

void TViewStyleAction::ExecuteTarget(QObject* target) {
  ListViewAccess list(GetControl(target));
  list.SetViewStyle(style_);
}

TLargeIcon::TLargeIcon(QObject* parent)
    : TViewStyleAction(vsIcon, QStringLiteral("大きいアイコン(&G)"),
                       QStringLiteral("大きいアイコン|オブジェクトを大きいアイコンで表示します。"), parent) {}

TSmallIcon::TSmallIcon(QObject* parent)
    : TViewStyleAction(vsSmallIcon, QStringLiteral("小さいアイコン(&M)"),
                       QStringLiteral("小さいアイコン|オブジェクトを小さいアイコンで表示します。"), parent) {}

TListIcon::TListIcon(QObject* parent)
    : TViewStyleAction(vsList, QStringLiteral("一覧(&L)"), QStringLiteral("一覧|オブジェクトを一覧表示します。"),
                       parent) {}

TReportIcon::TReportIcon(QObject* parent)
    : TViewStyleAction(vsReport, QStringLiteral("詳細(&D)"),
                       QStringLiteral("詳細|ウインドウ内の各オブジェクトの情報を表示します。"), parent) {}

TSwitchViewStyle::TSwitchViewStyle(QObject* parent)
    : TListViewAction(QStringLiteral("表示"), QString(), QKeySequence(), parent) {}

TViewStyle TSwitchViewStyle::NextStyle(TViewStyle style) {
  switch (style) {
    case vsIcon:
      return vsSmallIcon;
    case vsSmallIcon:
      return vsList;
    case vsList:
      return vsReport;
    default:
      return vsIcon;
  }
}

void TSwitchViewStyle::ExecuteTarget(QObject* target) {
  ListViewAccess list(GetControl(target));
  if (!list.IsValid()) return;
  TViewStyle next = NextStyle(list.ViewStyle());
  if (TShellListView* shell = list.Shell()) {
    shell->SetViewStyleProperty(next);  // the folder list's own setter
  } else {
    list.SetViewStyle(next);
  }
}

// --- Selection ---------------------------------------------------------------------

TSelectAllItem::TSelectAllItem(QObject* parent)
    : TListViewAction(QStringLiteral("すべて選択(&A)"),
                      QStringLiteral("すべて選択|ウインドウ内のすべてのオブジェクトを選択します。"), QKeySequence(),
                      parent) {}

void TSelectAllItem::ExecuteTarget(QObject* target) {
  ListViewAccess list(GetControl(target));
  if (!list.IsValid() || list.ItemCount() == 0) return;
  list.SetSelected(-1, true);
  if (list.CanFocus()) list.SetFocus();
}

TReverseSelectedItem::TReverseSelectedItem(QObject* parent)
    : TListViewAction(
          QStringLiteral("選択の切り替え(&I)"),
          QStringLiteral("選択の切り替え|選択されているオブジェクトと選択されていないオブジェクトを切り替えます。"),
          QKeySequence(), parent) {}

void TReverseSelectedItem::ExecuteTarget(QObject* target) {
  ListViewAccess list(GetControl(target));
  if (!list.IsValid()) return;
  int count = list.ItemCount();
  if (count == 0) return;
  if (TShellListView* shell = list.Shell()) {
    // The spans between the selected ones, in one change.
    shell->InvertSelection();
  } else {
    std::vector<char> selected = SelectionMask(list.View(), count);
    for (int i = 0; i < count; ++i) list.SetSelected(i, !selected[i]);
  }
  if (list.CanFocus()) list.SetFocus();
}
