#pragma once
// The shared base of the shell controls: item ID list helpers that need the
// desktop, the items that cache what a control shows, the item lists handed to
// menus and commands, and the registry of live controls that relays drive
// arrival and removal.
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/namespace/IDList.h"
#include "platform/namespace/ShellApi.h"
#include "shell/DeviceChangeData.h"

class QMimeData;
class QWidget;
class MountMonitor;
struct MountEntry;
class TShellFileList;

enum TShItemIDType {
  itDeskTop,
  itMyComputer,
  itRootDrive,
  itFolder,
  itFile,
  itInterNet,
  itBitBucket,
  itNetWork,
  itVirtual,
  itUnknown
};
using TShVirtuaItem = TShItemIDType;  // itBitBucket .. itVirtual

// A set of virtual item kinds (itBitBucket .. itVirtual).
class TShVirtuaItems {
 public:
  TShVirtuaItems() = default;
  TShVirtuaItems(std::initializer_list<TShVirtuaItem> items) {
    for (auto i : items) Include(i);
  }
  bool Contains(TShVirtuaItem i) const { return bits_ & (1u << i); }
  void Include(TShVirtuaItem i) { bits_ |= 1u << i; }
  bool operator==(const TShVirtuaItems&) const = default;

 private:
  uint32_t bits_ = 0;
};
inline TShVirtuaItems DefaultShVirtuaItems() { return {itBitBucket, itNetWork}; }

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

enum TShellCommandKind { sckCut, sckCopy, sckPaste, sckCreateLink, sckDelete, sckProperties };

// Shift state of drag and drop key flags.
enum TShiftStateFlag : uint32_t {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
};
using TShiftState = uint32_t;
constexpr uint32_t MK_LBUTTON = 0x1, MK_RBUTTON = 0x2, MK_SHIFT = 0x4, MK_CONTROL = 0x8, MK_MBUTTON = 0x10,
                   MK_ALT = 0x20;

// Days since 1899-12-30 in local time, as date-time values count.
using TDateTime = double;

// --- Item ID list operations that need the namespace --------------------------
int GetIDListLevel(PCItemIDList list);
// 0 same item, 1 a after b, 2 a before b, 3 failure or a null argument.
int CompareIDsIn(IShellFolder* folder, PCItemIDList a, PCItemIDList b);
bool PathToIDList(const std::string& path, PItemIDList& list);
std::string IDListToPath(PCItemIDList list);
bool GetSpecialFolderIDList(int csidl, PItemIDList& list);
// The same two, owned; null where the out-parameter forms fail.
IDListPtr PathToIDList(const std::string& path);
IDListPtr GetSpecialFolderIDList(int csidl);
bool GetDisplayNameOf(IShellFolder* folder, PCItemIDList list, uint32_t flags, std::string& name);
int GetSysIconIndex(PCItemIDList absoluteList, bool large, bool open);
ImageListHandle GetSysImageList(bool large);
TDateTime FileTimeToLocalDateTime(const FILETIME& fileTime);
// The locale's short date and short time of a date-time value.
std::string FormatDateTime(TDateTime value);
// Path with one trailing separator ('/').
std::string AddBackslash(const std::string& path);
std::string GetVolumeLabel(const std::string& root);
TShiftState KeysToShiftState(uint32_t keyFlags);
// Binds the folder of an absolute list (the desktop for the empty list).
ShellFolderPtr BindToFolder(PCItemIDList absoluteList);
// The kind of an item from its level, its absolute list and its attributes.
TShItemIDType ClassifyItem(int level, PCItemIDList absoluteList, const std::function<bool(uint32_t)>& hasAttribute);

// --- Items ---------------------------------------------------------------------

// What a folder item needs of its tree node (the tree control implements it).
class IShellTreeNode {
 public:
  virtual ~IShellTreeNode() = default;
  virtual int AbsoluteIndex() const = 0;
};

// A place that accepts dropped files: a folder of the namespace.
class IDropTarget;

// A text most rows never ask for: one pointer until it is set, so that a
// million rows of a folder do not each carry an empty string.
class RareText {
 public:
  bool empty() const { return !text_; }
  void clear() { text_.reset(); }
  RareText& operator=(const std::string& text) {
    if (text.empty())
      text_.reset();
    else
      text_ = std::make_unique<std::string>(text);
    return *this;
  }
  const std::string& str() const {
    static const std::string none;
    return text_ ? *text_ : none;
  }

 private:
  std::unique_ptr<std::string> text_;
};

class TShellDataItem {
 public:
  TShellDataItem() = default;
  virtual ~TShellDataItem();
  TShellDataItem(const TShellDataItem&) = delete;
  TShellDataItem& operator=(const TShellDataItem&) = delete;

  virtual int GetImageIndex();
  virtual int GetIndex() = 0;
  virtual int GetLevel() = 0;
  virtual PCItemIDList GetParentIDList() = 0;
  virtual PCItemIDList GetAbsoluteIDList() = 0;
  virtual int GetSelectedIndex();
  virtual bool IsValid() = 0;

  std::string GetDisplayName();
  // The name as a rename starts from (a row may show more than its name).
  std::string GetEditName();
  bool GetParentFolder(ShellFolderPtr& folder);
  bool HasAttribute(uint32_t mask);
  TShItemIDType GetItemType();
  int GetOverlayIndex();
  std::unique_ptr<IDropTarget> GetDropTarget();
  std::string GetItemPath();

