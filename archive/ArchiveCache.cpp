#include "archive/ArchiveCache.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "archive/ArchiveFile.h"
#include "archive/ArchiveFolder.h"
#include "archive/ArchiveListing.h"

namespace {

std::mutex cacheMutex;
std::string cacheFolder;
unsigned nextSlot = 0;
// Entries already taken out: (archive, inner) -> file, with the archive's version.
struct CachedEntry {
  std::string file;
  int64_t archiveMtimeNs = 0;
  off_t archiveSize = 0;
};
std::map<std::pair<std::string, std::string>, CachedEntry> entries;

struct RemoveAtExit {
  ~RemoveAtExit() { RemoveArchiveCache(); }
} removeAtExit;

int DropExecuteBits(const char* path, const struct stat* st, int type, FTW*) {
  if (type == FTW_F && S_ISREG(st->st_mode) && (st->st_mode & 0111)) ::chmod(path, st->st_mode & 07666);
  return 0;
}

std::string NewSlot(std::string& error) {
  std::string root = ArchiveCacheFolder();
  if (root.empty()) {
    error = "一時フォルダーを作れませんでした。";
    return {};
  }
  std::lock_guard lock(cacheMutex);
  for (;;) {
    std::string slot = root + "/" + std::to_string(++nextSlot);
    if (::mkdir(slot.c_str(), 0700) == 0) return slot;
    if (errno != EEXIST) {
      error = "一時フォルダーを作れませんでした: " + slot;
      return {};
    }
  }
}

bool ArchiveVersion(const std::string& path, int64_t& mtimeNs, off_t& size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  mtimeNs = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  size = st.st_size;
  return true;
}

}  // namespace

std::string ArchiveCacheFolder() {
  std::lock_guard lock(cacheMutex);
  if (!cacheFolder.empty()) return cacheFolder;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st;
  std::string base = runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode) &&
                             st.st_uid == getuid() && access(runtime, W_OK) == 0
                         ? runtime
                         : "/tmp";
  std::string pattern = base + "/tolvane-archive-XXXXXX";
  // mkdtemp makes it 0700, and fails rather than use what another made.
  if (::mkdtemp(pattern.data())) cacheFolder = pattern;
  return cacheFolder;
}

void RemoveArchiveCache() {
  std::lock_guard lock(cacheMutex);
  if (cacheFolder.empty()) return;
  std::error_code ec;
  // remove_all removes links as links; the folder is ours alone.
  std::filesystem::remove_all(cacheFolder, ec);
  cacheFolder.clear();
  entries.clear();
}

bool ExtractInto(const std::string& archive, const std::vector<std::string>& storedNames, const std::string& folder,
                 std::string& error, const EntryHook& onEntry) {
  error.clear();
  try {
    TArchiveFile file;
    file.SetFileName(archive);
    if (!file.Archiver()) {
      error = "書庫の形式を判別できません: " + archive;
      return false;
    }
    file.SetOutputSize(4096);
    file.Options.x = 1;  // with the paths inside the archive
    bool aborted = false;
    if (onEntry)
      file.OnProgress = [&](TArchiveFile*, int state, ArcExtractingInfoEx* eis, bool& abort) {
        // Asked also while a large entry is written, so that a stop comes soon.
        if ((state == ARCEXTRACT_BEGIN || state == ARCEXTRACT_INPROCESS) && eis)
          onEntry(eis->exinfo.szSourceFileName, state == ARCEXTRACT_BEGIN, abort);
        aborted = aborted || abort;
      };
    TFileArgs files;
    for (const std::string& name : storedNames) files.push_back(name);
    int result = file.Extract(nullptr, nullptr, files, folder + "/");
    if (aborted) {
      error = "中止しました。";
      return false;
    }
    if (result != 0 && result != ARC_ERROR_WARNING) {
      std::string said = file.OutputText();
      error = "書庫から取り出せませんでした: " + archive + (said.empty() ? std::string() : "\n" + said);
      return false;
    }
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return true;
}

std::string ExtractToCache(const std::string& archive, const std::vector<std::string>& storedNames, std::string& error,
                           const EntryHook& onEntry) {
  error.clear();
  std::string slot = NewSlot(error);
  if (slot.empty()) return {};
  const bool ok = ExtractInto(archive, storedNames, slot, error, onEntry);
  ::nftw(slot.c_str(), DropExecuteBits, 16, FTW_PHYS);
  if (!ok) {
    // Nothing half written stays behind, not even in the cache.
    std::error_code ec;
    std::filesystem::remove_all(slot, ec);
    return {};
  }
  return slot;
}

std::string CachedEntryFile(const std::string& archive, const std::string& inner, std::string& error,
                            const EntryHook& onEntry) {
  error.clear();
  std::string local = LocalArchiveFile(archive, error);
  if (local.empty()) return {};
  int64_t mtime = 0;
  off_t size = 0;
  if (!ArchiveVersion(local, mtime, size)) {
    error = "書庫を開けませんでした: " + archive;
    return {};
  }
  {
    std::lock_guard lock(cacheMutex);
    auto known = entries.find({archive, inner});
    struct stat st;
    if (known != entries.end() && known->second.archiveMtimeNs == mtime && known->second.archiveSize == size &&
        ::lstat(known->second.file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      return known->second.file;
  }
  auto listing = ReadArchiveListing(local, error);
  if (!listing) return {};
  const ArchiveListingEntry* entry = listing->Find(inner);
  if (!entry || entry->folder) {
    error = "書庫の中にファイルが見つかりません: " + inner;
    return {};
  }
  std::string slot = ExtractToCache(local, listing->StoredNamesBelow(inner), error, onEntry);
  if (slot.empty()) return {};
  std::string file = slot + "/" + inner;
  struct stat st;
  // What was written must be the plain file asked for, not reached through a link the archive made.
  char realFile[PATH_MAX], realSlot[PATH_MAX];
  if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !::realpath(file.c_str(), realFile) ||
      !::realpath(slot.c_str(), realSlot) || std::string(realFile) != std::string(realSlot) + "/" + inner) {
    error = "書庫から取り出せませんでした: " + inner;
    return {};
  }
  std::lock_guard lock(cacheMutex);
  entries[{archive, inner}] = {file, mtime, size};
  return file;
}
