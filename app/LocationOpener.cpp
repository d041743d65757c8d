#include "app/LocationOpener.h"

#include <cstdlib>
#include <ctime>

#include <QLineEdit>

#include "app/MainForm.h"
#include "app/UnlessStopped.h"
#include "app/Pane.h"
#include "app/commands/Commands.h"
#include "platform/namespace/IDList.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/network/GioFolder.h"
#include "platform/network/Location.h"
#include "platform/ui/MountDialogs.h"
#include "platform/system/Exception.h"
#include "shell/ShellCtrls.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"

namespace {
constexpr int kPollMs = 3000;
// A burst of the monitor's events (a copy of many files) is one re-read.
constexpr int kChangeGatherMs = 300;

// A stamp of the last two seconds may hide a later change of the same second.
bool Recent(const std::string& stamp) {
  return std::strtoll(stamp.c_str(), nullptr, 10) + 2 >= static_cast<long long>(std::time(nullptr));
}
}  // namespace

// What the worker found out for Finish.
struct TLocationOpener::Found {
  std::string local;
  std::shared_ptr<ITEMIDLIST> id;  // from an IDListPtr, freed as it is
  std::string message;
  std::string stamp;
};

TLocationOpener* TLocationOpener::Of(TForm1* form, TShellListView* list) {
  if (auto* existing = list->findChild<TLocationOpener*>(QStringLiteral("locationOpener"), Qt::FindDirectChildrenOnly))
    return existing;
  return new TLocationOpener(form, list);
}

bool TLocationOpener::Blanked(TShellListView* list) {
  auto* opener = list->findChild<TLocationOpener*>(QStringLiteral("locationOpener"), Qt::FindDirectChildrenOnly);
  return opener && opener->blank_;
}

TLocationOpener::TLocationOpener(TForm1* form, TShellListView* list) : QObject(list), form_(form), list_(list) {
  setObjectName(QStringLiteral("locationOpener"));
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, [this] { Guarded([this] { Poll(); }); });
  poll_.start();
  changed_.setSingleShot(true);
  changed_.setInterval(kChangeGatherMs);
  connect(&changed_, &QTimer::timeout, this, [this] {
    const std::string path = list_->GetPathName();
    if (!monitor_ || !list_->isVisible() || list_->Reading() || network::ShownLocation(path) != monitor_->Uri()) return;
    Reread(path);
  });
}

TLocationOpener::~TLocationOpener() {
  poll_.stop();
  monitor_.reset();
  // The list is going: nothing of it is shown again.
  blank_ = false;
  // A poll that waits on a stalled server gives up at once.
  pollStop_ = true;
  if (poller_.joinable()) poller_.join();
  Stop();
}

bool TLocationOpener::Monitored(const std::string& uri) {
  if (!monitor_ || monitor_->Uri() != uri)
    monitor_ = std::make_unique<network::FolderMonitor>(uri, [this] {
      QMetaObject::invokeMethod(
          this,
          [this] {
            if (!changed_.isActive()) changed_.start();
          },
          Qt::QueuedConnection);
    });
  return monitor_->Watching();
}

void TLocationOpener::Poll() {
  if (!list_->isVisible()) {
    // Watched only while shown.
    monitor_.reset();
    return;
  }
  if (polling_) return;
  const std::string path = list_->GetPathName();
  const std::string uri = network::IsLocationUri(path) ? path : network::UriOfLocalPath(path);
  if (uri.empty()) {
    polledPath_.clear();
    monitor_.reset();
    return;
  }
  // The backend tells of each change itself: nothing to ask the server.
  if (Monitored(uri)) return;
  if (poller_.joinable()) poller_.join();
  polling_ = true;
  poller_ = std::thread([this, path, uri] {
    const network::LocationFacts facts = network::QueryLocation(uri, &pollStop_, true);
    QMetaObject::invokeMethod(
        this,
        [this, path, facts] {
          polling_ = false;
          Polled(path, facts);
        },
        Qt::QueuedConnection);
  });
}

