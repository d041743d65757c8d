// The listing entries: open archive handles, entry records, checks and archive types.
#include "Library.h"

#include <time.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <unordered_map>

#include "Feedback.h"
#include "Names.h"

struct ArcArchive {
  const arc::LibraryDef* lib;
  std::string path;
  arc::ArchiveReader reader;
  std::string wild;
  arc::EntryData current;
  bool haveCurrent = false;
  bool primed = false;  // the reader holds the first entry, not yet handed out
  bool ended = false;
};

namespace arc {

namespace {

std::mutex handlesMutex;
std::set<HARC>& Handles() {
  static std::set<HARC> handles;
  return handles;
}

// Only handles this library gave out and has not closed are used.
HARC Valid(HARC h) {
  std::lock_guard<std::mutex> lock(handlesMutex);
  return h && Handles().count(h) ? h : nullptr;
}

// localtime_r looks at the time zone file on every call; offsets change only on whole hours,
// so one lookup per hour of the entries' times is enough.
long UtcOffset(int64_t t) {
  thread_local std::unordered_map<int64_t, long> offsets;
  int64_t hour = t / 3600 - (t % 3600 < 0 ? 1 : 0);
  auto it = offsets.find(hour);
  if (it != offsets.end()) return it->second;
  time_t tt = static_cast<time_t>(hour * 3600);
  struct tm tm {};
  localtime_r(&tt, &tm);
  if (offsets.size() > 100000) offsets.clear();
  offsets[hour] = tm.tm_gmtoff;
  return tm.tm_gmtoff;
}

void DosDateTime(int64_t t, uint16_t& date, uint16_t& time) {
  time_t tt = static_cast<time_t>(t + UtcOffset(t));
  struct tm tm {};
  gmtime_r(&tt, &tm);
  int year = tm.tm_year + 1900;
  if (year < 1980) {
    date = (0 << 9) | (1 << 5) | 1;
    time = 0;
    return;
  }
  if (year > 2107) {
    date = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
    time = static_cast<uint16_t>((23 << 11) | (59 << 5) | 29);
    return;
  }
  date = static_cast<uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  time = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

void CopyField(char* dst, size_t cap, const std::string& src) {
  size_t n = std::min(src.size(), cap - 1);
  // Cut on a character boundary.
  while (n > 0 && n < src.size() && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;
  memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

std::string FormatMethod(const ArchiveReader& reader, const EntryData& e) {
  if (!e.method.empty()) return e.method;
  switch (reader.formatCode() & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_LHA:
      return "lha";
    case ARCHIVE_FORMAT_CAB:
      return "cab";
    case ARCHIVE_FORMAT_RAR:
      return "rar";
    case ARCHIVE_FORMAT_RAR_V5:
      return "rar5";
    case ARCHIVE_FORMAT_7ZIP:
      return "7z";
    case ARCHIVE_FORMAT_CPIO:
      return "cpio";
    case ARCHIVE_FORMAT_AR:
      return "ar";
    case ARCHIVE_FORMAT_TAR:
      return reader.filterCode() == ARCHIVE_FILTER_NONE ? "tar" : "tar+";
    case ARCHIVE_FORMAT_RAW:
      return "single";
    default:
      return "";
  }
}

void FillRecord(ArcArchive* a, ArcIndividualInfo* info) {
  const EntryData& e = a->current;
  memset(info, 0, sizeof *info);
  info->dwOriginalSize = static_cast<uint32_t>(std::min<int64_t>(e.size, 0xFFFFFFFF));
  int64_t comp = e.compressedSize >= 0 ? e.compressedSize : 0;
  info->dwCompressedSize = static_cast<uint32_t>(std::min<int64_t>(comp, 0xFFFFFFFF));
  info->dwCRC = e.crc;
  info->uOSType = e.osType;
  info->wRatio =
      e.size > 0 && e.compressedSize >= 0 ? static_cast<uint16_t>(std::min<int64_t>(comp * 1000 / e.size, 0xFFFF)) : 0;
  DosDateTime(e.mtimeSet ? e.mtime : 0, info->wDate, info->wTime);
  CopyField(info->szFileName, sizeof info->szFileName, e.name);
  // Type, then read-only, hidden and archive as the MS-DOS attributes read.
  std::string base = BaseName(e.name);
  char attr[8] = "----";
  attr[0] = e.type == AE_IFDIR ? 'd' : e.type == AE_IFLNK ? 'l' : '-';
  if (!(e.perm & 0200)) attr[1] = 'r';
  if (!base.empty() && base[0] == '.') attr[2] = 'h';
  if (e.type == AE_IFREG) attr[3] = 'a';
  memcpy(info->szAttribute, attr, 5);
  CopyField(info->szMode, sizeof info->szMode, FormatMethod(a->reader, e));
}

bool Matches(const ArcArchive* a, const EntryData& e) {
  if (a->wild.empty()) return true;
  return SelectsEntry(a->wild, e.name, a->lib->dialect == Dialect::UnZip);
}

int NextMatching(ArcArchive* a, ArcIndividualInfo* info) {
  for (;;) {
    if (a->primed) {
      a->primed = false;
    } else {
      if (a->ended) return -1;
      int r = a->reader.Next(a->current);
      if (r == ARCHIVE_EOF) {
        a->ended = true;
        a->haveCurrent = false;
        return -1;
      }
      if (r != ARCHIVE_OK) {
        a->ended = true;
        a->haveCurrent = false;
        return ARC_ERROR_HEADER_BROKEN;
      }
    }
    a->haveCurrent = true;
    if (Matches(a, a->current)) {
      if (info) FillRecord(a, info);
      return 0;
    }
  }
}

uint64_t FileTime(int64_t sec, long nsec) {
  return static_cast<uint64_t>(sec + 11644473600LL) * 10000000ULL + static_cast<uint64_t>(nsec / 100);
}

}  // namespace

HARC OpenArchiveHandle(const LibraryDef& lib, ArcHWND wnd, const char* fileName, uint32_t mode) {
  (void)mode;
  if (!fileName || !lib.read.enable) return nullptr;
  try {
    Utf8Locale locale;
    auto* a = new ArcArchive;
    a->lib = &lib;
    a->path = fileName;
    // A 7z whose names are encrypted lists only with its password: asked when the caller
    // gave a window to ask over.
    Feedback feedback(wnd, false, a->path);
    if (wnd) {
      a->reader.passwordSource = [&](bool again, std::string& password) {
        return feedback.AskPassword(BaseName(a->path), again, password);
      };
    }
    // A handle is only for an archive this library reads: the first header must come.
    int r = a->reader.Open(a->path, lib.read) ? a->reader.Next(a->current) : ARCHIVE_FATAL;
    a->reader.passwordSource = nullptr;
    if (r == ARCHIVE_FATAL) {
      delete a;
      return nullptr;
    }
    a->primed = r == ARCHIVE_OK;
    a->ended = r == ARCHIVE_EOF;
    std::lock_guard<std::mutex> lock(handlesMutex);
    Handles().insert(a);
    return a;
  } catch (const std::exception&) {
    return nullptr;
  }
}

int CloseArchiveHandle(HARC h) {
  {
    std::lock_guard<std::mutex> lock(handlesMutex);
    if (!h || !Handles().erase(h)) return ARC_ERROR_ARC_FILE_OPEN;
  }
  delete h;
  return 0;
}

int FindFirstEntry(HARC h, const char* wildName, ArcIndividualInfo* info) {
  ArcArchive* a = Valid(h);
  if (!a) return -1;
  try {
    Utf8Locale locale;
    a->wild = wildName ? wildName : "";
    if (!a->primed || a->haveCurrent) {
      // Listing again from the start.
      a->haveCurrent = false;
      a->ended = false;
      a->primed = false;
      if (!a->reader.Open(a->path, a->lib->read)) {
        a->ended = true;
        return ARC_ERROR_ARC_FILE_OPEN;
      }
    }
    return NextMatching(a, info);
  } catch (const std::exception&) {
    return ARC_ERROR_ENOUGH_MEMORY;
  }
}

int FindNextEntry(HARC h, ArcIndividualInfo* info) {
  ArcArchive* a = Valid(h);
  if (!a) return -1;
  try {
    Utf8Locale locale;
    if (!a->haveCurrent && !a->primed) return -1;
    return NextMatching(a, info);
  } catch (const std::exception&) {
    return ARC_ERROR_ENOUGH_MEMORY;
  }
}

int GetEntryTime(HARC h, ArcFileTime* time, int which) {
  ArcArchive* a = Valid(h);
  if (!a || !a->haveCurrent || !time) return 0;
  const EntryData& e = a->current;
  uint64_t ft;
  if (which == 0 && e.mtimeSet)
    ft = FileTime(e.mtime, e.mtimeNsec);
  else if (which == 1 && e.birthtimeSet)
    ft = FileTime(e.birthtime, e.birthNsec);
  else if (which == 2 && e.atimeSet)
    ft = FileTime(e.atime, e.atimeNsec);
  else
    return 0;
  // The record sits packed inside the caller's entry record: copied, not assigned.
  const ArcFileTime value{static_cast<uint32_t>(ft), static_cast<uint32_t>(ft >> 32)};
  std::memcpy(time, &value, sizeof value);
  return 1;
}

int GetEntrySize(HARC h, int64_t* size, bool compressed) {
  ArcArchive* a = Valid(h);
  if (!a || !a->haveCurrent || !size) return 0;
  const EntryData& e = a->current;
  if (compressed) {
    if (e.compressedSize < 0) return 0;
    *size = e.compressedSize;
  } else {
    if (!e.sizeKnown) return 0;
    *size = e.size;
  }
  return 1;
}

int CheckArchiveFile(const LibraryDef& lib, const char* fileName, int mode) {
  if (!fileName || !lib.read.enable) return 0;
  try {
    Utf8Locale locale;
    ArchiveReader reader;
    if (!reader.Open(fileName, lib.read)) return 0;
    EntryData e;
    const int level = mode & 3;
    for (int n = 0;; ++n) {
      int r = reader.Next(e);
      if (r == ARCHIVE_EOF) return 1;
      if (r != ARCHIVE_OK) return 0;
      if (level == ARC_CHECKARCHIVE_RAPID && n >= 2) return 1;
      if (level == ARC_CHECKARCHIVE_FULLCRC) {
        const void* buf;
        size_t len;
        la_int64_t off;
        int dr;
        while ((dr = archive_read_data_block(reader.handle(), &buf, &len, &off)) == ARCHIVE_OK) {
        }
        if (dr != ARCHIVE_EOF) return 0;
      }
    }
  } catch (const std::exception&) {
    return 0;
  }
}

int GetTarArchiveType(const LibraryDef& lib, const char* fileName) {
  if (!fileName) return ARC_TYPE_OTHER;
  try {
    Utf8Locale locale;
    ArchiveReader reader;
    EntryData e;
    if (!reader.Open(fileName, lib.read) || reader.Next(e) == ARCHIVE_FATAL) return ARC_TYPE_OTHER;
    const bool tar = (reader.formatCode() & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR;
    const bool raw = reader.formatCode() == ARCHIVE_FORMAT_RAW;
    if (!tar && !raw) return ARC_TYPE_OTHER;
    switch (reader.filterCode()) {
      case ARCHIVE_FILTER_NONE:
        return tar ? ARC_TYPE_TAR : ARC_TYPE_OTHER;
      case ARCHIVE_FILTER_GZIP:
        return tar ? ARC_TYPE_TAR_GZ : ARC_TYPE_GZ;
      case ARCHIVE_FILTER_COMPRESS:
        return tar ? ARC_TYPE_TAR_Z : ARC_TYPE_Z;
      case ARCHIVE_FILTER_BZIP2:
        return tar ? ARC_TYPE_TAR_BZ2 : ARC_TYPE_BZ2;
      default:
        return ARC_TYPE_OTHER;
    }
  } catch (const std::exception&) {
    return ARC_TYPE_OTHER;
  }
}

}  // namespace arc
