#include "shell/ShellCtrls.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>
#include <cstring>

#include "platform/namespace/Drives.h"
#include "platform/desktop/DropTarget.h"
#include "platform/system/Exception.h"
#include "platform/namespace/ItemID.h"
#include "shell/ShellFileList.h"

// --- Item ID list operations ---------------------------------------------------

int GetIDListLevel(PCItemIDList list) {
  if (!list) return -1;
  ShellFolderPtr desktop = SHGetDesktopFolder();
  if (!desktop) return -1;
  if (IDListsEqual(list, desktop->GetIDList())) return 0;
  return CountIDs(list);
}

int CompareIDsIn(IShellFolder* folder, PCItemIDList a, PCItemIDList b) {
  if (!folder || !a || !b) return 3;
  int result;
  if (!folder->CompareIDs(0, a, b, result)) return 3;
  int16_t code = static_cast<int16_t>(result);
  if (code == 0) return 0;
  return code > 0 ? 1 : 2;
}

bool PathToIDList(const std::string& path, PItemIDList& list) {
  list = nullptr;
  ShellFolderPtr desktop = SHGetDesktopFolder();
  return desktop && desktop->ParseDisplayName(path, list) && list;
}

std::string IDListToPath(PCItemIDList list) {
  std::string path;
  if (!list || !SHGetPathFromIDList(list, path)) return {};
  return path;
}

bool GetSpecialFolderIDList(int csidl, PItemIDList& list) {
  list = nullptr;
  return SHGetSpecialFolderLocation(csidl, list);
}

IDListPtr PathToIDList(const std::string& path) {
  PItemIDList list = nullptr;
  const bool found = PathToIDList(path, list);
  IDListPtr owned(list);
  return found ? std::move(owned) : nullptr;
}

IDListPtr GetSpecialFolderIDList(int csidl) {
  PItemIDList list = nullptr;
  const bool found = GetSpecialFolderIDList(csidl, list);
  IDListPtr owned(list);
  return found ? std::move(owned) : nullptr;
}

bool GetDisplayNameOf(IShellFolder* folder, PCItemIDList list, uint32_t flags, std::string& name) {
  name.clear();
  if (!folder || !list) return true;
  if (!folder->GetDisplayNameOf(list, flags, name)) {
    name.clear();
    return false;
  }
  return true;
}

int GetSysIconIndex(PCItemIDList absoluteList, bool large, bool open) {
  SHFILEINFO info;
  uint32_t flags = SHGFI_PIDL | SHGFI_SYSICONINDEX;
  if (!large) flags |= SHGFI_SMALLICON;
  if (open) flags |= SHGFI_OPENICON;
  if (!SHGetFileInfo(absoluteList, flags, info)) return -1;
  return info.iIcon;
}

ImageListHandle GetSysImageList(bool large) { return SHGetSysImageList(large); }

TDateTime FileTimeToLocalDateTime(const FILETIME& fileTime) {
  if (fileTime.dwLowDateTime == 0 || fileTime.dwHighDateTime == 0) return 0;
  double unixSeconds = FileTimeToUnix(fileTime);
  QDateTime utc = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(unixSeconds * 1000)), Qt::UTC);
  QDateTime local = utc.toLocalTime();
  // Local wall-clock time as days since 1899-12-30.
  QDateTime wall(local.date(), local.time(), Qt::UTC);
  static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
  return epoch.msecsTo(wall) / 86400000.0;
}

std::string FormatDateTime(TDateTime value) {
  static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
  QDateTime wall = epoch.addMSecs(static_cast<qint64>(std::llround(value * 86400000.0)));
  QLocale locale;
  QString text =
      locale.toString(wall.date(), QLocale::ShortFormat) + ' ' + locale.toString(wall.time(), QLocale::ShortFormat);
  return text.toStdString();
}

std::string AddBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '/') return path;
  return path + '/';
}

std::string GetVolumeLabel(const std::string& root) {
  std::string label;
  if (!GetVolumeInformation(root, label)) return {};
  for (char& c : label)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (!label.empty() && label[0] >= 'a' && label[0] <= 'z') label[0] = static_cast<char>(label[0] - 'a' + 'A');
  return label;
}