  ShellFolderPtr ParentFolder;
  IDListPtr RelativeIDList;
  IDListPtr AbsoluteIDList;
  IDListPtr ParentIDList;
  int SelectedIndex = -1;
  int ImageIndex = -1;
  RareText DisplayName;

 protected:
  // The list asked of the parent folder: the relative one, or the absolute
  // (empty) one for the desktop itself.
  PCItemIDList ListForParent();
  virtual ShellFolderPtr BindParentFolder();
  // Forgets everything derived from the name (after a rename).
  virtual void ResetCaches();
};

class TShellFolderItem : public TShellDataItem {
 public:
  TShellFolderItem(IShellTreeNode* node, PItemIDList relative, PItemIDList absolute);

  int GetIndex() override;
  int GetLevel() override;
  PCItemIDList GetParentIDList() override;
  PCItemIDList GetAbsoluteIDList() override;
  bool IsValid() override;

  IShellTreeNode* Node;  // not owned
};

class TShellFileItem : public TShellDataItem {
 public:
  TShellFileItem(TShellFileList* fileList, PItemIDList relative);
  static void* operator new(size_t size);
  static void operator delete(void* item, size_t size);

  int GetImageIndex() override;
  int GetIndex() override;
  int GetLevel() override;
  PCItemIDList GetParentIDList() override;
  PCItemIDList GetAbsoluteIDList() override;
  int GetSelectedIndex() override;
  bool IsValid() override;

  WIN32_FIND_DATAA GetFindData();
  uint32_t GetItemAttributes();
  uint64_t GetSize();
  std::string GetSizeText();
  std::string GetModifiedText();
  std::string GetTypeName();
  uint32_t GetOverlayMask();
  bool Rename(const std::string& newName);
  // Fetches the find data again from the disk (after a change was reported);
  // only for an item whose data was already fetched, the others fetch on use.
  void RefreshFindData();
  bool HasFindData() const { return FindData && FindData->cFileName[0]; }
  // The name of a file-system entry as its ID holds it, without building a
  // path; empty for rows of other kinds.
  std::string_view EntryName() const;

  TShellFileList* FileList;  // not owned
  int LargeImageIndex = -1;
  // The row's place among the names of its folder, kept for the sorts by
  // other columns; the list tells when it holds.
  uint32_t NameRank = 0;
  // Fetched for rows that are shown; most rows of a large folder never need it.
  std::unique_ptr<WIN32_FIND_DATAA> FindData;

 protected:
  ShellFolderPtr BindParentFolder() override;
  void ResetCaches() override;

 private:
  const WIN32_FIND_DATAA& FindDataRef();
};

// Sibling items as relative lists plus their parent's absolute list; borrows
// every list.
class TShellIDList {
 public:
  TShellIDList() = default;
  virtual ~TShellIDList() = default;
  TShellIDList(const TShellIDList&) = delete;
  TShellIDList& operator=(const TShellIDList&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  PItemIDList Items(int index) const;
  // The raw array; null when empty.
  PItemIDList* List() { return items_.empty() ? nullptr : items_.data(); }
  void Add(PItemIDList item) { items_.push_back(item); }
  virtual void Clear();
  int ParentLevel() const;
  bool GetParentFolder(ShellFolderPtr& folder) const;
  uint32_t GetAttributes() const;
  bool HasAttribute(uint32_t mask) const;
  std::string GetItemPath(int index) const;
  // Runs a shell command (a TShellCommandKind) on the items when all of them
  // allow it; true when it was carried out. window owns its dialogs.
  bool InvokeCommand(QWidget* window, int kind);

  PItemIDList ParentIDList = nullptr;

 protected:
  std::vector<PItemIDList> items_;
};

// Owns its lists.
class TShellIDList2 : public TShellIDList {
 public:
  void Add(PItemIDList item) = delete;  // a borrowed list would be left to its owner
  void Adopt(IDListPtr item);
  void AdoptParent(IDListPtr parent);
  void Clear() override;

 private:
  std::vector<IDListPtr> owned_;
  IDListPtr ownedParent_;
};

// What a control knows about a drag entering it.
class TShellDragObject {
 public:
  explicit TShellDragObject(const QMimeData* dataObject);
  const QMimeData* DataObject;
};

// --- Registry of live controls ------------------------------------------------

// A tree control as the registry sees it: it takes drive events.
class IShellTreeControl {
 public:
  virtual ~IShellTreeControl() = default;
  // Ownership of data passes to the tree (it hands it to its directory watcher).
  virtual void DeviceChangeNotify(TDeviceChangeData* data) = 0;
};

class TShellCtrlList : public QObject {
  Q_OBJECT
 public:
  static TShellCtrlList& Instance();

  void AddListView(QObject* view);
  void AddTreeView(IShellTreeControl* tree);
  void RemoveListView(QObject* view);
  void RemoveTreeView(IShellTreeControl* tree);
  bool MonitorActive() const { return monitor_ != nullptr; }
  // Delivers a mount event as the volume broadcasts would (also used by tests).
  void MountChanged(const MountEntry& entry, bool arrived);

 private:
  TShellCtrlList();
  ~TShellCtrlList() override;
  void UpdateMonitor();

  std::vector<QObject*> listViews_;
  std::vector<IShellTreeControl*> treeViews_;
  MountMonitor* monitor_ = nullptr;  // exists while a control is registered
};
