#include "platform/fileops/FileOperationJob.h"
#include "platform/fileops/TimeLeft.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/fileops/ErrorText.h"
#include "platform/fileops/Trash.h"
#include "platform/system/DescriptorLimit.h"
#include "platform/system/TrailingSlash.h"

namespace {

// A source path as a folder and a name; trailing slashes do not count.
bool SplitSource(std::string path, std::string& parent, std::string& name) {
  path = WithoutTrailingSlash(std::move(path));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    parent = ".";
    name = path;
  } else {
    parent = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
  return IsValidChildName(name);
}

bool SameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

void SetIdentity(UndoItem& item, const struct stat& st) {
  item.size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
  item.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  item.ctimeNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  item.dev = st.st_dev;
  item.ino = st.st_ino;
}

FileFacts FactsOf(const std::string& path, const struct stat& st) {
  FileFacts facts;
  facts.path = path;
  facts.folder = S_ISDIR(st.st_mode);
  facts.size = facts.folder ? 0 : st.st_size;
  facts.mtime = st.st_mtim.tv_sec;
  return facts;
}

// Why no recycle bin took an item, for the question that follows.
std::string TrashRefusal(int error) {
  switch (error) {
    case ENOSPC:
      return "ごみ箱のあるディスクに空き領域がありません。";
    case EDQUOT:
      return "ごみ箱のあるディスクのクォータを超えました。";
    case 0:
      return {};
    default:
      return SystemErrorText(error);
  }
}

// Lists at most a few names of a long list for a message.
std::string NameList(const std::vector<std::string>& paths) {
  constexpr size_t kShown = 10;
  std::string text;
  for (size_t i = 0; i < paths.size() && i < kShown; ++i) text += "\n" + paths[i];
  if (paths.size() > kShown) text += "\nほか " + std::to_string(paths.size() - kShown) + " 件";
  return text;
}

}  // namespace

std::string CopyNameFor(const std::string& name, bool folder, int k) {
  constexpr size_t kNameMax = 255;  // bytes, as NAME_MAX
  std::string stem = name, ext;
  if (!folder) {
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
      stem = name.substr(0, dot);
      ext = name.substr(dot);
    }
  }
  std::string suffix = " - コピー";
  if (k > 1) suffix += " (" + std::to_string(k) + ")";
  if (suffix.size() + ext.size() >= kNameMax) {  // an "extension" that long is part of the name
    stem = name;
    ext.clear();
  }
  // A long name is cut in its stem, at a character boundary, so that the
  // copy's name fits and keeps its extension.
  size_t room = kNameMax - suffix.size() - ext.size();
  if (stem.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    stem.resize(cut);
  }
  return stem + suffix + ext;
}

FileOperationJob::FileOperationJob(FileOperationRequest request, IFileOperationUI* ui)
    : request_(std::move(request)), ui_(ui), started_(std::chrono::steady_clock::now()) {
  const std::string& names = request_.sourceNames;
  sourcesTotal_ =
      request_.sources.size() + std::count(names.begin(), names.end(), '\0') + (!names.empty() && names.back() != '\0');
  // A copy or move is preparing from the start: its progress may show before its thread runs.
  preparing_ = request_.function == FO_COPY || request_.function == FO_MOVE;
}

FileOperationJob::~FileOperationJob() = default;

FileOperationResult FileOperationJob::Run() {
  // Deep trees hold a few folders open per level.
  RaiseDescriptorLimit();
  copier_ = std::make_unique<FileCopier>(cancel_, bytesDone_);
  undo_.kind = request_.function == FO_COPY     ? UndoRecord::Copy
               : request_.function == FO_DELETE ? UndoRecord::Trash
                                                : UndoRecord::Move;
  switch (request_.function) {
    case FO_COPY:
    case FO_MOVE:
      RunCopyMove();
      break;
    case FO_DELETE:
      RunDelete();
      break;
    case FO_RENAME:
      RunRename();
      break;
    default:
      badRequest_ = true;
  }
  ShowSummaries();
  // What was done stays undoable even when the job ended early.
  if ((request_.flags & FOF_ALLOWUNDO) && !undo_.items.empty())
    FileOperationJournal::Instance().Record(std::move(undo_));

  FileOperationResult result;
  if (cancelled_ || cancel_.load()) {
    result.code = FO_ERROR_CANCELLED;
    result.aborted = true;
  } else if (badRequest_) {
    result.code = FO_ERROR_BAD_REQUEST;
  } else {
    result.code = failed_ ? FO_ERROR_FAILED : 0;
    result.aborted = declined_;
  }
  return result;
}

