// Emptying the recycle bin: every trash of this user, after one confirmation
// that names the count, item by item with progress. It runs on the calling
// thread; on the GUI thread events keep flowing between entries, so the
// progress dialog paints and its cancel button works.
#include <QCoreApplication>
#include <chrono>

#include "platform/fileops/FileOperation.h"
#include "platform/system/SyncCall.h"
#include "platform/fileops/Trash.h"

namespace {

using Clock = std::chrono::steady_clock;

class EmptyJob {
 public:
  explicit EmptyJob(IFileOperationUI* ui) : ui_(ui), gui_(IsGuiThread()) {}

  int Run() {
    // Records whose item is gone are no items; drop them before counting.
    TidyTrashes();
    // What is counted is what may go: each entry by its identity, so that
    // anything trashed while the question waits stays.
    std::vector<std::pair<TrashedItem, TrashEntryId>> items;
    for (TrashedItem& item : ListTrashedItems())
      if (TrashEntryId id; TrashEntryIdentity(item.filesPath, id)) items.emplace_back(std::move(item), id);
    std::vector<std::pair<std::string, TrashEntryId>> orphans;
    for (std::string& path : ListOrphanTrashFiles())
      if (TrashEntryId id; TrashEntryIdentity(path, id)) orphans.emplace_back(std::move(path), id);
    uint64_t count = items.size() + orphans.size();
    if (count == 0) return 0;
    if (!ui_->ConfirmEmptyTrash(count)) return FO_ERROR_CANCELLED;

    progress_.function = FO_EMPTYRECYCLEBIN;
    progress_.itemsTotal = count;
    start_ = lastTick_ = Clock::now();
    // Pairs, not structured bindings: clang before 16 cannot capture those (clang-tidy).
    for (const auto& entry : items) {
      if (!Purge(entry.first.originalPath, [&](int& error, const std::function<bool()>& tick) {
            return PurgeTrashedItemIf(entry.first, &entry.second, error, tick);
          }))
        break;
    }
    for (const auto& orphan : orphans) {
      if (cancelled_) break;
      if (!Purge(orphan.first, [&](int& error, const std::function<bool()>& tick) {
            return RemoveTrashOrphan(orphan.first, orphan.second, error, tick);
          }))
        break;
    }
    if (shown_) ui_->ProgressFinished();
    TidyTrashes();
    return cancelled_ ? FO_ERROR_CANCELLED : failed_ ? FO_ERROR_FAILED : 0;
  }

 private:
  using PurgeFn = std::function<bool(int&, const std::function<bool()>&)>;

  // One item, asking on errors; false when the whole job stops.
  bool Purge(const std::string& shownPath, const PurgeFn& purge) {
    progress_.currentFile = shownPath;
    auto tick = [this] { return Tick(); };
    for (;;) {
      if (!Tick()) return false;
      int error = 0;
      if (purge(error, tick)) break;
      if (error == ECANCELED && cancelled_) return false;
      // Gone or replaced since it was counted: another program emptied it.
      if (error == ENOENT || error == ESTALE) break;
      Clock::time_point asked = Clock::now();
      ErrorAnswer answer = ui_->AskError(shownPath, "削除", error);
      // Waiting for the answer is no working time.
      start_ += Clock::now() - asked;
      if (answer == ErrorAnswer::Retry) continue;
      if (answer == ErrorAnswer::Cancel) {
        cancelled_ = true;
        return false;
      }
      failed_ = true;
      break;
    }
    ++progress_.itemsDone;
    return true;
  }

  // Between entries: about ten times a second, let the GUI breathe, report,
  // and look at the cancel button.
  bool Tick() {
    if (cancelled_) return false;
    if (!gui_) return true;
    Clock::time_point now = Clock::now();
    if (now - lastTick_ < std::chrono::milliseconds(100)) return true;
    lastTick_ = now;
    QCoreApplication::processEvents();
    progress_.secondsElapsed = std::chrono::duration<double>(now - start_).count();
    if (progress_.itemsDone > 0 && progress_.itemsTotal > progress_.itemsDone)
      progress_.secondsLeft = progress_.secondsElapsed / static_cast<double>(progress_.itemsDone) *
                              static_cast<double>(progress_.itemsTotal - progress_.itemsDone);
    // A quick emptying shows no window.
    if (shown_)
      ui_->ProgressChanged(progress_);
    else if (progress_.secondsElapsed >= 0.5)
      ui_->ProgressStarted(progress_), shown_ = true;
    if (ui_->CancelRequested()) cancelled_ = true;
    return !cancelled_;
  }

  IFileOperationUI* ui_;
  bool gui_;
  Clock::time_point start_, lastTick_;
  FileOperationProgress progress_;
  bool cancelled_ = false, failed_ = false, shown_ = false;
};

}  // namespace

int EmptyRecycleBin(IFileOperationUI* ui) {
  if (!ui) ui = DefaultFileOperationUI(nullptr);
  if (!ui) return FO_ERROR_BAD_REQUEST;
  return EmptyJob(ui).Run();
}
