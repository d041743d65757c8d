#include "ArchiveReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include "Bytes.h"
#include "DeclaredSize.h"
#include "Names.h"
#include "SevenZipDecrypt.h"

namespace arc {

namespace {
constexpr size_t kReadBlock = 1 << 16;

const char* ZipMethodName(uint16_t m) {
  switch (m) {
    case 0:
      return "Stored";
    case 8:
      return "Deflate";
    case 9:
      return "Defl64";
    case 12:
      return "BZip2";
    case 14:
      return "LZMA";
    case 93:
      return "Zstd";
    case 95:
      return "XZ";
    case 99:
      return "AES";
    default:
      return "Other";
  }
}

}  // namespace

ArchiveReader::~ArchiveReader() { Close(); }

void ArchiveReader::Close() {
  if (a_) archive_read_free(a_);
  a_ = nullptr;
  entry_ = nullptr;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

const char* ArchiveReader::PassphraseCallback(struct archive*, void* self) {
  auto* r = static_cast<ArchiveReader*>(self);
  if (!r->passwordSource || r->passwordRefused_) return nullptr;
  const bool again = r->passwordAsks_ > 0;
  if (!r->passwordSource(again, r->password_)) {
    r->passwordRefused_ = true;
    return nullptr;
  }
  ++r->passwordAsks_;
  return r->password_.c_str();
}

bool ArchiveReader::Open(const std::string& path, const ReadFormats& formats) {
  Close();
  path_ = path;
  formats_ = formats;
  first_ = true;
  totalRead_ = zipDirectoryTried_ = headerEncrypted_ = false;
  decryptTried_ = decrypted_ = decryptFailed_ = passwordRefused_ = false;
  declaredTotal_ = -1;
  zip_.clear();
  // Non-blocking: opening a FIFO for reading would wait for a writer forever. What the
  // descriptor is decides, not the name.
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd_ < 0 || fstat(fd_, &st) != 0) {
    error_ = strerror(errno);
    Close();
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error_ = "通常のファイルではありません";
    Close();
    return false;
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  fileSize_ = st.st_size;
  mtime_ = st.st_mtim;
  if (!StartLibarchive()) {
    Close();
    return false;
  }
  return true;
}

bool ArchiveReader::StartLibarchive() {
  a_ = archive_read_new();
  formats_.enable(a_);
  archive_read_set_passphrase_callback(a_, this, &PassphraseCallback);
  if (archive_read_open_fd(a_, fd_, kReadBlock) == ARCHIVE_OK) return true;
  error_ = archive_error_string(a_) ? archive_error_string(a_) : "cannot open";
  return false;
}

int64_t ArchiveReader::declaredTotal() {
  if (totalRead_ || !a_ || first_) return declaredTotal_;
  totalRead_ = true;
  // A ZIP's comes from its central directory, read with the first entry.
  if ((formatCode() & ARCHIVE_FORMAT_BASE_MASK) != ARCHIVE_FORMAT_ZIP)
    declaredTotal_ = DeclaredTotal(fd_, fileSize_, formats_, formatCode(), filterCode());
  return declaredTotal_;
}

int ArchiveReader::filterCode() const { return a_ ? archive_filter_code(a_, 0) : 0; }
int ArchiveReader::formatCode() const { return a_ ? archive_format(a_) : 0; }

int ArchiveReader::Next(EntryData& out) {
  if (!a_) {
    error_ = "not open";
    return ARCHIVE_FATAL;
  }
  passwordAsks_ = 0;
  if (first_ && !decryptTried_ && formats_.sevenZipKeys) {
    decryptTried_ = true;
    if (!TakeOutEncryption()) return ARCHIVE_FATAL;
  }
  int r = archive_read_next_header(a_, &entry_);
  if (r == ARCHIVE_EOF) return r;
  if (r < ARCHIVE_WARN) {
    error_ = archive_error_string(a_) ? archive_error_string(a_) : "broken archive";
    headerEncrypted_ = (archive_format(a_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_7ZIP &&
                       archive_read_has_encrypted_entries(a_) > 0;
    return ARCHIVE_FATAL;
  }
  bool raw = archive_format(a_) == ARCHIVE_FORMAT_RAW;
  if (first_) {
    first_ = false;
    // The raw reader takes any file; only a compressed single file counts as an archive.
    if (raw && (!formats_.singleFiles || archive_filter_count(a_) < 2)) {
      error_ = "Unrecognized archive format";
      return ARCHIVE_FATAL;
    }
  }
  out = EntryData();
  const char* p = archive_entry_pathname(entry_);
  std::string name;
  if (p) {
    name = StoredNameToUtf8(p);
  } else if (const char* u = archive_entry_pathname_utf8(entry_)) {
    name = u;
  }
  if (raw) name = SingleFileName(path_);
  out.name = name;
  out.type = archive_entry_filetype(entry_);
  if (out.type == 0) out.type = (!name.empty() && name.back() == '/') ? AE_IFDIR : AE_IFREG;
  out.perm = archive_entry_perm(entry_);
  if (const char* h = archive_entry_hardlink(entry_)) out.hardlink = StoredNameToUtf8(h);
  if (out.type == AE_IFLNK) {
    if (const char* s = archive_entry_symlink(entry_))
      out.symlink = StoredNameToUtf8(s);
    else if (const char* su = archive_entry_symlink_utf8(entry_))
      out.symlink = su;
  }
  out.sizeKnown = archive_entry_size_is_set(entry_);
  out.size = out.sizeKnown ? archive_entry_size(entry_) : 0;
  if (archive_entry_mtime_is_set(entry_)) {
    out.mtimeSet = true;
    out.mtime = archive_entry_mtime(entry_);
    out.mtimeNsec = archive_entry_mtime_nsec(entry_);
  }
  if (archive_entry_atime_is_set(entry_)) {
    out.atimeSet = true;
    out.atime = archive_entry_atime(entry_);
    out.atimeNsec = archive_entry_atime_nsec(entry_);
  }
  if (archive_entry_birthtime_is_set(entry_)) {
    out.birthtimeSet = true;
    out.birthtime = archive_entry_birthtime(entry_);
    out.birthNsec = archive_entry_birthtime_nsec(entry_);
  }
  if (archive_format(a_) == ARCHIVE_FORMAT_ZIP ||
      (archive_format(a_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP) {
    LoadZipDirectory();
    auto it = zip_.find(p ? std::string(p) : std::string());
    if (it != zip_.end()) {
      out.crc = it->second.crc;
      out.compressedSize = it->second.compressed;
      out.method = ZipMethodName(it->second.method);
      out.osType = it->second.host;
      zip_.erase(it);
    }
  } else if (archive_format(a_) == ARCHIVE_FORMAT_TAR ||
             (archive_format(a_) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR) {
    if (archive_filter_count(a_) < 2) out.compressedSize = out.size;
  }
  return ARCHIVE_OK;
}

namespace {
// The password that last opened an encrypted 7z, for that very file (device, inode, size,
// time): listing it and then extracting it ask once. Kept in this process's memory only.
struct RememberedKey {
  dev_t dev = 0;
  ino_t ino = 0;
  int64_t size = -1;
  timespec mtime{};
  std::string password;
  bool Fits(dev_t d, ino_t i, int64_t s, const timespec& m) const {
    return dev == d && ino == i && size == s && mtime.tv_sec == m.tv_sec && mtime.tv_nsec == m.tv_nsec;
  }
};
std::mutex rememberedMutex;
RememberedKey& Remembered() {
  static RememberedKey key;
  return key;
}
}  // namespace

// An encrypted 7z is read from a decrypted copy, made once with the password.
bool ArchiveReader::TakeOutEncryption() {
  if (!IsSevenZip(fd_)) return true;
  bool userAsked = false, rememberedTried = false;
  std::string used;
  SevenZipCopy copy = DecryptSevenZip(fd_, fileSize_, [&](bool again, std::string& password) {
    if (!rememberedTried) {
      rememberedTried = true;
      std::lock_guard<std::mutex> lock(rememberedMutex);
      if (Remembered().Fits(dev_, ino_, fileSize_, mtime_)) {
        password = used = Remembered().password;
        return true;
      }
    }
    if (!passwordSource) return false;
    ++passwordAsks_;
    // "Wrong" only after the user typed one: a remembered one that fails says nothing.
    const bool ok = passwordSource(again && userAsked, password);
    userAsked = true;
    used = password;
    return ok;
  });
  passwordAsks_ = 0;
  if (copy.status == SevenZipKey::Decrypted) {
    std::lock_guard<std::mutex> lock(rememberedMutex);
    Remembered() = RememberedKey{dev_, ino_, fileSize_, mtime_, used};
  }
  switch (copy.status) {
    case SevenZipKey::Plain:
    case SevenZipKey::Unsupported:
      return true;
    case SevenZipKey::NoPassword:
      passwordRefused_ = true;
      return true;
    case SevenZipKey::Failed:
      error_ = "暗号化された書庫を復号できません: " + path_ + " (" + copy.error + ")";
      decryptFailed_ = true;
      return false;
    case SevenZipKey::Decrypted:
      break;
  }
  archive_read_free(a_);
  close(fd_);
  fd_ = copy.plainFd;
  a_ = nullptr;
  if (!StartLibarchive()) return false;
  decrypted_ = true;
  return true;
}

// CRC, method and compressed size are not told by libarchive; a ZIP keeps them in its
// central directory, which is read once per archive.
void ArchiveReader::LoadZipDirectory() {
  if (zipDirectoryTried_) return;
  zipDirectoryTried_ = true;
  // The file already open: the very one libarchive reads.
  int fd = fd_ >= 0 ? dup(fd_) : -1;
  if (fd < 0) return;
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < 22) {
    close(fd);
    return;
  }
  const off_t size = st.st_size;
  const size_t tailLen = static_cast<size_t>(std::min<off_t>(size, 65536 + 22));
  std::vector<unsigned char> tail(tailLen);
  if (!ReadAt(fd, tail.data(), tailLen, size - static_cast<off_t>(tailLen))) {
    close(fd);
    return;
  }
  long eocd = -1;
  for (long i = static_cast<long>(tailLen) - 22; i >= 0; --i) {
    if (Le32(&tail[i]) == 0x06054b50) {
      eocd = i;
      break;
    }
  }
  if (eocd < 0) {
    close(fd);
    return;
  }
  uint64_t count = Le16(&tail[eocd + 10]);
  uint64_t dirSize = Le32(&tail[eocd + 12]);
  uint64_t dirOffset = Le32(&tail[eocd + 16]);
  off_t eocdPos = size - static_cast<off_t>(tailLen) + eocd;
  if (eocd >= 20 && Le32(&tail[eocd - 20]) == 0x07064b50) {
    uint64_t z64 = Le64(&tail[eocd - 20 + 8]);
    unsigned char rec[56];
    if (static_cast<off_t>(z64) + 56 <= size && ReadAt(fd, rec, 56, static_cast<off_t>(z64)) &&
        Le32(rec) == 0x06064b50) {
      count = Le64(rec + 32);
      dirSize = Le64(rec + 40);
      dirOffset = Le64(rec + 48);
    }
  }
  // A self-extracting archive has data before the ZIP: the directory sits right before
  // its end record whatever its stored offset says.
  off_t dirPos = static_cast<off_t>(dirOffset);
  if (dirSize <= static_cast<uint64_t>(eocdPos) && static_cast<off_t>(dirOffset + dirSize) != eocdPos)
    dirPos = eocdPos - static_cast<off_t>(dirSize);
  if (dirSize > static_cast<uint64_t>(size) || dirSize > (512u << 20) || dirPos < 0) {
    close(fd);
    return;
  }
  std::vector<unsigned char> dir(static_cast<size_t>(dirSize));
  if (!ReadAt(fd, dir.data(), dir.size(), dirPos)) {
    close(fd);
    return;
  }
  close(fd);
  size_t pos = 0;
  int64_t total = 0;
  for (uint64_t i = 0; i < count && pos + 46 <= dir.size(); ++i) {
    const unsigned char* h = &dir[pos];
    if (Le32(h) != 0x02014b50) break;
    uint16_t nameLen = Le16(h + 28), extraLen = Le16(h + 30), commentLen = Le16(h + 32);
    if (pos + 46 + nameLen + extraLen + commentLen > dir.size()) break;
    ZipRecord rec{Le32(h + 16), Le32(h + 20), Le16(h + 10), h[5]};
    int64_t original = Le32(h + 24);
    // Zip64: the real sizes are in the extra field when the fields say 0xFFFFFFFF.
    if (rec.compressed == 0xFFFFFFFF || original == 0xFFFFFFFF) {
      const unsigned char* x = h + 46 + nameLen;
      size_t xi = 0;
      while (xi + 4 <= extraLen) {
        uint16_t id = Le16(x + xi), len = Le16(x + xi + 2);
        if (xi + 4 + len > extraLen) break;
        if (id == 0x0001) {
          size_t off = 0;
          if (original == 0xFFFFFFFF && off + 8 <= len) {
            original = static_cast<int64_t>(Le64(x + xi + 4) & 0x7FFFFFFFFFFFFFFFull);
            off += 8;
          }
          if (rec.compressed == 0xFFFFFFFF && off + 8 <= len)
            rec.compressed = static_cast<int64_t>(Le64(x + xi + 4 + off));
          break;
        }
        xi += 4 + len;
      }
    }
    total = original > INT64_MAX - total ? INT64_MAX : total + original;
    zip_.emplace(std::string(reinterpret_cast<const char*>(h + 46), nameLen), rec);
    pos += 46 + nameLen + extraLen + commentLen;
  }
  declaredTotal_ = total;
}

std::string BaseName(const std::string& name) {
  std::string n = name;
  while (n.size() > 1 && n.back() == '/') n.pop_back();
  size_t slash = n.rfind('/');
  return slash == std::string::npos ? n : n.substr(slash + 1);
}

std::string SingleFileName(const std::string& archivePath) {
  std::string base = BaseName(archivePath);
  auto endsWith = [&](const char* ext) {
    size_t n = strlen(ext);
    if (base.size() <= n) return false;
    for (size_t i = 0; i < n; ++i)
      if (std::tolower(static_cast<unsigned char>(base[base.size() - n + i])) != ext[i]) return false;
    return true;
  };
  static const char* const kTarLike[] = {".tgz", ".taz", ".tbz", ".tbz2", ".txz"};
  for (const char* e : kTarLike)
    if (endsWith(e)) return base.substr(0, base.size() - strlen(e)) + ".tar";
  static const char* const kPlain[] = {".gz", ".bz2", ".z", ".xz", ".lzma", ".zst", ".lz4"};
  for (const char* e : kPlain)
    if (endsWith(e)) return base.substr(0, base.size() - strlen(e));
  return base + ".out";
}

}  // namespace arc
