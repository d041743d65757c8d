#include "archive/ArchiveListing.h"

#include <sys/stat.h>

#include <list>
#include <mutex>

#include "archive/ArchiveFile.h"
#include "platform/system/FileKind.h"

namespace {

// A file's identity and version: a listing stays good while all of these do.
struct FileVersion {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  int64_t ctimeNs = 0;
  bool operator==(const FileVersion&) const = default;
};

struct CachedListing {
  std::string path;
  FileVersion version;
  std::shared_ptr<const ArchiveListing> listing;
};

// A few archives at a time: moving about inside them never reads them again.
constexpr size_t kCachedArchives = 4;
std::mutex cacheMutex;
std::list<CachedListing> cache;  // most recent first
// One reading at a time: the libraries keep one state per process.
std::mutex readMutex;

bool VersionOf(const std::string& path, FileVersion& version) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  version = {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
             st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
  return true;
}

std::shared_ptr<const ArchiveListing> Cached(const std::string& path, const FileVersion& version) {
  std::lock_guard lock(cacheMutex);
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if (it->path != path) continue;
    if (!(it->version == version)) {
      cache.erase(it);
      return nullptr;
    }
    cache.splice(cache.begin(), cache, it);
    return cache.front().listing;
  }
  return nullptr;
}

void Keep(const std::string& path, const FileVersion& version, std::shared_ptr<const ArchiveListing> listing) {
  std::lock_guard lock(cacheMutex);
  cache.remove_if([&](const CachedListing& c) { return c.path == path; });
  cache.push_front({path, version, std::move(listing)});
  if (cache.size() > kCachedArchives) cache.pop_back();
}

uint32_t ModeOf(const char* attribute, bool folder) {
  if (folder) return S_IFDIR | 0755;
  if (attribute[0] == 'l') return S_IFLNK | 0777;
  return S_IFREG | (attribute[1] == 'r' ? 0444 : 0644);
}

// Whatever leaves the listing, the archive is closed again.
struct OpenHandle {
  TArchiveFile& file;
  ~OpenHandle() {
    if (file.ArchiveHandle) file.Archiver()->CloseArchive(file.ArchiveHandle);
    file.ArchiveHandle = nullptr;
  }
};

std::shared_ptr<const ArchiveListing> ReadThroughLibrary(const std::string& path, const FileVersion& version,
                                                         std::string& error) {
  auto listing = std::make_shared<ArchiveListing>();
  listing->Identity.device = version.device;
  listing->Identity.inode = version.inode;
  listing->Identity.size = version.size;
  listing->Identity.mtimeNs = version.mtimeNs;
  TArchiveFile file;
  file.SetFileName(path);
  if (!file.Archiver()) {
    error = "書庫の形式を判別できません: " + path;
    return nullptr;
  }
  file.ArchiveHandle = file.Archiver()->OpenArchive(nullptr, path, 0);
  OpenHandle closer{file};
  if (!file.ArchiveHandle) {
    error = "書庫を開けませんでした: " + path;
    return nullptr;
  }
  TArchiveEntryInfo info{};
  for (int r = file.FindFirst("*", &info); r == 0; r = file.FindNext(&info)) {
    const bool folder = info.Info.szAttribute[0] == 'd';
    FileStat stat;
    const int64_t size = info.OriginalSize;  // a copy: the record is packed
    stat.size = folder || size < 0 ? 0 : static_cast<uint64_t>(size);
    stat.mtime = (static_cast<uint64_t>(info.LastWriteTime.dwHighDateTime) << 32) | info.LastWriteTime.dwLowDateTime;
    stat.mode = ModeOf(info.Info.szAttribute, folder);
    listing->Add(info.Info.szFileName, folder, stat);
  }
  return listing;
}

}  // namespace

std::string CleanEntryName(std::string_view stored) {
  std::string clean;
  if (stored.empty() || stored[0] == '/') return clean;
  size_t i = 0;
  while (i <= stored.size()) {
    size_t end = stored.find('/', i);
    if (end == std::string_view::npos) end = stored.size();
    std::string_view part = stored.substr(i, end - i);
    i = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." || part.find('\0') != std::string_view::npos) return {};
    if (!clean.empty()) clean.push_back('/');
    clean.append(part);
  }
  return clean;
}

