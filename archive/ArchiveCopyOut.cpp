#include "archive/ArchiveCopyOut.h"

#include <ftw.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "platform/fileops/FileOperation.h"
#include "platform/namespace/ShellFolderBase.h"

namespace {

void SetLeft(UndoItem& item, const struct stat& st) {
  item.folder = S_ISDIR(st.st_mode);
  item.size = item.folder ? 0 : static_cast<uint64_t>(st.st_size);
  item.mtimeNs = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  item.dev = st.st_dev;
  item.ino = st.st_ino;
  item.ctimeNs = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
}

// Everything inside a placed folder, so that undo removes only what is still as placed.
thread_local std::vector<UndoItem>* inside = nullptr;
int NoteInside(const char* path, const struct stat* st, int, FTW* ftw) {
  if (ftw->level == 0) return 0;
  UndoItem item;
  item.to = path;
  SetLeft(item, *st);
  inside->push_back(std::move(item));
  return 0;
}

bool RealPathIs(const std::string& path, const std::string& expected) {
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) && expected == real;
}

}  // namespace

ArchiveCopyOut::ArchiveCopyOut(ArchiveCopyOutRequest request) : request_(std::move(request)) {}

ArchiveCopyOut::~ArchiveCopyOut() {
  if (staging_.empty()) return;
  std::error_code ec;
  // remove_all takes links as links; the folder is ours, made by mkdtemp.
  std::filesystem::remove_all(staging_, ec);
}

bool ArchiveCopyOut::Extract(std::string& error, const EntryHook& onEntry) {
  std::string pattern = JoinPath(request_.destination, ".tolvane-extract-XXXXXX");
  if (!::mkdtemp(pattern.data())) {
    error = "書き込めないため取り出せません: " + request_.destination;
    return false;
  }
  staging_ = pattern;
  return ExtractInto(request_.archive, request_.stored, staging_, error, onEntry);
}

int ArchiveCopyOut::Place(IFileOperationUI* ui) {
  if (staging_.empty()) return FO_ERROR_BAD_REQUEST;
  char realStaging[PATH_MAX];
  if (!::realpath(staging_.c_str(), realStaging)) return FO_ERROR_FAILED;
  const std::string base = request_.inner.empty() ? staging_ : staging_ + "/" + request_.inner;
  // The folder the names are in must be the one extracted, not a place a link of the archive leads to.
  if (!request_.inner.empty() && !RealPathIs(base, std::string(realStaging) + "/" + request_.inner))
    return FO_ERROR_FAILED;
  FileOperationRequest move;
  move.function = FO_MOVE;
  move.destination = request_.destination;
  move.owner = request_.owner;
  std::vector<std::string> free;
  for (const std::string& name : request_.names) {
    struct stat st;
    // An entry the library refused (a link that leads out, say) is not there to place.
    if (::lstat((base + "/" + name).c_str(), &st) != 0) continue;
    move.sources.push_back(base + "/" + name);
    if (::lstat(JoinPath(request_.destination, name).c_str(), &st) != 0 && errno == ENOENT) free.push_back(name);
  }
  if (move.sources.empty()) return FO_ERROR_FAILED;
  const int code = RunFileOperation(move, ui).code;
  // Undo takes back what came under a free name, as it would a copy's.
  UndoRecord record;
  record.kind = UndoRecord::Copy;
  const std::string from =
      request_.inner.empty() ? request_.shownArchive : request_.shownArchive + "/" + request_.inner;
  for (const std::string& name : free) {
    struct stat st, left;
    const std::string to = JoinPath(request_.destination, name);
    if (::lstat((base + "/" + name).c_str(), &left) == 0 || ::lstat(to.c_str(), &st) != 0) continue;
    UndoItem item;
    item.from = from + "/" + name;
    item.to = to;
    SetLeft(item, st);
    if (item.folder) {
      inside = &item.inside;
      ::nftw(to.c_str(), NoteInside, 16, FTW_PHYS);
      inside = nullptr;
    }
    record.items.push_back(std::move(item));
  }
  if (!record.items.empty()) FileOperationJournal::Instance().Record(std::move(record));
  return code;
}
