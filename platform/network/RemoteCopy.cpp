// GIO first: its headers name fields "signals", which Qt's keywords would take.
#include <gio/gio.h>

#include "platform/network/GioSupport.h"
#include "platform/network/Location.h"

#include <cerrno>

namespace network {
int ErrnoOf(const GError* error) {
  if (error->domain != G_IO_ERROR) return EIO;
  switch (error->code) {
    case G_IO_ERROR_CANCELLED:
    case G_IO_ERROR_FAILED_HANDLED:
      return ECANCELED;
    case G_IO_ERROR_NOT_FOUND:
      return ENOENT;
    case G_IO_ERROR_EXISTS:
      return EEXIST;
    case G_IO_ERROR_IS_DIRECTORY:
      return EISDIR;
    case G_IO_ERROR_NOT_DIRECTORY:
      return ENOTDIR;
    case G_IO_ERROR_PERMISSION_DENIED:
      return EACCES;
    case G_IO_ERROR_NO_SPACE:
      return ENOSPC;
    case G_IO_ERROR_READ_ONLY:
      return EROFS;
    case G_IO_ERROR_FILENAME_TOO_LONG:
      return ENAMETOOLONG;
    case G_IO_ERROR_TIMED_OUT:
      return ETIMEDOUT;
    case G_IO_ERROR_NOT_SUPPORTED:
      return EOPNOTSUPP;
    case G_IO_ERROR_CLOSED:
    case G_IO_ERROR_BROKEN_PIPE:
    case G_IO_ERROR_NOT_CONNECTED:
    case G_IO_ERROR_NOT_MOUNTED:
      // The server went away: its files are out of reach.
      return ESTALE;
    default:
      return EIO;
  }
}

namespace {

// The location's file for a path in the FUSE mount, the path's own file otherwise.
GFile* FileOf(const std::string& path, bool& remote) {
  const std::string uri = UriOfLocalPath(path);
  remote = !uri.empty();
  return remote ? g_file_new_for_uri(uri.c_str()) : g_file_new_for_path(path.c_str());
}

struct CopyCall {
  const std::function<void(uint64_t)>* progress = nullptr;
  bool done = false;
  GError* error = nullptr;
};

}  // namespace

int CopyThroughGio(const std::string& from, const std::string& to, const std::atomic<bool>& cancel,
                   const std::function<void(uint64_t)>& progress) {
  bool fromRemote = false, toRemote = false;
  GPtr<GFile> source(FileOf(from, fromRemote));
  GPtr<GFile> target(FileOf(to, toRemote));
  if (!fromRemote && !toRemote) return -1;
  PrivateContext context;
  GPtr<GCancellable> cancellable(g_cancellable_new());
  CopyCall call;
  call.progress = &progress;
  // The caller sets the attributes it keeps; a copy never follows a link nor replaces.
  g_file_copy_async(
      source.get(), target.get(), G_FILE_COPY_NOFOLLOW_SYMLINKS, G_PRIORITY_DEFAULT, cancellable.get(),
      [](goffset current, goffset, gpointer data) {
        auto* c = static_cast<CopyCall*>(data);
        if (*c->progress && current > 0) (*c->progress)(static_cast<uint64_t>(current));
      },
      &call,
      [](GObject* object, GAsyncResult* result, gpointer data) {
        auto* c = static_cast<CopyCall*>(data);
        g_file_copy_finish(G_FILE(object), result, &c->error);
        c->done = true;
      },
      &call);
  context.RunUntil(call.done, cancellable.get(), &cancel);
  if (!call.error) return 0;
  const int error = ErrnoOf(call.error);
  g_error_free(call.error);
  return error;
}

}  // namespace network