void TLocationOpener::Polled(const std::string& path, const network::LocationFacts& facts) {
  if (path != list_->GetPathName() || facts.stamp.empty()) return;
  if (TPane* pane = form_->PaneOf(list_); pane && pane->List == list_) {
    const QString free =
        facts.freeKnown ? QStringLiteral("空き %1").arg(TForm1::ByteSizeText(facts.freeBytes)) : QString();
    if (free != pane->FreeSpaceText) {
      pane->FreeSpaceText = free;
      form_->UpdateStatusLine(list_, false);
    }
  }
  const std::string& stamp = facts.stamp;
  const bool changed = path == polledPath_ && (stamp != stamp_ || recent_);
  polledPath_ = path;
  stamp_ = stamp;
  recent_ = Recent(stamp);
  if (!changed || list_->Reading()) return;
  Reread(path);
}

void TLocationOpener::Reread(const std::string& path) {
  // One at a time: a server that stalls holds the first.
  if (list_->FileList()->ReadsAhead()) return;
  const unsigned number = ++rereads_;
  // Read again every few seconds while the folder changes: the focus stays
  // on the user's file, not on the first row a read gives it.
  auto refresh = [this] {
    TShellFileList* rows = list_->FileList();
    TShellFileItem* focused = rows->Items(list_->FocusedRow());
    // A row still awaited (BackSpace on a server's folder) is awaited again.
    const std::string name = !rows->FocusAwaited().empty() ? rows->FocusAwaited()
                             : focused                     ? focused->GetDisplayName()
                                                           : std::string();
    list_->RefreshList();
    form_->FocusItemByCaption(name, list_);
  };
  // The list's worker ends before this object goes: it is a child of the list.
  list_->FileList()->ReadAhead(path, 0, SIZE_MAX, [this, path, number, refresh] {
    QMetaObject::invokeMethod(
        this,
        [this, path, number, refresh] {
          if (number != rereads_ || !list_->FileList()->ReadsAhead() || list_->GetPathName() != path) return;
          refresh();
        },
        Qt::QueuedConnection);
  });
  // A folder listed through GIO is read by the list itself, in batches.
  if (!list_->FileList()->ReadsAhead()) refresh();
}

void TLocationOpener::BlankWhileOpening() {
  PCItemIDList folder = list_->FolderIDList();
  if (blank_ || !folder || CountIDs(folder) != 0) return;
  blank_ = true;
  // The view shows none of the rows; the list, its tab and its line stay as they are.
  list_->SetItemsCount(0);
  form_->UpdateStatusLine(list_, false);
}

void TLocationOpener::Unblank() {
  if (!blank_) return;
  blank_ = false;
  list_->SetItemsCount(list_->FileList()->Count());
  form_->UpdateStatusLine(list_, false);
}

void TLocationOpener::Stop() {
  ++generation_;
  Unblank();
  if (worker_.joinable()) {
    // A question waiting for the window is abandoned, the mount cancelled.
    cancel_ = true;
    stop_.Set();
    worker_.join();
    stop_.Reset();
    cancel_ = false;
  }
  done_ = nullptr;
}

void TLocationOpener::Open(const std::string& text, std::function<void(bool)> done) {
  TShellListView* list = list_;
  if (!network::IsLocationUri(text)) {
    list->SetPathName(text);
    if (done) done(list->GetPathName() == text);
    return;
  }
  Stop();
  if (!network::SchemeSupported(network::SchemeOf(text))) {
    form_->Hooks.ShowMessage(QString::fromStdString(network::UnsupportedSchemeText(text)));
    if (done) done(false);
    return;
  }
  done_ = std::move(done);
  // At a start the list is still at the desktop: no rows of it meanwhile.
  BlankWhileOpening();
  const int generation = generation_;
  worker_ = std::thread([this, text, generation] {
    MountDialogs questions(form_, &stop_);
    network::MountResult mounted = network::MountLocation(text, questions, &cancel_);
    Found found;
    found.message = mounted.message;
    // Asked of the server through GIO first: a stalled server holds a stat
    // of the FUSE path for good, while Esc ends this at once. The FUSE path
    // is looked at only once the server has answered, and then where Esc
    // can leave it. The stamp is taken before the listing: what changes
    // after it the poll sees.
    const network::LocationFacts facts = mounted.ok ? network::QueryLocation(text, &cancel_) : network::LocationFacts{};
    if (mounted.ok && !cancel_) {
      if (!facts.found || !facts.folder) {
        found.message =
            !facts.message.empty() ? facts.message : "「" + text + "」は見つからないか、フォルダではありません。";
      } else {
        std::optional<Found> local = UnlessStopped<Found>(
            [text] {
              Found f;
              f.local = network::ReachableLocalPath(text);
              // Without a FUSE path the folder is listed through GIO, known by its URI.
              if (f.local.empty() || !FolderExists(f.local)) f.local = network::GioFolderUri(text);
              // The IDs of the path's folders are made of stats of each (of nothing for a URI).
              if (!f.local.empty()) f.id = PathToIDList(f.local);
              return f;
            },
            cancel_);
        if (local) {
          found.local = local->local;
          found.id = local->id;
          if (found.local.empty())
            found.message = network::NoFusePathText(text);
          else if (!found.id)
            found.message = "「" + text + "」は見つからないか、フォルダではありません。";
        }
      }
    }
    found.stamp = facts.stamp;
    QMetaObject::invokeMethod(
        this, [this, generation, found] { Finish(generation, found); }, Qt::QueuedConnection);
  });
}

