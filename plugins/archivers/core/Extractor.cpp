#include "Extractor.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "CommandLine.h"
#include "DestinationTree.h"

namespace arc {

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

std::string DirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates the folder and its missing parents.
bool MakeFolders(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = DirName(path);
  if (parent != path && !MakeFolders(parent)) return false;
  return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

std::string TempName(const std::string& dir) {
  static std::atomic<unsigned> counter{0};
  char buf[64];
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  snprintf(buf, sizeof buf, "/.tvx-%d-%u-%lx", static_cast<int>(getpid()), counter++,
           static_cast<unsigned long>(ts.tv_nsec));
  return dir + buf;
}

// "a.txt" -> "a_1.txt", "a_2.txt", ... the first free one.
std::string FreeName(const std::string& path) {
  std::string dir = DirName(path), base = BaseName(path), stem = base, ext;
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    stem = base.substr(0, dot);
    ext = base.substr(dot);
  }
  for (int i = 1; i < 100000; ++i) {
    std::string candidate = dir + "/" + stem + "_" + std::to_string(i) + ext;
    struct stat st {};
    if (lstat(candidate.c_str(), &st) != 0) return candidate;
  }
  return std::string();
}

bool Selected(const ExtractJob& job, const std::string& name) {
  bool selected = job.patterns.empty();
  for (const auto& p : job.patterns)
    if (SelectsEntry(p, name, job.brackets)) {
      selected = true;
      break;
    }
  if (!selected) return false;
  for (const auto& x : job.excludes)
    if (SelectsEntry(x, name, job.brackets)) return false;
  return true;
}

int OpenError(ArchiveReader& reader, Output& out, const std::string& archive) {
  if (access(archive.c_str(), R_OK) == 0) {
    out.Line("この形式の書庫ではないか、書庫が壊れています: " + archive + " (" + reader.error() + ")");
    return ARC_ERROR_NOT_ARC_FILE;
  }
  out.Line("書庫を開けません: " + archive + " (" + reader.error() + ")");
  return ARC_ERROR_ARC_FILE_OPEN;
}


enum class WriteResult { Ok, Refused, Broken, Fatal, Failed, Cancelled };

// A regular file: written under a temporary name in its folder, reached beneath the
// destination only, and renamed into place when complete.
WriteResult WriteRegular(DestinationTree& tree, ArchiveReader& reader, const std::string& relDir,
                         const std::string& base, const EntryData& data, bool replace, Feedback& feedback,
                         std::string& why) {
  int dir = tree.Folder(relDir);
  if (dir < 0) {
    why = errno == ELOOP || errno == EXDEV ? "リンクを通る展開は行いません" : strerror(errno);
    return errno == ELOOP || errno == EXDEV ? WriteResult::Refused : WriteResult::Failed;
  }
  const std::string temp = TempName("").substr(1);
  int fd = openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                  data.perm & 0777);  // never set-user-ID, set-group-ID or sticky
  if (fd < 0) {
    why = strerror(errno);
    return WriteResult::Failed;
  }
  WriteResult result = WriteResult::Ok;
  const void* buf;
  size_t len;
  la_int64_t offset;
  int64_t end = 0;
  for (;;) {
    int dr = archive_read_data_block(reader.handle(), &buf, &len, &offset);
    if (dr == ARCHIVE_EOF) break;
    if (dr != ARCHIVE_OK) {
      // A warning here is a CRC error: the entry is not kept.
      const char* e = archive_error_string(reader.handle());
      why = e ? e : "";
      result = dr == ARCHIVE_FATAL ? WriteResult::Fatal : WriteResult::Broken;
      break;
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
      why = strerror(errno);
      result = WriteResult::Failed;
      break;
    }
    end = std::max<int64_t>(end, offset + static_cast<int64_t>(len));
    if (!feedback.Progress(end)) {
      result = WriteResult::Cancelled;
      break;
    }
  }
  if (result == WriteResult::Ok && data.sizeKnown && end < data.size && ftruncate(fd, data.size) != 0) {
    why = strerror(errno);
    result = WriteResult::Failed;
  }
  if (result == WriteResult::Ok && data.mtimeSet) {
    struct timespec times[2];
    times[1] = {static_cast<time_t>(data.mtime), data.mtimeNsec};
    times[0] = data.atimeSet ? timespec{static_cast<time_t>(data.atime), data.atimeNsec} : times[1];
    futimens(fd, times);
  }
  if (close(fd) != 0 && result == WriteResult::Ok) {
    why = strerror(errno);
    result = WriteResult::Failed;
  }
  if (result == WriteResult::Ok &&
      renameat2(dir, temp.c_str(), dir, base.c_str(), replace ? 0 : RENAME_NOREPLACE) != 0) {
    why = strerror(errno);
    result = WriteResult::Failed;
  }
  if (result != WriteResult::Ok) unlinkat(dir, temp.c_str(), 0);
  return result;
}

}  // namespace