TShiftState KeysToShiftState(uint32_t keyFlags) {
  TShiftState state = 0;
  if (keyFlags & MK_SHIFT) state |= ssShift;
  if (keyFlags & MK_CONTROL) state |= ssCtrl;
  if (keyFlags & MK_ALT) state |= ssAlt;
  if (keyFlags & MK_LBUTTON) state |= ssLeft;
  if (keyFlags & MK_RBUTTON) state |= ssRight;
  if (keyFlags & MK_MBUTTON) state |= ssMiddle;
  return state;
}

ShellFolderPtr BindToFolder(PCItemIDList absoluteList) {
  ShellFolderPtr desktop = SHGetDesktopFolder();
  if (!desktop || !absoluteList) return nullptr;
  if (CountIDs(absoluteList) == 0) return desktop;
  return desktop->BindToObject(absoluteList);
}

TShItemIDType ClassifyItem(int level, PCItemIDList absoluteList, const std::function<bool(uint32_t)>& hasAttribute) {
  ShellFolderPtr desktop = SHGetDesktopFolder();
  if (!desktop || level < 0) return itUnknown;
  if (level == 0) return itDeskTop;
  if (level == 1) {
    static const std::pair<int, TShItemIDType> specials[] = {
        {CSIDL_DRIVES, itMyComputer}, {CSIDL_NETWORK, itNetWork}, {CSIDL_BITBUCKET, itBitBucket}};
    for (auto [csidl, type] : specials) {
      IDListPtr special = GetSpecialFolderIDList(csidl);
      if (special && CompareIDsIn(desktop.get(), absoluteList, special.get()) == 0) return type;
    }
  }
  if (!hasAttribute(SFGAO_FILESYSTEM)) return itVirtual;
  if (level == 2 && hasAttribute(SFGAO_FILESYSANCESTOR)) return itRootDrive;
  return hasAttribute(SFGAO_FOLDER) ? itFolder : itFile;
}

// --- TShellDataItem ------------------------------------------------------------

TShellDataItem::~TShellDataItem() = default;

PCItemIDList TShellDataItem::ListForParent() { return GetLevel() == 0 ? GetAbsoluteIDList() : RelativeIDList.get(); }

ShellFolderPtr TShellDataItem::BindParentFolder() {
  int level = GetLevel();
  if (level <= 1) return SHGetDesktopFolder();
  return BindToFolder(GetParentIDList());
}

bool TShellDataItem::GetParentFolder(ShellFolderPtr& folder) {
  if (!ParentFolder) ParentFolder = BindParentFolder();
  folder = ParentFolder;
  return folder != nullptr;
}

int TShellDataItem::GetImageIndex() {
  if (ImageIndex == -1) {
    ShellFolderPtr folder;
    if (!GetParentFolder(folder)) return ImageIndex;
    int index = -1;
    if (!folder->GetIconOf(ListForParent(), GIL_FORSHELL, index) || index < 0)
      index = GetSysIconIndex(GetAbsoluteIDList(), false, false);
    ImageIndex = index;
  }
  return ImageIndex;
}

int TShellDataItem::GetSelectedIndex() {
  if (SelectedIndex == -1) SelectedIndex = GetSysIconIndex(GetAbsoluteIDList(), false, true);
  return SelectedIndex;
}

std::string TShellDataItem::GetDisplayName() {
  if (DisplayName.empty()) {
    ShellFolderPtr folder;
    std::string name;
    if (GetParentFolder(folder)) GetDisplayNameOf(folder.get(), ListForParent(), SHGDN_INFOLDER, name);
    DisplayName = name;
  }
  return DisplayName.str();
}

std::string TShellDataItem::GetEditName() {
  std::string name;
  ShellFolderPtr folder;
  if (GetParentFolder(folder)) GetDisplayNameOf(folder.get(), ListForParent(), SHGDN_INFOLDER | SHGDN_FOREDITING, name);
  return name.empty() ? GetDisplayName() : name;
}

bool TShellDataItem::HasAttribute(uint32_t mask) {
  ShellFolderPtr folder;
  if (!GetParentFolder(folder)) return false;
  PCItemIDList list = ListForParent();
  if (!list) return false;
  uint32_t attrs = mask;
  if (!folder->GetAttributesOf(1, &list, attrs)) return false;
  return (attrs & mask) == mask;
}

