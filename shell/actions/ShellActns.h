#pragma once
// Ready-made commands on the focused folder list: the shell clipboard, delete
// and properties, sorting, the view style of any list view, select all and
// invert selection. Each action is offered a target widget by its action list
// (ActionDispatch.h): it says whether it handles it, updates its enabled or
// checked state from it and runs against it.
#include <QAction>
#include <QPointer>
#include <QString>

#include "shell/ShellCtrls.h"

class QAbstractItemView;
class QKeySequence;
class TShellListView;

// One way to reach the selection, the label editor, the view style and the
// focus of any list view: a TShellListView, or a plain QListView / QTreeView
// (QListWidget included) that is not one of a TShellListView's own views.
class ListViewAccess {
 public:
  explicit ListViewAccess(QObject* target);

  // A list view of any kind, as the list view actions take one.
  static bool IsListView(const QObject* target);
  // The folder list whose own report or icon view this is; null otherwise.
  static TShellListView* OwnerOfInnerView(const QObject* view);

  bool IsValid() const { return shell_ || view_; }
  TShellListView* Shell() const { return shell_; }
  QAbstractItemView* View() const { return view_; }

  int ItemCount() const;
  int SelectedCount() const;
  // The "selected" state of one item, or of all items for index -1.
  void SetSelected(int index, bool selected);
  // An in-place label editor exists and is visible.
  bool IsEditingLabel() const;
  TViewStyle ViewStyle() const;
  // The list view's standard style setter.
  void SetViewStyle(TViewStyle style);
  bool CanFocus() const;
  void SetFocus();
  // Selection-change lock; only a TShellListView has one.
  void BeginSelUpdate();
  void EndSelUpdate();

  // Dynamic property remembering the style set on a plain view.
  static constexpr const char* StyleProperty = "tolvaneViewStyle";

 private:
  QWidget* FocusWidget() const;

  TShellListView* shell_ = nullptr;
  QAbstractItemView* view_ = nullptr;
};

// The root of the family: a QAction with the target protocol and a hint of
// the form "short|long" (short in the tool tip, long in the status tip).
class TCustomShellAction : public QAction {
  Q_OBJECT
 public:
  TCustomShellAction(const QString& caption, const QString& hint, const QKeySequence& shortcut,
                     QObject* parent = nullptr);

  QString Caption() const { return text(); }
  QString Hint() const { return hint_; }
  void SetHint(const QString& hint);
  // The caption without its accelerator: "削除(&D)" -> "削除", "&Open" -> "Open".
  static QString StripAccelerator(const QString& caption);

  virtual bool HandlesTarget(QObject* target) = 0;
  virtual void UpdateTarget(QObject* target) {}
  virtual void ExecuteTarget(QObject* target) {}
  // The control the action is bound to, null when it serves the focused one.
  virtual QWidget* BoundControl() const { return nullptr; }

 private:
  QString hint_;
};

// Works on a TShellListView: the bound one, or any focused one.
class TShellFileAction : public TCustomShellAction {
  Q_OBJECT
 public:
  using TCustomShellAction::TCustomShellAction;

  // Binding; the field returns to null when the list view is destroyed.
  TShellListView* ShellListView() const;
  void SetShellListView(TShellListView* view);
  QWidget* BoundControl() const override;

  bool HandlesTarget(QObject* target) override;
  // Enabled exactly when the list view has a selection.
  void UpdateTarget(QObject* target) override;
  // The target as a folder list; null for any other class.
  virtual TShellListView* GetControl(QObject* target) const;

 private:
  QPointer<TShellListView> shellListView_;
};

// Works on any list view: the bound one, or any focused one.
class TListViewAction : public TCustomShellAction {
  Q_OBJECT
 public:
  using TCustomShellAction::TCustomShellAction;

  QWidget* ListView() const { return listView_; }
  // A view inside a TShellListView binds its folder list.
  void SetListView(QWidget* view);
  QWidget* BoundControl() const override;

  bool HandlesTarget(QObject* target) override;
  virtual QWidget* GetControl(QObject* target) const;

 private:
  QPointer<QWidget> listView_;
};

// --- Shell clipboard, delete, properties -------------------------------------------

// Cut, copy and paste leave a list view that edits a name to the editor.
class TShellFileCut : public TShellFileAction {
  Q_OBJECT
 public:
  explicit TShellFileCut(QObject* parent = nullptr);
  bool HandlesTarget(QObject* target) override;
  void ExecuteTarget(QObject* target) override;
};

