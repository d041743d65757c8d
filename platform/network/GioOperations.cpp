// GIO first: its headers name fields "signals", which Qt's keywords would take.
#include <gio/gio.h>

#include "platform/network/GioOperations.h"
#include "platform/network/GioSupport.h"
#include "platform/network/Location.h"
#include "platform/fileops/TimeLeft.h"

#include <cerrno>
#include <functional>
#include <random>

namespace network {
namespace {

constexpr const char* kQueried = "standard::type,standard::size,standard::is-symlink,time::modified";

GFile* FileOf(const std::string& item) {
  return IsLocationUri(item) ? g_file_new_for_uri(item.c_str()) : g_file_new_for_path(item.c_str());
}

std::string NameOf(GFile* file) { return Take(g_file_get_basename(file)); }
std::string TextOf(GFile* file) {
  return g_file_is_native(file) ? Take(g_file_get_path(file)) : Take(g_file_get_uri(file));
}

// The error's text for the user: ours, GIO's own words after it.
std::string Why(const std::string& what, const GError* error) {
  return what + (error ? std::string("\n(") + error->message + ")" : std::string());
}

struct Facts {
  bool found = false;
  GFileType type = G_FILE_TYPE_UNKNOWN;
  uint64_t size = 0;
  int64_t mtime = 0;
};

Facts FactsOf(GFile* file, GCancellable* cancellable, GError** error = nullptr) {
  Facts facts;
  GPtr<GFileInfo> info(g_file_query_info(file, kQueried, G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, cancellable, error));
  if (!info) return facts;
  facts.found = true;
  facts.type = g_file_info_get_file_type(info.get());
  facts.size = static_cast<uint64_t>(std::max<goffset>(0, g_file_info_get_size(info.get())));
  facts.mtime = static_cast<int64_t>(g_file_info_get_attribute_uint64(info.get(), "time::modified"));
  return facts;
}

// Calls each(child, name) for every entry of folder, links not followed;
// false when listing failed or each said stop.
template <class Each>
bool ForEachChild(GFile* folder, GCancellable* cancellable, GError** error, Each each) {
  GPtr<GFileEnumerator> children(
      g_file_enumerate_children(folder, "standard::name", G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, cancellable, error));
  if (!children) return false;
  for (;;) {
    GFileInfo* child = nullptr;
    GFile* childFile = nullptr;
    if (!g_file_enumerator_iterate(children.get(), &child, &childFile, cancellable, error)) return false;
    if (!child) return true;
    if (!each(childFile, g_file_info_get_name(child))) return false;
  }
}

// Removes file, a folder with all it holds; a link is removed, never followed.
bool RemoveTree(GFile* file, GCancellable* cancellable, GError** error) {
  GPtr<GFileInfo> info(
      g_file_query_info(file, "standard::type", G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, cancellable, error));
  if (!info) return false;
  if (g_file_info_get_file_type(info.get()) == G_FILE_TYPE_DIRECTORY &&
      !ForEachChild(file, cancellable, error,
                    [&](GFile* child, const char*) { return RemoveTree(child, cancellable, error); }))
    return false;
  return g_file_delete(file, cancellable, error);
}

// A hidden folder of ours beside the target, only the owner may enter.
GFile* MakePartFolder(GFile* folder, GCancellable* cancellable, GError** error) {
  std::random_device random;
  for (int tries = 0; tries < 8; ++tries) {
    const std::string name = ".tolvane-part-" + std::to_string(random() % 100000000u);
    GFile* part = g_file_get_child(folder, name.c_str());
    GError* failed = nullptr;
    if (g_file_make_directory(part, cancellable, &failed)) {
      g_file_set_attribute_uint32(part, "unix::mode", 0700, G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, cancellable, nullptr);
      return part;
    }
    g_object_unref(part);
    if (!g_error_matches(failed, G_IO_ERROR, G_IO_ERROR_EXISTS)) {
      g_propagate_error(error, failed);
      return nullptr;
    }
    g_error_free(failed);
  }
  return nullptr;
}

struct CopyProgress {
  std::atomic<uint64_t>* done;
  uint64_t base;
  std::function<void(GFile*)> starting;  // each file as its copy starts
};

// Copies the tree of source to the new target (a folder's children one by
// one; a link as a link). Bytes go to progress as they are copied.
bool CopyTree(GFile* source, GFile* target, GCancellable* cancellable, CopyProgress& progress, GError** error) {
  const Facts facts = FactsOf(source, cancellable, error);
  if (!facts.found) return false;
  if (facts.type == G_FILE_TYPE_DIRECTORY) {
    if (!g_file_make_directory(target, cancellable, error)) return false;
    return ForEachChild(source, cancellable, error, [&](GFile* child, const char* name) {
      GPtr<GFile> childTarget(g_file_get_child(target, name));
      return CopyTree(child, childTarget.get(), cancellable, progress, error);
    });
  }
  if (facts.type != G_FILE_TYPE_REGULAR && facts.type != G_FILE_TYPE_SYMBOLIC_LINK) {
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_NOT_REGULAR_FILE, "not a regular file");
    return false;
  }
  progress.base = progress.done->load();
  if (progress.starting) progress.starting(source);
  const bool ok = g_file_copy(
      source, target, static_cast<GFileCopyFlags>(G_FILE_COPY_NOFOLLOW_SYMLINKS | G_FILE_COPY_ALL_METADATA),
      cancellable,
      [](goffset current, goffset, gpointer data) {
        auto* p = static_cast<CopyProgress*>(data);
        p->done->store(p->base + static_cast<uint64_t>(std::max<goffset>(0, current)));
      },
      &progress, error);
  if (ok) progress.done->store(progress.base + facts.size);
  return ok;
}

// The sizes of every file below source, for the progress.
uint64_t TreeBytes(GFile* source, GCancellable* cancellable) {
  const Facts facts = FactsOf(source, cancellable);
  if (facts.type != G_FILE_TYPE_DIRECTORY) return facts.size;
  uint64_t bytes = 0;
  ForEachChild(source, cancellable, nullptr, [&](GFile* child, const char*) {
    bytes += TreeBytes(child, cancellable);
    return true;
  });
  return bytes;
}

bool Below(GFile* file, GFile* folder) { return g_file_equal(file, folder) || g_file_has_prefix(file, folder); }

}  // namespace