TShItemIDType TShellDataItem::GetItemType() {
  return ClassifyItem(GetLevel(), GetAbsoluteIDList(), [this](uint32_t mask) { return HasAttribute(mask); });
}

int TShellDataItem::GetOverlayIndex() {
  // No overlay handler stands behind our folders: shared and link are all there is.
  if (HasAttribute(SFGAO_SHARE)) return 0;
  if (HasAttribute(SFGAO_LINK)) return 1;
  return -1;
}

std::unique_ptr<IDropTarget> TShellDataItem::GetDropTarget() {
  if (!HasAttribute(SFGAO_DROPTARGET)) return nullptr;
  std::string path = GetItemPath();
  if (path.empty()) return nullptr;
  return std::make_unique<IDropTarget>(path);
}

std::string TShellDataItem::GetItemPath() { return IDListToPath(GetAbsoluteIDList()); }

void TShellDataItem::ResetCaches() {
  AbsoluteIDList.reset();
  ImageIndex = -1;
  SelectedIndex = -1;
  DisplayName.clear();
}

// --- TShellFolderItem ----------------------------------------------------------

TShellFolderItem::TShellFolderItem(IShellTreeNode* node, PItemIDList relative, PItemIDList absolute) : Node(node) {
  RelativeIDList.reset(relative);
  AbsoluteIDList.reset(absolute);
}

int TShellFolderItem::GetIndex() { return Node ? Node->AbsoluteIndex() : -1; }

int TShellFolderItem::GetLevel() { return GetIDListLevel(AbsoluteIDList.get()); }

PCItemIDList TShellFolderItem::GetParentIDList() {
  if (!ParentIDList) {
    if (GetLevel() == 1)
      ParentIDList = GetSpecialFolderIDList(CSIDL_DESKTOP);
    else
      ParentIDList.reset(CopyParentIDList(AbsoluteIDList.get()));
  }
  return ParentIDList.get();
}

PCItemIDList TShellFolderItem::GetAbsoluteIDList() { return AbsoluteIDList.get(); }

bool TShellFolderItem::IsValid() { return RelativeIDList && AbsoluteIDList; }

// --- TShellIDList --------------------------------------------------------------

PItemIDList TShellIDList::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[index];
}

void TShellIDList::Clear() { items_.clear(); }

int TShellIDList::ParentLevel() const { return GetIDListLevel(ParentIDList); }

bool TShellIDList::GetParentFolder(ShellFolderPtr& folder) const {
  folder = ParentLevel() == 0 ? SHGetDesktopFolder() : BindToFolder(ParentIDList);
  return folder != nullptr;
}

uint32_t TShellIDList::GetAttributes() const {
  ShellFolderPtr folder;
  if (items_.empty() || !GetParentFolder(folder)) return 0;
  uint32_t attrs = SFGAO_CAPABILITYMASK;
  std::vector<PCItemIDList> lists(items_.begin(), items_.end());
  if (!folder->GetAttributesOf(Count(), lists.data(), attrs)) return 0;
  return attrs;
}

bool TShellIDList::HasAttribute(uint32_t mask) const {
  ShellFolderPtr folder;
  if (items_.empty() || !GetParentFolder(folder)) return false;
  uint32_t attrs = mask;
  std::vector<PCItemIDList> lists(items_.begin(), items_.end());
  if (!folder->GetAttributesOf(Count(), lists.data(), attrs)) return false;
  return (attrs & mask) == mask;
}

std::string TShellIDList::GetItemPath(int index) const {
  PItemIDList item = Items(index);
  if (!ParentIDList || !item) return {};
  return IDListToPath(IDListPtr(ConcatIDLists(ParentIDList, item)).get());
}

void TShellIDList2::Adopt(IDListPtr item) {
  owned_.push_back(std::move(item));
  items_.push_back(owned_.back().get());
}

void TShellIDList2::AdoptParent(IDListPtr parent) {
  ownedParent_ = std::move(parent);
  ParentIDList = ownedParent_.get();
}

void TShellIDList2::Clear() {
  items_.clear();
  owned_.clear();
  ParentIDList = nullptr;
  ownedParent_.reset();
}

// --- TShellDragObject ----------------------------------------------------------

TShellDragObject::TShellDragObject(const QMimeData* dataObject) : DataObject(dataObject) {
  if (!dataObject) throw EInvalidOperation("パラメータが不正です。");
}
