// GIO first: its headers name fields "signals", which Qt's keywords would take.
#include <gio/gio.h>

#include "platform/network/GioSupport.h"
#include "platform/network/LocationChanges.h"

#include <cstring>

namespace network {
namespace {

std::string Why(const std::string& what, const GError* error) {
  return what + (error ? std::string("\n(") + error->message + ")" : std::string());
}

// The message for a failed call, or "stopped" when the stop ended it.
std::string Failed(const std::string& what, GError* error) {
  std::string why = IsCancel(error) ? std::string("中止しました。") : Why(what, error);
  if (error) g_error_free(error);
  return why;
}

}  // namespace

std::string MakeRemoteFolder(const std::string& folder, const std::string& name, const std::atomic<bool>* stop) {
  GPtr<GFile> parent(g_file_new_for_uri(folder.c_str()));
  GPtr<GFile> made(g_file_get_child(parent.get(), name.c_str()));
  GPtr<GCancellable> cancellable(g_cancellable_new());
  CancelOnStop watch(cancellable.get(), stop);
  GError* error = nullptr;
  if (g_file_make_directory(made.get(), cancellable.get(), &error)) return {};
  if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_EXISTS))
    return Failed("同じ名前のフォルダ (かファイル)「" + name + "」が既にあります。", error);
  return Failed("フォルダ「" + name + "」を作成できません。", error);
}

std::string RenameRemote(const std::string& item, const std::string& newName, const std::atomic<bool>* stop) {
  GPtr<GFile> file(g_file_new_for_uri(item.c_str()));
  GPtr<GFile> parent(g_file_get_parent(file.get()));
  if (!parent) return "「" + item + "」の名前は変えられません。";
  GPtr<GFile> target(g_file_get_child(parent.get(), newName.c_str()));
  GPtr<GCancellable> cancellable(g_cancellable_new());
  CancelOnStop watch(cancellable.get(), stop);
  // Never over another name: an sftp rename replaces one.
  GError* error = nullptr;
  GPtr<GFileInfo> there(g_file_query_info(target.get(), "standard::type", G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS,
                                          cancellable.get(), &error));
  if (there) return "「" + newName + "」は既にあります。";
  if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND))
    return Failed("「" + newName + "」があるかどうか分かりません。", error);
  g_clear_error(&error);
  GPtr<GFile> renamed(g_file_set_display_name(file.get(), newName.c_str(), cancellable.get(), &error));
  if (renamed) return {};
  return Failed("「" + Take(g_file_get_basename(file.get())) + "」の名前を変えられません。", error);
}

struct FolderMonitor::Loop {
  GMainContext* context = g_main_context_new();
  GMainLoop* loop = g_main_loop_new(context, FALSE);
  GCancellable* cancellable = g_cancellable_new();
  ~Loop() {
    g_object_unref(cancellable);
    g_main_loop_unref(loop);
    g_main_context_unref(context);
  }
};

FolderMonitor::FolderMonitor(const std::string& uri, std::function<void()> changed)
    : uri_(uri), changed_(std::move(changed)), loop_(std::make_unique<Loop>()) {
  thread_ = std::thread([this] {
    Loop& loop = *loop_;
    // The monitor's events come to the context that was the thread's own when it was made.
    g_main_context_push_thread_default(loop.context);
    GPtr<GFile> folder(g_file_new_for_uri(uri_.c_str()));
    // sftp and most backends answer "not supported"; a polling monitor would only add load.
    GPtr<GFileMonitor> monitor(
        g_file_monitor_directory(folder.get(), G_FILE_MONITOR_WATCH_MOVES, loop.cancellable, nullptr));
    if (monitor && std::strcmp(G_OBJECT_TYPE_NAME(monitor.get()), "GPollFileMonitor") == 0) monitor.reset();
    state_ = monitor ? State::Watching : State::None;
    if (monitor) {
      auto onChange = +[](GFileMonitor*, GFile*, GFile*, GFileMonitorEvent, gpointer self) {
        static_cast<FolderMonitor*>(self)->changed_();
      };
      g_signal_connect(monitor.get(), "changed", G_CALLBACK(onChange), this);
      g_main_loop_run(loop.loop);
      g_signal_handlers_disconnect_by_data(monitor.get(), this);
      g_file_monitor_cancel(monitor.get());
      monitor.reset();
      // What the cancel left queued runs here, never after the context is gone.
      while (g_main_context_iteration(loop.context, FALSE)) {
      }
    }
    g_main_context_pop_thread_default(loop.context);
  });
}

FolderMonitor::~FolderMonitor() {
  g_cancellable_cancel(loop_->cancellable);
  // Quits the loop once it runs, or at once when it does.
  GSource* quit = g_idle_source_new();
  g_source_set_callback(
      quit,
      [](gpointer loop) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      loop_->loop, nullptr);
  g_source_attach(quit, loop_->context);
  g_source_unref(quit);
  thread_.join();
}

}  // namespace network