FileOperationProgress GioJob::Progress() const {
  FileOperationProgress p;
  p.function = function_;
  p.itemsDone = itemsDone_;
  p.itemsTotal = itemsTotal_;
  p.bytesDone = bytesDone_;
  p.bytesTotal = bytesTotal_;
  // So many sources show their progress at once, as the engine's do.
  p.sourcesTotal = p.itemsTotal;
  p.secondsElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  EstimateSecondsLeft(p);
  std::lock_guard<std::mutex> hold(lock_);
  p.currentFile = current_;
  return p;
}

void GioJob::Count(uint64_t bytes, const std::string& current) {
  bytesTotal_ += bytes;
  std::lock_guard<std::mutex> hold(lock_);
  current_ = current;
}

FileOperationResult GioJob::Transfer(const std::vector<std::string>& sources, const std::string& destination,
                                     bool move) {
  function_ = move ? FO_MOVE : FO_COPY;
  itemsTotal_ = sources.size();
  // Every source is counted before the first is sent: a total that grew
  // source by source moved the bar back with each one.
  {
    GPtr<GCancellable> cancellable(g_cancellable_new());
    CancelOnStop watch(cancellable.get(), &cancel_);
    for (const std::string& source : sources) {
      if (cancel_) return {FO_ERROR_CANCELLED, true};
      GPtr<GFile> file(FileOf(source));
      Count(TreeBytes(file.get(), cancellable.get()), source);
    }
  }
  for (const std::string& source : sources) {
    if (cancel_) return {FO_ERROR_CANCELLED, true};
    const Done done = TransferOne(source, destination, move, true);
    ++itemsDone_;
    if (done == Done::Stop) return {FO_ERROR_CANCELLED, true};
  }
  return {failed_ ? FO_ERROR_FAILED : 0, failed_};
}