class TShellFileCopy : public TShellFileAction {
  Q_OBJECT
 public:
  explicit TShellFileCopy(QObject* parent = nullptr);
  bool HandlesTarget(QObject* target) override;
  void ExecuteTarget(QObject* target) override;
};

class TShellFilePaste : public TShellFileAction {
  Q_OBJECT
 public:
  explicit TShellFilePaste(QObject* parent = nullptr);
  bool HandlesTarget(QObject* target) override;
  // Enabled in a file-system folder while the clipboard holds files.
  void UpdateTarget(QObject* target) override;
  void ExecuteTarget(QObject* target) override;
};

class TShellFileDelete : public TShellFileAction {
  Q_OBJECT
 public:
  explicit TShellFileDelete(QObject* parent = nullptr);
  // Disabled while a name is being edited.
  void UpdateTarget(QObject* target) override;
  void ExecuteTarget(QObject* target) override;
};

class TShellFileProperty : public TShellFileAction {
  Q_OBJECT
 public:
  explicit TShellFileProperty(QObject* parent = nullptr);
  void ExecuteTarget(QObject* target) override;
};

// --- Sorting -----------------------------------------------------------------------

// Sorts by one column, ascending; only the name column means something in a
// folder without a file-system path.
class TShellFileSortAction : public TShellFileAction {
  Q_OBJECT
 public:
  TShellFileSortAction(int column, const QString& caption, const QString& hint, QObject* parent);
  int Column() const { return column_; }
  void UpdateTarget(QObject* target) override;
  void ExecuteTarget(QObject* target) override;

 private:
  int column_;
};

class TShellFileSortByName : public TShellFileSortAction {
  Q_OBJECT
 public:
  explicit TShellFileSortByName(QObject* parent = nullptr);
  void UpdateTarget(QObject* target) override;
};

class TShellFileSortBySize : public TShellFileSortAction {
  Q_OBJECT
 public:
  explicit TShellFileSortBySize(QObject* parent = nullptr);
};

class TShellFileSortByType : public TShellFileSortAction {
  Q_OBJECT
 public:
  explicit TShellFileSortByType(QObject* parent = nullptr);
};

class TShellFileSortByLastWrite : public TShellFileSortAction {
  Q_OBJECT
 public:
  explicit TShellFileSortByLastWrite(QObject* parent = nullptr);
};

class TShellFileSortByAttr : public TShellFileSortAction {
  Q_OBJECT
 public:
  explicit TShellFileSortByAttr(QObject* parent = nullptr);
};

// --- View styles -------------------------------------------------------------------

// Checked while the list view shows its style; sets it through the standard setter.
class TViewStyleAction : public TListViewAction {
  Q_OBJECT
 public:
  TViewStyleAction(TViewStyle style, const QString& caption, const QString& hint, QObject* parent);
  TViewStyle Style() const { return style_; }
  void UpdateTarget(QObject* target) override;
  void ExecuteTarget(QObject* target) override;

 private:
  TViewStyle style_;
};

class TLargeIcon : public TViewStyleAction {
  Q_OBJECT
 public:
  explicit TLargeIcon(QObject* parent = nullptr);
};

class TSmallIcon : public TViewStyleAction {
  Q_OBJECT
 public:
  explicit TSmallIcon(QObject* parent = nullptr);
};

class TListIcon : public TViewStyleAction {
  Q_OBJECT
 public:
  explicit TListIcon(QObject* parent = nullptr);
};

class TReportIcon : public TViewStyleAction {
  Q_OBJECT
 public:
  explicit TReportIcon(QObject* parent = nullptr);
};

// Icon -> small icon -> list -> report -> icon.
class TSwitchViewStyle : public TListViewAction {
  Q_OBJECT
 public:
  explicit TSwitchViewStyle(QObject* parent = nullptr);
  static TViewStyle NextStyle(TViewStyle style);
  void ExecuteTarget(QObject* target) override;
};

// --- Selection ---------------------------------------------------------------------

class TSelectAllItem : public TListViewAction {
  Q_OBJECT
 public:
  explicit TSelectAllItem(QObject* parent = nullptr);
  void ExecuteTarget(QObject* target) override;
};

// Changes at most half of the items one by one on a TShellListView, and tells
// its selection change once.
class TReverseSelectedItem : public TListViewAction {
  Q_OBJECT
 public:
  explicit TReverseSelectedItem(QObject* parent = nullptr);
  void ExecuteTarget(QObject* target) override;
};
