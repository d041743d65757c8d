#pragma once
// What the GIO calls of this folder share: owning pointers for GObjects and
// GLib strings, and a main context of the calling thread's own.
// Include after <gio/gio.h>, ahead of any Qt header.
#include <gio/gio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace network {

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

inline std::string Take(char* text) {
  GChars owned(text);
  return owned ? std::string(owned.get()) : std::string();
}

// "「uri」を開けません。" with the reason in Japanese and GIO's own words.
std::string Failure(const std::string& uri, const GError* error);

inline bool IsCancel(const GError* error) {
  return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_FAILED_HANDLED);
}

// The errno nearest to a GIO error (ESTALE: the server went away).
int ErrnoOf(const GError* error);

// Cancels cancellable once stop turns true, for the span of a blocking call
// that a server may hold (a thread of its own looks every 50 ms).
class CancelOnStop {
 public:
  CancelOnStop(GCancellable* cancellable, const std::atomic<bool>* stop) {
    if (!stop) return;
    watcher_ = std::thread([this, cancellable, stop] {
      std::unique_lock<std::mutex> hold(lock_);
      while (!over_) {
        if (*stop) {
          g_cancellable_cancel(cancellable);
          return;
        }
        wake_.wait_for(hold, std::chrono::milliseconds(50));
      }
    });
  }
  ~CancelOnStop() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      over_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
  }
  CancelOnStop(const CancelOnStop&) = delete;
  CancelOnStop& operator=(const CancelOnStop&) = delete;

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool over_ = false;
  std::thread watcher_;
};

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

}  // namespace network
