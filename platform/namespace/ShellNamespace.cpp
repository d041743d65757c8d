// The desktop, the computer and the network folders, and the calls that walk
// an absolute list from the desktop down.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include "platform/namespace/Drives.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/LocationPath.h"
#include "platform/namespace/NameCompare.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/system/TrailingSlash.h"

namespace {

const char* const kDesktopName = "デスクトップ";
const char* const kHomeName = "ホーム";
const char* const kComputerName = "コンピューター";
const char* const kNetworkName = "ネットワーク";
const char* const kRecycleBinName = "ごみ箱";
const char* const kLocalDiskName = "ローカル ディスク";
const char* const kNetworkDriveName = "ネットワーク ドライブ";

// Parsing names of the virtual folders, as FORPARSING gives them.
const char* const kComputerParse = "::computer";
const char* const kNetworkParse = "::network";
const char* const kRecycleBinParse = "::trash";

// The results folders of the layer above, when it has registered them.
std::mutex resultsMutex;
ResultsFolderKind resultsKind;

ResultsFolderKind CurrentResultsKind() {
  std::lock_guard lock(resultsMutex);
  return resultsKind;
}

// The archive folders of the archive layer, when it has registered them.
std::mutex archiveMutex;
ArchiveFolderKind archiveKind;

ArchiveFolderKind CurrentArchiveKind() {
  std::lock_guard lock(archiveMutex);
  return archiveKind;
}

// The network locations of the network layer, when it has registered them.
std::mutex locationMutex;
LocationFolderKind locationKind;

LocationFolderKind CurrentLocationKind() {
  std::lock_guard lock(locationMutex);
  return locationKind;
}

// The list of a location URI: its root, then a folder ID per name. Only the
// text is read, never the server: names given to parse are taken for folders
// (what a pane opens); the rows of a listing carry their own kind.
PItemIDList ParseLocation(std::string_view uri) {
  std::string root;
  std::vector<std::string> names;
  if (!SplitLocationUri(uri, root, names)) return nullptr;
  IDListBuilder builder;
  builder.AddOwned(MakeLocationID(root));
  for (const std::string& name : names) builder.AddOwned(MakeFileEntryID(name, itemflag::kFolder, nullptr));
  return builder.Finish();
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// True when path is base or lies below it.
bool IsBelow(const std::string& path, const std::string& base) {
  if (base == "/") return true;
  return path.compare(0, base.size(), base) == 0 && (path.size() == base.size() || path[base.size()] == '/');
}

uint32_t FolderAttributes(const std::string& path, uint32_t asked) {
  uint32_t a = SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSANCESTOR | SFGAO_FILESYSTEM | SFGAO_CANCOPY |
               SFGAO_CANLINK | SFGAO_HASPROPSHEET;
  if ((asked & SFGAO_DROPTARGET) && access(path.c_str(), W_OK) == 0) a |= SFGAO_DROPTARGET;
  return a;
}

// What an absolute list names, found by walking it without touching the disk.
enum class NodeKind {
  Invalid,
  Desktop,
  Computer,
  Network,
  RecycleBin,
  FileSystem,
  TrashItem,
  Results,
  Archive,
  Location
};
struct Node {
  NodeKind kind = NodeKind::Invalid;
  std::string path;  // for Archive: the archive file's path; for Location: the URI
  bool folder = false;
  std::string inner = {};  // for Archive: the path inside the archive

  std::string FullPath() const { return kind == NodeKind::Archive ? JoinPath(path, inner) : path; }
};

Node Resolve(PCItemIDList list) {
  if (!list) return {};
  if (CountIDs(list) == 0) return {NodeKind::Desktop, DesktopDirectory(), true};
  Node node;
  int level = 0;
  for (PCItemIDList id = list; id; id = NextID(id), ++level) {
    ItemKind kind = IDKind(id);
    bool folder = IDFlags(id) & itemflag::kFolder;
    std::string_view text = IDPayloadText(id);
    if (level == 0) {
      switch (kind) {
        case ItemKind::Home:
          node = {NodeKind::FileSystem, HomeDirectory(), true};
          break;
        case ItemKind::Computer:
          node = {NodeKind::Computer, {}, true};
          break;
        case ItemKind::Network:
          node = {NodeKind::Network, {}, true};
          break;
        case ItemKind::RecycleBin:
          node = {NodeKind::RecycleBin, {}, true};
          break;
        case ItemKind::FileEntry:
          if (!IsValidChildName(text)) return {};
          node = {NodeKind::FileSystem, JoinPath(DesktopDirectory(), text), folder};
          break;
        case ItemKind::Results:
          node = {NodeKind::Results, {}, true};
          break;
        case ItemKind::Location: {
          std::string root;
          std::vector<std::string> names;
          if (!SplitLocationUri(text, root, names) || !names.empty() || root != text) return {};
          node = {NodeKind::Location, root, true};
          break;
        }
        default:
          return {};
      }
    } else if (level == 1 && kind == ItemKind::Drive &&
               (node.kind == NodeKind::Computer || node.kind == NodeKind::Network)) {
      if (text.empty() || text[0] != '/' || text.find('\0') != std::string_view::npos) return {};
      node = {NodeKind::FileSystem, std::string(text), true};
    } else if (level == 1 && kind == ItemKind::TrashEntry && node.kind == NodeKind::RecycleBin) {
      if (text.empty() || text[0] != '/' || text.find('\0') != std::string_view::npos) return {};
      node = {NodeKind::TrashItem, std::string(text), folder};
    } else if (level == 1 && kind == ItemKind::PathEntry && node.kind == NodeKind::Results) {
      // A result stands for the file at its path, so every command works on it.
      if (text.empty() || text[0] != '/' || text.find('\0') != std::string_view::npos) return {};
      node = {NodeKind::FileSystem, std::string(text), folder};
    } else if (kind == ItemKind::FileEntry && node.folder &&
               (node.kind == NodeKind::FileSystem || node.kind == NodeKind::TrashItem)) {
      if (!IsValidChildName(text)) return {};
      node.path = JoinPath(node.path, text);
      node.folder = folder;
    } else if (kind == ItemKind::FileEntry && node.folder && node.kind == NodeKind::Location) {
      if (!IsValidChildName(text)) return {};
      node.path = LocationChildUri(node.path, text);
      node.folder = folder;
    } else if (kind == ItemKind::ArchiveEntry && !node.folder &&
               (node.kind == NodeKind::FileSystem || node.kind == NodeKind::Archive)) {
      // Into an archive file, or an archive inside an archive.
      if (!IsValidChildName(text)) return {};
      node = {NodeKind::Archive, node.FullPath(), folder, std::string(text)};
    } else if (kind == ItemKind::ArchiveEntry && node.folder && node.kind == NodeKind::Archive) {
      if (!IsValidChildName(text)) return {};
      node.inner = JoinPath(node.inner, text);
      node.folder = folder;
    } else {
      return {};
    }
  }
  return node;
}

// The root folder of an archive file, when the archive layer lists its kind.
ShellFolderPtr BindArchiveRoot(PCItemIDList absolute, const std::string& path) {
  ArchiveFolderKind archives = CurrentArchiveKind();
  if (!archives.recognises || !archives.recognises(path)) return nullptr;
  return archives.bind(absolute, path, std::string());
}

// A path below an archive file: the archive's own list, then the names inside it.
bool ParseInsideArchive(IShellFolder& desktop, const std::string& path, PItemIDList& list) {
  std::string archive = path;
  struct stat st;
  do {
    archive = DirName(archive);
    if (archive == "/") return false;
  } while (lstat(archive.c_str(), &st) != 0);
  if (!S_ISREG(st.st_mode)) return false;
  PItemIDList head = nullptr;
  if (!desktop.ParseDisplayName(archive, head)) return false;
  IDListPtr ownedHead(head);
  ShellFolderPtr root = BindAbsoluteIDList(head);
  PItemIDList rest = nullptr;
  if (!root || !root->ParseDisplayName(std::string_view(path).substr(archive.size() + 1), rest)) return false;
  IDListPtr ownedRest(rest);
  list = ConcatIDLists(head, rest);
  return list != nullptr;
}

// --- The computer and the network: one drive per mount ---------------------

class DriveEnum : public IEnumIDList {
 public:
  DriveEnum(std::vector<MountEntry> drives) : drives_(std::move(drives)) {}
  bool Next(PItemIDList& id) override {
    id = nullptr;
    while (next_ < drives_.size()) {
      const MountEntry& e = drives_[next_++];
      id = MakeDriveID(e.mountPoint, e.network);
      if (id) return true;
    }
    return false;
  }

 private:
  std::vector<MountEntry> drives_;
  size_t next_ = 0;
};

class DrivesFolder : public ShellFolderBase {
 public:
  explicit DrivesFolder(bool network)
      : ShellFolderBase(IDListPtr(MakeSpecialID(network ? ItemKind::Network : ItemKind::Computer)), {}),
        network_(network) {}

  bool ParseDisplayName(std::string_view name, PItemIDList& list) override {
    list = nullptr;
    PItemIDList full = nullptr;
    if (!SHGetDesktopFolder()->ParseDisplayName(name, full)) return false;
    IDListPtr owned(full);
    ItemKind mine = network_ ? ItemKind::Network : ItemKind::Computer;
    if (IDKind(full) != mine || !NextID(full)) return false;
    list = CopyIDList(NextID(full));
    return list != nullptr;
  }

  std::unique_ptr<IEnumIDList> EnumObjects(uint32_t flags) override {
    std::vector<MountEntry> drives;
    if (flags & SHCONTF_FOLDERS)
      for (MountEntry& e : ReadMountTable())
        if (e.network == network_) drives.push_back(std::move(e));
    return std::make_unique<DriveEnum>(std::move(drives));
  }

 protected:
  int CompareChildren(int column, PCItemIDList a, PCItemIDList b) override {
    if (IDKind(a) != ItemKind::Drive || IDKind(b) != ItemKind::Drive) return CompareFirstIDBytes(a, b);
    return CompareNames(IDPayloadText(a), IDPayloadText(b));
  }

  uint32_t ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext&) override {
    if (IDKind(id) != ItemKind::Drive) return 0;
    // A drive is never renamed, moved or deleted.
    return FolderAttributes(std::string(IDPayloadText(id)), asked);
  }

  bool ChildName(PCItemIDList id, uint32_t flags, std::string& name) override {
    if (IDKind(id) != ItemKind::Drive) return false;
    std::string mountPoint(IDPayloadText(id));
    if (flags & SHGDN_FORPARSING) {
      name = mountPoint;
      return true;
    }
    std::string label;
    if (!GetVolumeInformation(mountPoint, label) || label.empty())
      label = (IDFlags(id) & itemflag::kNetwork) ? kNetworkDriveName : kLocalDiskName;
    name = label + " (" + mountPoint + ")";
    return true;
  }

  bool ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) override {
    if (IDKind(id) != ItemKind::Drive) return false;
    std::string mountPoint(IDPayloadText(id));
    return FillFindData(mountPoint, BaseName(mountPoint), data);
  }