void FileOperationJob::ShowSummaries() {
  const std::string what = request_.function == FO_MOVE ? "移動" : "コピー";
  if (!specialSkipped_.empty()) {
    ui_->ShowMessage("特殊なファイル (デバイス、ソケット) は" + what +
                     "できないため、次の項目をスキップしました:" + NameList(specialSkipped_));
    failed_ = true;  // left behind: not a success
  }
  if (!refusedNames_.empty())
    ui_->ShowMessage(
        what + "先のファイル システムでは使えない名前のため、次の項目はスキップしました:" + NameList(refusedNames_));
  if (!caseRenamed_.empty())
    ui_->ShowMessage(what +
                     "先では大文字と小文字が区別されないため、次の項目は別の名前にしました:" + NameList(caseRenamed_));
  if (!dropped_.empty())
    ui_->ShowMessage(what + "先では保持できない属性があったため、次の項目では失われました:" + NameList(dropped_));
}

FileOperationProgress FileOperationJob::Progress() const {
  FileOperationProgress p;
  p.function = request_.function;
  p.preparing = preparing_.load();  // before the totals, which are set first
  {
    std::lock_guard<std::mutex> guard(currentLock_);
    p.currentFile = current_;
  }
  p.itemsTotal = itemsTotal_.load();
  p.itemsDone = std::min(itemsDone_.load(), p.itemsTotal);
  p.bytesTotal = bytesTotal_.load();
  p.bytesDone = std::min(bytesDone_.load(), p.bytesTotal);
  p.secondsElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  p.sourcesTotal = sourcesTotal_;
  p.sourcesChecked = std::min(sourcesChecked_.load(), sourcesTotal_);
  EstimateSecondsLeft(p);
  return p;
}

// --- Questions and bookkeeping ---------------------------------------------------------

FileOperationJob::Next FileOperationJob::OnError(const std::string& path, const char* action, int error) {
  if (request_.flags & FOF_NOERRORUI) {
    failed_ = stop_ = true;
    return Next::Stop;
  }
  switch (ui_->AskError(path, action, error)) {
    case ErrorAnswer::Retry:
      return Next::Retry;
    case ErrorAnswer::Skip:
      failed_ = true;
      return Next::Skip;
    case ErrorAnswer::Cancel:
      break;
  }
  cancelled_ = stop_ = true;
  return Next::Stop;
}

FileOperationJob::Resolve FileOperationJob::OnConflict(const std::string& existingPath, const struct stat& existing,
                                                       const std::string& incomingPath, const struct stat& incoming) {
  if (request_.flags & FOF_RENAMEONCOLLISION) return Resolve::NewName;
  if (yesToAll_ || (request_.flags & FOF_NOCONFIRMATION)) return Resolve::Replace;
  if (noToAll_) {
    declined_ = true;
    return Resolve::Skip;
  }
  switch (ui_->AskReplace(FactsOf(existingPath, existing), FactsOf(incomingPath, incoming))) {
    case ConflictAnswer::YesToAll:
      yesToAll_ = true;
      [[fallthrough]];
    case ConflictAnswer::Yes:
      return Resolve::Replace;
    case ConflictAnswer::NoToAll:
      noToAll_ = true;
      [[fallthrough]];
    case ConflictAnswer::No:
      declined_ = true;
      return Resolve::Skip;
    case ConflictAnswer::Cancel:
      break;
  }
  cancelled_ = stop_ = true;
  return Resolve::Stop;
}

void FileOperationJob::SetCurrent(const std::string& path) {
  {
    std::lock_guard<std::mutex> guard(currentLock_);
    current_ = path;
  }
  if (safePoint_) safePoint_();
}

void FileOperationJob::ItemDone(uint64_t bytes) {
  itemsDone_.fetch_add(1, std::memory_order_relaxed);
  if (bytes) bytesDone_.fetch_add(bytes, std::memory_order_relaxed);
}

