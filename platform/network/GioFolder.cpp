#include "platform/network/GioFolder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/namespace/ContextMenuProvider.h"
#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/LocationPath.h"
#include "platform/network/Location.h"

namespace network {
namespace {

// The rows of a listing that runs on a thread of its own; leaving it (the
// list goes elsewhere, Esc) stops the listing within a moment.
class GioListing : public IEnumIDList {
 public:
  GioListing(const std::string& uri, uint32_t flags) : async_(flags & SHCONTF_ENABLE_ASYNC) {
    worker_ = std::thread([this, uri, flags] {
      ListLocation(
          uri,
          [this, flags](const RemoteEntry& entry) {
            if (PItemIDList id = RemoteEntryID(entry, flags)) {
              std::lock_guard<std::mutex> hold(lock_);
              ids_.emplace_back(id);
              if (ids_.size() == kFirstRows) came_.notify_all();
            }
            return !stop_;
          },
          &stop_);
      std::lock_guard<std::mutex> hold(lock_);
      over_ = true;
      came_.notify_all();
    });
  }
  ~GioListing() override {
    stop_ = true;
    if (worker_.joinable()) worker_.join();
  }

  bool Next(PItemIDList& id) override {
    id = nullptr;
    std::unique_lock<std::mutex> hold(lock_);
    const auto now = std::chrono::steady_clock::now();
    if (async_ && !first_ && !inRound_) {
      // Rows are handed over a few times a second, not at every turn of the
      // list: each round sorts them in and paints, which a big folder feels.
      if (!over_ && ids_.size() - next_ < kRoundRows && now - lastRound_ < std::chrono::milliseconds(kRoundMs)) {
        incomplete_ = true;
        return false;
      }
      lastRound_ = now;
    }
    if (next_ == ids_.size()) {
      ids_.clear();
      next_ = 0;
      if (!async_) {
        came_.wait(hold, [this] { return over_ || !ids_.empty(); });
      } else if (first_) {
        // A small folder comes whole, a big one with its first rows, before the first paint.
        came_.wait_for(hold, std::chrono::milliseconds(kFirstWaitMs),
                       [this] { return over_ || ids_.size() >= kFirstRows; });
      }
      if (first_) lastRound_ = now;
      first_ = false;
      if (ids_.empty()) {
        incomplete_ = !over_;
        inRound_ = false;
        return false;
      }
    }
    inRound_ = true;
    id = ids_[next_++].release();
    return true;
  }
  bool Incomplete() const override { return incomplete_; }

 private:
  static constexpr size_t kFirstRows = 2000;
  static constexpr int kFirstWaitMs = 200;
  static constexpr size_t kRoundRows = 5000;
  static constexpr int kRoundMs = 250;
  const bool async_;
  std::mutex lock_;
  std::condition_variable came_;
  std::vector<IDListPtr> ids_;
  size_t next_ = 0;
  bool over_ = false;
  bool first_ = true;
  bool incomplete_ = false;
  bool inRound_ = false;
  std::chrono::steady_clock::time_point lastRound_;
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace

GioFolder::GioFolder(IDListPtr absolute, std::string uri) : ShellFolderBase(std::move(absolute), std::move(uri)) {}

bool GioFolder::ParseDisplayName(std::string_view name, PItemIDList& list) {
  list = nullptr;
  std::vector<std::string_view> names;
  if (name.empty() || name[0] == '/' || !SplitPathLexically(name, names) || names.empty()) return false;
  // The names are taken for folders, as the namespace parses a location: no server is asked here.
  IDListBuilder builder;
  for (std::string_view n : names)
    if (!IsValidChildName(n) || !builder.AddOwned(MakeFileEntryID(n, itemflag::kFolder, nullptr))) return false;
  list = builder.Finish();
  return list != nullptr;
}

std::unique_ptr<IEnumIDList> GioFolder::EnumObjects(uint32_t flags) {
  return std::make_unique<GioListing>(path_, flags);
}

std::unique_ptr<IContextMenu> GioFolder::GetContextMenu(QWidget*, int, const PCItemIDList*) { return nullptr; }

int GioFolder::CompareChildren(int column, PCItemIDList a, PCItemIDList b) {
  // The listed rows carry their data; the URI is no path, so nothing is stat'ed for the rest.
  return CompareFileEntries(column, path_, a, b);
}

uint32_t GioFolder::ChildAttributes(PCItemIDList id, uint32_t, AttributeContext&) {
  if (IDKind(id) != ItemKind::FileEntry) return 0;
  const uint8_t flags = IDFlags(id);
  // Not on the disk: the list neither stats them nor takes their URI for a path.
  uint32_t a = SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANRENAME | SFGAO_CANDELETE | SFGAO_STREAM;
  // A folder takes drops: the program's drop handler copies into a location through GIO.
  if (flags & itemflag::kFolder) a |= SFGAO_FOLDER | SFGAO_HASSUBFOLDER | SFGAO_DROPTARGET;
  if (flags & itemflag::kLink) a |= SFGAO_LINK;
  if (flags & itemflag::kHidden) a |= SFGAO_HIDDEN;
  return a;
}

bool GioFolder::ChildName(PCItemIDList id, uint32_t flags, std::string& name) {
  if (IDKind(id) != ItemKind::FileEntry) return false;
  const std::string_view own = IDPayloadText(id);
  name = (flags & SHGDN_FORPARSING) && !(flags & SHGDN_INFOLDER) ? LocationChildUri(path_, own) : std::string(own);
  return true;
}

bool GioFolder::ChildFindData(PCItemIDList id, WIN32_FIND_DATAA& data) {
  if (IDKind(id) != ItemKind::FileEntry) return false;
  std::memset(&data, 0, sizeof data);
  FileStat stat;
  IDFileStat(id, stat);
  const uint8_t flags = IDFlags(id);
  data.dwFileAttributes = FindAttributesOf(stat.mode, flags & itemflag::kFolder, flags & itemflag::kHidden);
  data.ftLastWriteTime = data.ftCreationTime = data.ftLastAccessTime = ToFileTime(stat.mtime);
  data.nFileSizeHigh = static_cast<uint32_t>(stat.size >> 32);
  data.nFileSizeLow = static_cast<uint32_t>(stat.size);
  data.dwReserved0 = stat.mode;
  const std::string_view name = IDPayloadText(id);
  size_t n = std::min(name.size(), sizeof data.cFileName - 1);
  // Cut at a character boundary.
  while (n > 0 && n < name.size() && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  std::memcpy(data.cFileName, name.data(), n);
  return true;
}

std::string GioFolderUri(const std::string& uri) {
  std::string root;
  std::vector<std::string> names;
  return SplitLocationUri(uri, root, names) ? JoinLocationUri(root, names) : std::string();
}

void RegisterGioFolders() {
  LocationFolderKind kind;
  kind.recognises = [](std::string_view name) { return IsLocationUri(name); };
  kind.bind = [](PCItemIDList absolute, const std::string& uri) -> ShellFolderPtr {
    return std::make_shared<GioFolder>(IDListPtr(CopyIDList(absolute)), uri);
  };
  RegisterLocationFolders(std::move(kind));
}

}  // namespace network
