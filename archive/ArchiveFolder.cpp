#include "archive/ArchiveFolder.h"

#include <sys/stat.h>

#include <cstring>

#include "archive/ArchiveCache.h"
#include "archive/ArchiveUpdate.h"
#include "platform/fileops/ReplaceBeside.h"
#include "platform/namespace/ContextMenuProvider.h"
#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/NameCompare.h"
#include "platform/namespace/PathText.h"

namespace {

// The ID of an entry the enumeration flags let through; null for one they leave out.
PItemIDList EntryID(const ArchiveListingEntry& e, uint32_t flags) {
  if (!(flags & (e.folder ? SHCONTF_FOLDERS : SHCONTF_NONFOLDERS))) return nullptr;
  if (e.name[0] == '.' && !(flags & SHCONTF_INCLUDEHIDDEN)) return nullptr;
  return MakeArchiveEntryID(e.name, e.folder ? itemflag::kFolder : 0, e.stat);
}

class EntryEnum : public IEnumIDList {
 public:
  EntryEnum(std::shared_ptr<const ArchiveListing> listing, const std::vector<ArchiveListingEntry>* children,
            uint32_t flags)
      : listing_(std::move(listing)), children_(children), flags_(flags) {}
  bool Next(PItemIDList& id) override {
    id = nullptr;
    while (children_ && next_ < children_->size())
      if ((id = EntryID((*children_)[next_++], flags_))) return true;
    return false;
  }

 private:
  std::shared_ptr<const ArchiveListing> listing_;  // keeps children_ alive
  const std::vector<ArchiveListingEntry>* children_;
  uint32_t flags_;
  size_t next_ = 0;
};

// The children of a folder while the archive is still read: what has come,
// then (Incomplete) the rest when asked again.
class GrowingEnum : public IEnumIDList {
 public:
  GrowingEnum(std::shared_ptr<ArchiveListingReading> reading, std::string folder, uint32_t flags)
      : reading_(std::move(reading)), folder_(std::move(folder)), flags_(flags) {}
  bool Next(PItemIDList& id) override {
    id = nullptr;
    for (;;) {
      while (next_ < batch_.size())
        if ((id = EntryID(batch_[next_++], flags_))) return true;
      if (!more_) return false;
      batch_.clear();
      next_ = 0;
      // A small archive is worth waiting for whole, the first rows of a big one
      // for a moment: the list is then painted with them.
      if (first_) reading_->WaitOver(kWholeWaitMs);
      more_ = reading_->TakeChildren(folder_, taken_, batch_, first_ ? kFirstRowsWaitMs : 0);
      first_ = false;
      if (batch_.empty()) return false;
    }
  }
  bool Incomplete() const override { return more_; }

 private:
  static constexpr int kWholeWaitMs = 150;
  static constexpr int kFirstRowsWaitMs = 200;
  std::shared_ptr<ArchiveListingReading> reading_;
  std::string folder_;
  uint32_t flags_;
  std::vector<ArchiveListingEntry> batch_;
  size_t next_ = 0;
  size_t taken_ = 0;
  bool more_ = true;
  bool first_ = true;
};

std::string JoinInner(const std::string& inner, std::string_view name) {
  return inner.empty() ? std::string(name) : inner + "/" + std::string(name);
}

}  // namespace

ArchiveFolder::ArchiveFolder(IDListPtr absolute, std::string archive, std::string inner)
    : ShellFolderBase(std::move(absolute), JoinPath(archive, inner)),
      archive_(std::move(archive)),
      inner_(std::move(inner)) {
  if (inner_.empty()) path_ = archive_;
}

std::shared_ptr<const ArchiveListing> ArchiveFolder::Listing(std::string* error) {
  std::string reason;
  if (!listing_) {
    std::string local = LocalArchiveFile(archive_, reason);
    if (!local.empty()) listing_ = ReadArchiveListing(local, reason);
  }
  if (error) *error = reason;
  return listing_;
}

std::shared_ptr<ArchiveListingReading> ArchiveFolder::StartListing(std::string& error) {
  std::string local = LocalArchiveFile(archive_, error);
  return local.empty() ? nullptr : StartArchiveListing(local, error);
}

