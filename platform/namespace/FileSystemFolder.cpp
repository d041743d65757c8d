#include "platform/namespace/FileSystemFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/namespace/DirentReader.h"
#include "platform/namespace/NameCompare.h"
#include "platform/system/UniqueFd.h"

namespace {

// The ID flags of an entry of the folder dirfd from its dirent type: a link
// is a folder when its target is one.
uint8_t EntryFlags(int dirfd, const char* name, unsigned char type) {
  if (type == DT_DIR) return itemflag::kFolder;
  if (type != DT_LNK) return 0;
  struct stat st;
  return itemflag::kLink | (fstatat(dirfd, name, &st, 0) == 0 && S_ISDIR(st.st_mode) ? itemflag::kFolder : 0);
}

bool Wanted(uint32_t enumFlags, uint8_t flags) {
  return enumFlags & ((flags & itemflag::kFolder) ? SHCONTF_FOLDERS : SHCONTF_NONFOLDERS);
}

// Walks a folder and stats nothing but links and entries of unknown type: a
// listing of 100,000 names must not cost 100,000 stats.
class FolderEnum : public IEnumIDList {
 public:
  FolderEnum(UniqueFd fd, uint32_t flags) : fd_(std::move(fd)), flags_(flags), reader_(fd_.Get()) {}

