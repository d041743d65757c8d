#include "Creator.h"

#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "CommandLine.h"

namespace arc {

namespace {

struct DiskItem {
  std::string path;  // where it is
  std::string name;  // how it is stored
  struct stat st {};
};

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty() || name.empty() || name[0] == '/') return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// The stored name: relative, no "." or ".." parts.
std::string StoredName(const std::string& path, const std::string& base, bool junk) {
  std::string rel = path;
  if (!base.empty() && rel.compare(0, base.size(), base) == 0 &&
      (rel.size() == base.size() || rel[base.size()] == '/' || base.back() == '/'))
    rel = rel.substr(base.size());
  std::string clean;
  size_t i = 0;
  while (i <= rel.size()) {
    size_t j = rel.find('/', i);
    if (j == std::string::npos) j = rel.size();
    std::string part = rel.substr(i, j - i);
    if (!part.empty() && part != "." && part != "..") {
      if (!clean.empty()) clean += '/';
      clean += part;
    }
    i = j + 1;
  }
  if (junk) return BaseName(clean);
  return clean;
}

// "./a/b/" and "a/b" name one entry.
std::string PlainEntryName(std::string s) {
  while (s.compare(0, 2, "./") == 0) s.erase(0, 2);
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool SameEntryName(const std::string& a, const std::string& b) { return PlainEntryName(a) == PlainEntryName(b); }

bool HasWildcard(const std::string& s, bool brackets) {
  return s.find_first_of(brackets ? "*?[" : "*?") != std::string::npos;
}

// Escapes what glob would read as a class when the dialect has none.
std::string GlobPattern(const std::string& s, bool brackets) {
  if (brackets) return s;
  std::string out;
  for (char c : s) {
    if (c == '[' || c == ']' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

class Collector {
 public:
  Collector(const CreateJob& job, const struct stat* archiveSt, Output& out)
      : job_(job), archiveSt_(archiveSt), out_(out), storedIn_(StoredName(job.storedIn, "", false)) {}

  void AddPath(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
      out_.Line("見つかりません: " + path);
      ++missing_;
      return;
    }
    if (archiveSt_ && st.st_dev == archiveSt_->st_dev && st.st_ino == archiveSt_->st_ino) return;
    std::string name = StoredName(path, job_.baseDir, job_.junkPaths);
    // The folder inside is cleaned as the names are: it never climbs out.
    if (!name.empty() && !storedIn_.empty()) name = storedIn_ + "/" + name;
    if (S_ISDIR(st.st_mode)) {
      if (job_.folderEntries && !job_.junkPaths && !name.empty()) Push(path, name + "/", st);
      if (job_.recurse) Walk(path);
      return;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
      out_.Line("通常のファイルではないため飛ばしました: " + path);
      return;
    }
    if (!name.empty()) Push(path, name, st);
  }

  std::vector<DiskItem> items;
  int missing_ = 0;

 private:
  void Push(const std::string& path, const std::string& name, const struct stat& st) {
    auto it = index_.find(name);
    if (it != index_.end()) return;  // named twice: stored once
    index_[name] = items.size();
    items.push_back(DiskItem{path, name, st});
  }

  void Walk(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) {
      out_.Line("フォルダーを読めません: " + dir);
      return;
    }
    std::vector<std::string> names;
    while (struct dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
      names.push_back(e->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const auto& n : names) AddPath(Join(dir, n));
  }

  const CreateJob& job_;
  const struct stat* archiveSt_;
  Output& out_;
  std::string storedIn_;
  std::map<std::string, size_t> index_;
};

bool CopyFileData(struct archive* w, const DiskItem& item, Feedback& feedback, Output& out, bool& cancel) {
  // Non-blocking, so a FIFO swapped in since the walk cannot hold the command in open().
  int fd = open(item.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat st {};
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    fd = -1;
    errno = EINVAL;
  }
  if (fd < 0) {
    out.Line("読めません: " + item.path + " (" + strerror(errno) + ")");
    return false;
  }
  std::vector<char> buf(1 << 20);
  int64_t total = 0;
  for (;;) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      out.Line("読めません: " + item.path + " (" + strerror(errno) + ")");
      close(fd);
      return false;
    }
    if (archive_write_data(w, buf.data(), static_cast<size_t>(n)) < 0) {
      close(fd);
      return false;
    }
    total += n;
    if (!feedback.Progress(total)) {
      cancel = true;
      close(fd);
      return false;
    }
  }
  close(fd);
  return true;
}

// False when a password was asked for and this libarchive cannot encrypt.
bool SetWriteFormat(struct archive* w, const CreateJob& job) {
  std::string level = job.level >= 0 ? std::to_string(std::min(job.level, 9)) : std::string();
  switch (job.format) {
    case WriteFormat::Zip:
      archive_write_set_format_zip(w);
      archive_write_set_option(w, "zip", "hdrcharset", "UTF-8");
      if (job.level == 0)
        archive_write_set_option(w, "zip", "compression", "store");
      else if (!level.empty())
        archive_write_set_option(w, "zip", "compression-level", level.c_str());
      if (!job.password.empty() && (archive_write_set_option(w, "zip", "encryption", "aes256") != ARCHIVE_OK ||
                                    archive_write_set_passphrase(w, job.password.c_str()) != ARCHIVE_OK))
        return false;
      break;
    case WriteFormat::Tar:
      archive_write_set_format_pax_restricted(w);
      if (job.filter == ARCHIVE_FILTER_GZIP)
        archive_write_add_filter_gzip(w);
      else if (job.filter == ARCHIVE_FILTER_BZIP2)
        archive_write_add_filter_bzip2(w);
      else if (job.filter == ARCHIVE_FILTER_XZ)
        archive_write_add_filter_xz(w);
      if (job.filter != ARCHIVE_FILTER_NONE && !level.empty() && job.level > 0)
        archive_write_set_filter_option(w, nullptr, "compression-level", level.c_str());
      break;
    case WriteFormat::SevenZip:
      archive_write_set_format_7zip(w);
      if (job.level == 0)
        archive_write_set_option(w, "7zip", "compression", "store");
      else if (!level.empty())
        archive_write_set_option(w, "7zip", "compression-level", level.c_str());
      break;
  }
  return true;
}

}  // namespace

int Create(const ReadFormats& readBack, const CreateJob& job, Feedback& feedback, Output& out) {
  struct stat archiveSt {};
  const bool exists = stat(job.archive.c_str(), &archiveSt) == 0;
  if ((job.mode == CreateMode::Freshen || job.mode == CreateMode::Delete) && !exists) {
    out.Line("書庫がありません: " + job.archive);
    return ARC_ERROR_ARC_FILE_OPEN;
  }
  if (!job.password.empty() && job.format != WriteFormat::Zip) {
    // Written without it the entries would be open to anyone: refused instead.
    out.Line("この形式の書庫にはパスワードを付けられません: " + job.archive);
    return ARC_ERROR_NOT_SUPPORT;
  }
  Collector collector(job, exists ? &archiveSt : nullptr, out);
  if (job.mode != CreateMode::Delete) {
    for (const std::string& f : job.files) {
      std::string full = Join(job.baseDir, f);
      if (!job.exactNames && HasWildcard(f, job.brackets)) {
        glob_t g{};
        if (glob(GlobPattern(full, job.brackets).c_str(), 0, nullptr, &g) == 0) {
          for (size_t i = 0; i < g.gl_pathc; ++i) collector.AddPath(g.gl_pathv[i]);
        } else {
          out.Line("見つかりません: " + f);
          ++collector.missing_;
        }
        globfree(&g);
      } else {
        collector.AddPath(full);
      }
    }
    if (collector.items.empty() && (job.mode == CreateMode::Add || !exists)) {
      out.Line("書庫に入れるファイルがありません。");
      return ARC_ERROR_NOT_EXIST;
    }
  }
  std::map<std::string, const DiskItem*> byName;
  for (const auto& item : collector.items) byName[item.name] = &item;
  std::set<std::string> replaced;  // disk items that take an old entry's place
  std::set<std::string> keptOld;   // old entries kept because their file is not newer

  std::string dir = job.archive.rfind('/') == std::string::npos ? "." : job.archive.substr(0, job.archive.rfind('/'));
  if (dir.empty()) dir = "/";
  std::string temp = dir + "/.tvc-" + std::to_string(getpid()) + "-" + BaseName(job.archive).substr(0, 40);
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    out.Line("書庫を作れません: " + job.archive + " (" + strerror(errno) + ")");
    return ARC_ERROR_CANNOT_WRITE;
  }
  struct archive* w = archive_write_new();
  int result = 0;
  bool cancel = false;
  if (!SetWriteFormat(w, job)) {
    // Never written open when protection was asked for.
    out.Line("パスワードを付けて書き込めません: " + job.archive);
    result = ARC_ERROR_NOT_SUPPORT;
  } else if (archive_write_open_fd(w, fd) != ARCHIVE_OK) {
    out.Line(std::string("書庫を作れません: ") + archive_error_string(w));
    result = ARC_ERROR_CANNOT_WRITE;
  }
  if (!result && !feedback.Open()) {
    result = ARC_ERROR_USER_CANCEL;
  }
  // The old entries first, unless a newer file or the delete list takes them out.
  if (!result && exists) {
    ArchiveReader reader;
    if (!reader.Open(job.archive, readBack)) {
      out.Line("書庫を開けません: " + job.archive + " (" + reader.error() + ")");
      result = ARC_ERROR_ARC_FILE_OPEN;
    }
    EntryData data;
    int deleted = 0;
    while (!result) {
      int r = reader.Next(data);
      if (r == ARCHIVE_EOF) break;
      if (r != ARCHIVE_OK) {
        out.Line("書庫が壊れています: " + reader.path() + " (" + reader.error() + ")");
        result = ARC_ERROR_HEADER_BROKEN;
        break;
      }
      if (job.mode == CreateMode::Delete) {
        bool del = false;
        for (const auto& p : job.files)
          if (job.exactNames ? SameEntryName(p, data.name) : SelectsEntry(p, data.name, job.brackets)) del = true;
        if (del) {
          out.Line("削除: " + data.name);
          ++deleted;
          continue;
        }
      } else {
        auto it = byName.find(data.name);
        if (it != byName.end()) {
          bool newer = !data.mtimeSet || it->second->st.st_mtime > data.mtime;
          if (job.mode == CreateMode::Add || newer) {
            replaced.insert(data.name);
            continue;
          }
          keptOld.insert(data.name);
        }
      }
      struct archive_entry* e = reader.entry();
      archive_entry_set_pathname_utf8(e, data.name.c_str());
      if (archive_write_header(w, e) < ARCHIVE_WARN) {
        out.Line(std::string("書き込めません: ") + data.name + " (" + archive_error_string(w) + ")");
        result = ARC_ERROR_CANNOT_WRITE;
        break;
      }
      const void* buf;
      size_t len;
      la_int64_t offset;
      for (;;) {
        int dr = archive_read_data_block(reader.handle(), &buf, &len, &offset);
        if (dr == ARCHIVE_EOF) break;
        if (dr != ARCHIVE_OK || archive_write_data(w, buf, len) < 0) {
          // An encrypted entry is not broken: it cannot be copied without its password.
          out.Line((archive_entry_is_encrypted(e)
                        ? "暗号化された項目は書き写せないため、パスワード付きの書庫は書き換えられません: "
                        : "書庫が壊れています: ") +
                   data.name);
          result = ARC_ERROR_FILE_CRC;
          break;
        }
      }
    }
    if (!result && job.mode == CreateMode::Delete && deleted == 0) {
      out.Line("該当するファイルがありません。");
      result = ARC_ERROR_NOT_EXIST;
    }
  }
  for (const auto& item : collector.items) {
    if (result) break;
    if (keptOld.count(item.name)) continue;
    if (job.mode == CreateMode::Freshen && !replaced.count(item.name)) continue;
    struct archive_entry* e = archive_entry_new();
    archive_entry_copy_stat(e, &item.st);
    archive_entry_set_pathname_utf8(e, item.name.c_str());
    archive_entry_set_uid(e, 0);
    archive_entry_set_gid(e, 0);
    archive_entry_set_perm(e, item.st.st_mode & 0777);
    if (S_ISLNK(item.st.st_mode)) {
      char target[4096];
      ssize_t n = readlink(item.path.c_str(), target, sizeof target - 1);
      target[n > 0 ? n : 0] = '\0';
      archive_entry_set_symlink_utf8(e, target);
      archive_entry_set_size(e, 0);
    } else if (S_ISDIR(item.st.st_mode)) {
      archive_entry_set_size(e, 0);
    }
    if (!feedback.Begin(item.name, job.archive, S_ISREG(item.st.st_mode) ? item.st.st_size : 0)) {
      cancel = true;
      archive_entry_free(e);
      break;
    }
    out.Line("追加: " + item.name);
    bool ok = archive_write_header(w, e) >= ARCHIVE_WARN;
    archive_entry_free(e);
    if (ok && S_ISREG(item.st.st_mode)) ok = CopyFileData(w, item, feedback, out, cancel);
    if (!ok) {
      if (!cancel)
        out.Line(std::string("書き込めません: ") + item.name + " (" +
                 (archive_error_string(w) ? archive_error_string(w) : "") + ")");
      result = cancel ? ARC_ERROR_USER_CANCEL : ARC_ERROR_CANNOT_WRITE;
    }
  }
  if (cancel && !result) result = ARC_ERROR_USER_CANCEL;
  if (archive_write_close(w) != ARCHIVE_OK && !result) {
    out.Line(std::string("書庫を書き終えられません: ") + (archive_error_string(w) ? archive_error_string(w) : ""));
    result = ARC_ERROR_CANNOT_WRITE;
  }
  archive_write_free(w);
  if (!result && fsync(fd) != 0) result = ARC_ERROR_CANNOT_WRITE;
  close(fd);
  feedback.End();
  if (!result && rename(temp.c_str(), job.archive.c_str()) != 0) {
    out.Line("書庫を作れません: " + job.archive + " (" + strerror(errno) + ")");
    result = ARC_ERROR_CANNOT_WRITE;
  }
  if (result) {
    unlink(temp.c_str());
    if (result != ARC_ERROR_USER_CANCEL) feedback.ShowError(out.all());
    return result;
  }
  if (collector.missing_) return ARC_ERROR_NOT_EXIST;
  return 0;
}

}  // namespace arc