void FileOperationJob::Record(const std::string& from, const std::string& to, const struct stat& st, bool folder,
                              const std::string& trashInfo) {
  if (!(request_.flags & FOF_ALLOWUNDO)) return;
  UndoItem item;
  item.from = from;
  // Where it came back to is recorded by its real folder: should that
  // folder become a link later, undo sees it and refuses.
  if (request_.function != FO_COPY) {
    if (char* real = realpath(DirName(from).c_str(), nullptr)) {
      item.from = JoinPath(real, BaseName(from));
      free(real);
    }
  }
  item.to = to;
  item.trashInfo = trashInfo;
  item.folder = folder;
  SetIdentity(item, st);
  if (!noted_.empty()) item.inside = std::move(noted_);
  noted_.clear();
  undo_.items.push_back(std::move(item));
}

void FileOperationJob::Note(const std::string& path, const struct stat& st) {
  if (!noting_) return;
  UndoItem item;
  item.to = path;
  item.folder = S_ISDIR(st.st_mode);
  SetIdentity(item, st);
  noted_.push_back(std::move(item));
}

void FileOperationJob::Relinked(const struct stat& now) {
  auto follow = [&](UndoItem& item) {
    if (item.dev == uint64_t(now.st_dev) && item.ino == uint64_t(now.st_ino)) SetIdentity(item, now);
  };
  for (UndoItem& item : noted_) follow(item);
  for (UndoItem& item : undo_.items) {
    follow(item);
    for (UndoItem& inner : item.inside) follow(inner);
  }
}

const char* FileOperationJob::Action() const {
  switch (request_.function) {
    case FO_COPY:
      return "コピー";
    case FO_MOVE:
      return "移動";
    case FO_DELETE:
      return "削除";
    default:
      return "名前を変更";
  }
}

// --- Checking and counting ---------------------------------------------------------------

bool FileOperationJob::PrepareSources() {
  sourceFolders_.clear();
  sourceList_.clear();
  sourceNames_.clear();
  auto folderOf = [&](const std::string& folder) {
    if (sourceFolders_.empty() || sourceFolders_.back() != folder) sourceFolders_.push_back(folder);
    return static_cast<uint32_t>(sourceFolders_.size() - 1);
  };
  for (const std::string& path : request_.sources) {
    std::string parent, name;
    if (!SplitSource(path, parent, name)) {
      badRequest_ = true;  // "/", ".", "..", an empty name
      return false;
    }
    sourceList_.push_back({sourceNames_.size(), folderOf(parent)});
    sourceNames_.append(name).push_back('\0');
  }
  if (!request_.sourceNames.empty()) {
    const std::string folder = WithoutTrailingSlash(request_.sourceFolder);
    if (folder.empty()) {
      badRequest_ = true;
      return false;
    }
    const uint32_t f = folderOf(folder);
    const size_t base = sourceNames_.size();
    if (base == 0)
      sourceNames_ = std::move(request_.sourceNames);
    else
      sourceNames_ += request_.sourceNames;
    if (sourceNames_.back() != '\0') sourceNames_.push_back('\0');
    for (size_t at = base; at < sourceNames_.size();) {
      const size_t end = sourceNames_.find('\0', at);
      if (!IsValidChildName(std::string_view(sourceNames_).substr(at, end - at))) {
        badRequest_ = true;
        return false;
      }
      sourceList_.push_back({at, f});
      at = end + 1;
    }
  }
  if (sourceList_.empty()) {
    badRequest_ = true;
    return false;
  }
  return true;
}

std::vector<std::string> FileOperationJob::SourcePaths() const {
  std::vector<std::string> paths = request_.sources;
  const std::string& names = request_.sourceNames;
  for (size_t at = 0; at < names.size();) {
    size_t end = std::min(names.find('\0', at), names.size());
    // A bad name is refused by SplitSource later, as any path.
    paths.push_back(JoinPath(WithoutTrailingSlash(request_.sourceFolder), names.substr(at, end - at)));
    if (end == at || request_.sourceFolder.empty()) paths.back().clear();
    at = end + 1;
  }
  return paths;
}

FileOperationJob::Source FileOperationJob::SourceAt(size_t index) const {
  Source s;
  s.parent = sourceFolders_[sourceList_[index].folder];
  s.name = sourceNames_.c_str() + sourceList_[index].at;
  s.path = s.parent == "." ? s.name : JoinPath(s.parent, s.name);
  s.entry.name = s.name;
  return s;
}

