#include "platform/namespace/TrashFolder.h"
#include "platform/namespace/PathText.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <utility>

#include "platform/namespace/Drives.h"
#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/NameCompare.h"

namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";

// The trash folder and the entry's name, when path lies directly in a files/ folder.
bool SplitTrashPath(const std::string& pathInTrash, std::string& root, std::string& name) {
  std::string files = DirName(pathInTrash);
  if (files.size() < 7 || files.compare(files.size() - 6, 6, "/files") != 0) return false;
  root = files.substr(0, files.size() - 6);
  name = BaseName(pathInTrash);
  return IsValidChildName(name);
}

uint8_t EntryFlags(const std::string& path, const struct stat& st) {
  uint8_t flags = 0;
  if (S_ISDIR(st.st_mode)) flags = itemflag::kFolder;
  if (S_ISLNK(st.st_mode)) {
    flags = itemflag::kLink;
    struct stat target;
    if (stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) flags |= itemflag::kFolder;
  }
  if (BaseName(path)[0] == '.') flags |= itemflag::kHidden;
  return flags;
}

class TrashEnum : public IEnumIDList {
 public:
  explicit TrashEnum(std::vector<std::pair<std::string, uint8_t>> entries) : entries_(std::move(entries)) {}
  bool Next(PItemIDList& id) override {
    id = nullptr;
    while (next_ < entries_.size()) {
      const auto& [path, flags] = entries_[next_++];
      id = MakeTrashEntryID(path, flags);
      if (id) return true;
    }
    return false;
  }

 private:
  std::vector<std::pair<std::string, uint8_t>> entries_;
  size_t next_ = 0;
};

}  // namespace

std::string HomeTrashFolder() {
  std::string home = DirName(HomeTrashDirectory());
  struct stat link, target, parent;
  if (lstat(home.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return home;
  if (stat(home.c_str(), &target) != 0 || !S_ISDIR(target.st_mode) || target.st_uid != getuid() ||
      stat(DirName(home).c_str(), &parent) != 0 || parent.st_dev != target.st_dev)
    return home;
  char real[PATH_MAX];
  if (!realpath(home.c_str(), real)) return home;
  return real;
}

bool IsUsableTopTrash(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 022) == 0;
}

std::vector<std::string> TrashDirectories() {
  std::vector<std::string> dirs;
  std::set<std::pair<dev_t, ino_t>> seen;
  std::string home = HomeTrashFolder();
  struct stat st;
  // A home trash that is still a link leads somewhere we did not agree to.
  if (lstat(home.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) dirs.push_back(home);
  if (lstat(home.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) seen.insert({st.st_dev, st.st_ino});
  auto add = [&](const std::string& path) {
    if (IsUsableTopTrash(path) && lstat(path.c_str(), &st) == 0 && seen.insert({st.st_dev, st.st_ino}).second)
      dirs.push_back(path);
  };
  std::string uid = std::to_string(getuid());
  for (const MountEntry& e : ReadMountTable()) {
    if (e.network) continue;  // a slow server must not stall the listing
    // The shared .Trash counts only when it is a real sticky folder.
    std::string shared = JoinPath(e.mountPoint, ".Trash");
    if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) add(JoinPath(shared, uid));
    add(JoinPath(e.mountPoint, ".Trash-" + uid));
  }
  return dirs;
}

bool ReadTrashInfo(const std::string& pathInTrash, std::string& originalPath, std::string& deletionDate) {
  originalPath.clear();
  deletionDate.clear();
  std::string root, name;
  if (!SplitTrashPath(pathInTrash, root, name)) return false;
  std::ifstream in(root + "/info/" + name + std::string(kInfoSuffix), std::ios::binary);
  if (!in) return false;
  std::string line;
  bool inSection = false, found = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inSection = line == "[Trash Info]";
      continue;
    }
    if (!inSection) continue;
    if (line.compare(0, 5, "Path=") == 0) {
      originalPath = PercentDecode(std::string_view(line).substr(5));
      found = true;
    } else if (line.compare(0, 13, "DeletionDate=") == 0) {
      deletionDate = line.substr(13);
    }
  }
  if (!found || originalPath.empty()) return false;
  if (originalPath[0] != '/') {
    // A drive's trash records paths relative to the drive's top folder.
    std::string top = DirName(root);
    if (BaseName(top) == ".Trash") top = DirName(top);
    originalPath = JoinPath(top, originalPath);
  }
  return true;
}

// --- TrashFolder -----------------------------------------------------------------

ShellFolderPtr MakeTrashFolder() { return std::make_shared<TrashFolder>(); }

TrashFolder::TrashFolder() : ShellFolderBase(IDListPtr(MakeSpecialID(ItemKind::RecycleBin)), {}) {}

