// Listing a location's folder through GIO, in batches and stoppable: GVfs
// sends names with their data in one answer, where the FUSE path costs a
// round trip per stat, and a stalled server never holds the caller past a stop.
// GIO first: its headers name fields "signals", which Qt's keywords would take.
#include <gio/gio.h>

#include "platform/network/GioSupport.h"
#include "platform/network/Location.h"

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/IDList.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellApi.h"

#include <sys/stat.h>

#include <algorithm>

namespace network {
namespace {

RemoteEntry EntryOf(GFileInfo* info) {
  RemoteEntry entry;
  entry.name = g_file_info_get_name(info);
  entry.folder = g_file_info_get_file_type(info) == G_FILE_TYPE_DIRECTORY;
  entry.link = g_file_info_get_is_symlink(info);
  entry.size = static_cast<uint64_t>(std::max<goffset>(0, g_file_info_get_size(info)));
  entry.mtimeSeconds = static_cast<int64_t>(g_file_info_get_attribute_uint64(info, "time::modified"));
  entry.mtimeNanoseconds = g_file_info_get_attribute_uint32(info, "time::modified-usec") * 1000u;
  entry.mode = g_file_info_get_attribute_uint32(info, "unix::mode");
  if (entry.mode == 0) entry.mode = entry.folder ? S_IFDIR | 0755 : S_IFREG | 0644;
  return entry;
}

// A listing already read, handed out one ID at a time.
class ListedEntries : public IEnumIDList {
 public:
  explicit ListedEntries(std::vector<IDListPtr> ids) : ids_(std::move(ids)) {}
  bool Next(PItemIDList& id) override {
    id = next_ < ids_.size() ? ids_[next_++].release() : nullptr;
    return id != nullptr;
  }

 private:
  std::vector<IDListPtr> ids_;
  size_t next_ = 0;
};

}  // namespace

PItemIDList RemoteEntryID(const RemoteEntry& entry, uint32_t flags) {
  if (entry.name.empty() || (entry.name[0] == '.' && !(flags & SHCONTF_INCLUDEHIDDEN))) return nullptr;
  if (!(flags & (entry.folder ? SHCONTF_FOLDERS : SHCONTF_NONFOLDERS))) return nullptr;
  // Marked as the server's: its data stands for a stat (see ChildFindData).
  uint8_t kind = itemflag::kNetwork | (entry.folder ? itemflag::kFolder : 0);
  if (entry.link) kind |= itemflag::kLink;
  // The data comes along, so neither the list nor its sort asks the server again.
  FileStat stat;
  stat.size = entry.folder ? 0 : entry.size;
  stat.mtime = FileTimeFromUnix(entry.mtimeSeconds, entry.mtimeNanoseconds);
  stat.mode = entry.mode;
  return MakeFileEntryID(entry.name, kind, &stat);
}

ListResult ListLocation(const std::string& uri, const std::function<bool(const RemoteEntry&)>& take,
                        const std::atomic<bool>* stop) {
  // Blocking calls, each thread on its own connection: the asynchronous ones
  // of GVfs's folders now and then never came back on a thread's own context.
  GPtr<GFile> folder(g_file_new_for_uri(uri.c_str()));
  GPtr<GCancellable> cancellable(g_cancellable_new());
  CancelOnStop watch(cancellable.get(), stop);
  GError* error = nullptr;
  GPtr<GFileEnumerator> entries(
      g_file_enumerate_children(folder.get(),
                                "standard::name,standard::type,standard::size,standard::is-symlink,"
                                "time::modified,time::modified-usec,unix::mode",
                                G_FILE_QUERY_INFO_NONE, cancellable.get(), &error));
  // GVfs hands the entries over in batches; one call each is only a copy.
  while (entries) {
    GPtr<GFileInfo> info(g_file_enumerator_next_file(entries.get(), cancellable.get(), &error));
    if (!info || !take(EntryOf(info.get()))) break;
  }
  ListResult result = ListResult::Listed;
  if (error) result = IsCancel(error) ? ListResult::Stopped : ListResult::Failed;
  if (stop && *stop) result = ListResult::Stopped;
  if (error) g_error_free(error);
  return result;
}

LocationFacts QueryLocation(const std::string& uri, const std::atomic<bool>* stop, bool withFreeSpace) {
  GPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
  GPtr<GCancellable> cancellable(g_cancellable_new());
  CancelOnStop watch(cancellable.get(), stop);
  LocationFacts facts;
  GError* error = nullptr;
  GPtr<GFileInfo> info(g_file_query_info(file.get(), "standard::type,time::modified,time::modified-usec",
                                         G_FILE_QUERY_INFO_NONE, cancellable.get(), &error));
  if (!info) {
    if (error && !IsCancel(error)) facts.message = Failure(uri, error);
    if (error) g_error_free(error);
    return facts;
  }
  facts.found = true;
  facts.folder = g_file_info_get_file_type(info.get()) == G_FILE_TYPE_DIRECTORY;
  facts.stamp = std::to_string(g_file_info_get_attribute_uint64(info.get(), "time::modified")) + "." +
                std::to_string(g_file_info_get_attribute_uint32(info.get(), "time::modified-usec"));
  if (withFreeSpace) {
    GPtr<GFileInfo> space(
        g_file_query_filesystem_info(file.get(), G_FILE_ATTRIBUTE_FILESYSTEM_FREE, cancellable.get(), nullptr));
    facts.freeKnown = space && g_file_info_has_attribute(space.get(), G_FILE_ATTRIBUTE_FILESYSTEM_FREE);
    if (facts.freeKnown)
      facts.freeBytes = g_file_info_get_attribute_uint64(space.get(), G_FILE_ATTRIBUTE_FILESYSTEM_FREE);
  }
  return facts;
}

void InstallFolderLister() {
  SetFolderLister(
      [](const std::string& path, uint32_t flags, const std::atomic<bool>* stop) -> std::unique_ptr<IEnumIDList> {
        const std::string uri = UriOfLocalPath(path);
        if (uri.empty()) return nullptr;
        std::vector<IDListPtr> ids;
        const ListResult listed = ListLocation(
            uri,
            [&](const RemoteEntry& entry) {
              if (PItemIDList id = RemoteEntryID(entry, flags)) ids.emplace_back(id);
              return true;
            },
            stop);
        // Unreadable through GIO: the file system says why. Stopped: what came so far.
        if (listed == ListResult::Failed) return nullptr;
        return std::make_unique<ListedEntries>(std::move(ids));
      });
}

}  // namespace network