bool CleanEntryPath(const std::string& name, std::string& clean) {
  clean.clear();
  if (name.empty() || name[0] == '/') return false;
  for (const std::string& part : Components(name)) {
    if (part == ".") continue;
    if (part == "..") return false;
    if (!clean.empty()) clean += '/';
    clean += part;
  }
  return true;
}

bool LinkEscapes(const std::string& linkName, const std::string& target) {
  if (target.empty() || target[0] == '/') return true;
  std::vector<std::string> parts = Components(linkName);
  if (!parts.empty()) parts.pop_back();  // the link's own name
  for (const std::string& part : Components(target)) {
    if (part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return true;
      parts.pop_back();
    } else {
      parts.push_back(part);
    }
  }
  return false;
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
  // Entries are written by absolute paths under the resolved destination: no link above
  // it can redirect them, and the secure flags below guard everything inside it.
  const std::string root = strcmp(real, "/") == 0 ? std::string() : std::string(real);

  DestinationTree tree;
  const bool fast = tree.Open(root.empty() ? "/" : root);
  struct archive* w = archive_write_disk_new();
  archive_write_disk_set_options(w, ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                        ARCHIVE_EXTRACT_SECURE_NODOTDOT);
  int result = 0;
  int refused = 0, skippedUnasked = 0, matched = 0, entries = 0;
  Overwrite policy = job.overwrite;
  bool stop = false;
  if (!feedback.Open()) {
    result = ARC_ERROR_USER_CANCEL;
    stop = true;
  }
  EntryData data;
  while (!stop) {
    int r = reader.Next(data);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK) {
      out.Line("書庫が壊れています: " + reader.path() + " (" + reader.error() + ")");
      result = matched == 0 && reader.error().find("Unrecognized") != std::string::npos ? ARC_ERROR_NOT_ARC_FILE
                                                                                         : ARC_ERROR_HEADER_BROKEN;
      break;
    }
    ++entries;
    if (!Selected(job, data.name)) continue;
    ++matched;
    std::string clean;
    if (!CleanEntryPath(data.name, clean)) {
      out.Line("拒否しました (展開先の外を指す名前): " + data.name);
      ++refused;
      continue;
    }
    if (clean.empty()) continue;  // the archive's own root folder
    const bool isDir = data.type == AE_IFDIR;
    if (!job.withPaths) {
      if (isDir) continue;
      clean = BaseName(clean);
    }
    if (data.type == AE_IFLNK && LinkEscapes(clean, data.symlink)) {
      out.Line("拒否しました (展開先の外を指すリンク): " + data.name + " -> " + data.symlink);
      ++refused;
      continue;
    }
    std::string hardTarget;
    if (!data.hardlink.empty()) {
      std::string cleanTarget;
      if (!CleanEntryPath(data.hardlink, cleanTarget) || cleanTarget.empty()) {
        out.Line("拒否しました (展開先の外を指すリンク): " + data.name + " -> " + data.hardlink);
        ++refused;
        continue;
      }
      hardTarget = root + "/" + (job.withPaths ? cleanTarget : BaseName(cleanTarget));
    }
    std::string finalPath = root + "/" + clean;
    bool replace = false;
    struct stat existing {};
    if (lstat(finalPath.c_str(), &existing) == 0) {
      if (isDir && S_ISDIR(existing.st_mode)) {
        // An existing folder is used as it is.
      } else if (S_ISDIR(existing.st_mode)) {
        out.Line("同じ名前のフォルダーがあるため展開できません: " + clean);
        if (!result) result = ARC_ERROR_CANNOT_WRITE;
        continue;
      } else {
        Overwrite decision = policy;
        if (decision == Overwrite::Ask) {
          if (!feedback.CanAsk()) {
            out.Line("既にあるため展開しませんでした: " + clean);
            ++skippedUnasked;
            continue;
          }
          switch (feedback.AskOverwrite(finalPath)) {
            case Answer::Yes: decision = Overwrite::Always; break;
            case Answer::YesToAll: decision = policy = Overwrite::Always; break;
            case Answer::No: decision = Overwrite::Never; break;
            case Answer::NoToAll: decision = policy = Overwrite::Never; break;
            case Answer::Cancel:
              result = ARC_ERROR_USER_CANCEL;
              stop = true;
              continue;
          }
        }
        if (decision == Overwrite::Never) {
          out.Line("既にあるため展開しませんでした: " + clean);
          continue;
        }
        if (decision == Overwrite::Rename) {
          finalPath = FreeName(finalPath);
          if (finalPath.empty()) continue;
        } else {
          replace = true;
        }
      }
    }
    if (!feedback.Begin(data.name, finalPath, data.size)) {
      result = ARC_ERROR_USER_CANCEL;
      break;
    }
    if (fast && data.type == AE_IFREG && hardTarget.empty()) {
      std::string why;
      std::string relDir = DirName(clean);
      if (relDir == ".") relDir.clear();
      switch (WriteRegular(tree, reader, relDir, BaseName(finalPath), data, replace, feedback, why)) {
        case WriteResult::Ok: break;
        case WriteResult::Refused:
          out.Line("拒否しました: " + data.name + " (" + why + ")");
          ++refused;
          break;
        case WriteResult::Broken:
          out.Line("書庫が壊れています: " + data.name + " (" + why + ")");
          result = ARC_ERROR_FILE_CRC;
          break;
        case WriteResult::Fatal:
          out.Line("書庫が壊れています: " + data.name + " (" + why + ")");
          result = ARC_ERROR_FILE_CRC;
          stop = true;
          break;
        case WriteResult::Failed:
          out.Line("書き込めません: " + clean + " (" + why + ")");
          result = ARC_ERROR_CANNOT_WRITE;
          stop = true;
          break;
        case WriteResult::Cancelled:
          result = ARC_ERROR_USER_CANCEL;
          stop = true;
          break;
      }
      continue;
    }
    // Folders and links go through libarchive's own guarded writer.
    tree.Forget();
    struct archive_entry* e = reader.entry();
    const bool viaTemp = data.type == AE_IFREG && hardTarget.empty();
    const std::string writePath = viaTemp ? TempName(DirName(finalPath)) : finalPath;
    archive_entry_set_pathname(e, writePath.c_str());
    archive_entry_set_perm(e, data.perm & 0777);  // never set-user-ID, set-group-ID or sticky
    if (!hardTarget.empty()) archive_entry_set_hardlink(e, hardTarget.c_str());
    if (!isDir && replace && !viaTemp) unlink(finalPath.c_str());
    int hr = archive_write_header(w, e);
    if (hr != ARCHIVE_OK) {
      // A warning of the secure checks is a refusal too.
      const char* why = archive_error_string(w);
      out.Line("拒否しました: " + data.name + " (" + (why ? why : "") + ")");
      ++refused;
      if (hr == ARCHIVE_WARN) archive_write_finish_entry(w);
      if (viaTemp && hr == ARCHIVE_WARN) unlink(writePath.c_str());
      if (hr == ARCHIVE_FATAL) {
        result = ARC_ERROR_CANNOT_WRITE;
        break;
      }
      continue;
    }
    bool ok = true;
    if (archive_entry_size(e) > 0 || !archive_entry_size_is_set(e)) {
      const void* buf;
      size_t len;
      la_int64_t offset;
      for (;;) {
        int dr = archive_read_data_block(reader.handle(), &buf, &len, &offset);
        if (dr == ARCHIVE_EOF) break;
        if (dr != ARCHIVE_OK) {
          // A warning here is a CRC error: the entry is not kept.
          const char* why = archive_error_string(reader.handle());
          out.Line("書庫が壊れています: " + data.name + " (" + (why ? why : "") + ")");
          result = ARC_ERROR_FILE_CRC;
          ok = false;
          stop = dr == ARCHIVE_FATAL;
          break;
        }
        if (archive_write_data_block(w, buf, len, offset) < ARCHIVE_OK) {
          const char* why = archive_error_string(w);
          out.Line("書き込めません: " + clean + " (" + (why ? why : "") + ")");
          result = ARC_ERROR_CANNOT_WRITE;
          ok = false;
          stop = true;
          break;
        }
        if (!feedback.Progress(offset + static_cast<la_int64_t>(len))) {
          result = ARC_ERROR_USER_CANCEL;
          ok = false;
          stop = true;
          break;
        }
      }
    }
    if (archive_write_finish_entry(w) < ARCHIVE_WARN && ok) {
      const char* why = archive_error_string(w);
      out.Line("書き込めません: " + clean + " (" + (why ? why : "") + ")");
      result = ARC_ERROR_CANNOT_WRITE;
      ok = false;
    }
    if (viaTemp) {
      if (!ok) {
        unlink(writePath.c_str());
      } else if (replace ? rename(writePath.c_str(), finalPath.c_str()) != 0
                         : renameat2(AT_FDCWD, writePath.c_str(), AT_FDCWD, finalPath.c_str(), RENAME_NOREPLACE) != 0) {
        out.Line("書き込めません: " + clean + " (" + strerror(errno) + ")");
        unlink(writePath.c_str());
        if (!result) result = ARC_ERROR_CANNOT_WRITE;
      }
    }
  }
  if (archive_write_close(w) != ARCHIVE_OK && !result) {
    const char* why = archive_error_string(w);
    out.Line(std::string("フォルダーの属性を設定できません: ") + (why ? why : ""));
  }
  archive_write_free(w);
  feedback.End();
  if (!result && refused) result = ARC_ERROR_UNSAFE_PATH;
  if (!result && skippedUnasked) result = ARC_ERROR_ALREADY_EXIST;
  if (!result && entries == 0) {
    // A cut archive often reads as an empty one.
    out.Line("書庫にファイルがありません: " + job.archive);
    result = ARC_ERROR_NOT_EXIST;
  }
  if (!result && matched == 0 && !job.patterns.empty()) {
    out.Line("該当するファイルがありません。");
    result = ARC_ERROR_NOT_EXIST;
  }
  if (refused) out.Line(std::to_string(refused) + " 個のエントリを拒否しました。");
  if (result && result != ARC_ERROR_USER_CANCEL) feedback.ShowError(out.all());
  return result;
}

int ExtractToMemory(const ReadFormats& formats, const std::string& archive, const std::string& pattern,
                    bool brackets, void* buffer, uint32_t size, int64_t* time, uint16_t* attr,
                    uint32_t* written, Output& out) {
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