bool ArchiveFolder::ParseDisplayName(std::string_view name, PItemIDList& list) {
  list = nullptr;
  auto listing = Listing();
  if (!listing) return false;
  std::vector<std::string_view> names;
  if (!SplitPathLexically(name, names) || (!name.empty() && name[0] == '/')) return false;
  IDListBuilder builder;
  std::string at = inner_;
  for (size_t i = 0; i < names.size(); ++i) {
    at = JoinInner(at, names[i]);
    const ArchiveListingEntry* entry = listing->Find(at);
    if (!entry) return false;
    if (!builder.AddOwned(MakeArchiveEntryID(entry->name, entry->folder ? itemflag::kFolder : 0, entry->stat)))
      return false;
    if (!entry->folder && i + 1 < names.size()) {
      // An archive inside this one: its own names follow.
      std::string nested = JoinPath(archive_, at);
      if (!IsListableArchiveName(nested)) return false;
      ArchiveFolder inside(nullptr, nested, std::string());
      std::string rest;
      for (size_t j = i + 1; j < names.size(); ++j) rest = JoinInner(rest, names[j]);
      PItemIDList tail = nullptr;
      if (!inside.ParseDisplayName(rest, tail) || !builder.AddOwned(tail)) return false;
      break;
    }
  }
  list = builder.Finish();
  return list != nullptr;
}

std::unique_ptr<IContextMenu> ArchiveFolder::GetContextMenu(QWidget*, int, const PCItemIDList*) { return nullptr; }

std::unique_ptr<IEnumIDList> ArchiveFolder::EnumObjects(uint32_t flags) {
  if (!listing_ && (flags & SHCONTF_ENABLE_ASYNC)) {
    std::string error;
    auto reading = StartListing(error);
    if (!reading) return nullptr;
    listing_ = reading->Finished();
    if (!listing_) return std::make_unique<GrowingEnum>(std::move(reading), inner_, flags);
  }
  auto listing = Listing();
  if (!listing) return nullptr;
  const std::vector<ArchiveListingEntry>* children = listing->Children(inner_);
  return std::make_unique<EntryEnum>(listing, children, flags);
}

int ArchiveFolder::CompareChildren(int column, PCItemIDList a, PCItemIDList b) {
  ItemKind ka = IDKind(a), kb = IDKind(b);
  if (ka != ItemKind::ArchiveEntry || kb != ItemKind::ArchiveEntry) return CompareFirstIDBytes(a, b);
  bool folderA = IDFlags(a) & itemflag::kFolder, folderB = IDFlags(b) & itemflag::kFolder;
  if (folderA != folderB) return folderA ? -1 : 1;
  FileStat sa, sb;
  IDFileStat(a, sa);
  IDFileStat(b, sb);
  std::string_view nameA = IDPayloadText(a), nameB = IDPayloadText(b);
  int r = 0;
  switch (column) {
    case 1:
      r = Order(sa.size, sb.size);
      break;
    case 2:
      if (!folderA) r = CompareNamesFolded(NameExtension(nameA), NameExtension(nameB));
      break;
    case 3:
      r = Order(sa.mtime, sb.mtime);
      break;
    case 4:
      r = Order(sa.mode, sb.mode);
      break;
    default:
      break;
  }
  return r ? r : CompareNames(nameA, nameB);
}

uint32_t ArchiveFolder::ChildAttributes(PCItemIDList id, uint32_t asked, AttributeContext&) {
  if (IDKind(id) != ItemKind::ArchiveEntry) return 0;
  uint8_t flags = IDFlags(id);
  // Entries are read, never changed here; they copy out as files.
  uint32_t a = SFGAO_CANCOPY | SFGAO_STREAM | SFGAO_READONLY;
  if (flags & itemflag::kFolder) a |= SFGAO_FOLDER | SFGAO_HASSUBFOLDER;
  // Files dropped on a folder entry are added into it.
  if ((flags & itemflag::kFolder) && (asked & SFGAO_DROPTARGET) && TakesDrops()) a |= SFGAO_DROPTARGET;
  if (flags & itemflag::kHidden) a |= SFGAO_HIDDEN;
  return a;
}

