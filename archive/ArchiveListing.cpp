#include "archive/ArchiveListing.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "archive/ArchiveFile.h"
#include "platform/system/FileKind.h"

namespace {

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

// One record of the library, kept until the next hand-over to the listing.
struct Record {
  std::string name;
  bool folder;
  FileStat stat;
};

// Reads the records through the library, handing them over in batches (the
// first at once, so that a folder shows rows early); false with the message
// when the archive cannot be opened. Stops when cancel is set.
bool ReadThroughLibrary(const std::string& path, std::string& error, const std::atomic<bool>& cancel,
                        const std::function<void(std::vector<Record>&)>& handOver) {
  TArchiveFile file;
  file.SetFileName(path);
  if (!file.Archiver()) {
    error = "書庫の形式を判別できません: " + path;
    return false;
  }
  file.ArchiveHandle = file.Archiver()->OpenArchive(nullptr, path, 0);
  OpenHandle closer{file};
  if (!file.ArchiveHandle) {
    error = "書庫を開けませんでした: " + path;
    return false;
  }
  std::vector<Record> batch;
  auto last = std::chrono::steady_clock::now();
  bool first = true;
  TArchiveEntryInfo info{};
  for (int r = file.FindFirst("*", &info); r == 0 && !cancel; r = file.FindNext(&info)) {
    const bool folder = info.Info.szAttribute[0] == 'd';
    FileStat stat;
    const int64_t size = info.OriginalSize;  // a copy: the record is packed
    stat.size = folder || size < 0 ? 0 : static_cast<uint64_t>(size);
    stat.mtime = (static_cast<uint64_t>(info.LastWriteTime.dwHighDateTime) << 32) | info.LastWriteTime.dwLowDateTime;
    stat.mode = ModeOf(info.Info.szAttribute, folder);
    batch.push_back({info.Info.szFileName, folder, stat});
    if (first || batch.size() >= 4096 || std::chrono::steady_clock::now() - last > std::chrono::milliseconds(30)) {
      handOver(batch);
      batch.clear();
      first = false;
      last = std::chrono::steady_clock::now();
    }
  }
  handOver(batch);
  return true;
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

struct ArchiveListingReading::State {
  std::string path;
  FileVersion version;
  std::mutex lock;
  std::condition_variable grew;
  std::shared_ptr<ArchiveListing> listing = std::make_shared<ArchiveListing>();
  bool opened = false;
  bool over = false;
  bool failed = false;
  std::string error;
  std::atomic<bool> cancel{false};
};

namespace {

// Readings under way, to be joined by whoever asks for the same file meanwhile.
std::list<std::weak_ptr<ArchiveListingReading>> underWay;  // guarded by cacheMutex
// Reader threads still running: the libraries must not be left mid-call at exit.
std::mutex runningMutex;
std::condition_variable runningChanged;
int running = 0;
std::vector<std::weak_ptr<ArchiveListingReading::State>> runningStates;  // guarded by runningMutex

struct StopReadersAtExit {
  ~StopReadersAtExit() {
    std::unique_lock lock(runningMutex);
    for (auto& weak : runningStates)
      if (auto state = weak.lock()) state->cancel = true;
    runningChanged.wait_for(lock, std::chrono::seconds(5), [] { return running == 0; });
  }
} stopReadersAtExit;

void ReadOnThread(std::shared_ptr<ArchiveListingReading::State> s) {
  std::string error;
  bool ok = false;
  {
    std::lock_guard reading(readMutex);
    if (!s->cancel) {
      try {
        ok = ReadThroughLibrary(s->path, error, s->cancel, [&](std::vector<Record>& batch) {
          std::lock_guard lock(s->lock);
          for (const Record& r : batch) s->listing->Add(r.name, r.folder, r.stat);
          s->opened = true;
          s->grew.notify_all();
        });
      } catch (const std::exception& e) {
        error = e.what();
      }
    }
  }
  const bool complete = ok && !s->cancel;
  // Changed while it was read: the next look reads it again.
  FileVersion after;
  if (complete && ReadFileVersion(s->path, after) && after == s->version) Keep(s->path, s->version, s->listing);
  {
    std::lock_guard lock(s->lock);
    s->over = true;
    s->failed = !complete;
    s->error = s->cancel ? "中止しました。" : error;
    s->grew.notify_all();
  }
  std::lock_guard lock(runningMutex);
  --running;
  runningChanged.notify_all();
}

}  // namespace

ArchiveListingReading::~ArchiveListingReading() { state_->cancel = true; }

bool ArchiveListingReading::TakeChildren(const std::string& folder, size_t& from, std::vector<ArchiveListingEntry>& out,
                                         int waitMs) {
  std::unique_lock lock(state_->lock);
  auto available = [&] {
    const auto* children = state_->listing->Children(folder);
    return children && children->size() > from;
  };
  if (waitMs > 0)
    state_->grew.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return state_->over || available(); });
  if (const auto* children = state_->listing->Children(folder)) {
    out.insert(out.end(), children->begin() + static_cast<std::ptrdiff_t>(std::min(from, children->size())),
               children->end());
    from = std::max(from, children->size());
  }
  return !state_->over;
}