 private:
  bool network_;
};

// --- The desktop ----------------------------------------------------------------

const ItemKind kSpecialOrder[] = {ItemKind::Home, ItemKind::Computer, ItemKind::Network, ItemKind::RecycleBin};

int SpecialRank(ItemKind kind) {
  for (int i = 0; i < 4; ++i)
    if (kSpecialOrder[i] == kind) return i;
  return kind == ItemKind::FileEntry ? 4 : 5;
}

class DesktopEnum : public IEnumIDList {
 public:
  DesktopEnum(uint32_t flags, std::unique_ptr<IEnumIDList> own) : flags_(flags), own_(std::move(own)) {}
  bool Next(PItemIDList& id) override {
    id = nullptr;
    while (step_ < 4) {
      ItemKind kind = kSpecialOrder[step_++];
      if (flags_ & SHCONTF_FOLDERS) {
        id = MakeSpecialID(kind);
        if (id) return true;
      }
    }
    return own_ && own_->Next(id);
  }

 private:
  uint32_t flags_;
  std::unique_ptr<IEnumIDList> own_;
  int step_ = 0;
};

class DesktopFolder : public ShellFolderBase {
 public:
  DesktopFolder() : ShellFolderBase(nullptr, {}) {}

  std::string GetPath() const override { return DesktopDirectory(); }