  bool Next(PItemIDList& id) override {
    id = nullptr;
    const char* name;
    unsigned char type;
    while (reader_.Next(name, type)) {
      if (name[0] == '.' && !(flags_ & SHCONTF_INCLUDEHIDDEN)) continue;
      struct stat st;
      if (type == DT_UNKNOWN && fstatat(fd_.Get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0)
        type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
      const uint8_t flags = EntryFlags(fd_.Get(), name, type);
      if (!Wanted(flags_, flags)) continue;
      id = MakeFileEntryID(name, flags, nullptr);
      if (id) return true;
    }
    return false;
  }

 private:
  UniqueFd fd_;
  uint32_t flags_;
  DirentReader reader_;
};

// Stat data of a FileEntry, from the ID or else from the disk, then kept in
// the ID. An entry that is gone sorts as an empty file.
FileStat EntryStat(const std::string& dir, PCItemIDList id) {
  FileStat fs;
  if (IDFileStat(id, fs)) return fs;
  std::string_view name = IDPayloadText(id);
  char path[PATH_MAX + 512];
  if (dir.size() + name.size() + 2 <= sizeof path) {
    size_t n = dir.size();
    std::memcpy(path, dir.data(), n);
    if (n == 0 || path[n - 1] != '/') path[n++] = '/';
    std::memcpy(path + n, name.data(), name.size());
    path[n + name.size()] = 0;
    struct stat st;
    if (lstat(path, &st) == 0) fs = ToFileStat(st);
  }
  SetIDFileStat(const_cast<PItemIDList>(id), fs);
  return fs;
}

bool SameFile(int dirfd, const char* a, const char* b) {
  struct stat sa, sb;
  return fstatat(dirfd, a, &sa, AT_SYMLINK_NOFOLLOW) == 0 && fstatat(dirfd, b, &sb, AT_SYMLINK_NOFOLLOW) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool RenameAt(int dirfd, const std::string& from, const std::string& to) {
  return renameat2(dirfd, from.c_str(), dirfd, to.c_str(), RENAME_NOREPLACE) == 0;
}

void FillFindRecord(std::string_view name, uint32_t mode, bool folder, uint64_t mtime, uint64_t atime, uint64_t created,
                    uint64_t size, WIN32_FIND_DATAA& data);
}  // namespace

FileStat ToFileStat(const struct stat& st) {
  FileStat fs;
  fs.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  fs.mtime = FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
  fs.mode = st.st_mode;
  return fs;
}

// --- FileSystemFolder ----------------------------------------------------------

FileSystemFolder::FileSystemFolder(IDListPtr absolute, std::string path)
    : ShellFolderBase(std::move(absolute), std::move(path)) {}

bool FileSystemFolder::ParseDisplayName(std::string_view name, PItemIDList& list) {
  list = nullptr;
  std::vector<std::string_view> names;
  if (name.empty() || name[0] == '/' || !SplitPathLexically(name, names) || names.empty()) return false;
  IDListBuilder builder;
  if (!AppendPathIDs(path_, names, builder)) return false;
  list = builder.Finish();
  return list != nullptr;
}

std::unique_ptr<IEnumIDList> FileSystemFolder::EnumObjects(uint32_t flags) { return EnumerateFolder(path_, flags); }

void FileSystemFolder::PrepareCompare(int column, PItemIDList* items, size_t count) {
  if ((column != 1 && column != 3 && column != 4) || !items || count == 0) return;
  UniqueFd folder(open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return;
  const int dirfd = folder.Get();
  auto work = [&](size_t from, size_t to) {
    char name[256];
    for (size_t i = from; i < to; ++i) {
      PItemIDList id = items[i];
      if (IDKind(id) != ItemKind::FileEntry || NextID(id)) continue;
      uint8_t flags = IDFlags(id);
      // A folder's size is never compared. Data already in the ID is read
      // again: the file may have changed since, and a sort must see it now.
      if (column == 1 && (flags & itemflag::kFolder)) continue;
      std::string_view text = IDPayloadText(id);
      if (text.size() >= sizeof name) continue;
      std::memcpy(name, text.data(), text.size());
      name[text.size()] = 0;
      struct stat st;
      FileStat fs;
      if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) fs = ToFileStat(st);
      SetIDFileStat(id, fs);
    }
  };
  // The stats dominate; two threads halve the wait on a large folder.
  bool split = count > 2000;
  std::thread helper;
  if (split) {
    try {
      helper = std::thread(work, count / 2, count);
    } catch (const std::system_error&) {
      split = false;
    }
  }
  work(0, split ? count / 2 : count);
  if (helper.joinable()) helper.join();
}

int FileSystemFolder::CompareChildren(int column, PCItemIDList a, PCItemIDList b) {
  return CompareFileEntries(column, path_, a, b);
}

uint32_t FileSystemFolder::ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext& context) {
  if (IDKind(id) != ItemKind::FileEntry) return 0;
  uint8_t flags = IDFlags(id);
  bool folder = flags & itemflag::kFolder;
  uint32_t a = SFGAO_FILESYSTEM | SFGAO_CANCOPY | SFGAO_CANLINK | SFGAO_HASPROPSHEET;
  if (folder) a |= SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_FILESYSANCESTOR;
  if (flags & itemflag::kLink) a |= SFGAO_LINK;
  if (flags & itemflag::kHidden) a |= SFGAO_HIDDEN;
  if (asked & (SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE)) {
    // Moving, renaming and deleting change the parent folder, not the item.
    if (context.parentWritable < 0) context.parentWritable = access(path_.c_str(), W_OK) == 0;
    if (context.parentWritable) a |= SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE;
  }
  if (asked & (SFGAO_DROPTARGET | SFGAO_READONLY)) {
    std::string path = JoinPath(path_, IDPayloadText(id));
    if (folder && (asked & SFGAO_DROPTARGET) && access(path.c_str(), W_OK) == 0) a |= SFGAO_DROPTARGET;
    struct stat st;
    if ((asked & SFGAO_READONLY) && lstat(path.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR)) a |= SFGAO_READONLY;
  }
  return a;
}

bool FileSystemFolder::ChildName(PCItemIDList id, uint32_t flags, std::string& name) {
  if (IDKind(id) != ItemKind::FileEntry) return false;
  std::string_view text = IDPayloadText(id);
  if ((flags & SHGDN_FORPARSING) && !(flags & SHGDN_INFOLDER))
    name = JoinPath(path_, text);
  else
    name.assign(text);
  return true;
}

bool FileSystemFolder::RenameChild(PCItemIDList id, std::string_view newName, PItemIDList* newItem) {
  if (IDKind(id) != ItemKind::FileEntry) return false;
  if (!RenameNoReplace(path_, IDPayloadText(id), newName)) return false;
  if (newItem) {
    uint8_t flags = IDFlags(id) & ~(itemflag::kStatValid | itemflag::kHidden);
    *newItem = MakeFileEntryID(newName, flags, nullptr);
  }
  return true;
}

bool FileSystemFolder::ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) {
  if (IDKind(id) != ItemKind::FileEntry) return false;
  std::string_view name = IDPayloadText(id);
  // A server's entry keeps what its listing said: a stat per painted row
  // through FUSE would wait on the server from the window's thread.
  if (FileStat stat; (IDFlags(id) & itemflag::kNetwork) && IDFileStat(id, stat)) {
    FillFindRecord(name, stat.mode, IDFlags(id) & itemflag::kFolder, stat.mtime, stat.mtime, stat.mtime, stat.size,
                   data);
    return true;
  }
  return FillFindData(JoinPath(path_, name), name, data);
}

