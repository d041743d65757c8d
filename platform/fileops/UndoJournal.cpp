// The undo journal: what the last operations left behind, undone newest
// first, and only while their files are still as the operation left them.
#include <QString>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "platform/fileops/FileOperation.h"
#include "platform/fileops/BatchRename.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/FileSystemFolder.h"
#include "platform/fileops/Trash.h"
#include "platform/state/AtomicFile.h"
#include "platform/system/UniqueFd.h"

namespace {

constexpr size_t kMaxRecords = 50;

// A name for a message or menu entry: invalid bytes shown as replacement
// characters, a long name shortened.
std::string Shown(const std::string& path) {
  QString name = QString::fromUtf8(BaseName(path));
  if (name.size() > 40) name = name.left(38) + QStringLiteral("…");
  return name.toStdString();
}

int64_t Nanoseconds(const struct timespec& t) { return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

int64_t NowNs() {
  struct timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return Nanoseconds(t);
}

// Whether anything in the tree below parentFd/name changed (its inode did:
// contents, names, rights) after ns.
bool ChangedSince(int parentFd, const char* name, int64_t ns) {
  struct stat st;
  if (fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (Nanoseconds(st.st_ctim) > ns) return true;
  if (!S_ISDIR(st.st_mode)) return false;
  UniqueFd fd(openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return errno != EACCES;  // unreadable, but unchanged as far as seen
  DirPtr dir = OpenDirStream(std::move(fd));
  if (!dir) return true;
  bool changed = false;
  while (dirent* e = readdir(dir.get())) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    if ((changed = ChangedSince(dirfd(dir.get()), e->d_name, ns))) break;
  }
  return changed;
}

// Whether st is the item as the operation left it. With its identity known,
// the same inode and change time (which nobody can set back): a file edited
// and given its old size and time again, or another item that took its
// place, is not it. A moved folder may have received files since: they move
// back with it, so only its inode counts.
bool LeftAsIs(const UndoItem& item, const struct stat& st, UndoRecord::Kind kind) {
  if (item.folder != S_ISDIR(st.st_mode)) return false;
  if (!item.folder && (uint64_t(st.st_size) != item.size || Nanoseconds(st.st_mtim) != item.mtimeNs)) return false;
  if (item.ino == 0) return true;  // recorded without its identity
  if (uint64_t(st.st_dev) != item.dev || uint64_t(st.st_ino) != item.ino) return false;
  if (item.folder && (kind == UndoRecord::Move || kind == UndoRecord::Rename)) return true;
  if (Nanoseconds(st.st_ctim) != item.ctimeNs) return false;
  return !item.folder || kind != UndoRecord::Copy || Nanoseconds(st.st_mtim) == item.mtimeNs;
}

// Everything a copied folder held when left is still there as it was; a
// folder's change time shows entries that came or went.
bool InsideAsLeft(const UndoItem& item) {
  for (const UndoItem& inner : item.inside) {
    struct stat st;
    if (lstat(inner.to.c_str(), &st) != 0 || !LeftAsIs(inner, st, UndoRecord::Copy)) return false;
  }
  return true;
}

// Makes the missing folders above path, as a restore does; made receives
// them, outermost first.
bool MakeParents(const std::string& path, std::vector<std::string>& made) {
  std::string parent = DirName(path);
  struct stat st;
  if (stat(parent.c_str(), &st) == 0) return S_ISDIR(st.st_mode) || (errno = ENOTDIR, false);
  if (errno != ENOENT || parent == path) return false;
  if (!MakeParents(parent, made)) return false;
  if (mkdir(parent.c_str(), 0777) == 0) {
    made.push_back(parent);
    return true;
  }
  return errno == EEXIST;
}

// Removes the empty folders of the tree name in parentFd, deepest first;
// files, links and other file systems stay.
void RemoveEmptyFolders(int parentFd, const char* name, dev_t dev) {
  UniqueFd fd(openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (!fd || fstat(fd.Get(), &st) != 0 || st.st_dev != dev) return;
  DirPtr dir = OpenDirStream(std::move(fd));
  if (!dir) return;
  std::vector<std::string> folders;
  while (dirent* e = readdir(dir.get()))
    if (e->d_type == DT_DIR && strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
      folders.push_back(e->d_name);
  for (const std::string& f : folders) RemoveEmptyFolders(dirfd(dir.get()), f.c_str(), dev);
  // Let go before the folder itself goes.
  dir.reset();
  unlinkat(parentFd, name, AT_REMOVEDIR);  // fails, as wanted, while anything is left inside
}

// The parent folder of path when it is a link now: the real place it leads to.
bool ParentIsLink(const std::string& path, std::string& real) {
  struct stat st;
  std::string parent = DirName(path);
  if (lstat(parent.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  char* resolved = realpath(parent.c_str(), nullptr);
  real = resolved ? resolved : parent;
  free(resolved);
  return true;
}

class Undoer {
 public:
  Undoer(const UndoRecord& record, IFileOperationUI* ui) : record_(record), ui_(ui) {}
  // Places that the newer records of the same step free before this one is undone.
  Undoer(const UndoRecord& record, IFileOperationUI* ui, std::set<std::string> freed)
      : record_(record), ui_(ui), freed_(std::move(freed)) {}

  // Every item still as it was left; otherwise tells why not.
  bool Check() {
    for (const UndoItem& item : record_.items) {
      std::string name = Shown(record_.kind == UndoRecord::Trash ? item.from : item.to);
      struct stat st;
      if (lstat(item.to.c_str(), &st) != 0) return Refuse("「" + name + "」は見つかりません。");
      bool changed = !LeftAsIs(item, st, record_.kind);
      // Undoing a copy removes it: a folder that has since received new work stays.
      if (!changed && item.folder && record_.kind == UndoRecord::Copy) {
        if (item.ino)
          changed = !InsideAsLeft(item);
        else if (record_.recordedAtNs > 0)
          changed = ChangedSince(AT_FDCWD, item.to.c_str(), record_.recordedAtNs);
      }
      if (changed) return Refuse("「" + name + "」は操作の後で変更されています。");
      // A batch's names may trade places; the batch run checks its own way.
      if (record_.kind == UndoRecord::Rename) continue;
      if (record_.kind != UndoRecord::Copy && !freed_.count(item.from) && lstat(item.from.c_str(), &st) == 0)
        return Refuse("「" + Shown(item.from) + "」の元の場所には別の項目があります。");
      std::string real;
      if (record_.kind != UndoRecord::Copy && ParentIsLink(item.from, real))
        return Refuse("「" + Shown(item.from) + "」の元のフォルダー「" + DirName(item.from) +
                      "」はリンクに変わっています (リンク先: " + real + ")。");
    }
    return true;
  }

  // Undoes newest item first; left receives what stays undone.
  int Run(std::vector<UndoItem>& left) {
    if (record_.kind == UndoRecord::Rename) return RenameBack(left);
    int result = 0;
    size_t k = record_.items.size();
    for (; k > 0; --k) {
      const UndoItem& item = record_.items[k - 1];
      int code = UndoItemAsked(item);
      if (code == 0) continue;
      if (code == FO_ERROR_CANCELLED) {
        result = code;
        break;
      }
      result = FO_ERROR_FAILED;
      left.insert(left.begin(), item);
    }
    for (; k > 0; --k) left.insert(left.begin(), record_.items[k - 1]);
    return result;
  }

 private:
  bool Refuse(const std::string& why) {
    ui_->ShowMessage("元に戻せません: " + why);
    return false;
  }

  int UndoItemAsked(const UndoItem& item) {
    for (;;) {
      int error = 0;
      int code = UndoOne(item, error);
      if (code == 0 || error == 0) return code;  // done, or the engine has asked already
      std::string action = record_.kind == UndoRecord::Copy ? "削除" : "移動";
      switch (ui_->AskError(record_.kind == UndoRecord::Copy ? item.to : item.from, action, error)) {
        case ErrorAnswer::Retry:
          continue;
        case ErrorAnswer::Skip:
          return FO_ERROR_FAILED;
        case ErrorAnswer::Cancel:
          return FO_ERROR_CANCELLED;
      }
    }
  }

  // 0 on success; otherwise error holds errno (0 when the user was asked already).
  int UndoOne(const UndoItem& item, int& error) {
    switch (record_.kind) {
      case UndoRecord::Copy:
        return RemoveTree(item.to, error) ? 0 : FO_ERROR_FAILED;
      case UndoRecord::Trash: {
        TrashedItem trashed;
        trashed.originalPath = item.from;
        trashed.filesPath = item.to;
        trashed.infoPath = item.trashInfo;
        return RestoreFromTrash(trashed, error) ? 0 : FO_ERROR_FAILED;
      }
      case UndoRecord::Move:
        return MoveBack(item, error);
      case UndoRecord::Rename:
        break;
    }
    return FO_ERROR_BAD_REQUEST;
  }

  int MoveBack(const UndoItem& item, int& error) {
    std::vector<std::string> made;
    int code = MoveBackInto(item, error, made);
    if (code != 0) {
      // Nothing of a failed undo stays in the way of the next try: the
      // folders it made (empty ones only; what moved back stays).
      if (item.folder && !triedFrom_.empty()) {
        struct stat st;
        std::string parent = DirName(item.from), name = BaseName(item.from);
        UniqueFd fd(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd && fstat(fd.Get(), &st) == 0) RemoveEmptyFolders(fd.Get(), name.c_str(), st.st_dev);
      }
      for (auto it = made.rbegin(); it != made.rend(); ++it) rmdir(it->c_str());
    }
    triedFrom_.clear();
    return code;
  }

  int MoveBackInto(const UndoItem& item, int& error, std::vector<std::string>& made) {
    if (!MakeParents(item.from, made)) return error = errno, FO_ERROR_FAILED;
    if (renameat2(AT_FDCWD, item.to.c_str(), AT_FDCWD, item.from.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno == EINVAL || errno == ENOSYS) {
      // No RENAME_NOREPLACE on this file system: refuse to replace rather than race.
      struct stat st;
      if (lstat(item.from.c_str(), &st) == 0) return error = EEXIST, FO_ERROR_FAILED;
      if (rename(item.to.c_str(), item.from.c_str()) == 0) return 0;
    }
    if (errno != EXDEV) return error = errno, FO_ERROR_FAILED;

    // Across file systems the engine moves it (copy, check, remove), keeping
    // its name, so the name must be the old one first.
    std::string dir = DirName(item.to), oldName = BaseName(item.from), name = BaseName(item.to);
    if (name != oldName) {
      if (!RenameNoReplace(dir, name, oldName)) return error = errno ? errno : EEXIST, FO_ERROR_FAILED;
    }
    FileOperationRequest request;
    request.function = FO_MOVE;
    request.sources = {JoinPathOf(dir, oldName)};
    request.destination = DirName(item.from);
    // No FOF_ALLOWUNDO: undoing records nothing new. No FOF_NOCONFIRMATION:
    // the place was checked free, and should something appear there
    // meanwhile, it must not be replaced unasked.
    request.flags = 0;
    triedFrom_ = item.from;  // the engine makes it there: ours to clear away on failure
    FileOperationResult result = RunFileOperation(request, ui_);
    struct stat st;
    if (result.code == 0 && lstat(item.from.c_str(), &st) == 0) return 0;
    if (name != oldName && lstat(JoinPathOf(dir, oldName).c_str(), &st) == 0) RenameNoReplace(dir, oldName, name);
    error = 0;
    return result.code ? result.code : FO_ERROR_FAILED;
  }

  // A batch rename goes back whole, or not at all.
  int RenameBack(std::vector<UndoItem>& left) {
    std::vector<BatchRenameItem> back;
    for (const UndoItem& item : record_.items)
      back.push_back({DirName(item.to), BaseName(item.to), BaseName(item.from), dev_t(item.dev), ino_t(item.ino)});
    BatchRenameResult result = BatchRename(std::move(back)).Run(false);
    if (result.ok) return 0;
    ui_->ShowMessage("元に戻せません: " + result.message);
    left = record_.items;
    return FO_ERROR_FAILED;
  }

  static std::string JoinPathOf(const std::string& dir, const std::string& name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
  }

  const UndoRecord& record_;
  IFileOperationUI* ui_;
  std::set<std::string> freed_;
  std::string triedFrom_;
};

// --- The journal on disk: one line per record and per item; paths in hex,
// since any byte but '/' and NUL may be in a name.

constexpr char kJournalHeader[] = "tolvane-undo 1";

std::string Hex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  if (text.empty()) return "-";
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool Unhex(const std::string& hex, std::string& text) {
  text.clear();
  if (hex == "-") return true;
  if (hex.size() % 2) return false;
  auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    text += char(hi << 4 | lo);
  }
  return !text.empty() && text.find('\0') == std::string::npos;
}

void WriteItem(std::ostringstream& out, const UndoItem& item, int depth) {
  out << "I " << depth << ' ' << item.folder << ' ' << item.size << ' ' << item.mtimeNs << ' ' << item.dev << ' '
      << item.ino << ' ' << item.ctimeNs << ' ' << Hex(item.from) << ' ' << Hex(item.to) << ' ' << Hex(item.trashInfo)
      << '\n';
  for (const UndoItem& inner : item.inside) WriteItem(out, inner, depth + 1);
}

std::string JournalText(const std::vector<UndoRecord>& records) {
  std::ostringstream out;
  out << kJournalHeader << '\n';
  for (const UndoRecord& r : records) {
    out << "R " << int(r.kind) << ' ' << r.recordedAtNs << ' ' << r.step << ' ' << Hex(r.label) << '\n';
    for (const UndoItem& item : r.items) WriteItem(out, item, 0);
  }
  return out.str();
}

// Reads what JournalText wrote; a damaged line ends the reading there.
std::vector<UndoRecord> ParseJournal(const std::string& data) {
  std::vector<UndoRecord> records;
  std::istringstream in(data);
  std::string line;
  if (!std::getline(in, line) || line != kJournalHeader) return records;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string tag;
    fields >> tag;
    if (tag == "R") {
      int kind = -1;
      UndoRecord r;
      if (!(fields >> kind >> r.recordedAtNs) || kind < UndoRecord::Copy || kind > UndoRecord::Rename) break;
      r.kind = UndoRecord::Kind(kind);
      // Older journals have no step.
      std::string label;
      if (fields >> r.step >> label && !Unhex(label, r.label)) break;
      records.push_back(std::move(r));
      continue;
    }
    UndoItem item;
    int depth = -1;
    std::string from, to, info;
    if (tag != "I" || records.empty() ||
        !(fields >> depth >> item.folder >> item.size >> item.mtimeNs >> item.dev >> item.ino >> item.ctimeNs >> from >>
          to >> info) ||
        !Unhex(from, item.from) || !Unhex(to, item.to) || !Unhex(info, item.trashInfo) || item.to.empty())
      break;
    std::vector<UndoItem>& items = records.back().items;
    if (depth == 0)
      items.push_back(std::move(item));
    else if (depth == 1 && !items.empty())
      items.back().inside.push_back(std::move(item));
    else
      break;
  }
  // A record cut short by damage is dropped whole: half of an operation is no undo.
  while (!records.empty() && records.back().items.empty()) records.pop_back();
  return records;
}

}  // namespace

std::string UndoRecord::Description() const {
  if (!label.empty()) return label;
  if (items.size() == 1) {
    std::string name = "「" + Shown(items[0].from) + "」";
    switch (kind) {
      case Copy:
        return name + "のコピー";
      case Move:
        return name + "の移動";
      case Trash:
        return name + "のごみ箱への移動";
      case Rename:
        return name + "の名前の変更";
    }
  }
  std::string count = " (" + std::to_string(items.size()) + " 項目)";
  switch (kind) {
    case Copy:
      return "コピー" + count;
    case Move:
      return "移動" + count;
    case Trash:
      return "ごみ箱へ移動" + count;
    case Rename:
      return "名前の一括変更" + count;
  }
  return {};
}

FileOperationJournal& FileOperationJournal::Instance() {
  static FileOperationJournal journal;
  return journal;
}

void FileOperationJournal::Record(UndoRecord record) {
  if (record.items.empty()) return;
  if (record.recordedAtNs == 0) record.recordedAtNs = NowNs();
  std::lock_guard<std::mutex> guard(lock_);
  ++recorded_;
  records_.push_back(std::move(record));
  if (records_.size() > kMaxRecords) records_.erase(records_.begin());
  SaveLocked();
}

void FileOperationJournal::UseFile(const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  file_ = path;
  records_.clear();
  std::string data;
  if (!file_.empty() && ReadWholeFile(file_, data)) records_ = ParseJournal(data);
}

void FileOperationJournal::SaveLocked() {
  if (file_.empty()) return;
  if (records_.empty()) {
    unlink(file_.c_str());
    return;
  }
  // Owner only: it lists where the user's files went.
  std::string text = JournalText(records_);
  if (access(file_.c_str(), F_OK) != 0) {
    UniqueFd created(open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  }
  WriteFileAtomically(file_, text);
}

bool FileOperationJournal::CanUndo() const {
  std::lock_guard<std::mutex> guard(lock_);
  return !records_.empty();
}

std::string FileOperationJournal::NewestDescription() const {
  std::lock_guard<std::mutex> guard(lock_);
  return records_.empty() ? std::string() : records_.back().Description();
}

int FileOperationJournal::UndoLast(IFileOperationUI* ui) {
  if (!ui) ui = DefaultFileOperationUI(nullptr);
  std::vector<UndoRecord> step;  // newest last
  size_t index;
  {
    // Taken out while it is undone: the engine may record meanwhile (a
    // cross-file-system move back runs it), and a second undo must not
    // take the same record.
    std::lock_guard<std::mutex> guard(lock_);
    if (records_.empty()) return FO_ERROR_BAD_REQUEST;
    const uint64_t number = records_.back().step;
    do {
      step.insert(step.begin(), std::move(records_.back()));
      records_.pop_back();
    } while (number != 0 && !records_.empty() && records_.back().step == number);
    index = records_.size();
    SaveLocked();
  }
  std::vector<UndoRecord> left;  // what stays undone, oldest first
  int result = 0;
  bool checked = ui != nullptr;
  std::set<std::string> freed;
  for (size_t k = step.size(); k > 0 && checked; --k) {
    checked = Undoer(step[k - 1], ui, freed).Check();
    for (const UndoItem& item : step[k - 1].items) freed.insert(item.to);
  }
  if (!checked) {
    left = step;
    result = ui ? FO_ERROR_FAILED : FO_ERROR_BAD_REQUEST;
  } else {
    for (size_t k = step.size(); k > 0; --k) {
      UndoRecord& record = step[k - 1];
      std::vector<UndoItem> undone;
      int code = result == FO_ERROR_CANCELLED ? FO_ERROR_CANCELLED : Undoer(record, ui).Run(undone);
      if (result == FO_ERROR_CANCELLED) undone = record.items;
      if (code != 0 && result == 0) result = code;
      if (code == FO_ERROR_CANCELLED) result = code;
      if (!undone.empty()) {
        record.items = std::move(undone);
        left.insert(left.begin(), std::move(record));
      }
    }
  }
  if (!left.empty()) {
    // What stays undone goes back where it was, under anything recorded meanwhile.
    std::lock_guard<std::mutex> guard(lock_);
    records_.insert(records_.begin() + std::min(index, records_.size()), std::make_move_iterator(left.begin()),
                    std::make_move_iterator(left.end()));
    SaveLocked();
  }
  return result;
}

uint64_t FileOperationJournal::Mark() const {
  std::lock_guard<std::mutex> guard(lock_);
  return recorded_;
}

void FileOperationJournal::JoinSince(uint64_t mark, const std::string& label) {
  std::lock_guard<std::mutex> guard(lock_);
  size_t count = std::min<uint64_t>(recorded_ - mark, records_.size());
  if (count == 0) return;
  std::vector<UndoRecord> joined;
  for (size_t i = records_.size() - count; i < records_.size(); ++i) {
    UndoRecord& r = records_[i];
    auto same = std::find_if(joined.begin(), joined.end(), [&](const UndoRecord& j) { return j.kind == r.kind; });
    if (same == joined.end()) {
      joined.push_back(std::move(r));
      continue;
    }
    for (UndoItem& item : r.items) same->items.push_back(std::move(item));
    same->recordedAtNs = std::min(same->recordedAtNs, r.recordedAtNs);
  }
  records_.resize(records_.size() - count);
  const uint64_t number = uint64_t(NowNs());
  for (UndoRecord& r : joined) {
    r.step = number;
    r.label = label;
    records_.push_back(std::move(r));
  }
  SaveLocked();
}

void FileOperationJournal::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  records_.clear();
  SaveLocked();
}