GioJob::Done GioJob::TransferOne(const std::string& sourceText, const std::string& destination, bool move,
                                 bool counted) {
  GPtr<GFile> source(FileOf(sourceText));
  GPtr<GFile> folder(FileOf(destination));
  const std::string name = NameOf(source.get());
  GPtr<GFile> target(g_file_get_child(folder.get(), name.c_str()));
  GPtr<GCancellable> cancellable(g_cancellable_new());
  CancelOnStop watch(cancellable.get(), &cancel_);
  GError* error = nullptr;
  auto fail = [&](const std::string& what) {
    const bool cancelled = error && IsCancel(error);
    if (!cancelled) {
      failed_ = true;
      ui_->ShowMessage(Why(what, error));
    }
    if (error) g_clear_error(&error);
    return cancelled ? Done::Stop : Done::Skipped;
  };
  const Facts facts = FactsOf(source.get(), cancellable.get(), &error);
  if (!facts.found) return fail("「" + sourceText + "」が見つかりません。");
  if (g_file_equal(source.get(), target.get()))
    return fail("「" + name + "」は同じフォルダへは" + (move ? "移動" : "コピー") + "できません。");
  if (Below(folder.get(), source.get()))
    return fail("「" + name + "」をそれ自身の中へ" + (move ? "移動" : "コピー") + "することはできません。");
  Count(counted ? 0 : TreeBytes(source.get(), cancellable.get()), sourceText);

  // The conflict question; a folder onto a folder merges, file by file.
  const Facts existing = FactsOf(target.get(), cancellable.get());
  if (existing.found) {
    const bool sourceFolder = facts.type == G_FILE_TYPE_DIRECTORY;
    if (sourceFolder && existing.type == G_FILE_TYPE_DIRECTORY) return MergeInto(source.get(), target.get(), move);
    // Never a file for a folder or a folder for a file.
    if (sourceFolder || existing.type == G_FILE_TYPE_DIRECTORY) {
      ui_->ShowMessage("「" + TextOf(target.get()) + "」には" +
                       (sourceFolder ? "同じ名前のファイル" : "同じ名前のフォルダ") + "があるため、「" + name +
                       "」は飛ばしました。");
      failed_ = true;
      return Done::Skipped;
    }
    bool replace = conflictAll_ > 0;
    if (conflictAll_ == 0) {
      FileFacts was{TextOf(target.get()), existing.size, existing.mtime, false};
      FileFacts incoming{sourceText, facts.size, facts.mtime, false};
      switch (ui_->AskReplace(was, incoming)) {
        case ConflictAnswer::YesToAll:
          conflictAll_ = 1;
          [[fallthrough]];
        case ConflictAnswer::Yes:
          replace = true;
          break;
        case ConflictAnswer::NoToAll:
          conflictAll_ = -1;
          break;
        case ConflictAnswer::No:
          break;
        case ConflictAnswer::Cancel:
          return Done::Stop;
      }
    }
    if (!replace) return Done::Skipped;
  }

  // Made whole in a hidden folder of ours beside its place, then renamed there.
  GPtr<GFile> part(MakePartFolder(folder.get(), cancellable.get(), &error));
  if (!part) return fail("「" + destination + "」に書き込めません。");
  GPtr<GFile> made(g_file_get_child(part.get(), name.c_str()));
  // A move within one server is a rename; elsewhere it is a copy, checked, then the source goes.
  bool renamed =
      move && g_file_move(source.get(), made.get(),
                          static_cast<GFileCopyFlags>(G_FILE_COPY_NOFOLLOW_SYMLINKS | G_FILE_COPY_NO_FALLBACK_FOR_MOVE),
                          cancellable.get(), nullptr, nullptr, nullptr);
  CopyProgress progress{&bytesDone_, 0, [this](GFile* file) {
                          std::lock_guard<std::mutex> hold(lock_);
                          current_ = TextOf(file);
                        }};
  if (!renamed && !CopyTree(source.get(), made.get(), cancellable.get(), progress, &error)) {
    GError* ignored = nullptr;
    RemoveTree(part.get(), nullptr, &ignored);
    g_clear_error(&ignored);
    return fail("「" + sourceText + "」を" + (move ? "移動" : "コピー") + "できませんでした。");
  }
  if (renamed) bytesDone_ += facts.size;
  // The replaced file goes only now that the new one is whole.
  if (existing.found && !g_file_delete(target.get(), cancellable.get(), &error)) {
    if (renamed)
      g_file_move(made.get(), source.get(), G_FILE_COPY_NOFOLLOW_SYMLINKS, nullptr, nullptr, nullptr, nullptr);
    GError* ignored = nullptr;
    RemoveTree(part.get(), nullptr, &ignored);
    g_clear_error(&ignored);
    return fail("「" + TextOf(target.get()) + "」を置き換えられませんでした。");
  }
  if (!g_file_move(made.get(), target.get(), G_FILE_COPY_NOFOLLOW_SYMLINKS, nullptr, nullptr, nullptr, &error)) {
    const std::string kept = TextOf(made.get());
    return fail("「" + name + "」は「" + kept + "」に残りました。名前を付けられませんでした。");
  }
  g_file_delete(part.get(), nullptr, nullptr);
  const Facts now = FactsOf(target.get(), nullptr);
  GioUndoStep step{TextOf(target.get()), move ? sourceText : std::string(), now.size, now.mtime,
                   now.type == G_FILE_TYPE_DIRECTORY};
  // Replacing lost the old file for good: undo must not remove the only copy left.
  if (!existing.found || move) undo_.push_back(step);
  if (move && !renamed) {
    // The copy is whole (each file's copy ended well and the sizes agree): the source may go.
    if (now.size != facts.size && facts.type != G_FILE_TYPE_DIRECTORY)
      return fail("「" + sourceText + "」のコピーが元と違うため、元を残しました。");
    if (!RemoveTree(source.get(), cancellable.get(), &error))
      return fail("「" + sourceText + "」をコピーしましたが、元を削除できませんでした。");
  }
  return Done::Whole;
}

