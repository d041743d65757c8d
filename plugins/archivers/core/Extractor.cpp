#include "Extractor.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "CommandLine.h"
#include "DestinationTree.h"
#include "LinkCheck.h"
#include "TempFiles.h"

namespace arc {

namespace {

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string RelDir(const std::string& rel) {
  size_t slash = rel.rfind('/');
  return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

// Creates the folder and its missing parents.
bool MakeFolders(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = DirName(path);
  if (parent != path && !MakeFolders(parent)) return false;
  return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

// "a.txt" -> "a_1.txt", "a_2.txt", ... the first free one in the folder.
std::string FreeName(int dir, const std::string& base) {
  std::string stem = base, ext;
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    stem = base.substr(0, dot);
    ext = base.substr(dot);
  }
  for (int i = 1; i < 100000; ++i) {
    std::string candidate = stem + "_" + std::to_string(i) + ext;
    struct stat st {};
    if (fstatat(dir, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return candidate;
  }
  return std::string();
}

// Patterns as SelectsEntry reads them; names without wildcards (a selection of many
// entries, say) are looked up instead of matched one by one against each entry.
class PatternSet {
 public:
  PatternSet(const std::vector<std::string>& patterns, bool brackets) : brackets_(brackets) {
    for (std::string p : patterns) {
      while (p.size() > 1 && p.back() == '/') p.pop_back();
      const bool wild = p.empty() || p.find_first_of(brackets ? "*?[" : "*?") != std::string::npos;
      if (wild)
        wild_.push_back(std::move(p));
      else
        (p.find('/') == std::string::npos ? bare_ : pathed_).insert(std::move(p));
    }
  }
  bool empty() const { return wild_.empty() && bare_.empty() && pathed_.empty(); }
  bool Selects(const std::string& name) const {
    std::string n = name;
    while (n.size() > 1 && n.back() == '/') n.pop_back();
    auto named = [&](const std::string& part) { return bare_.count(part) || pathed_.count(part); };
    if (named(n)) return true;
    const size_t last = n.rfind('/');
    if (last != std::string::npos && bare_.count(n.substr(last + 1))) return true;
    // A folder named by a pattern selects what is below it.
    for (size_t slash = n.find('/'); slash != std::string::npos; slash = n.find('/', slash + 1))
      if (named(n.substr(0, slash))) return true;
    for (const auto& p : wild_)
      if (SelectsEntry(p, name, brackets_)) return true;
    return false;
  }

 private:
  bool brackets_;
  std::vector<std::string> wild_;
  std::unordered_set<std::string> bare_, pathed_;  // literal names without and with a '/'
};

bool Selected(const PatternSet& patterns, const PatternSet& excludes, const std::string& name) {
  if (!patterns.empty() && !patterns.Selects(name)) return false;
  return excludes.empty() || !excludes.Selects(name);
}

int OpenError(ArchiveReader& reader, Output& out, const std::string& archive) {
  struct stat st {};
  if (stat(archive.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    out.Line("書庫ではありません (通常のファイルではありません): " + archive);
    return ARC_ERROR_NOT_ARC_FILE;
  }
  if (access(archive.c_str(), R_OK) == 0) {
    out.Line("この形式の書庫ではないか、書庫が壊れています: " + archive + " (" + reader.error() + ")");
    return ARC_ERROR_NOT_ARC_FILE;
  }
  out.Line("書庫を開けません: " + archive + " (" + reader.error() + ")");
  return ARC_ERROR_ARC_FILE_OPEN;
}

// Errors that end the whole extraction; any other stops only the entry.
bool EndsAll(int err) { return err == ENOSPC || err == EDQUOT || err == EROFS || err == EIO; }

std::string ErrorText(int err) {
  switch (err) {
    case ENAMETOOLONG:
      return "名前が長すぎます";
    case ENOTDIR:
      return "途中に同じ名前のファイルがあります";
    case EEXIST:
      return "同じ名前のものが既にあります";
    case ELOOP:
    case EXDEV:
      return "リンクを通る展開は行いません";
    case ENOSPC:
    case EDQUOT:
      return "空き容量が足りません";
    default:
      return strerror(err);
  }
}

mode_t CurrentUmask() {
  FILE* f = fopen("/proc/self/status", "re");
  if (!f) return 022;
  char line[256];
  mode_t mask = 022;
  while (fgets(line, sizeof line, f))
    if (strncmp(line, "Umask:", 6) == 0) mask = static_cast<mode_t>(strtol(line + 6, nullptr, 8));
  fclose(f);
  return mask;
}

std::string Megabytes(int64_t n) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(n) / (1 << 20));
  return buf;
}

// "1,234,567 バイト、2026-12-09 06:20"
std::string SizeAndTime(int64_t size, int64_t mtime) {
  std::string digits = std::to_string(size), grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  char when[32] = "";
  const time_t t = static_cast<time_t>(mtime);
  struct tm local {};
  if (localtime_r(&t, &local)) strftime(when, sizeof when, "%Y-%m-%d %H:%M", &local);
  return grouped + " バイト、" + when;
}

std::string Times(int64_t n, int64_t of) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.1f", of > 0 ? static_cast<double>(n) / static_cast<double>(of) : 0.0);
  return buf;
}

struct FileId {
  dev_t dev;
  ino_t ino;
};

enum class Step { Ok, Skip, Stop };

class Extraction {
 public:
  Extraction(const ExtractJob& job, ArchiveReader& reader, Feedback& feedback, Output& out)
      : job_(job),
        patterns_(job.patterns, job.brackets),
        excludes_(job.excludes, job.brackets),
        reader_(reader),
        feedback_(feedback),
        out_(out),
        policy_(job.overwrite),
        umask_(CurrentUmask()) {}

  int Run(const std::string& root);

 private:
  Step Entry(EntryData& data);
  Step Regular(const EntryData& data, const std::string& clean);
  Step HardLink(const EntryData& data, const std::string& clean, const std::string& target);
  Step Folder(const EntryData& data, const std::string& clean);
  Step SpecialFile(const EntryData& data);
  void FinishLinks();
  void FixFolders();
  // The parent folder of rel, made as needed; -1 after saying why (stop_ set when fatal).
  int ParentOf(const std::string& rel, const std::string& name);
  // What to do with something already at (dir, base): false to leave the entry out.
  bool MayWrite(int dir, const std::string& base, const std::string& clean, bool isDir, bool& replace,
                std::string& finalBase);
  bool WriteData(int dir, const std::string& base, const EntryData& data, bool replace, FileId& id,
                 const std::string& clean);
  // Copies the entry's data into fd; err is set when writing failed.
  bool CopyData(int fd, const EntryData& data, const std::string& clean, bool& crcWarning, int& err);
  bool EnoughSpace(int64_t need);
  // The file already there against the entry, for the replace question.
  std::string Comparison(const struct stat& there) const {
    if (!entry_) return std::string();
    return "既にあるファイル: " + SizeAndTime(there.st_size, there.st_mtime) +
           "\n書庫の中のファイル: " + SizeAndTime(entry_->size, entry_->mtime);
  }
  void Skip(const std::string& name, const std::string& why) {
    out_.Line("展開できません: " + name + " (" + why + ")");
    ++skipped_;
  }
  void Refuse(const std::string& text) {
    out_.Line("拒否しました (" + text + ")");
    ++refused_;
  }
  bool Failed(int err, const std::string& name) {
    if (EndsAll(err)) {
      out_.Line("書き込めません: " + name + " (" + ErrorText(err) + ")");
      if (!result_) result_ = err == ENOSPC || err == EDQUOT ? ARC_ERROR_DISK_SPACE : ARC_ERROR_CANNOT_WRITE;
      stop_ = true;
      return false;
    }
    Skip(name, ErrorText(err));
    return false;
  }

  struct PendingLink {
    std::string name, target;
    bool replace;
  };
  struct MadeFolder {
    std::string rel;
    mode_t perm;
    EntryData times;
  };

  const ExtractJob& job_;
  const PatternSet patterns_, excludes_;
  ArchiveReader& reader_;
  Feedback& feedback_;
  Output& out_;
  Overwrite policy_;
  mode_t umask_;
  DestinationTree tree_;
  std::string root_;
  std::unordered_map<std::string, FileId> written_;  // regular files this extraction wrote
  std::map<std::string, PendingLink> links_;         // symbolic links, made at the end
  std::vector<MadeFolder> folders_;                  // modes and times set at the end
  std::unordered_set<std::string> swept_;
  int64_t freeEstimate_ = -1;
  const EntryData* entry_ = nullptr;  // the entry being extracted
  int64_t declaredLeft_ = 0;          // of the declared total, not yet claimed by an entry
  bool spaceAccepted_ = false;
  int result_ = 0;
  int refused_ = 0, skipped_ = 0, skippedUnasked_ = 0, damaged_ = 0, matched_ = 0, entries_ = 0;
  bool stop_ = false;
};

int Extraction::ParentOf(const std::string& rel, const std::string& name) {
  std::string relDir = RelDir(rel);
  bool made = false;
  int dir = tree_.Folder(relDir, &made);
  if (dir < 0) {
    int err = errno;
    if (err == ELOOP || err == EXDEV)
      Refuse("リンクを通る展開は行いません: " + name);
    else
      Failed(err, name);
    return -1;
  }
  if (!made && swept_.insert(relDir).second) SweepStaleTemps(dir);
  return dir;
}

bool Extraction::MayWrite(int dir, const std::string& base, const std::string& clean, bool isDir, bool& replace,
                          std::string& finalBase) {
  replace = false;
  finalBase = base;
  struct stat st {};
  if (fstatat(dir, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (st.st_dev == reader_.device() && st.st_ino == reader_.inode()) {
    Refuse("展開中の書庫そのものは置き換えません: " + clean);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    if (isDir) return true;
    Skip(clean, "同じ名前のフォルダーがあります");
    return false;
  }
  if (isDir) {
    Skip(clean, "同じ名前のファイルがあります");
    return false;
  }
  Overwrite decision = policy_;
  if (decision == Overwrite::Ask) {
    if (!feedback_.CanAsk()) {
      out_.Line("既にあるため展開しませんでした: " + clean);
      ++skippedUnasked_;
      return false;
    }
    switch (feedback_.AskOverwrite(root_ + "/" + clean, Comparison(st))) {
      case Answer::Yes:
        decision = Overwrite::Always;
        break;
      case Answer::YesToAll:
        decision = policy_ = Overwrite::Always;
        break;
      case Answer::No:
        decision = Overwrite::Never;
        break;
      case Answer::NoToAll:
        decision = policy_ = Overwrite::Never;
        break;
      case Answer::Cancel:
        result_ = ARC_ERROR_USER_CANCEL;
        stop_ = true;
        return false;
    }
  }
  if (decision == Overwrite::Never) {
    out_.Line("既にあるため展開しませんでした: " + clean);
    return false;
  }
  if (decision == Overwrite::Rename) {
    finalBase = FreeName(dir, base);
    return !finalBase.empty();
  }
  replace = true;
  return true;
}

bool Extraction::EnoughSpace(int64_t need) {
  if (need <= 0 || spaceAccepted_) return true;
  // Entries within the declared total were counted by the first check.
  const int64_t counted = std::min(need, declaredLeft_);
  declaredLeft_ -= counted;
  need -= counted;
  if (need <= 0) return true;
  if (need <= freeEstimate_) {
    freeEstimate_ -= need;
    return true;
  }
  struct statvfs sv {};
  if (fstatvfs(tree_.root(), &sv) != 0) return true;
  freeEstimate_ = static_cast<int64_t>(sv.f_bavail) * static_cast<int64_t>(sv.f_frsize);
  if (need <= freeEstimate_) {
    freeEstimate_ -= need;
    return true;
  }
  const std::string text = "展開には " + Megabytes(need) + " 必要ですが、展開先の空きは " + Megabytes(freeEstimate_) +
                           " です (書庫は " + Megabytes(reader_.fileSize()) + "、展開するとその " +
                           Times(need, reader_.fileSize()) + " 倍)。\n展開を続けますか?";
  if (feedback_.AskYesNo("空き容量", text)) {
    spaceAccepted_ = true;
    return true;
  }
  out_.Line("展開先の空きが足りないため展開しませんでした: " + Megabytes(need) + " 必要、空き " +
            Megabytes(freeEstimate_));
  result_ = ARC_ERROR_DISK_SPACE;
  stop_ = true;
  return false;
}

// The data of the current entry under a temporary name in dir, renamed into place when
// complete; a wrong checksum keeps the data with a warning, unless the entry is encrypted
// (then the password was wrong).
bool Extraction::CopyData(int fd, const EntryData& data, const std::string& clean, bool& crcWarning, int& err) {
  const bool encrypted = archive_entry_is_data_encrypted(reader_.entry()) > 0 || reader_.decrypted();
  crcWarning = false;
  err = 0;
  const void* buf;
  size_t len;
  la_int64_t offset;
  int64_t end = 0;
  for (;;) {
    int dr = archive_read_data_block(reader_.handle(), &buf, &len, &offset);
    if (dr == ARCHIVE_EOF) break;
    if (dr != ARCHIVE_OK) {
      const char* e = archive_error_string(reader_.handle());
      if (dr == ARCHIVE_WARN && !encrypted) {
        crcWarning = true;  // all data came; only its checksum disagrees
        break;
      }
      if (dr == ARCHIVE_FATAL) stop_ = true;
      if (reader_.decrypted()) {
        out_.Line("パスワードが違うか、書庫が壊れています: " + clean);
        ++damaged_;
      } else if (encrypted && reader_.passwordRefused()) {
        out_.Line("パスワードがないため展開できません: " + clean);
        ++skipped_;
      } else if (encrypted && (reader_.formatCode() & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_7ZIP) {
        out_.Line("暗号化された 7z のエントリは展開できません: " + clean);
        ++skipped_;
      } else if (encrypted) {
        out_.Line((reader_.passwordGiven() ? "パスワードが違います: " : "パスワードがないため展開できません: ") +
                  clean);
        ++skipped_;
      } else {
        out_.Line("書庫が壊れています: " + clean + " (" + (e ? e : "") + ")");
        ++damaged_;
      }
      return false;
    }
    const char* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < len) {
      ssize_t n = pwrite(fd, p + done, len - done, offset + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done < len) {
      err = errno ? errno : ENOSPC;
      return false;
    }
    end = std::max<int64_t>(end, offset + static_cast<int64_t>(len));
    if (!feedback_.Progress(end)) {
      result_ = ARC_ERROR_USER_CANCEL;
      stop_ = true;
      return false;
    }
  }
  if (!crcWarning && data.sizeKnown && end < data.size && ftruncate(fd, data.size) != 0) {
    err = errno;
    return false;
  }
  if (data.mtimeSet) {
    struct timespec times[2];
    times[1] = {static_cast<time_t>(data.mtime), data.mtimeNsec};
    times[0] = data.atimeSet ? timespec{static_cast<time_t>(data.atime), data.atimeNsec} : times[1];
    futimens(fd, times);
  }
  return true;
}

// The data of the current entry under a temporary name in dir, renamed into place when
// complete; a wrong checksum keeps the data with a warning, unless the entry is encrypted
// (then the password was wrong).
bool Extraction::WriteData(int dir, const std::string& base, const EntryData& data, bool replace, FileId& id,
                           const std::string& clean) {
  const std::string temp = TempName();
  int fd = openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                  data.perm & 0777);  // never set-user-ID, set-group-ID or sticky
  if (fd < 0) return Failed(errno, clean);
  bool crcWarning = false;
  int err = 0;
  bool ok = CopyData(fd, data, clean, crcWarning, err);
  struct stat st {};
  fstat(fd, &st);
  if (close(fd) != 0 && ok) {
    err = errno;
    ok = false;
  }
  if (ok && renameat2(dir, temp.c_str(), dir, base.c_str(), replace ? 0 : RENAME_NOREPLACE) != 0) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    unlinkat(dir, temp.c_str(), 0);
    if (err) Failed(err, clean);
    return false;
  }
  if (crcWarning) {
    out_.Line("CRC が一致しません (壊れている可能性があります): " + clean);
    ++damaged_;
  }
  id = {st.st_dev, st.st_ino};
  return true;
}

Step Extraction::Regular(const EntryData& data, const std::string& clean) {
  int dir = ParentOf(clean, data.name);
  if (dir < 0) return stop_ ? Step::Stop : Step::Skip;
  bool replace;
  std::string base;
  if (!MayWrite(dir, BaseName(clean), clean, false, replace, base)) return stop_ ? Step::Stop : Step::Skip;
  if (!feedback_.Begin(data.name, root_ + "/" + clean, data.size)) {
    result_ = ARC_ERROR_USER_CANCEL;
    return Step::Stop;
  }
  FileId id{};
  if (!WriteData(dir, base, data, replace, id, clean)) return stop_ ? Step::Stop : Step::Skip;
  written_[RelDir(clean).empty() ? base : RelDir(clean) + "/" + base] = id;
  return Step::Ok;
}

// A hard link only to a file this extraction wrote and that is still that file; a link to
// anything that was there before is refused and nothing is written through it. An entry
// that carries the data itself (cpio, pax) then becomes a file of its own.
Step Extraction::HardLink(const EntryData& data, const std::string& clean, const std::string& target) {
  auto it = written_.find(target);
  int tdir = it == written_.end() ? -1 : tree_.OpenFolder(RelDir(target));
  // The file itself, held open: linked by its descriptor, whatever its name points to by then.
  int held = tdir < 0 ? -1 : openat(tdir, BaseName(target).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  const bool ours = held >= 0 && fstat(held, &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == it->second.dev &&
                    st.st_ino == it->second.ino;
  if (!ours) {
    if (held >= 0) close(held);
    if (tdir >= 0) close(tdir);
    if (data.size > 0) return Regular(data, clean);
    Refuse("展開したファイル以外へのリンク: " + data.name + " -> " + data.hardlink);
    return Step::Skip;
  }
  tree_.Forget();
  int dir = ParentOf(clean, data.name);
  bool replace = false;
  std::string base;
  Step step = Step::Skip;
  if (dir >= 0 && MayWrite(dir, BaseName(clean), clean, false, replace, base)) {
    step = Step::Ok;
    FileId id = it->second;
    if (data.size > 0) {
      // Data with the link goes into the file it links to (this extraction wrote it), in
      // place, so its other names see it too.
      int fd = openat(tdir, BaseName(target).c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
      struct stat now {};
      bool crcWarning = false;
      int err = 0;
      if (fd < 0 || fstat(fd, &now) != 0 || now.st_ino != id.ino || now.st_dev != id.dev || ftruncate(fd, 0) != 0 ||
          !CopyData(fd, data, clean, crcWarning, err)) {
        if (fd >= 0 && err) Failed(err, clean);
        step = Step::Skip;
      }
      if (fd >= 0) close(fd);
    }
    if (step == Step::Ok) {
      const std::string temp = replace ? TempName() : base;
      const std::string self = "/proc/self/fd/" + std::to_string(held);
      if (linkat(AT_FDCWD, self.c_str(), dir, temp.c_str(), AT_SYMLINK_FOLLOW) != 0 ||
          (replace && renameat(dir, temp.c_str(), dir, base.c_str()) != 0)) {
        int err = errno;
        if (replace) unlinkat(dir, temp.c_str(), 0);
        Failed(err, clean);
        step = Step::Skip;
      } else {
        written_[RelDir(clean).empty() ? base : RelDir(clean) + "/" + base] = id;
      }
    }
  }
  close(held);
  close(tdir);
  return stop_ ? Step::Stop : step;
}

Step Extraction::Folder(const EntryData& data, const std::string& clean) {
  int parent = ParentOf(clean, data.name);
  if (parent < 0) return stop_ ? Step::Stop : Step::Skip;
  bool replace;
  std::string base;
  if (!MayWrite(parent, BaseName(clean), clean, true, replace, base)) return stop_ ? Step::Stop : Step::Skip;
  bool made = false;
  if (tree_.Folder(clean, &made) < 0) {
    Failed(errno, clean);
    return stop_ ? Step::Stop : Step::Skip;
  }
  // Folders made here get the stored mode, but always stay usable by their owner.
  if (made) folders_.push_back({clean, static_cast<mode_t>(((data.perm & 0777) | 0700) & ~umask_), data});
  return Step::Ok;
}

Step Extraction::SpecialFile(const EntryData& data) {
  Skip(data.name, "デバイスや FIFO などの特殊なファイルは作りません");
  return Step::Skip;
}

Step Extraction::Entry(EntryData& data) {
  std::string clean;
  if (!CleanEntryPath(data.name, clean)) {
    Refuse("展開先の外を指す名前: " + data.name);
    return Step::Skip;
  }
  if (clean.empty()) return Step::Skip;  // the archive's own root folder
  const bool isDir = data.type == AE_IFDIR;
  if (!job_.withPaths) {
    if (isDir) return Step::Skip;
    clean = BaseName(clean);
  }
  if (!data.hardlink.empty()) {
    std::string target;
    if (!CleanEntryPath(data.hardlink, target) || target.empty()) {
      Refuse("展開先の外を指すリンク: " + data.name + " -> " + data.hardlink);
      return Step::Skip;
    }
    return HardLink(data, clean, job_.withPaths ? target : BaseName(target));
  }
  switch (data.type) {
    case AE_IFREG:
      return EnoughSpace(data.size) ? Regular(data, clean) : Step::Stop;
    case AE_IFDIR:
      return Folder(data, clean);
    case AE_IFLNK: {
      if (data.symlink.empty() || data.symlink[0] == '/') {
        Refuse("展開先の外を指すリンク: " + data.name + " -> " + data.symlink);
        return Step::Skip;
      }
      int dir = ParentOf(clean, data.name);
      if (dir < 0) return stop_ ? Step::Stop : Step::Skip;
      bool replace;
      std::string base;
      if (!MayWrite(dir, BaseName(clean), clean, false, replace, base)) return stop_ ? Step::Stop : Step::Skip;
      const std::string rel = RelDir(clean).empty() ? base : RelDir(clean) + "/" + base;
      links_[rel] = {data.name, data.symlink, replace};
      return Step::Ok;
    }
    default:
      return SpecialFile(data);
  }
}

// The symbolic links, made last: each must lead beneath the destination through every link
// on the way, the others of this archive included. Dropping one can change where another
// leads, so the check repeats until nothing changes, and once more over what was made.
void Extraction::FinishLinks() {
  if (links_.empty()) return;
  const int root = tree_.root();
  for (bool changed = true; changed;) {
    changed = false;
    for (auto it = links_.begin(); it != links_.end();) {
      LinkLookup lookup = [&](const std::string& rel, std::string& target) {
        auto l = links_.find(rel);
        if (l != links_.end()) {
          target = l->second.target;
          return true;
        }
        return DiskLink(root, rel, target);
      };
      if (LinkStaysInside(it->first, it->second.target, lookup)) {
        ++it;
        continue;
      }
      Refuse("展開先の外を指すリンク: " + it->second.name + " -> " + it->second.target);
      it = links_.erase(it);
      changed = true;
    }
  }
  std::vector<std::string> made;
  for (const auto& [rel, link] : links_) {
    int dir = tree_.Folder(RelDir(rel));
    if (dir < 0) {
      Failed(errno, link.name);
      continue;
    }
    const std::string base = BaseName(rel);
    const std::string temp = link.replace ? TempName() : base;
    if (symlinkat(link.target.c_str(), dir, temp.c_str()) != 0 ||
        (link.replace && renameat(dir, temp.c_str(), dir, base.c_str()) != 0)) {
      int err = errno;
      if (link.replace) unlinkat(dir, temp.c_str(), 0);
      Failed(err, link.name);
      continue;
    }
    made.push_back(rel);
  }
  // What is on disk now decides: a link that could not be made may have been on the way.
  for (bool changed = true; changed;) {
    changed = false;
    for (auto it = made.begin(); it != made.end();) {
      std::string target;
      LinkLookup onDisk = [&](const std::string& rel, std::string& t) { return DiskLink(root, rel, t); };
      if (DiskLink(root, *it, target) && !LinkStaysInside(*it, target, onDisk)) {
        unlinkat(root, it->c_str(), 0);
        Refuse("展開先の外を指すリンク: " + *it + " -> " + target);
        it = made.erase(it);
        changed = true;
      } else {
        ++it;
      }
    }
  }
}

void Extraction::FixFolders() {
  // Deepest first, so setting a folder's time is not undone by its children.
  std::sort(folders_.begin(), folders_.end(), [](const MadeFolder& a, const MadeFolder& b) { return a.rel > b.rel; });
  for (const MadeFolder& f : folders_) {
    int path = tree_.OpenFolder(f.rel);
    if (path < 0) continue;
    int fd = openat(path, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(path);
    if (fd < 0) continue;
    fchmod(fd, f.perm);
    if (f.times.mtimeSet) {
      struct timespec times[2];
      times[1] = {static_cast<time_t>(f.times.mtime), f.times.mtimeNsec};
      times[0] = f.times.atimeSet ? timespec{static_cast<time_t>(f.times.atime), f.times.atimeNsec} : times[1];
      futimens(fd, times);
    }
    close(fd);
  }
}

int Extraction::Run(const std::string& root) {
  root_ = root == "/" ? std::string() : root;
  if (!tree_.Open(root)) {
    out_.Line("展開先のフォルダーを開けません: " + root + " (" + strerror(errno) + ")");
    return ARC_ERROR_MAKEDIRECTORY;
  }
  swept_.insert("");
  SweepStaleTemps(tree_.root());
  feedback_.SetArchiveSize(reader_.fileSize());
  if (!feedback_.Open()) {
    result_ = ARC_ERROR_USER_CANCEL;
    stop_ = true;
  }
  EntryData data;
  std::string current;
  reader_.passwordSource = [&](bool again, std::string& password) {
    return feedback_.AskPassword(current, again, password);
  };
  bool totalChecked = false;
  while (!stop_) {
    int r = reader_.Next(data);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK && reader_.decryptFailed()) {
      out_.Line(reader_.error());
      result_ = ARC_ERROR_HEADER_BROKEN;
      break;
    }
    if (r != ARCHIVE_OK && reader_.headerEncrypted()) {
      out_.Line((reader_.passwordRefused() ? "パスワードがないため展開できません: "
                                           : "名前まで暗号化された 7z の書庫は展開できません: ") +
                reader_.path());
      result_ = ARC_ERROR_NOT_SUPPORT;
      break;
    }
    if (r != ARCHIVE_OK) {
      out_.Line("書庫が壊れています: " + reader_.path() + " (" + reader_.error() + ")");
      result_ = matched_ == 0 && reader_.error().find("Unrecognized") != std::string::npos ? ARC_ERROR_NOT_ARC_FILE
                                                                                           : ARC_ERROR_HEADER_BROKEN;
      break;
    }
    ++entries_;
    if (!totalChecked) {
      totalChecked = true;
      // Most formats tell their whole size up front: one question before anything is
      // written. Entries beyond what was declared are still checked one by one, and so
      // are the entries chosen by name.
      const int64_t total = job_.patterns.empty() ? reader_.declaredTotal() : -1;
      if (total >= 0) {
        feedback_.SetDeclaredTotal(total);
        if (!EnoughSpace(total)) break;
        declaredLeft_ = total;
      }
    }
    if (data.name.empty()) {
      Skip("(名前のないエントリ " + std::to_string(entries_) + " 番目)", "名前を読めません");
      continue;
    }
    if (!Selected(patterns_, excludes_, data.name)) continue;
    ++matched_;
    current = data.name;
    entry_ = &data;
    if (Entry(data) == Step::Stop) break;
    entry_ = nullptr;
  }
  if (result_ != ARC_ERROR_USER_CANCEL) FinishLinks();
  FixFolders();
  feedback_.End();
  if (!result_ && refused_) result_ = ARC_ERROR_UNSAFE_PATH;
  if (!result_ && damaged_) result_ = ARC_ERROR_FILE_CRC;
  if (!result_ && skippedUnasked_) result_ = ARC_ERROR_ALREADY_EXIST;
  if (!result_ && skipped_) result_ = ARC_ERROR_WARNING;
  if (!result_ && entries_ == 0) {
    // A cut archive often reads as an empty one.
    out_.Line("書庫にファイルがありません: " + job_.archive);
    result_ = ARC_ERROR_NOT_EXIST;
  }
  if (!result_ && matched_ == 0 && !job_.patterns.empty()) {
    out_.Line("該当するファイルがありません。");
    result_ = ARC_ERROR_NOT_EXIST;
  }
  if (refused_) out_.Line(std::to_string(refused_) + " 個のエントリを拒否しました。");
  if (skipped_) out_.Line(std::to_string(skipped_) + " 個のエントリを展開できませんでした。");
  if (result_ && result_ != ARC_ERROR_USER_CANCEL) feedback_.ShowError(out_.all());
  return result_;
}

}  // namespace

bool CleanEntryPath(const std::string& name, std::string& clean) {
  clean.clear();
  if (name.empty() || name[0] == '/') return false;
  for (const std::string& part : PathComponents(name)) {
    if (part == ".") continue;
    if (part == "..") return false;
    if (!clean.empty()) clean += '/';
    clean += part;
  }
  return true;
}

int Extract(const ReadFormats& formats, const ExtractJob& job, Feedback& feedback, Output& out) {
  ArchiveReader reader;
  if (!reader.Open(job.archive, formats)) return OpenError(reader, out, job.archive);
  std::string dest = job.dest.empty() ? DirName(job.archive) : job.dest;
  while (dest.size() > 1 && dest.back() == '/') dest.pop_back();
  char real[PATH_MAX];
  if (!MakeFolders(dest) || !realpath(dest.c_str(), real)) {
    out.Line("展開先のフォルダーを作れません: " + dest + " (" + strerror(errno) + ")");
    return ARC_ERROR_MAKEDIRECTORY;
  }
  Extraction extraction(job, reader, feedback, out);
  return extraction.Run(real);
}

int ExtractToMemory(const ReadFormats& formats, const std::string& archive, const std::string& pattern, bool brackets,
                    void* buffer, uint32_t size, int64_t* time, uint16_t* attr, uint32_t* written, Output& out) {
  if (written) *written = 0;
  ArchiveReader reader;
  if (!reader.Open(archive, formats)) return OpenError(reader, out, archive);
  EntryData data;
  for (;;) {
    int r = reader.Next(data);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK) {
      out.Line("書庫が壊れています: " + reader.path() + " (" + reader.error() + ")");
      return ARC_ERROR_HEADER_BROKEN;
    }
    if (data.type != AE_IFREG || !SelectsEntry(pattern, data.name, brackets)) continue;
    if (time) *time = data.mtime;
    if (attr) {
      uint16_t a = 0x20;
      if (!(data.perm & 0200)) a |= 0x01;
      if (!BaseName(data.name).empty() && BaseName(data.name)[0] == '.') a |= 0x02;
      *attr = a;
    }
    uint32_t got = 0;
    char* dst = static_cast<char*>(buffer);
    char spill[1];
    for (;;) {
      la_ssize_t n = got < size && dst ? archive_read_data(reader.handle(), dst + got, size - got)
                                       : archive_read_data(reader.handle(), spill, 1);
      if (n == 0) break;
      if (n < 0) {
        out.Line("書庫が壊れています: " + data.name);
        if (written) *written = got;
        return ARC_ERROR_FILE_CRC;
      }
      if (got >= size || !dst) {
        out.Line("バッファーが足りません: " + data.name);
        if (written) *written = got;
        return ARC_ERROR_MORE_HEAP_MEMORY;
      }
      got += static_cast<uint32_t>(n);
    }
    if (written) *written = got;
    return 0;
  }
  out.Line("該当するファイルがありません: " + pattern);
  return ARC_ERROR_NOT_EXIST;
}

}  // namespace arc