// --- Shared helpers ------------------------------------------------------------

namespace {
FolderLister& Lister() {
  static FolderLister lister;
  return lister;
}
}  // namespace

void SetFolderLister(FolderLister lister) { Lister() = std::move(lister); }

std::unique_ptr<IEnumIDList> EnumerateFolder(const std::string& path, uint32_t flags, const std::atomic<bool>* stop) {
  if (Lister())
    if (std::unique_ptr<IEnumIDList> listed = Lister()(path, flags, stop)) return listed;
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return nullptr;
  return std::make_unique<FolderEnum>(std::move(fd), flags);
}

PItemIDList MakeEntryIDAt(int dirfd, const char* name, uint32_t flags) {
  if (name[0] == '.' && !(flags & SHCONTF_INCLUDEHIDDEN)) return nullptr;
  if (!IsValidChildName(name)) return nullptr;
  struct stat st;
  if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return nullptr;
  const unsigned char type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
  const uint8_t idFlags = EntryFlags(dirfd, name, type);
  if (!Wanted(flags, idFlags)) return nullptr;
  const FileStat fs = ToFileStat(st);
  return MakeFileEntryID(name, idFlags, &fs);
}

bool AppendPathIDs(std::string base, const std::vector<std::string_view>& names, IDListBuilder& builder) {
  for (size_t k = 0; k < names.size(); ++k) {
    std::string_view name = names[k];
    if (!IsValidChildName(name)) return false;
    base = JoinPath(base, name);
    struct stat st;
    if (lstat(base.c_str(), &st) != 0) return false;
    uint8_t flags = 0;
    if (S_ISDIR(st.st_mode)) {
      flags = itemflag::kFolder;
    } else if (S_ISLNK(st.st_mode)) {
      flags = itemflag::kLink;
      struct stat target;
      if (stat(base.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) flags |= itemflag::kFolder;
    }
    if (k + 1 < names.size() && !(flags & itemflag::kFolder)) return false;
    if (!builder.AddOwned(MakeFileEntryID(name, flags, nullptr))) return false;
  }
  return true;
}

int CompareFileEntries(int column, const std::string& dir, PCItemIDList a, PCItemIDList b) {
  ItemKind ka = IDKind(a), kb = IDKind(b);
  if (ka != ItemKind::FileEntry || kb != ItemKind::FileEntry)
    return ka != kb ? Order(static_cast<int>(ka), static_cast<int>(kb)) : CompareFirstIDBytes(a, b);
  uint8_t fa = IDFlags(a), fb = IDFlags(b);
  bool folderA = fa & itemflag::kFolder, folderB = fb & itemflag::kFolder;
  if (folderA != folderB) return folderA ? -1 : 1;
  std::string_view nameA = IDPayloadText(a), nameB = IDPayloadText(b);
  int r = 0;
  switch (column) {
    case 1:
      if (!folderA) r = Order(EntryStat(dir, a).size, EntryStat(dir, b).size);
      break;
    case 2:
      // The type name stands in as the extension: same extension, same type.
      if (!folderA) r = CompareNamesFolded(NameExtension(nameA), NameExtension(nameB));
      break;
    case 3:
      r = Order(EntryStat(dir, a).mtime, EntryStat(dir, b).mtime);
      break;
    case 4:
      r = Order(FindAttributesOf(EntryStat(dir, a).mode, folderA, fa & itemflag::kHidden),
                FindAttributesOf(EntryStat(dir, b).mode, folderB, fb & itemflag::kHidden));
      break;
    default:
      break;
  }
  return r ? r : CompareNames(nameA, nameB);
}

uint32_t FindAttributesOf(uint32_t mode, bool folder, bool hidden) {
  uint32_t a = 0;
  if (folder) a |= FILE_ATTRIBUTE_DIRECTORY;
  if (mode && !(mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
  if (hidden) a |= FILE_ATTRIBUTE_HIDDEN;
  if (S_ISREG(mode)) a |= FILE_ATTRIBUTE_ARCHIVE;
  if (S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode) || S_ISFIFO(mode)) a |= FILE_ATTRIBUTE_SYSTEM;
  if (S_ISLNK(mode)) a |= FILE_ATTRIBUTE_REPARSE_POINT;
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

namespace {
// The record of name from what is known of it.
void FillFindRecord(std::string_view name, uint32_t mode, bool folder, uint64_t mtime, uint64_t atime, uint64_t created,
                    uint64_t size, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = FindAttributesOf(mode, folder, !name.empty() && name[0] == '.');
  data.ftLastWriteTime = ToFileTime(mtime);
  data.ftLastAccessTime = ToFileTime(atime);
  data.ftCreationTime = ToFileTime(created);
  if (folder) size = 0;
  data.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
  data.nFileSizeLow = static_cast<uint32_t>(size & 0xFFFFFFFFu);
  data.dwReserved0 = mode;
  // Cut a name too long for the record at a character boundary.
  size_t n = std::min(name.size(), sizeof data.cFileName - 1);
  for (int back = 0; n < name.size() && back < 3 && n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80;
       ++back)
    --n;
  std::memcpy(data.cFileName, name.data(), n);
  data.cFileName[n] = 0;
}
}  // namespace

bool FillFindData(const std::string& path, std::string_view name, WIN32_FIND_DATAA& data) {
  std::memset(&data, 0, sizeof data);
  struct statx sx;
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
  bool folder = S_ISDIR(sx.stx_mode);
  if (S_ISLNK(sx.stx_mode)) {
    struct stat target;
    folder = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  }
  auto time = [](const statx_timestamp& t) { return FileTimeFromUnix(t.tv_sec, t.tv_nsec); };
  FillFindRecord(name, sx.stx_mode, folder, time(sx.stx_mtime), time(sx.stx_atime),
                 (sx.stx_mask & STATX_BTIME) ? time(sx.stx_btime) : time(sx.stx_mtime), sx.stx_size, data);
  return true;
}

bool RenameNoReplace(const std::string& dir, std::string_view oldName, std::string_view newName) {
  if (!IsValidChildName(oldName) || !IsValidChildName(newName)) return false;
  if (oldName == newName) return true;
  UniqueFd folder(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return false;
  const int dirfd = folder.Get();
  std::string from(oldName), to(newName);
  bool ok = RenameAt(dirfd, from, to);
  if (!ok && (errno == EINVAL || errno == ENOSYS)) {
    // No RENAME_NOREPLACE on this file system: a hard link cannot replace
    // anything either. Folders cannot be linked, so they are not renamed.
    struct stat st;
    if (fstatat(dirfd, from.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode) &&
        linkat(dirfd, from.c_str(), dirfd, to.c_str(), 0) == 0) {
      ok = unlinkat(dirfd, from.c_str(), 0) == 0;
      if (!ok) unlinkat(dirfd, to.c_str(), 0);
    }
  } else if (!ok && errno == EEXIST && SameFile(dirfd, from.c_str(), to.c_str())) {
    // Only the letter case changes on a file system that ignores it: go by
    // way of a free name.
    std::string temp = ".tolvane-rename-" + std::to_string(getpid());
    if (RenameAt(dirfd, from, temp)) {
      ok = RenameAt(dirfd, temp, to);
      if (!ok) RenameAt(dirfd, temp, from);
    }
  }
  return ok;
}