GioJob::Done GioJob::MergeInto(GFile* source, GFile* target, bool move) {
  GPtr<GCancellable> cancellable(g_cancellable_new());
  CancelOnStop watch(cancellable.get(), &cancel_);
  GError* error = nullptr;
  // The names first: the folder changes as its entries leave.
  std::vector<std::string> children;
  const bool listed = ForEachChild(source, cancellable.get(), &error, [&](GFile* child, const char*) {
    children.push_back(TextOf(child));
    return true;
  });
  if (!listed) {
    const bool cancelled = IsCancel(error);
    if (!cancelled) {
      failed_ = true;
      ui_->ShowMessage(Why("「" + TextOf(source) + "」を読めませんでした。", error));
    }
    g_clear_error(&error);
    return cancelled ? Done::Stop : Done::Skipped;
  }
  const std::string into = TextOf(target);
  Done result = Done::Whole;
  for (const std::string& child : children) {
    if (cancel_) return Done::Stop;
    const Done done = TransferOne(child, into, move, true);
    if (done == Done::Stop) return Done::Stop;
    if (done == Done::Skipped) result = Done::Skipped;
  }
  // A moved folder goes once all it held has gone; nothing of the target is ever removed.
  if (move && result == Done::Whole && !g_file_delete(source, cancellable.get(), &error)) {
    failed_ = true;
    ui_->ShowMessage(Why("「" + TextOf(source) + "」の中身は移しましたが、フォルダを削除できませんでした。", error));
    g_clear_error(&error);
  }
  return result;
}

FileOperationResult GioJob::Delete(const std::vector<std::string>& items) {
  function_ = FO_DELETE;
  itemsTotal_ = items.size();
  if (items.empty()) return {};
  GPtr<GCancellable> cancellable(g_cancellable_new());
  CancelOnStop watch(cancellable.get(), &cancel_);
  bool asked = false;
  for (const std::string& item : items) {
    if (cancel_) return {FO_ERROR_CANCELLED, true};
    GPtr<GFile> file(FileOf(item));
    Count(0, item);
    GError* error = nullptr;
    if (!g_file_trash(file.get(), cancellable.get(), &error)) {
      if (IsCancel(error)) {
        g_error_free(error);
        return {FO_ERROR_CANCELLED, true};
      }
      if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED)) {
        // A trash that failed says nothing of deleting for good: the item stays.
        ui_->ShowMessage(Why("「" + item + "」をごみ箱へ移せませんでした。", error));
        g_clear_error(&error);
        failed_ = true;
        ++itemsDone_;
        continue;
      }
      g_clear_error(&error);
      // No trash on this server: deleted for good once the user agrees, asked once.
      if (!asked && !ui_->ConfirmDelete(items, true)) return {FO_ERROR_CANCELLED, true};
      asked = true;
      if (!RemoveTree(file.get(), cancellable.get(), &error)) {
        const bool cancelled = IsCancel(error);
        if (!cancelled) ui_->ShowMessage(Why("「" + item + "」を削除できませんでした。", error));
        g_clear_error(&error);
        if (cancelled) return {FO_ERROR_CANCELLED, true};
        failed_ = true;
      }
    }
    ++itemsDone_;
  }
  return {failed_ ? FO_ERROR_FAILED : 0, failed_};
}