bool TLocationOpener::OpenShown(const std::string& path) {
  // The mount's daemon answers this, never the server.
  const std::string uri = network::UriOfLocalPath(path);
  if (uri.empty()) return false;
  Open(uri);
  return true;
}

void TLocationOpener::Finish(int generation, const Found& found) {
  if (generation != generation_) return;
  if (worker_.joinable()) worker_.join();
  TShellListView* list = list_;
  std::function<void(bool)> done = std::move(done_);
  done_ = nullptr;
  bool shown = false;
  if (!found.local.empty() && found.id) {
    // Read on a worker: the window goes on while a slow server answers.
    list->ShowCheckedFolder(found.id.get());
    shown = list->GetPathName() == found.local;
    polledPath_ = shown ? found.local : std::string();
    stamp_ = found.stamp;
    recent_ = Recent(found.stamp);
    // Its free space at once, not at the next round.
    Poll();
  }
  if (shown)
    blank_ = false;
  else
    Unblank();
  if (!found.message.empty()) form_->Hooks.ShowMessage(QString::fromStdString(found.message));
  if (done) done(shown);
}

void OpenTypedLocation(TForm1& form, TPane& pane) {
  QLineEdit* edit = pane.Edit;
  const QString text = edit->text().trimmed();
  QString folder = text;
  QString mask = TForm1::MaskPartOf(text);
  if (mask.contains('*') || mask.contains('?')) {
    folder = TForm1::FolderPartOf(text);
  } else {
    mask = QStringLiteral("*.*");
  }
  // Not the root's own slash ("sftp://host/").
  while (folder.endsWith('/') && folder.count('/') > 3) folder.chop(1);
  // The mask stays in the edit for the listing that follows.
  edit->setText(folder + (folder.endsWith('/') ? "" : "/") + mask);
  TShellListView* list = pane.List;
  QPointer<QLineEdit> guard(edit);
  TLocationOpener::Of(&form, list)->Open(folder.toStdString(), [guard, list, mask](bool shown) {
    if (shown || !guard) return;
    const std::string back = network::ShownLocation(list->GetPathName());
    if (!back.empty()) guard->setText(QString::fromStdString(back) + (back.back() == '/' ? "" : "/") + mask);
  });
  list->setFocus();
}

void StopKey(TForm1& form, TPane& pane) {
  TLocationOpener* opener = TLocationOpener::Of(&form, pane.List);
  if (opener->Busy()) {
    opener->Stop();
    // The edit names the folder the pane still shows.
    const std::string shown = network::ShownLocation(pane.List->GetPathName());
    if (!shown.empty())
      pane.Edit->setText(QString::fromStdString(shown) + (shown.back() == '/' ? "" : "/") +
                         TForm1::MaskPartOf(pane.Edit->text()));
    return;
  }
  if (pane.List->Reading() || (pane.List->FileList()->Growing() && IsLocationIDList(pane.List->FolderIDList()))) {
    // The rows found so far are shown; the server is not waited for.
    pane.List->FileList()->StopReading();
    return;
  }
  StopSearchKey(form, pane);
}
