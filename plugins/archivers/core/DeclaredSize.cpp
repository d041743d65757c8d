#include "DeclaredSize.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "Bytes.h"

namespace arc {

namespace {

// A crafted file of nothing but tiny headers must not keep the check busy for long.
constexpr int kMaxBlocks = 1000000;

int64_t Add(int64_t total, uint64_t n) {
  if (n > static_cast<uint64_t>(INT64_MAX - total)) return INT64_MAX;
  return total + static_cast<int64_t>(n);
}

// A variable-length number of xz and RAR 5 (7 bits a byte, low first); false when cut or longer
// than 64 bits.
bool Vint(const unsigned char* p, size_t len, size_t& pos, uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64 && pos < len; shift += 7) {
    const unsigned char b = p[pos++];
    value |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

// Formats whose headers libarchive reads without decoding data: a second reading of the same
// file that only lists.
int64_t ListedTotal(int fd, const ReadFormats& formats) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  int own = open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (own < 0) return -1;
  struct stat a {
  }, b{};
  if (fstat(own, &a) != 0 || fstat(fd, &b) != 0 || a.st_dev != b.st_dev || a.st_ino != b.st_ino ||
      !S_ISREG(a.st_mode)) {
    close(own);
    return -1;
  }
  fcntl(own, F_SETFL, fcntl(own, F_GETFL) & ~O_NONBLOCK);
  struct archive* ar = archive_read_new();
  formats.enable(ar);
  int64_t total = -1;
  if (archive_read_open_fd(ar, own, 1 << 16) == ARCHIVE_OK) {
    total = 0;
    struct archive_entry* e = nullptr;
    int r;
    while ((r = archive_read_next_header(ar, &e)) == ARCHIVE_OK || r == ARCHIVE_WARN) {
      if (archive_entry_filetype(e) == AE_IFREG && archive_entry_size_is_set(e) && archive_entry_size(e) > 0)
        total = Add(total, static_cast<uint64_t>(archive_entry_size(e)));
    }
    if (r != ARCHIVE_EOF) total = -1;
  }
  archive_read_free(ar);
  close(own);
  return total;
}

bool Rar4Total(int fd, int64_t fileSize, int64_t& total) {
  off_t pos = 0;
  for (int blocks = 0; blocks < kMaxBlocks && pos + 7 <= fileSize; ++blocks) {
    unsigned char h[40] = {};
    const size_t want = static_cast<size_t>(std::min<int64_t>(sizeof h, fileSize - pos));
    if (!ReadAt(fd, h, want, pos)) return false;
    const unsigned type = h[2], flags = Le16(h + 3), size = Le16(h + 5);
    if (size < 7) return false;
    uint64_t data = 0;
    if (type == 0x73 && (flags & 0x80)) return false;  // the headers themselves are encrypted
    if (type == 0x7B) return true;
    if (type == 0x74 || type == 0x7A) {
      if (size < 32 || want < 32) return false;
      const bool high = flags & 0x100;
      if (high && (size < 40 || want < 40)) return false;
      data = Le32(h + 7) | (high ? static_cast<uint64_t>(Le32(h + 32)) << 32 : 0);
      const uint64_t unpacked = Le32(h + 11) | (high ? static_cast<uint64_t>(Le32(h + 36)) << 32 : 0);
      // A link's target is stored as its data, but it makes no file of that size.
      const bool link = h[15] == 3 && (Le32(h + 28) & 0xF000) == 0xA000;
      const bool folder = (flags & 0xE0) == 0xE0, continued = flags & 0x01;
      if (type == 0x74 && !folder && !continued && !link) total = Add(total, unpacked);
    } else if (flags & 0x8000) {
      if (want < 11) return false;
      data = Le32(h + 7);
    }
    if (data > static_cast<uint64_t>(fileSize)) return false;
    pos += static_cast<off_t>(size + data);
  }
  return pos >= fileSize;
}

bool Rar5Total(int fd, int64_t fileSize, int64_t& total) {
  off_t pos = 8;
  for (int blocks = 0; blocks < kMaxBlocks && pos < fileSize; ++blocks) {
    unsigned char h[96] = {};
    const size_t got = static_cast<size_t>(std::min<int64_t>(sizeof h, fileSize - pos));
    if (!ReadAt(fd, h, got, pos)) return false;
    size_t p = 4;  // past the header's CRC
    uint64_t headerSize, type, flags, extra = 0, data = 0;
    if (!Vint(h, got, p, headerSize)) return false;
    const size_t headerStart = p;
    if (!Vint(h, got, p, type) || !Vint(h, got, p, flags)) return false;
    if ((flags & 0x1) && !Vint(h, got, p, extra)) return false;
    if ((flags & 0x2) && !Vint(h, got, p, data)) return false;
    if (type == 4) return false;  // the headers are encrypted
    if (type == 5) return true;
    if (type == 2) {
      uint64_t fileFlags, unpacked;
      if (!Vint(h, got, p, fileFlags) || !Vint(h, got, p, unpacked)) return false;
      const bool folder = fileFlags & 0x1, unknown = fileFlags & 0x8, continued = flags & 0x8;
      if (unknown) return false;
      if (!folder && !continued) total = Add(total, unpacked);
    }
    if (headerSize > static_cast<uint64_t>(fileSize) || data > static_cast<uint64_t>(fileSize)) return false;
    pos += static_cast<off_t>(headerStart + headerSize + data);
  }
  return pos >= fileSize;
}

}  // namespace

int64_t CabDeclaredTotal(int fd, int64_t fileSize) {
  unsigned char h[36];
  if (fileSize < 36 || !ReadAt(fd, h, sizeof h, 0) || memcmp(h, "MSCF", 4) != 0) return -1;
  const uint32_t filesAt = Le32(h + 16);
  const uint16_t files = Le16(h + 28);
  // Each file record is 16 bytes and a name of at most 256 bytes with its end.
  const int64_t end = std::min<int64_t>(fileSize, static_cast<int64_t>(filesAt) + int64_t{files} * (16 + 257));
  if (filesAt >= fileSize || end <= filesAt) return files == 0 ? 0 : -1;
  std::vector<unsigned char> buf(static_cast<size_t>(end - filesAt));
  if (!ReadAt(fd, buf.data(), buf.size(), filesAt)) return -1;
  int64_t total = 0;
  size_t p = 0;
  for (uint16_t i = 0; i < files; ++i) {
    if (p + 16 > buf.size()) return -1;
    total = Add(total, Le32(&buf[p]));
    const void* nul = memchr(&buf[p + 16], 0, buf.size() - p - 16);
    if (!nul) return -1;
    p = static_cast<size_t>(static_cast<const unsigned char*>(nul) - buf.data()) + 1;
  }
  return total;
}

int64_t RarDeclaredTotal(int fd, int64_t fileSize) {
  unsigned char sig[8];
  if (fileSize < 8 || !ReadAt(fd, sig, sizeof sig, 0) || memcmp(sig, "Rar!\x1a\x07", 6) != 0) return -1;
  int64_t total = 0;
  bool ok = sig[6] == 0x00 ? Rar4Total(fd, fileSize, total)
                           : sig[6] == 0x01 && sig[7] == 0x00 && Rar5Total(fd, fileSize, total);
  return ok ? total : -1;
}

// ISIZE of the last member: the size modulo 4 GiB, so at most what the stream holds.
int64_t GzipDeclaredSize(int fd, int64_t fileSize) {
  unsigned char head[2], tail[4];
  if (fileSize < 18 || !ReadAt(fd, head, 2, 0) || head[0] != 0x1F || head[1] != 0x8B ||
      !ReadAt(fd, tail, 4, fileSize - 4))
    return -1;
  return Le32(tail);
}

// The sum of the last stream's index records.
int64_t XzDeclaredSize(int fd, int64_t fileSize) {
  static const unsigned char kMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
  unsigned char head[6];
  if (fileSize < 32 || !ReadAt(fd, head, 6, 0) || memcmp(head, kMagic, 6) != 0) return -1;
  int64_t end = fileSize;
  // Stream padding: zero words after the footer.
  for (unsigned char w[4]; end >= 44 && ReadAt(fd, w, 4, end - 4) && Le32(w) == 0;) end -= 4;
  unsigned char footer[12];
  if (!ReadAt(fd, footer, 12, end - 12) || footer[10] != 'Y' || footer[11] != 'Z') return -1;
  const int64_t indexSize = (static_cast<int64_t>(Le32(footer + 4)) + 1) * 4;
  if (indexSize > (16 << 20) || indexSize > end - 12 - 12) return -1;
  std::vector<unsigned char> index(static_cast<size_t>(indexSize));
  if (!ReadAt(fd, index.data(), index.size(), end - 12 - indexSize) || index[0] != 0) return -1;
  size_t p = 1;
  uint64_t records;
  if (!Vint(index.data(), index.size(), p, records)) return -1;
  int64_t total = 0;
  for (uint64_t i = 0; i < records; ++i) {
    uint64_t unpadded, uncompressed;
    if (!Vint(index.data(), index.size(), p, unpadded) || !Vint(index.data(), index.size(), p, uncompressed)) return -1;
    total = Add(total, uncompressed);
  }
  return total;
}

int64_t DeclaredTotal(int fd, int64_t fileSize, const ReadFormats& formats, int format, int filter) {
  if (filter == ARCHIVE_FILTER_GZIP) return GzipDeclaredSize(fd, fileSize);
  if (filter == ARCHIVE_FILTER_XZ) return XzDeclaredSize(fd, fileSize);
  if (filter != ARCHIVE_FILTER_NONE) return -1;
  switch (format & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_CAB:
      return CabDeclaredTotal(fd, fileSize);
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_RAR_V5:
      return RarDeclaredTotal(fd, fileSize);
    case ARCHIVE_FORMAT_TAR:
    case ARCHIVE_FORMAT_CPIO:
    case ARCHIVE_FORMAT_LHA:
    case ARCHIVE_FORMAT_7ZIP:
      return ListedTotal(fd, formats);
    default:
      return -1;
  }
}

}  // namespace arc