bool GioJob::Undo(const std::vector<GioUndoStep>& steps) {
  bool all = true;
  for (auto step = steps.rbegin(); step != steps.rend(); ++step) {
    GPtr<GFile> made(FileOf(step->made));
    const Facts now = FactsOf(made.get(), nullptr);
    const bool same = now.found && (now.type == G_FILE_TYPE_DIRECTORY) == step->folder &&
                      (step->folder || (now.size == step->size && now.mtime == step->mtime));
    if (!same) {
      ui_->ShowMessage("「" + step->made + "」は後から変わったか、なくなったため、元に戻しませんでした。");
      all = false;
      continue;
    }
    GError* error = nullptr;
    bool ok = false;
    if (step->from.empty()) {
      ok = RemoveTree(made.get(), nullptr, &error);
    } else {
      GPtr<GFile> from(FileOf(step->from));
      GPtr<GFile> back(g_file_get_parent(from.get()));
      // A merged folder that was moved is gone once emptied: it comes back to take its items.
      g_file_make_directory_with_parents(back.get(), nullptr, nullptr);
      GioJob again(ui_);
      ok = again.Transfer({step->made}, TextOf(back.get()), true).code == 0;
    }
    if (!ok) {
      if (error) ui_->ShowMessage(Why("「" + step->made + "」を元に戻せませんでした。", error));
      all = false;
    }
    g_clear_error(&error);
  }
  return all;
}

FileOperationResult RunGioJob(GioJob& job, IFileOperationUI* ui, const std::function<FileOperationResult()>& work) {
  return RunReportedWork({[&](IFileOperationUI* timed) {
                            job.UseUi(timed);
                            return work();
                          },
                          [&] { return job.Progress(); }, [&] { job.Cancel(); }},
                         ui);
}

std::string MakeFolderThroughGio(const std::string& folder, const std::string& name) {
  GPtr<GFile> parent(FileOf(folder));
  GPtr<GFile> made(g_file_get_child(parent.get(), name.c_str()));
  GError* error = nullptr;
  if (g_file_make_directory(made.get(), nullptr, &error)) return {};
  const bool exists = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_EXISTS);
  std::string why =
      Why(exists ? "「" + name + "」はもうあります。" : "フォルダ「" + name + "」を作れませんでした。", error);
  g_error_free(error);
  return why;
}

std::string RenameThroughGio(const std::string& item, const std::string& newName) {
  GPtr<GFile> file(FileOf(item));
  GPtr<GFile> parent(g_file_get_parent(file.get()));
  GPtr<GFile> target(parent ? g_file_get_child(parent.get(), newName.c_str()) : nullptr);
  // Never over another name (the server's rename may replace one).
  if (!target || FactsOf(target.get(), nullptr).found) return "「" + newName + "」はもうあります。";
  GError* error = nullptr;
  GPtr<GFile> renamed(g_file_set_display_name(file.get(), newName.c_str(), nullptr, &error));
  if (renamed) return {};
  std::string why = Why("「" + NameOf(file.get()) + "」の名前を変えられませんでした。", error);
  g_error_free(error);
  return why;
}

std::string DownloadThroughGio(const std::string& uri, const std::string& path, const std::atomic<bool>& cancel) {
  GPtr<GFile> source(FileOf(uri));
  GPtr<GFile> target(g_file_new_for_path(path.c_str()));
  GPtr<GCancellable> cancellable(g_cancellable_new());
  CancelOnStop watch(cancellable.get(), &cancel);
  GError* error = nullptr;
  // Its contents only: a link is followed to the file it names, as opening it would.
  if (g_file_copy(source.get(), target.get(), G_FILE_COPY_NONE, cancellable.get(), nullptr, nullptr, &error)) return {};
  std::string why = IsCancel(error) ? std::string() : Why("「" + uri + "」を読めませんでした。", error);
  g_error_free(error);
  g_file_delete(target.get(), nullptr, nullptr);
  return why.empty() ? "中止しました。" : why;
}

}  // namespace network