  bool ParseDisplayName(std::string_view name, PItemIDList& list) override {
    list = nullptr;
    if (name == kComputerParse) return (list = MakeSpecialID(ItemKind::Computer)) != nullptr;
    if (name == kNetworkParse) return (list = MakeSpecialID(ItemKind::Network)) != nullptr;
    if (name == kRecycleBinParse) return (list = MakeSpecialID(ItemKind::RecycleBin)) != nullptr;
    if (name.empty()) return false;
    if (ResultsFolderKind results = CurrentResultsKind();
        !results.parsePrefix.empty() && name.substr(0, results.parsePrefix.size()) == results.parsePrefix)
      return (list = MakeResultsID(name.substr(results.parsePrefix.size()))) != nullptr;
    if (LocationFolderKind locations = CurrentLocationKind(); locations.recognises && locations.recognises(name))
      return (list = ParseLocation(name)) != nullptr;
    if (name[0] != '/') return HasOwnEntries() && OwnEntries()->ParseDisplayName(name, list);

    std::vector<std::string_view> names;
    if (!SplitPathLexically(name, names)) return false;
    std::string path;
    for (std::string_view n : names) path = JoinPath(path, n);
    if (path.empty()) path = "/";
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return ParseInsideArchive(*this, path, list);

    // The drive is the deepest mount point above the path, by name.
    MountEntry drive{"/", "", "", false};
    for (const MountEntry& e : ReadMountTable())
      if (e.mountPoint.size() >= drive.mountPoint.size() && IsBelow(path, e.mountPoint)) drive = e;
    std::vector<std::string_view> driveNames;
    SplitPathLexically(drive.mountPoint, driveNames);
    std::vector<std::string_view> rest(names.begin() + static_cast<long>(driveNames.size()), names.end());

    IDListBuilder builder;
    builder.AddOwned(MakeSpecialID(drive.network ? ItemKind::Network : ItemKind::Computer));
    builder.AddOwned(MakeDriveID(drive.mountPoint, drive.network));
    if (!AppendPathIDs(drive.mountPoint, rest, builder)) return false;
    list = builder.Finish();
    return list != nullptr;
  }