bool ArchiveFolder::TakesDrops() {
  int writable = writable_.load();
  if (writable < 0) {
    // A regular file of the disk (not an archive inside another one, which is read only).
    FileIdentity identity;
    std::string error;
    writable = ReadFileIdentity(archive_, identity, error) && IsWritableArchive(archive_);
    writable_ = writable;
  }
  return writable == 1;
}

bool ArchiveFolder::ChildName(PCItemIDList id, uint32_t flags, std::string& name) {
  if (IDKind(id) != ItemKind::ArchiveEntry) return false;
  std::string_view own = IDPayloadText(id);
  name = (flags & SHGDN_FORPARSING) && !(flags & SHGDN_INFOLDER) ? JoinPath(path_, own) : std::string(own);
  return true;
}

bool ArchiveFolder::ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) {
  if (IDKind(id) != ItemKind::ArchiveEntry) return false;
  std::memset(&data, 0, sizeof data);
  FileStat stat;
  IDFileStat(id, stat);
  uint8_t flags = IDFlags(id);
  data.dwFileAttributes = FindAttributesOf(stat.mode, flags & itemflag::kFolder, flags & itemflag::kHidden);
  data.ftLastWriteTime = data.ftCreationTime = data.ftLastAccessTime = ToFileTime(stat.mtime);
  data.nFileSizeHigh = static_cast<uint32_t>(stat.size >> 32);
  data.nFileSizeLow = static_cast<uint32_t>(stat.size);
  data.dwReserved0 = stat.mode;
  std::string_view name = IDPayloadText(id);
  size_t n = std::min(name.size(), sizeof data.cFileName - 1);
  // Cut at a character boundary.
  while (n > 0 && n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  std::memcpy(data.cFileName, name.data(), n);
  return true;
}

std::string LocalArchiveFile(const std::string& archive, std::string& error) {
  error.clear();
  struct stat st;
  if (::lstat(archive.c_str(), &st) == 0) return archive;
  // Inside an outer archive: the outermost real file, then the entry taken out of it.
  std::string outer = archive;
  do {
    size_t slash = outer.rfind('/');
    if (slash == 0 || slash == std::string::npos) {
      error = "書庫が見つかりません: " + archive;
      return {};
    }
    outer.resize(slash);
  } while (::lstat(outer.c_str(), &st) != 0);
  // Each level in turn, so that an archive three deep is taken out of the second.
  std::string inner = archive.substr(outer.size() + 1);
  std::string at = outer;
  std::string local = outer;
  size_t start = 0;
  for (;;) {
    auto listing = ReadArchiveListing(local, error);
    if (!listing) return {};
    // The shortest path inside that names a file: the next archive.
    size_t slash = start;
    std::string part;
    const ArchiveListingEntry* entry = nullptr;
    do {
      slash = inner.find('/', slash == start ? start : slash + 1);
      part = inner.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
      entry = listing->Find(part);
    } while (entry && entry->folder && slash != std::string::npos);
    if (!entry || entry->folder) {
      error = "書庫が見つかりません: " + archive;
      return {};
    }
    std::string file = CachedEntryFile(at, part, error);
    if (file.empty()) return {};
    if (slash == std::string::npos) return file;
    at = JoinPath(at, part);
    local = file;
    start = slash + 1;
  }
}

void RegisterArchiveFolderKind() {
  ArchiveFolderKind kind;
  kind.recognises = [](const std::string& path) { return IsListableArchiveName(path); };
  kind.bind = [](PCItemIDList absolute, const std::string& archive, const std::string& inner) -> ShellFolderPtr {
    return std::make_shared<ArchiveFolder>(IDListPtr(CopyIDList(absolute)), archive, inner);
  };
  RegisterArchiveFolders(std::move(kind));
}

std::string ArchiveFolderOrFallback(const std::string& path) {
  if (path.empty() || path[0] != '/' || FolderExists(path) || IsArchiveFolderPath(path)) return path;
  // The outermost name along the path that names an archive.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (IsListableArchiveName(prefix)) return IsArchiveFolderPath(prefix) ? prefix : NearestExistingFolder(prefix);
    if (slash == std::string::npos) return path;
  }
}