bool TrashFolder::ParseDisplayName(std::string_view name, PItemIDList& list) {
  list = nullptr;
  std::string path(name), root, base;
  struct stat st;
  if (path.find('\0') != std::string::npos || !SplitTrashPath(path, root, base) || lstat(path.c_str(), &st) != 0)
    return false;
  std::string original, date;
  if (!ReadTrashInfo(path, original, date)) return false;
  list = MakeTrashEntryID(path, EntryFlags(path, st));
  return list != nullptr;
}

std::unique_ptr<IEnumIDList> TrashFolder::EnumObjects(uint32_t flags) {
  std::vector<std::pair<std::string, uint8_t>> entries;
  // Entries are not browsed, so all of them count as non-folders.
  if (flags & SHCONTF_NONFOLDERS) {
    for (const std::string& root : TrashDirectories()) {
      DIR* dir = opendir((root + "/info").c_str());
      if (!dir) continue;
      while (dirent* d = readdir(dir)) {
        std::string_view info = d->d_name;
        if (info.size() <= kInfoSuffix.size() || info.substr(info.size() - kInfoSuffix.size()) != kInfoSuffix) continue;
        std::string name(info.substr(0, info.size() - kInfoSuffix.size()));
        if (name[0] == '.' && !(flags & SHCONTF_INCLUDEHIDDEN)) continue;
        std::string path = root + "/files/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;  // a record without its file
        entries.emplace_back(path, EntryFlags(path, st));
      }
      closedir(dir);
    }
  }
  return std::make_unique<TrashEnum>(std::move(entries));
}

const TrashFolder::EntryInfo& TrashFolder::Info(PCItemIDList id) {
  std::string_view path = IDPayloadText(id);
  auto it = cache_.find(path);
  if (it != cache_.end()) return it->second;
  EntryInfo info;
  std::string p(path), original, date;
  info.name = ReadTrashInfo(p, original, date) ? BaseName(original) : BaseName(p);
  if (info.name.empty()) info.name = BaseName(p);
  struct stat st;
  if (lstat(p.c_str(), &st) == 0) {
    info.stat.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    info.stat.mtime = FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
    info.stat.mode = st.st_mode;
  }
  return cache_.emplace(std::move(p), std::move(info)).first->second;
}

int TrashFolder::CompareChildren(int column, PCItemIDList a, PCItemIDList b) {
  if (IDKind(a) != ItemKind::TrashEntry || IDKind(b) != ItemKind::TrashEntry)
    return Order(static_cast<int>(IDKind(a)), static_cast<int>(IDKind(b)));
  bool folderA = IDFlags(a) & itemflag::kFolder, folderB = IDFlags(b) & itemflag::kFolder;
  if (folderA != folderB) return folderA ? -1 : 1;
  const EntryInfo& x = Info(a);
  const EntryInfo& y = Info(b);
  int r = 0;
  switch (column) {
    case 1:
      r = folderA ? 0 : Order(x.stat.size, y.stat.size);
      break;
    case 2:
      r = folderA ? 0 : CompareNamesFolded(NameExtension(x.name), NameExtension(y.name));
      break;
    case 3:
      r = Order(x.stat.mtime, y.stat.mtime);
      break;
    case 4:
      r = Order(FindAttributesOf(x.stat.mode, folderA, IDFlags(a) & itemflag::kHidden),
                FindAttributesOf(y.stat.mode, folderB, IDFlags(b) & itemflag::kHidden));
      break;
    default:
      break;
  }
  if (!r) r = CompareNames(x.name, y.name);
  // Two files deleted under the same name differ in their trash paths.
  return r ? r : CompareNames(IDPayloadText(a), IDPayloadText(b));
}

uint32_t TrashFolder::ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext&) {
  if (IDKind(id) != ItemKind::TrashEntry) return 0;
  uint8_t flags = IDFlags(id);
  uint32_t a = SFGAO_CANCOPY | SFGAO_HASPROPSHEET;
  if (flags & itemflag::kLink) a |= SFGAO_LINK;
  if (flags & itemflag::kHidden) a |= SFGAO_HIDDEN;
  return a;
}

bool TrashFolder::ChildName(PCItemIDList id, uint32_t flags, std::string& name) {
  if (IDKind(id) != ItemKind::TrashEntry) return false;
  std::string_view path = IDPayloadText(id);
  if (flags & SHGDN_FORPARSING)
    name = (flags & SHGDN_INFOLDER) ? BaseName(path) : std::string(path);
  else
    name = Info(id).name;
  return true;
}

bool TrashFolder::ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) {
  if (IDKind(id) != ItemKind::TrashEntry) return false;
  return FillFindData(std::string(IDPayloadText(id)), Info(id).name, data);
}