bool ArchiveListingReading::WaitOpened(std::string& error) {
  std::unique_lock lock(state_->lock);
  state_->grew.wait(lock, [&] { return state_->over || state_->opened; });
  error = state_->failed ? state_->error : std::string();
  return !state_->failed;
}

bool ArchiveListingReading::WaitOver(int ms) {
  std::unique_lock lock(state_->lock);
  return state_->grew.wait_for(lock, std::chrono::milliseconds(ms), [&] { return state_->over; });
}

std::shared_ptr<const ArchiveListing> ArchiveListingReading::Wait(std::string& error) {
  std::unique_lock lock(state_->lock);
  state_->grew.wait(lock, [&] { return state_->over; });
  error = state_->error;
  return state_->failed ? nullptr : state_->listing;
}

std::shared_ptr<const ArchiveListing> ArchiveListingReading::Finished() {
  std::lock_guard lock(state_->lock);
  return state_->over && !state_->failed ? state_->listing : nullptr;
}

std::shared_ptr<ArchiveListingReading> StartArchiveListing(const std::string& path, std::string& error) {
  error.clear();
  // A FIFO or a device named like an archive would hold the reader in open() for good.
  if (CheckRegularFile(path) != 0) {
    error = "通常のファイルではないため書庫として開けません: " + path;
    return nullptr;
  }
  auto state = std::make_shared<ArchiveListingReading::State>();
  state->path = path;
  if (!ReadFileVersion(path, state->version)) {
    error = "書庫を開けませんでした: " + path;
    return nullptr;
  }
  // What a later write checks the archive against.
  state->listing->Identity.device = state->version.device;
  state->listing->Identity.inode = state->version.inode;
  state->listing->Identity.size = state->version.size;
  state->listing->Identity.mtimeNs = state->version.mtimeNs;
  if (auto listing = Cached(path, state->version)) {
    // Shared, never changed again: the cast only lets the state hold it.
    state->listing = std::const_pointer_cast<ArchiveListing>(listing);
    state->opened = state->over = true;
    return std::make_shared<ArchiveListingReading>(state);
  }
  std::lock_guard lock(cacheMutex);
  underWay.remove_if([](const auto& weak) { return weak.expired(); });
  for (const auto& weak : underWay)
    if (auto reading = weak.lock();
        reading && reading->state_->path == path && reading->state_->version == state->version)
      return reading;
  auto reading = std::make_shared<ArchiveListingReading>(state);
  underWay.push_back(reading);
  {
    std::lock_guard count(runningMutex);
    ++running;
    std::erase_if(runningStates, [](const auto& weak) { return weak.expired(); });
    runningStates.push_back(state);
  }
  std::thread(ReadOnThread, state).detach();
  return reading;
}

namespace {
std::mutex waiterMutex;
ArchiveListingWaiter listingWaiter;
}  // namespace

void SetArchiveListingWaiter(ArchiveListingWaiter waiter) {
  std::lock_guard lock(waiterMutex);
  listingWaiter = std::move(waiter);
}

std::shared_ptr<const ArchiveListing> ReadArchiveListing(const std::string& path, std::string& error) {
  auto reading = StartArchiveListing(path, error);
  if (!reading) return nullptr;
  // A small archive is over before anyone would see a wait.
  constexpr int kQuickMs = 150;
  if (!reading->WaitOver(kQuickMs)) {
    ArchiveListingWaiter waiter;
    {
      std::lock_guard lock(waiterMutex);
      waiter = listingWaiter;
    }
    if (waiter && !waiter(*reading, path)) {
      error = "書庫の読み込みを中止しました: " + path;
      return nullptr;
    }
  }
  return reading->Wait(error);
}
