#pragma once
// platform/namespace: stands in for the shell namespace (item ID lists, folders,
// drives, icons, type names, name order). It reads the file system; it never
// copies, moves or deletes, and never shows a window. Uses system and state;
// the menus of its items come from the ui layer (ContextMenuProvider.h).
//
// The shell namespace, as the controls above expect it: folders that enumerate,
// parse, name, compare and rename their items by item ID list. One header for
// the whole family, so every stand-in is declared in one place.
//
// The namespace on Linux:
//   desktop (empty list; its path is the XDG desktop folder, else the home folder)
//     home          (a file-system folder)
//     computer      one drive per mounted real file system, shown "label (mount point)"
//       drive       folders and files below its mount point
//         archive   an archive file's entries, as folders (ArchiveFolderKind)
//     network       the network file-system mounts, as drives
//     recycle bin   the freedesktop trash, listed read-only
//     ...           the desktop folder's own entries (none when it is the home folder)
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/namespace/IDList.h"

class IContextMenu;
class QWidget;

// Item attributes (SFGAO_*).
constexpr uint32_t SFGAO_CANCOPY = 0x1;
constexpr uint32_t SFGAO_CANMOVE = 0x2;
constexpr uint32_t SFGAO_CANLINK = 0x4;
constexpr uint32_t SFGAO_CANRENAME = 0x10;
constexpr uint32_t SFGAO_CANDELETE = 0x20;
constexpr uint32_t SFGAO_HASPROPSHEET = 0x40;
constexpr uint32_t SFGAO_DROPTARGET = 0x100;
constexpr uint32_t SFGAO_CAPABILITYMASK = 0x177;
constexpr uint32_t SFGAO_LINK = 0x10000;
constexpr uint32_t SFGAO_SHARE = 0x20000;
constexpr uint32_t SFGAO_READONLY = 0x40000;
constexpr uint32_t SFGAO_HIDDEN = 0x80000;
constexpr uint32_t SFGAO_STREAM = 0x400000;  // a file not on the disk (in an archive, at a location listed through GIO)
constexpr uint32_t SFGAO_FILESYSANCESTOR = 0x10000000;
constexpr uint32_t SFGAO_FOLDER = 0x20000000;
constexpr uint32_t SFGAO_FILESYSTEM = 0x40000000;
constexpr uint32_t SFGAO_HASSUBFOLDER = 0x80000000;

// Enumeration flags (SHCONTF_*).
constexpr uint32_t SHCONTF_FOLDERS = 0x20;
constexpr uint32_t SHCONTF_NONFOLDERS = 0x40;
constexpr uint32_t SHCONTF_INCLUDEHIDDEN = 0x80;
// The caller takes an enumeration that ends for now and goes on later (Incomplete).
constexpr uint32_t SHCONTF_ENABLE_ASYNC = 0x8000;

// Display name flags (SHGDN_*).
constexpr uint32_t SHGDN_NORMAL = 0;
constexpr uint32_t SHGDN_INFOLDER = 0x1;
constexpr uint32_t SHGDN_FOREDITING = 0x1000;
constexpr uint32_t SHGDN_FORADDRESSBAR = 0x4000;
constexpr uint32_t SHGDN_FORPARSING = 0x8000;

// Special folders (CSIDL_*).
constexpr int CSIDL_DESKTOP = 0x0000;
constexpr int CSIDL_PERSONAL = 0x0005;  // the home folder
constexpr int CSIDL_BITBUCKET = 0x000a;
constexpr int CSIDL_DESKTOPDIRECTORY = 0x0010;
constexpr int CSIDL_DRIVES = 0x0011;
constexpr int CSIDL_NETWORK = 0x0012;

// Find-data attributes (FILE_ATTRIBUTE_*).
constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;  // a symbolic link

// Icon location flags (GIL_*).
constexpr uint32_t GIL_OPENICON = 0x1;
constexpr uint32_t GIL_FORSHELL = 0x2;
constexpr uint32_t GIL_PERCLASS = 0x4;

// SHGetFileInfo flags (SHGFI_*).
constexpr uint32_t SHGFI_LARGEICON = 0x0;
constexpr uint32_t SHGFI_SMALLICON = 0x1;
constexpr uint32_t SHGFI_OPENICON = 0x2;
constexpr uint32_t SHGFI_PIDL = 0x8;
constexpr uint32_t SHGFI_DISPLAYNAME = 0x200;
constexpr uint32_t SHGFI_TYPENAME = 0x400;
constexpr uint32_t SHGFI_ATTRIBUTES = 0x800;
constexpr uint32_t SHGFI_SYSICONINDEX = 0x4000;

struct FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

// One directory entry's data. Sizes are 64-bit (high and low halves).
struct WIN32_FIND_DATAA {
  uint32_t dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  uint32_t nFileSizeHigh;
  uint32_t nFileSizeLow;
  uint32_t dwReserved0;  // the st_mode bits
  uint32_t dwReserved1;
  char cFileName[260];
  char cAlternateFileName[14];
};
static_assert(sizeof(WIN32_FIND_DATAA) == 320);