  std::unique_ptr<IEnumIDList> EnumObjects(uint32_t flags) override {
    std::unique_ptr<IEnumIDList> own;
    if (HasOwnEntries()) own = EnumerateFolder(DesktopDirectory(), flags);
    return std::make_unique<DesktopEnum>(flags, std::move(own));
  }

  void PrepareCompare(int column, PItemIDList* items, size_t count) override {
    OwnEntries()->PrepareCompare(column, items, count);
  }

 protected:
  int CompareChildren(int column, PCItemIDList a, PCItemIDList b) override {
    int ra = SpecialRank(IDKind(a)), rb = SpecialRank(IDKind(b));
    if (ra != rb) return Order(ra, rb);
    if (ra == 4) {
      bool needsStat = column == 1 || column == 3 || column == 4;
      return CompareFileEntries(column, needsStat ? DesktopDirectory() : std::string(), a, b);
    }
    return ra == 5 ? CompareFirstIDBytes(a, b) : 0;
  }

  uint32_t ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext&) override {
    switch (IDKind(id)) {
      case ItemKind::Invalid:
        if (CountIDs(id) != 0) return 0;
        return FolderAttributes(DesktopDirectory(), asked) & ~(SFGAO_CANCOPY | SFGAO_CANLINK);
      case ItemKind::Home:
        return FolderAttributes(HomeDirectory(), asked);
      case ItemKind::Computer:
      case ItemKind::Network:
        return SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSANCESTOR | SFGAO_HASPROPSHEET;
      case ItemKind::RecycleBin:
        return SFGAO_FOLDER | SFGAO_HASPROPSHEET;
      case ItemKind::Results:
        return SFGAO_FOLDER;
      case ItemKind::Location:
        // No drop target: a drop hands the file engine paths, which a URI is not.
        return SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
      case ItemKind::FileEntry: {
        uint32_t a = asked;
        return OwnEntries()->GetAttributesOf(1, &id, a) ? a : 0;
      }
      default:
        return 0;
    }
  }

  bool ChildName(PCItemIDList id, uint32_t flags, std::string& name) override {
    bool parsing = flags & SHGDN_FORPARSING;
    switch (IDKind(id)) {
      case ItemKind::Invalid:
        if (CountIDs(id) != 0) return false;
        name = parsing ? DesktopDirectory() : kDesktopName;
        return true;
      case ItemKind::Home:
        name = parsing ? HomeDirectory() : kHomeName;
        return true;
      case ItemKind::Computer:
        name = parsing ? kComputerParse : kComputerName;
        return true;
      case ItemKind::Network:
        name = parsing ? kNetworkParse : kNetworkName;
        return true;
      case ItemKind::RecycleBin:
        name = parsing ? kRecycleBinParse : kRecycleBinName;
        return true;
      case ItemKind::Results: {
        ResultsFolderKind results = CurrentResultsKind();
        if (results.parsePrefix.empty()) return false;
        std::string_view payload = IDPayloadText(id);
        name = parsing ? results.parsePrefix + std::string(payload) : results.displayName(payload);
        return true;
      }
      case ItemKind::Location:
        name = IDPayloadText(id);
        return true;
      case ItemKind::FileEntry:
        return OwnEntries()->GetDisplayNameOf(id, flags, name);
      default:
        return false;
    }
  }

  bool RenameChild(PCItemIDList id, std::string_view newName, PItemIDList* newItem) override {
    return IDKind(id) == ItemKind::FileEntry && OwnEntries()->SetNameOf(id, newName, 0, newItem);
  }

  bool ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) override {
    switch (IDKind(id)) {
      case ItemKind::Home: {
        std::string home = HomeDirectory();
        return FillFindData(home, BaseName(home), data);
      }
      case ItemKind::FileEntry:
        return OwnEntries()->GetFindData(id, data);
      default:
        return false;
    }
  }

 private:
  // The desktop lists a folder of its own only when it is not the home folder,
  // which is already on it.
  static bool HasOwnEntries() { return DesktopDirectory() != HomeDirectory(); }
  static std::unique_ptr<FileSystemFolder> OwnEntries() {
    return std::make_unique<FileSystemFolder>(nullptr, DesktopDirectory());
  }
};

