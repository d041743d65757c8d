#pragma once
// An address-box style drop-down of folders: the desktop, its children, the
// folders of its first child, and the ancestors of the folder shown, indented
// by level. Linked to a folder tree, which it moves and which tells it what
// to show.
#include <QComboBox>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

#include "platform/system/ScopeGuard.h"
#include "shell/ShellCtrls.h"

class QPainter;
class TShellComboBox;
class TShellComboList;
class TShellTreeView;

class TShellComboItem : public TShellDataItem {
 public:
  TShellComboItem(TShellComboList* list, TShellComboItem* parentItem, PItemIDList relative, PItemIDList absolute,
                  bool temporary);
  int GetIndex() override;
  int GetLevel() override;
  PCItemIDList GetParentIDList() override;
  PCItemIDList GetAbsoluteIDList() override;
  bool IsValid() override;

  TShellComboList* ComboList;   // not owned
  TShellComboItem* ParentItem;  // null for the desktop
  bool Temporary;

  // The folder of the entry itself (the desktop for the desktop's entry).
  ShellFolderPtr BindFolder();
  // Forgets the icons and the name (after a drive's media changed).
  void ResetIcons();
};

// The entries in display order, each followed by its descendants; every
// insertion and removal is mirrored in the combo box's strings at the same index.
class TShellComboList {
 public:
  explicit TShellComboList(TShellComboBox* comboBox);
  ~TShellComboList();
  TShellComboList(const TShellComboList&) = delete;
  TShellComboList& operator=(const TShellComboList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // Null outside 0..Count-1.
  TShellComboItem* Items(int index) const;
  int IndexOf(const TShellComboItem* item) const;
  void Insert(int index, std::unique_ptr<TShellComboItem> item);
  // Removes the entry together with its descendants.
  void Delete(int index);
  void Clear();
  // Navigation; -1 when there is no such entry.
  int FirstChild(int index) const;
  int NextSibling(int index) const;
  // The entry's last descendant, or the entry itself when it has none.
  int LastDescendant(int index) const;
  bool IsDescendant(const TShellComboItem* item, const TShellComboItem* ancestor) const;

  TShellComboBox* ComboBox;  // not owned

 private:
  std::vector<std::unique_ptr<TShellComboItem>> items_;
};

using TShellComboDragEnterEvent = std::function<void(TShellComboBox* sender, const TShellDragObject& dragObject,
                                                     TShiftState shift, const QPoint& pt, bool& accept)>;
using TShellComboDragEvent = std::function<void(TShellComboBox* sender, const TShellDragObject& dragObject,
                                                TShellComboItem* item, TShiftState shift, int x, int y)>;
using TShellComboDropEvent =
    std::function<void(TShellComboBox* sender, const TShellDragObject& dragObject, TShellComboItem* item,
                       TShiftState shift, int x, int y, bool& defaultAction)>;

class TShellComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit TShellComboBox(QWidget* parent = nullptr);
  ~TShellComboBox() override;

  bool IncludeHidden() const;
  void SetIncludeHidden(bool value);
  TShVirtuaItems ShVirtuaItems() const;
  void SetShVirtuaItems(TShVirtuaItems value);
  // Set by the tree's ShellComboBox setter; null clears the link.
  TShellTreeView* ShellTreeView() const;
  void SetShellTreeView(TShellTreeView* tree);

  TShellComboDragEnterEvent OnShDragEnter;
  TShellComboDragEvent OnShDragOver;
  TShellComboDropEvent OnShDragDrop;
  std::function<void(TShellComboBox* sender)> OnShDragLeave;

  void Rebuild();
  void SelectIDList(PCItemIDList idList);
  // The selected entry's absolute list, or null.
  PCItemIDList GetSelectedIDList() const;
  int FindIndex(PCItemIDList idList);
  bool Ready() const;
  int EntryCount() const;
  TShellComboItem* Entry(int index) const;
  // The entry of a drive root, or null (for drive events of the tree).
  TShellComboItem* FindEntry(PCItemIDList idList) const;
  // Renames a drive's entry after a media change (icon caches reset too).
  void UpdateEntry(TShellComboItem* item, const std::string& displayName);
  // Brackets the tree's rebuild-and-select steps so the list repaints once.
  void BeginItemsUpdate();
  void EndItemsUpdate();
  // The entry's row height: the font's height x 1.2, at least 18 pixels.
  int ItemHeight() const;
  // The text of the edit part: the selected entry's path, else its name.
  QString EditText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // Widens the drop-down to its indented rows.
  void showPopup() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  friend class TShellComboDelegate;

  // Enumerates the entry's sub-folders and merges them into its children.
  void MergeChildren(int index);
  // A new entry for the child id (a one-ID list) of parent; null when the lists cannot be made.
  std::unique_ptr<TShellComboItem> MakeEntry(TShellComboItem* parent, PCItemIDList id);
  // Inserts a temporary entry for id under parent at position; its index, or -1.
  int AddEntry(TShellComboItem* parent, int position, PCItemIDList id);
  // Whether a child of the given kind is shown under a folder of that level and kind.
  bool Admits(int folderLevel, TShItemIDType folderType, TShellComboItem* child) const;
  // True when parent's children are listed in full, so a missing one is worth a re-read.
  bool ChildrenListed(TShellComboItem* parent) const;
  void RemoveTemporary();
  // Rebuilds after a settings change, keeping the folder shown.
  void FollowSettings();
  void EntryChosen(int index);
  std::unique_ptr<IDropTarget> SelectedDropTarget() const;
  void HandleDragOver(QDragMoveEvent* event);
  // Draws one entry; editPart: no indentation and the path for a text.
  void PaintEntry(QPainter* painter, const QRect& rect, const QPalette& palette, TShellComboItem* item, int index,
                  bool editPart, bool selected, bool focused) const;

  std::unique_ptr<TShellComboList> list_;
  QPointer<TShellTreeView> tree_;
  bool includeHidden_ = true;
  TShVirtuaItems virtuaItems_ = DefaultShVirtuaItems();
  bool ready_ = false;
  int updateCount_ = 0;
  // Asked for before the list was first built; selected once it is.
  IDListPtr remembered_;
  std::unique_ptr<TShellDragObject> dragObject_;
  bool dragWithRight_ = false;
};

// The combo box's items update for a scope; nothing for a box gone by its end.
[[nodiscard]] inline auto ItemsUpdateOf(const QPointer<TShellComboBox>& combo) {
  return BeginEnd(
      [combo] {
        if (combo) combo->BeginItemsUpdate();
      },
      [combo] {
        if (combo) combo->EndItemsUpdate();
      });
}