// File times: 100 ns units since 1601-01-01 UTC.
uint64_t FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);
FILETIME ToFileTime(uint64_t value);
uint64_t FromFileTime(const FILETIME& ft);
// Seconds since 1970 (with fraction) of a file time; 0 for a zero time.
double FileTimeToUnix(const FILETIME& ft);

class IEnumIDList {
 public:
  virtual ~IEnumIDList() = default;
  // Hands out the next child as a relative one-ID list that the caller owns;
  // false when there are no more.
  virtual bool Next(PItemIDList& id) = 0;
  // After Next said false: more children are still being read, and Next
  // hands them out when asked again later. Only with SHCONTF_ENABLE_ASYNC.
  virtual bool Incomplete() const { return false; }
};

// One folder of the namespace. Lists passed in are relative to this folder and
// may hold more than one ID (the folder binds down to the last one's parent);
// the desktop therefore takes absolute lists. All calls fail softly (false,
// null, empty), never throw.
class IShellFolder {
 public:
  virtual ~IShellFolder() = default;

  // Name relative to this folder; the desktop takes absolute paths ("/a/b")
  // and gives computer + the deepest mount point + the remaining names.
  // A trailing '/', "." and ".." are resolved by name; the item must exist.
  virtual bool ParseDisplayName(std::string_view name, PItemIDList& list) = 0;
  // SHCONTF_FOLDERS / NONFOLDERS / INCLUDEHIDDEN; null when the folder cannot be read.
  virtual std::unique_ptr<IEnumIDList> EnumObjects(uint32_t flags) = 0;
  virtual std::shared_ptr<IShellFolder> BindToObject(PCItemIDList list) = 0;
  // column 0 name, 1 size, 2 type name, 3 modification time, 4 attributes.
  // Folders come before files, ties are broken by name, special items keep a
  // fixed order. result < 0: a before b; 0: same; > 0: a after b.
  virtual bool CompareIDs(int column, PCItemIDList a, PCItemIDList b, int& result) = 0;
  // inOut: the SFGAO bits asked for in, the bits that all items have out.
  virtual bool GetAttributesOf(int count, const PCItemIDList* items, uint32_t& inOut) = 0;
  virtual bool GetDisplayNameOf(PCItemIDList list, uint32_t flags, std::string& name) = 0;
  // Renames a child; never replaces an existing name. newItem (may be null)
  // receives the child's new relative list.
  virtual bool SetNameOf(PCItemIDList item, std::string_view newName, uint32_t flags, PItemIDList* newItem) = 0;
  // Index in the system image list (IShellIcon::GetIconOf); GIL_OPENICON for the open icon.
  virtual bool GetIconOf(PCItemIDList item, uint32_t flags, int& index) = 0;
  // The child's find data (SHGetDataFromIDList with SHGDFIL_FINDDATA).
  virtual bool GetFindData(PCItemIDList item, WIN32_FIND_DATAA& data) = 0;
  // The file-system path of this folder; empty for a virtual folder.
  virtual std::string GetPath() const = 0;
  // The absolute list of this folder (not owned by the caller).
  virtual PCItemIDList GetIDList() const = 0;
  // Fills what a sort by column needs into the children's IDs ahead of a
  // large sort, so that CompareIDs does no I/O. Optional: CompareIDs works without it.
  virtual void PrepareCompare(int column, PItemIDList* items, size_t count) {}
  // The context menu of children (IShellFolder::GetUIObjectOf for IContextMenu);
  // null when there is none (the default). owner: the window its dialogs belong to.
  virtual std::unique_ptr<IContextMenu> GetContextMenu(QWidget* owner, int count, const PCItemIDList* items);
  // Whether files dropped on this folder are taken although its parent gives
  // it no SFGAO_DROPTARGET (a folder that is not one of the disk's).
  virtual bool TakesDrops() { return false; }
};

using ShellFolderPtr = std::shared_ptr<IShellFolder>;

// The desktop folder, the root of the namespace (one per process).
ShellFolderPtr SHGetDesktopFolder();
// Absolute list of a special folder (CSIDL_*); the caller owns it.
bool SHGetSpecialFolderLocation(int csidl, PItemIDList& list);
// File-system path of an absolute list; false for null or a virtual item.
bool SHGetPathFromIDList(PCItemIDList list, std::string& path);
// Find data of a path (FindFirstFileA + FindClose); false when it does not exist.
bool FindFirstFile(const std::string& path, WIN32_FIND_DATAA& data);
// The folder shown as the desktop: XDG desktop folder, else home.
std::string DesktopDirectory();
std::string HomeDirectory();
// Path of the trash's files/ folder of the home trash.
std::string HomeTrashDirectory();

// Icons and type names (SHGetFileInfo). Icons live in one process-wide image
// list; an index is made once per icon name, never once per file.
struct SHFILEINFO {
  int iIcon = -1;
  uint32_t dwAttributes = 0;
  std::string szDisplayName;
  std::string szTypeName;  // UTF-8, Japanese
};
bool SHGetFileInfo(PCItemIDList absoluteList, uint32_t flags, SHFILEINFO& info);

class SystemImageList;
// The image list handle: the one list of icons, drawn at one size.
struct ImageListHandle {
  SystemImageList* list = nullptr;
  int iconSize = 0;  // 16 small, 32 large
};
ImageListHandle SHGetSysImageList(bool large);
