// GIO first: its headers name fields "signals", which Qt's keywords would take.
#include <gio/gio.h>

#include "platform/network/Location.h"
#include "platform/network/GioSupport.h"

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

struct MountCall {
  std::string uri;
  MountQuestions* questions = nullptr;
  bool done = false;
  GError* error = nullptr;
};

// A key fingerprint as ssh shows it: "SHA256:" and base64, or MD5 hex pairs.
std::string FingerprintIn(const std::string& text) {
  size_t at = text.find("SHA256:");
  if (at != std::string::npos) {
    size_t end = at + 7;
    while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '+' ||
                                 text[end] == '/' || text[end] == '='))
      ++end;
    return end > at + 7 ? text.substr(at, end - at) : std::string();
  }
  for (at = 0; at + 47 <= text.size(); ++at) {
    bool pairs = true;
    for (size_t i = 0; i < 47 && pairs; ++i)
      pairs = i % 3 == 2 ? text[at + i] == ':' : std::isxdigit(static_cast<unsigned char>(text[at + i])) != 0;
    if (pairs) return text.substr(at, 47);
  }
  return {};
}

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
  const std::string text = message ? message : "";
  // The sftp backend's "log in anyway / cancel" of an unknown host key comes
  // in the desktop's language: told by the fingerprint in it.
  const std::string fingerprint = FingerprintIn(text);
  int choice = -1;
  if (!fingerprint.empty() && texts.size() == 2)
    choice = call->questions->AcceptHostKey(call->uri, fingerprint, text) ? 0 : -1;
  else
    choice = call->questions->AskChoice(text, texts);
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

}  // namespace

std::string Failure(const std::string& uri, const GError* error) {
  return "「" + uri + "」を開けません。" + ReasonOf(error) + "。\n(" + error->message + ")";
}

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

bool InFuseMount(const std::string& path) {
  const std::string fuse = FuseRoot();
  if (fuse.empty()) return false;
  const std::string root = fuse + '/';
  return path.size() > root.size() && path.compare(0, root.size(), root) == 0;
}

std::string UriOfLocalPath(const std::string& path) {
  if (!InFuseMount(path)) return {};
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
  call.uri = uri;
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

std::vector<KnownLocation> KnownLocations() {
  std::vector<KnownLocation> found;
  auto add = [&found](std::string uri, std::string name) {
    if (!IsLocationUri(uri)) return;
    for (const KnownLocation& known : found)
      if (known.uri == uri) return;
    if (name.empty()) name = uri;
    found.push_back({std::move(uri), std::move(name)});
  };
  // The variables are read each time: GLib keeps its first answer for good.
  const char* config = getenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  const std::string folder = config && *config ? config : std::string(home ? home : "") + "/.config";
  std::ifstream bookmarks(folder + "/gtk-3.0/bookmarks");
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
  // Volumes not mounted yet that are reached by a location (a share GVfs found).
  GList* volumes = g_volume_monitor_get_volumes(monitor.get());
  for (GList* v = volumes; v; v = v->next) {
    auto* volume = static_cast<GVolume*>(v->data);
    GPtr<GFile> root(g_volume_get_activation_root(volume));
    if (root) add(Take(g_file_get_uri(root.get())), Take(g_volume_get_name(volume)));
  }
  g_list_free_full(volumes, g_object_unref);
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