std::string ReadDesktopSetting(const std::string& home) {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  std::string config = configHome && configHome[0] == '/' ? configHome : home + "/.config";
  std::ifstream in(config + "/user-dirs.dirs", std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 16, "XDG_DESKTOP_DIR=") != 0) continue;
    std::string value = line.substr(start + 16);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    std::string unescaped;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      unescaped.push_back(value[i]);
    }
    if (unescaped.compare(0, 5, "$HOME") == 0 && (unescaped.size() == 5 || unescaped[5] == '/'))
      return WithoutTrailingSlash(home + unescaped.substr(5));
    if (!unescaped.empty() && unescaped[0] == '/') return WithoutTrailingSlash(unescaped);
  }
  return {};
}

}  // namespace

// --- Factories and walkers -------------------------------------------------------

ShellFolderPtr MakeDrivesFolder(bool network) { return std::make_shared<DrivesFolder>(network); }

ShellFolderPtr BindAbsoluteIDList(PCItemIDList absolute) {
  Node node = Resolve(absolute);
  switch (node.kind) {
    case NodeKind::Desktop:
      return SHGetDesktopFolder();
    case NodeKind::Computer:
      return MakeDrivesFolder(false);
    case NodeKind::Network:
      return MakeDrivesFolder(true);
    case NodeKind::RecycleBin:
      return MakeTrashFolder();
    case NodeKind::Results: {
      ResultsFolderKind results = CurrentResultsKind();
      if (!results.bind) return nullptr;
      return results.bind(absolute, IDPayloadText(absolute));
    }
    case NodeKind::FileSystem:
      if (!node.folder) return BindArchiveRoot(absolute, node.path);
      return std::make_shared<FileSystemFolder>(IDListPtr(CopyIDList(absolute)), std::move(node.path));
    case NodeKind::Archive: {
      if (!node.folder) return BindArchiveRoot(absolute, node.FullPath());
      ArchiveFolderKind archives = CurrentArchiveKind();
      return archives.bind ? archives.bind(absolute, node.path, node.inner) : nullptr;
    }
    case NodeKind::Location: {
      LocationFolderKind locations = CurrentLocationKind();
      return node.folder && locations.bind ? locations.bind(absolute, node.path) : nullptr;
    }
    default:
      return nullptr;  // trash entries are not browsed
  }
}

void RegisterArchiveFolders(ArchiveFolderKind kind) {
  std::lock_guard lock(archiveMutex);
  archiveKind = kind.recognises && kind.bind ? std::move(kind) : ArchiveFolderKind{};
}