bool FileOperationJob::OpenDestination() {
  destination_ = WithoutTrailingSlash(request_.destination);
  if (destination_.empty()) {
    badRequest_ = true;
    return false;
  }
  const char* action = request_.function == FO_MOVE ? "移動先にアクセス" : "コピー先にアクセス";
  for (;;) {
    UniqueFd fd(open(destination_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd && fstat(fd.Get(), &destStat_) == 0) {
      destFd_ = std::move(fd);
      return true;
    }
    int error = errno;
    fd.Reset();
    if (OnError(destination_, action, error) != Next::Retry) return false;
  }
}

bool FileOperationJob::HoldsDestination(const struct stat& folder) const {
  for (const struct stat& a : destinationAncestors_)
    if (SameInode(a, folder)) return true;
  return false;
}

bool FileOperationJob::LookUpSources(bool move) {
  // Every folder from the real destination up to "/", by identity, so that
  // links and bind mounts cannot hide a source among them.
  destinationAncestors_.clear();
  char* real = realpath(destination_.c_str(), nullptr);
  std::string path = real ? real : destination_;
  free(real);
  for (;;) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) destinationAncestors_.push_back(st);
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || path == "/") break;
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  if (destinationAncestors_.empty()) destinationAncestors_.push_back(destStat_);

  // One pass: each source looked up in its open folder, counted, a folder's
  // tree read. Only folders and failures are kept; a file is looked up
  // again when copied. Nothing is touched, so Esc here leaves nothing.
  uint64_t items = 0, bytes = 0;
  UniqueFd dirFd;
  uint32_t dirOf = UINT32_MAX;
  int dirError = 0;
  constexpr size_t kBatch = 512;
  for (size_t i = 0; i < sourceList_.size(); ++i) {
    if (i % kBatch == 0) {
      sourcesChecked_.store(i, std::memory_order_relaxed);
      if (safePoint_) safePoint_();
      if (Stopping()) return false;
    }
    const SourceName& ref = sourceList_[i];
    if (ref.folder != dirOf) {
      dirOf = ref.folder;
      dirFd = UniqueFd(open(sourceFolders_[dirOf].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      dirError = dirFd ? 0 : errno;
      SetCurrent(sourceFolders_[dirOf]);
    }
    struct stat st;
    int error = dirError;
    if (!error && fstatat(dirFd.Get(), sourceNames_.c_str() + ref.at, &st, AT_SYMLINK_NOFOLLOW) != 0) error = errno;
    ++items;
    if (!error && !S_ISDIR(st.st_mode)) {
      if (S_ISREG(st.st_mode)) bytes += st.st_size;
      continue;
    }
    Source s = SourceAt(i);
    s.error = error;  // asked about when reached
    if (!error) {
      --items;  // counted with its tree
      s.entry.st = st;
      if (HoldsDestination(st)) {
        RefuseIntoItself(s.path);
        return false;
      }
      // A move within one file system is a rename per item: its tree is never read.
      if (!(move && st.st_dev == destStat_.st_dev)) {
        SetCurrent(s.path);
        ListFolder(dirFd.Get(), s.entry);
        if (intoItself_) {
          RefuseIntoItself(s.path);
          return false;
        }
      }
      CountTree(s.entry, items, bytes);
    }
    prepared_.emplace(i, std::move(s));
  }
  sourcesChecked_.store(sourceList_.size(), std::memory_order_relaxed);
  itemsTotal_ = items;
  bytesTotal_ = bytes;
  preparing_ = false;
  return !Stopping();
}

void FileOperationJob::RefuseIntoItself(const std::string& path) {
  ui_->ShowMessage(request_.function == FO_MOVE
                       ? "移動先のフォルダーは、移動元のフォルダーのサブフォルダーです。\n" + path
                       : "フォルダーをそれ自身の中にコピーすることはできません。\n" + path);
  badRequest_ = stop_ = true;
}

void FileOperationJob::ListFolder(int parentFd, Entry& entry) {
  entry.children.clear();
  entry.listed = true;
  entry.listError = 0;
  UniqueFd fd(openat(parentFd, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  DirPtr dir(fd ? fdopendir(fd.Get()) : nullptr);
  if (!dir) {
    entry.listError = errno;
    entry.listed = false;
    return;
  }
  fd.Release();  // the listing owns it now
  int dfd = dirfd(dir.get());
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(dir.get());
    if (!d) {
      if (errno) {
        entry.listError = errno;
        entry.listed = false;
      }
      break;
    }
    const char* n = d->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    Entry child;
    child.name = n;
    if (fstatat(dfd, n, &child.st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since the listing: nothing to copy, nothing to ask
      child.statError = errno;        // a folder that may be read but not searched
    }
    // The destination inside a source tree, seen through a bind mount: the
    // destination's path alone cannot tell.
    if (S_ISDIR(child.st.st_mode) && SameInode(child.st, destStat_)) intoItself_ = true;
    entry.children.push_back(std::move(child));
  }
  for (Entry& child : entry.children) {
    if (Stopping()) break;
    if (S_ISDIR(child.st.st_mode) && !intoItself_) ListFolder(dfd, child);
  }
}

bool FileOperationJob::ListFolderAsking(int parentFd, const std::string& path, Entry& entry) {
  while (!entry.listed) {
    uint64_t itemsBefore = 0, bytesBefore = 0, items = 0, bytes = 0;
    CountTree(entry, itemsBefore, bytesBefore);
    ListFolder(parentFd, entry);
    CountTree(entry, items, bytes);
    itemsTotal_ += items - itemsBefore;
    bytesTotal_ += bytes - bytesBefore;
    if (entry.listed) return true;
    if (OnError(path, "フォルダーを読み取り", entry.listError) != Next::Retry) return false;
  }
  return true;
}

void FileOperationJob::CountTree(const Entry& entry, uint64_t& items, uint64_t& bytes) const {
  ++items;
  if (S_ISREG(entry.st.st_mode)) bytes += entry.st.st_size;
  for (const Entry& child : entry.children) CountTree(child, items, bytes);
}

int FileOperationJob::ParentFd(const std::string& parent, Next& next) {
  next = Next::Retry;
  if (cachedParentFd_ && cachedParent_ == parent) return cachedParentFd_.Get();
  cachedParentFd_.Reset();
  for (;;) {
    UniqueFd fd(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd && fstat(fd.Get(), &cachedParentStat_) == 0) {
      cachedParentFd_ = std::move(fd);
      cachedParent_ = parent;
      return cachedParentFd_.Get();
    }
    int error = errno;
    fd.Reset();
    next = OnError(parent, Action(), error);
    if (next != Next::Retry) return -1;
  }
}

// --- Copy and move -----------------------------------------------------------------------

void FileOperationJob::RunCopyMove() {
  bool move = request_.function == FO_MOVE;
  if (!PrepareSources() || !OpenDestination() || !LookUpSources(move)) return;

  SweepStaleParts(destFd_.Get());
  Place dst{destFd_.Get(), destStat_.st_dev, destination_, HasDefaultAcl(destFd_.Get())};
  for (size_t i = 0; i < sourceList_.size(); ++i) {
    if (Stopping()) return;
    auto found = prepared_.find(i);
    const bool lookUp = found == prepared_.end();
    Source s = lookUp ? SourceAt(i) : std::move(found->second);
    if (!lookUp) prepared_.erase(found);
    SetCurrent(s.path);
    Next next;
    int pfd = ParentFd(s.parent, next);
    if (pfd < 0) {
      if (next == Next::Stop) return;
      SkipTree(s.entry);  // a source not looked up counts as one item
      continue;
    }
    if (lookUp) {
      s.error = fstatat(pfd, s.name.c_str(), &s.entry.st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
      // A folder now where a file was counted: checked as the folders were.
      if (!s.error && S_ISDIR(s.entry.st.st_mode) && HoldsDestination(s.entry.st)) return RefuseIntoItself(s.path);
    }
    bool skip = false;
    while (s.error && !skip) {
      switch (OnError(s.path, Action(), s.error)) {
        case Next::Retry:
          s.error = lstat(s.path.c_str(), &s.entry.st) == 0 ? 0 : errno;
          s.entry.listed = false;
          if (!s.error && S_ISDIR(s.entry.st.st_mode) && HoldsDestination(s.entry.st)) return RefuseIntoItself(s.path);
          break;
        case Next::Skip:
          ItemDone();
          skip = true;
          break;
        case Next::Stop:
          return;
      }
    }
    if (skip) continue;
    bool sameFolder = SameInode(cachedParentStat_, destStat_);
    Done done;
    if (!move) {
      done = CopyEntry(pfd, s.path, s.entry, dst, s.name, false, false, true, sameFolder);
    } else if (sameFolder) {
      SkipTree(s.entry);  // onto itself: nothing to do
      continue;
    } else if (s.entry.st.st_dev == destStat_.st_dev) {
      done = MoveWithin(pfd, s.path, s.name, s.entry.st, dst, s.name, true);
    } else {
      done = CopyEntry(pfd, s.path, s.entry, dst, s.name, true, false, true, false);
    }
    if (done == Done::Stop) return;
  }
}

// --- Delete --------------------------------------------------------------------------------

void FileOperationJob::RunDelete() {
  const std::vector<std::string> sources = SourcePaths();
  if (sources.empty()) {
    badRequest_ = true;
    return;
  }
  bool toTrash = request_.flags & FOF_ALLOWUNDO;
  std::vector<std::string> paths;
  for (const std::string& source : sources) {
    const std::string path = WithoutTrailingSlash(source);
    std::string parent, name;
    if (!SplitSource(path, parent, name)) {
      badRequest_ = true;
      return;
    }
    paths.push_back(path);
  }
  if (!(request_.flags & FOF_NOCONFIRMATION) && !ui_->ConfirmDelete(paths, !toTrash)) {
    cancelled_ = stop_ = true;
    return;
  }
  itemsTotal_ = paths.size();
  for (const std::string& path : paths) {
    if (Stopping()) return;
    SetCurrent(path);
    bool permanent = !toTrash;
    for (;;) {
      struct stat st;
      if (lstat(path.c_str(), &st) != 0) {
        Next next = OnError(path, Action(), errno);
        if (next == Next::Retry) continue;
        if (next == Next::Stop) return;
        break;
      }
      int error = 0;
      if (!permanent) {
        TrashedItem trashed;
        if (MoveToTrash(path, trashed, error)) {
          struct stat left;
          if (lstat(trashed.filesPath.c_str(), &left) != 0) left = st;
          Record(trashed.originalPath, trashed.filesPath, left, S_ISDIR(left.st_mode), trashed.infoPath);
          break;
        }
        if (lstat(path.c_str(), &st) != 0) continue;  // vanished meanwhile: asked above
        // No recycle bin takes it: offer the delete for good.
        if (!(request_.flags & FOF_NOCONFIRMATION) && !ui_->ConfirmPermanentDeleteBecause(path, TrashRefusal(error))) {
          declined_ = true;
          break;
        }
        permanent = true;
      }
      if (RemoveTree(path, error)) break;
      Next next = OnError(path, Action(), error);
      if (next == Next::Retry) continue;
      if (next == Next::Stop) return;
      break;
    }
    ItemDone();
  }
}

// --- Rename --------------------------------------------------------------------------------

void FileOperationJob::RunRename() {
  std::string parent, name, toName;
  const std::vector<std::string> sources = SourcePaths();
  if (sources.size() != 1 || !SplitSource(sources[0], parent, name)) {
    badRequest_ = true;
    return;
  }
  std::string to = WithoutTrailingSlash(request_.destination);
  if (to.find('/') != std::string::npos) {
    // A path: only within the same folder; a rename does not move.
    std::string toParent;
    struct stat a, b;
    if (!SplitSource(to, toParent, toName) || stat(parent.c_str(), &a) != 0 || stat(toParent.c_str(), &b) != 0 ||
        !SameInode(a, b)) {
      badRequest_ = true;
      return;
    }
  } else {
    toName = to;
  }
  if (!IsValidChildName(toName)) {
    badRequest_ = true;
    return;
  }
  std::string path = parent == "." ? name : JoinPath(parent, name);
  std::string newPath = parent == "." ? toName : JoinPath(parent, toName);
  itemsTotal_ = 1;
  SetCurrent(path);
  for (;;) {
    struct stat st;
    int error;
    if (lstat(path.c_str(), &st) != 0) {
      error = errno;
    } else if (name == toName) {
      break;
    } else if (RenameNoReplace(parent, name, toName)) {
      if (lstat(newPath.c_str(), &st) == 0) Record(path, newPath, st, S_ISDIR(st.st_mode));  // ctime as renamed
      break;
    } else {
      error = errno;
    }
    // Never replaced: a taken name is an error the user can resolve and retry.
    Next next = OnError(error == EEXIST ? newPath : path, Action(), error);
    if (next != Next::Retry) break;
  }
  ItemDone();
}
