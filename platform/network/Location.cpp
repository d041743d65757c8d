// GIO first: its headers name fields "signals", which Qt's keywords would take.
#include <gio/gio.h>

#include "platform/network/Location.h"

#include "platform/namespace/FileSystemFolder.h"
#include "platform/namespace/IDList.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellApi.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

namespace network {
namespace {

template <typename T>
struct GObjectFree {
  void operator()(T* object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectFree<T>>;

struct GFreeChars {
  void operator()(char* text) const { g_free(text); }
};
using GChars = std::unique_ptr<char, GFreeChars>;

std::string Take(char* text) {
  GChars owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

// Runs the calling thread's own main context until done turns true, so GIO's
// answers and the mount's questions arrive here and never on the window's loop.
class PrivateContext {
 public:
  PrivateContext() : context_(g_main_context_new()) { g_main_context_push_thread_default(context_); }
  ~PrivateContext() {
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }
  PrivateContext(const PrivateContext&) = delete;
  PrivateContext& operator=(const PrivateContext&) = delete;

  // Also cancels cancellable once cancel turns true.
  void RunUntil(const bool& done, GCancellable* cancellable, const std::atomic<bool>* cancel) {
    GSource* timer = nullptr;
    struct Watch {
      GCancellable* cancellable;
      const std::atomic<bool>* cancel;
    } watch{cancellable, cancel};
    if (cancel && cancellable) {
      timer = g_timeout_source_new(100);
      g_source_set_callback(
          timer,
          [](gpointer data) -> gboolean {
            auto* w = static_cast<Watch*>(data);
            if (w->cancel->load()) g_cancellable_cancel(w->cancellable);
            return G_SOURCE_CONTINUE;
          },
          &watch, nullptr);
      g_source_attach(timer, context_);
    }
    while (!done) g_main_context_iteration(context_, TRUE);
    if (timer) {
      g_source_destroy(timer);
      g_source_unref(timer);
    }
  }

 private:
  GMainContext* context_;
};

struct MountCall {
  MountQuestions* questions = nullptr;
  bool done = false;
  GError* error = nullptr;
};

void AskPassword(GMountOperation* op, const char* message, const char* user, const char* domain,
                 GAskPasswordFlags flags, gpointer data) {
  auto* call = static_cast<MountCall*>(data);
  PasswordRequest request;
  request.message = message ? message : "";
  request.user = user ? user : "";
  request.domain = domain ? domain : "";
  request.needUser = flags & G_ASK_PASSWORD_NEED_USERNAME;
  request.needDomain = flags & G_ASK_PASSWORD_NEED_DOMAIN;
  request.needPassword = flags & G_ASK_PASSWORD_NEED_PASSWORD;
  request.canRemember = flags & G_ASK_PASSWORD_SAVING_SUPPORTED;
  request.anonymousAllowed = flags & G_ASK_PASSWORD_ANONYMOUS_SUPPORTED;
  PasswordAnswer answer;
  answer.user = request.user;
  answer.domain = request.domain;
  if (!call->questions->AskPassword(request, answer)) {
    g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
    return;
  }
  if (answer.anonymous && request.anonymousAllowed) {
    g_mount_operation_set_anonymous(op, TRUE);
  } else {
    if (request.needUser) g_mount_operation_set_username(op, answer.user.c_str());
    if (request.needDomain) g_mount_operation_set_domain(op, answer.domain.c_str());
    if (request.needPassword) g_mount_operation_set_password(op, answer.password.c_str());
  }
  g_mount_operation_set_password_save(
      op, answer.remember && request.canRemember ? G_PASSWORD_SAVE_PERMANENTLY : G_PASSWORD_SAVE_NEVER);
  // The password leaves our memory as soon as GIO holds it.
  std::fill(answer.password.begin(), answer.password.end(), '\0');
  g_mount_operation_reply(op, G_MOUNT_OPERATION_HANDLED);
}

void AskQuestion(GMountOperation* op, const char* message, GStrv choices, gpointer data) {
  auto* call = static_cast<MountCall*>(data);
  std::vector<std::string> texts;
  for (GStrv c = choices; c && *c; ++c) texts.emplace_back(*c);
  const int choice = call->questions->AskChoice(message ? message : "", texts);
  if (choice < 0 || choice >= static_cast<int>(texts.size())) {
    g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
    return;
  }
  g_mount_operation_set_choice(op, choice);
  g_mount_operation_reply(op, G_MOUNT_OPERATION_HANDLED);
}

std::string ReasonOf(const GError* error) {
  if (error->domain != G_IO_ERROR) return "接続できませんでした";
  switch (error->code) {
    case G_IO_ERROR_PERMISSION_DENIED:
      return "ログインできませんでした。ユーザー名かパスワード、鍵が受け付けられません";
    case G_IO_ERROR_HOST_NOT_FOUND:
      return "サーバーが見つかりません";
    case G_IO_ERROR_CONNECTION_REFUSED:
      return "サーバーが接続を拒否しました";
    case G_IO_ERROR_TIMED_OUT:
      return "サーバーが応答しません";
    case G_IO_ERROR_INVALID_ARGUMENT:
    case G_IO_ERROR_INVALID_FILENAME:
      return "場所の書き方が正しくありません";
    case G_IO_ERROR_NOT_FOUND:
      return "その場所は見つかりません";
    case G_IO_ERROR_NOT_SUPPORTED:
      return "この種類の場所は扱えません";
    default:
      return "接続できませんでした";
  }
}

bool IsCancel(const GError* error) {
  return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_FAILED_HANDLED);
}

std::string Failure(const std::string& uri, const GError* error) {
  return "「" + uri + "」を開けません。" + ReasonOf(error) + "。\n(" + error->message + ")";
}

}  // namespace

bool IsLocationUri(std::string_view text) {
  const std::string scheme = SchemeOf(text);
  return !scheme.empty() && scheme != "file";
}

std::string SchemeOf(std::string_view uri) {
  const size_t colon = uri.find("://");
  if (colon == std::string_view::npos || colon == 0) return {};
  if (!std::isalpha(static_cast<unsigned char>(uri[0]))) return {};
  std::string scheme;
  for (char c : uri.substr(0, colon)) {
    const auto u = static_cast<unsigned char>(c);
    if (!std::isalnum(u) && c != '+' && c != '-' && c != '.') return {};
    scheme += static_cast<char>(std::tolower(u));
  }
  return scheme;
}

bool SchemeSupported(const std::string& scheme) {
  const gchar* const* schemes = g_vfs_get_supported_uri_schemes(g_vfs_get_default());
  for (const gchar* const* s = schemes; s && *s; ++s)
    if (scheme == *s) return true;
  return false;
}

std::string PackageForScheme(const std::string& scheme) {
  // The GIO module itself is gvfs; every network backend comes with gvfs-backends.
  (void)scheme;
  return "gvfs-backends";
}

// Read here rather than through GLib, which makes ~/.cache when the variable is unset
// (on every folder listed, in the user's home) and keeps its first answer for good.
std::string FuseRoot() {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime ? std::string(runtime) + "/gvfs" : std::string();
}

std::string LocalPathOf(const std::string& uri) {
  GPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
  return Take(g_file_get_path(file.get()));
}

std::string ReachableLocalPath(const std::string& uri, const std::atomic<bool>* cancel) {
  std::string local = LocalPathOf(uri);
  struct stat st {};
  for (int tries = 0; !local.empty() && ::stat(local.c_str(), &st) != 0 && tries < 30; ++tries) {
    if (cancel && *cancel) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return local;
}

bool IsMounted(const std::string& uri) {
  GPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
  GPtr<GMount> mount(g_file_find_enclosing_mount(file.get(), nullptr, nullptr));
  return mount != nullptr;
}

std::string UriOfLocalPath(const std::string& path) {
  const std::string fuse = FuseRoot();
  if (fuse.empty()) return {};
  const std::string root = fuse + '/';
  if (path.size() <= root.size() || path.compare(0, root.size(), root) != 0) return {};
  // GIO's daemon side maps a path in its FUSE mount back to the location.
  GPtr<GFile> file(g_file_new_for_path(path.c_str()));
  std::string uri = Take(g_file_get_uri(file.get()));
  return IsLocationUri(uri) ? uri : std::string();
}

std::string ShownLocation(const std::string& path) {
  std::string uri = UriOfLocalPath(path);
  return uri.empty() ? path : uri;
}

MountResult MountLocation(const std::string& uri, MountQuestions& questions, const std::atomic<bool>* cancel) {
  MountResult result;
  const std::string scheme = SchemeOf(uri);
  if (!SchemeSupported(scheme)) {
    result.message = UnsupportedSchemeText(uri);
    return result;
  }
  PrivateContext context;
  GPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
  GPtr<GMountOperation> op(g_mount_operation_new());
  GPtr<GCancellable> cancellable(g_cancellable_new());
  MountCall call;
  call.questions = &questions;
  g_signal_connect(op.get(), "ask-password", G_CALLBACK(AskPassword), &call);
  g_signal_connect(op.get(), "ask-question", G_CALLBACK(AskQuestion), &call);
  g_file_mount_enclosing_volume(
      file.get(), G_MOUNT_MOUNT_NONE, op.get(), cancellable.get(),
      [](GObject* source, GAsyncResult* res, gpointer data) {
        auto* c = static_cast<MountCall*>(data);
        g_file_mount_enclosing_volume_finish(G_FILE(source), res, &c->error);
        c->done = true;
      },
      &call);
  context.RunUntil(call.done, cancellable.get(), cancel);
  g_signal_handlers_disconnect_by_data(op.get(), &call);
  if (!call.error || g_error_matches(call.error, G_IO_ERROR, G_IO_ERROR_ALREADY_MOUNTED)) {
    result.ok = true;
  } else if (IsCancel(call.error)) {
    result.cancelled = true;
  } else if (g_error_matches(call.error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED)) {
    result.message = UnsupportedSchemeText(uri) + "\n(" + call.error->message + ")";
  } else {
    result.message = Failure(uri, call.error);
  }
  if (call.error) g_error_free(call.error);
  return result;
}

bool ListLocation(const std::string& uri, const std::function<bool(const RemoteEntry&)>& take) {
  GPtr<GFile> folder(g_file_new_for_uri(uri.c_str()));
  GPtr<GFileEnumerator> entries(
      g_file_enumerate_children(folder.get(),
                                "standard::name,standard::type,standard::size,standard::is-symlink,time::modified,"
                                "time::modified-usec,unix::mode",
                                G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
  if (!entries) return false;
  // GVfs hands the entries over in batches; one call each is only a copy.
  for (;;) {
    GPtr<GFileInfo> info(g_file_enumerator_next_file(entries.get(), nullptr, nullptr));
    if (!info) break;
    RemoteEntry entry;
    entry.name = g_file_info_get_name(info.get());
    entry.folder = g_file_info_get_file_type(info.get()) == G_FILE_TYPE_DIRECTORY;
    entry.link = g_file_info_get_is_symlink(info.get());
    entry.size = static_cast<uint64_t>(std::max<goffset>(0, g_file_info_get_size(info.get())));
    entry.mtimeSeconds = static_cast<int64_t>(g_file_info_get_attribute_uint64(info.get(), "time::modified"));
    entry.mtimeNanoseconds = g_file_info_get_attribute_uint32(info.get(), "time::modified-usec") * 1000u;
    entry.mode = g_file_info_get_attribute_uint32(info.get(), "unix::mode");
    if (entry.mode == 0) entry.mode = entry.folder ? S_IFDIR | 0755 : S_IFREG | 0644;
    if (!take(entry)) break;
  }
  return true;
}

std::string FolderStamp(const std::string& uri) {
  GPtr<GFile> folder(g_file_new_for_uri(uri.c_str()));
  GPtr<GFileInfo> info(
      g_file_query_info(folder.get(), "time::modified,time::modified-usec", G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
  if (!info) return {};
  return std::to_string(g_file_info_get_attribute_uint64(info.get(), "time::modified")) + "." +
         std::to_string(g_file_info_get_attribute_uint32(info.get(), "time::modified-usec"));
}

bool UnmountLocation(const std::string& uri, std::string* message) {
  PrivateContext context;
  GPtr<GFile> file(g_file_new_for_uri(uri.c_str()));
  GError* error = nullptr;
  GPtr<GMount> mount(g_file_find_enclosing_mount(file.get(), nullptr, &error));
  if (!mount) {
    if (message) *message = Failure(uri, error);
    g_error_free(error);
    return false;
  }
  struct Call {
    bool done = false;
    GError* error = nullptr;
  } call;
  g_mount_unmount_with_operation(
      mount.get(), G_MOUNT_UNMOUNT_NONE, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        auto* c = static_cast<Call*>(data);
        g_mount_unmount_with_operation_finish(G_MOUNT(source), res, &c->error);
        c->done = true;
      },
      &call);
  context.RunUntil(call.done, nullptr, nullptr);
  if (!call.error) return true;
  if (message) *message = Failure(uri, call.error);
  g_error_free(call.error);
  return false;
}

namespace {

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

void InstallFolderLister() {
  SetFolderLister([](const std::string& path, uint32_t flags) -> std::unique_ptr<IEnumIDList> {
    const std::string uri = UriOfLocalPath(path);
    if (uri.empty()) return nullptr;
    std::vector<IDListPtr> ids;
    const bool listed = ListLocation(uri, [&](const RemoteEntry& entry) {
      if (entry.name.empty() || (entry.name[0] == '.' && !(flags & SHCONTF_INCLUDEHIDDEN))) return true;
      if (!(flags & (entry.folder ? SHCONTF_FOLDERS : SHCONTF_NONFOLDERS))) return true;
      uint8_t kind = entry.folder ? itemflag::kFolder : 0;
      if (entry.link) kind |= itemflag::kLink;
      // The data comes along, so neither the list nor its sort stats through FUSE.
      FileStat stat;
      stat.size = entry.folder ? 0 : entry.size;
      stat.mtime = FileTimeFromUnix(entry.mtimeSeconds, entry.mtimeNanoseconds);
      stat.mode = entry.mode;
      if (PItemIDList id = MakeFileEntryID(entry.name, kind, &stat)) ids.emplace_back(id);
      return true;
    });
    // Unreadable through GIO: the file system says why.
    if (!listed) return nullptr;
    return std::make_unique<ListedEntries>(std::move(ids));
  });
}

std::vector<KnownLocation> KnownLocations() {
  std::vector<KnownLocation> found;
  auto add = [&found](std::string uri, std::string name) {
    if (!IsLocationUri(uri)) return;
    for (const KnownLocation& known : found)
      if (known.uri == uri) return;
    if (name.empty()) name = uri;
    found.push_back({std::move(uri), std::move(name)});
  };
  std::ifstream bookmarks(std::string(g_get_user_config_dir()) + "/gtk-3.0/bookmarks");
  for (std::string line; std::getline(bookmarks, line);) {
    const size_t blank = line.find(' ');
    add(line.substr(0, blank), blank == std::string::npos ? std::string() : line.substr(blank + 1));
  }
  // The monitor lives on in GIO, bound to the context of the thread that first asks.
  GPtr<GVolumeMonitor> monitor(g_volume_monitor_get());
  GList* mounts = g_volume_monitor_get_mounts(monitor.get());
  for (GList* m = mounts; m; m = m->next) {
    auto* mount = static_cast<GMount*>(m->data);
    GPtr<GFile> root(g_mount_get_root(mount));
    add(Take(g_file_get_uri(root.get())), Take(g_mount_get_name(mount)));
  }
  g_list_free_full(mounts, g_object_unref);
  return found;
}

std::string UnsupportedSchemeText(const std::string& uri) {
  const std::string scheme = SchemeOf(uri);
  return "「" + uri + "」を開けません。「" + scheme + "」の場所を扱う部品がありません。\n" + PackageForScheme(scheme) +
         " を入れてください (sudo apt install " + PackageForScheme(scheme) + ")。";
}

std::string NoFusePathText(const std::string& uri) {
  return "「" + uri + "」はつながりましたが、フォルダとして開く道 (GVfs の FUSE) がありません。\n" +
         "gvfs-fuse を入れて、ログインし直してください (sudo apt install gvfs-fuse)。";
}

}  // namespace network