bool IsArchiveFolderPath(const std::string& path) {
  if (!CurrentArchiveKind().bind) return false;
  PItemIDList list = nullptr;
  if (!SHGetDesktopFolder()->ParseDisplayName(path, list)) return false;
  IDListPtr owned(list);
  Node node = Resolve(list);
  if (node.kind != NodeKind::FileSystem && node.kind != NodeKind::Archive) return false;
  return node.folder ? node.kind == NodeKind::Archive : BindAbsoluteIDList(list) != nullptr;
}

bool IsArchiveIDList(PCItemIDList absolute) {
  Node node = Resolve(absolute);
  if (node.kind == NodeKind::Archive) return true;
  ArchiveFolderKind archives = CurrentArchiveKind();
  return node.kind == NodeKind::FileSystem && !node.folder && archives.recognises && archives.recognises(node.path);
}

void RegisterLocationFolders(LocationFolderKind kind) {
  std::lock_guard lock(locationMutex);
  locationKind = kind.recognises && kind.bind ? std::move(kind) : LocationFolderKind{};
}

bool IsLocationIDList(PCItemIDList absolute) { return Resolve(absolute).kind == NodeKind::Location; }

bool IsLocationFolderPath(const std::string& path) {
  LocationFolderKind locations = CurrentLocationKind();
  return locations.recognises && locations.recognises(path);
}

void RegisterResultsFolders(ResultsFolderKind kind) {
  std::lock_guard lock(resultsMutex);
  resultsKind = kind.parsePrefix.empty() ? ResultsFolderKind{} : std::move(kind);
}

// --- Public calls ----------------------------------------------------------------

ShellFolderPtr SHGetDesktopFolder() {
  static const ShellFolderPtr desktop = std::make_shared<DesktopFolder>();
  return desktop;
}

bool SHGetSpecialFolderLocation(int csidl, PItemIDList& list) {
  list = nullptr;
  switch (csidl) {
    case CSIDL_DESKTOP:
      list = AllocIDList(2);
      break;
    case CSIDL_DRIVES:
      list = MakeSpecialID(ItemKind::Computer);
      break;
    case CSIDL_NETWORK:
      list = MakeSpecialID(ItemKind::Network);
      break;
    case CSIDL_BITBUCKET:
      list = MakeSpecialID(ItemKind::RecycleBin);
      break;
    case CSIDL_DESKTOPDIRECTORY:
      return SHGetDesktopFolder()->ParseDisplayName(DesktopDirectory(), list);
    case CSIDL_PERSONAL:
      return SHGetDesktopFolder()->ParseDisplayName(HomeDirectory(), list);
    default:
      return false;
  }
  return list != nullptr;
}

bool SHGetPathFromIDList(PCItemIDList list, std::string& path) {
  path.clear();
  Node node = Resolve(list);
  switch (node.kind) {
    case NodeKind::Desktop:
    case NodeKind::FileSystem:
    case NodeKind::TrashItem:  // the file as it lies in the trash, so that it can be copied out
      path = std::move(node.path);
      return true;
    case NodeKind::Archive:  // no file of the disk: the kernel refuses any call on it (ENOTDIR)
      path = node.FullPath();
      return true;
    case NodeKind::Location:  // its URI, which the file engine never takes for a path
      path = std::move(node.path);
      return true;
    default:
      return false;
  }
}

bool FindFirstFile(const std::string& path, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof data);
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::string p = WithoutTrailingSlash(path);
  return FillFindData(p, BaseName(p), data);
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  std::string result;
  if (home && home[0] == '/') {
    result = home;
  } else if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
    result = pw->pw_dir;
  } else {
    result = "/";
  }
  return WithoutTrailingSlash(result);
}

std::string DesktopDirectory() {
  std::string home = HomeDirectory();
  std::string setting = ReadDesktopSetting(home);
  if (!setting.empty() && IsDirectory(setting)) return setting;
  std::string fallback = JoinPath(home, "Desktop");
  if (IsDirectory(fallback)) return fallback;
  return home;
}

std::string HomeTrashDirectory() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  std::string data =
      dataHome && dataHome[0] == '/' ? WithoutTrailingSlash(dataHome) : JoinPath(HomeDirectory(), ".local/share");
  return JoinPath(data, "Trash/files");
}