ArchiveListing::Folder& ArchiveListing::FolderAt(const std::string& path) {
  auto found = folders_.find(path);
  if (found != folders_.end()) return found->second;
  if (!path.empty()) {
    // The folder is a child of its parent, made there when the archive has no entry of it.
    size_t slash = path.rfind('/');
    std::string parent = slash == std::string::npos ? std::string() : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    Folder& up = FolderAt(parent);
    if (!up.index.count(name)) {
      up.index.emplace(name, up.children.size());
      up.children.push_back({name, true, FileStat{0, 0, S_IFDIR | 0755}});
    }
  }
  return folders_[path];
}

void ArchiveListing::Add(const std::string& storedName, bool folder, const FileStat& stat) {
  std::string clean = CleanEntryName(storedName);
  if (clean.empty()) {
    // "./" alone is the archive's own root; anything else leads outside.
    if (CleanEntryName("x/" + storedName) != "x") ++refused_;
    return;
  }
  stored_.emplace_back(clean, storedName);
  size_t slash = clean.rfind('/');
  std::string parent = slash == std::string::npos ? std::string() : clean.substr(0, slash);
  std::string name = slash == std::string::npos ? clean : clean.substr(slash + 1);
  Folder& holder = FolderAt(parent);
  auto known = holder.index.find(name);
  if (known != holder.index.end()) {
    // A folder met first as a path, then stored: its own record wins.
    ArchiveListingEntry& entry = holder.children[known->second];
    if (entry.folder == folder) entry.stat = stat;
    if (folder) FolderAt(clean);
    return;
  }
  holder.index.emplace(name, holder.children.size());
  holder.children.push_back({name, folder, stat});
  if (folder) FolderAt(clean);
}

const std::vector<ArchiveListingEntry>* ArchiveListing::Children(std::string_view folder) const {
  auto found = folders_.find(std::string(folder));
  return found == folders_.end() ? nullptr : &found->second.children;
}

const ArchiveListingEntry* ArchiveListing::Find(std::string_view path) const {
  size_t slash = path.rfind('/');
  std::string parent(slash == std::string_view::npos ? std::string_view() : path.substr(0, slash));
  std::string name(slash == std::string_view::npos ? path : path.substr(slash + 1));
  auto folder = folders_.find(parent);
  if (folder == folders_.end()) return nullptr;
  auto known = folder->second.index.find(name);
  return known == folder->second.index.end() ? nullptr : &folder->second.children[known->second];
}

std::vector<std::string> ArchiveListing::StoredNamesBelow(std::string_view path) const {
  std::vector<std::string> names;
  for (const auto& [clean, stored] : stored_)
    if (clean == path ||
        (clean.size() > path.size() && clean.compare(0, path.size(), path) == 0 && clean[path.size()] == '/'))
      names.push_back(stored);
  return names;
}

bool IsListableArchiveName(const std::string& path) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string ext = path.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  // A self-extracting program is a program first: Enter runs it.
  if (ext == ".exe") return false;
  switch (DetectArchiverType(path, true)) {
    case atLha:
    case atZip:
    case atCab:
    case atTar:
    case atTgz:
    case atBZ2:
    case atRar:
    case at7z:
      return true;
    default:
      return false;
  }
}

std::shared_ptr<const ArchiveListing> ReadArchiveListing(const std::string& path, std::string& error) {
  error.clear();
  // A FIFO or a device named like an archive would hold the reader in open() for good.
  if (CheckRegularFile(path) != 0) {
    error = "通常のファイルではないため書庫として開けません: " + path;
    return nullptr;
  }
  FileVersion version;
  if (!VersionOf(path, version)) {
    error = "書庫を開けませんでした: " + path;
    return nullptr;
  }
  if (auto listing = Cached(path, version)) return listing;
  std::lock_guard lock(readMutex);
  if (auto listing = Cached(path, version)) return listing;  // read meanwhile by another thread
  std::shared_ptr<const ArchiveListing> listing;
  try {
    listing = ReadThroughLibrary(path, version, error);
  } catch (const std::exception& e) {
    error = e.what();
    return nullptr;
  }
  // Changed while it was read: the next look reads it again.
  FileVersion after;
  if (listing && VersionOf(path, after) && after == version) Keep(path, version, listing);
  return listing;
}
