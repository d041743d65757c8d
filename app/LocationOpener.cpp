#include "app/LocationOpener.h"

#include <cstdlib>
#include <ctime>

#include <QLineEdit>

#include "app/MainForm.h"
#include "app/Pane.h"
#include "app/commands/Commands.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/network/GioFolder.h"
#include "platform/network/Location.h"
#include "platform/ui/MountDialogs.h"
#include "platform/system/Exception.h"
#include "shell/ShellFileList.h"
#include "shell/ShellListView.h"

namespace {
constexpr int kPollMs = 3000;

// A stamp of the last two seconds may hide a later change of the same second.
bool Recent(const std::string& stamp) {
  return std::strtoll(stamp.c_str(), nullptr, 10) + 2 >= static_cast<long long>(std::time(nullptr));
}
}  // namespace

TLocationOpener* TLocationOpener::Of(TForm1* form, TShellListView* list) {
  if (auto* existing = list->findChild<TLocationOpener*>(QStringLiteral("locationOpener"), Qt::FindDirectChildrenOnly))
    return existing;
  return new TLocationOpener(form, list);
}

TLocationOpener::TLocationOpener(TForm1* form, TShellListView* list) : QObject(list), form_(form), list_(list) {
  setObjectName(QStringLiteral("locationOpener"));
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, [this] { Guarded([this] { Poll(); }); });
  poll_.start();
}

TLocationOpener::~TLocationOpener() {
  poll_.stop();
  // A poll that waits on a stalled server gives up at once.
  pollStop_ = true;
  if (poller_.joinable()) poller_.join();
  Stop();
}

void TLocationOpener::Poll() {
  if (polling_ || !list_->isVisible() || list_->Reading()) return;
  const std::string path = list_->GetPathName();
  const std::string uri = network::IsLocationUri(path) ? path : network::UriOfLocalPath(path);
  if (uri.empty()) {
    polledPath_.clear();
    return;
  }
  if (poller_.joinable()) poller_.join();
  polling_ = true;
  poller_ = std::thread([this, path, uri] {
    const std::string stamp = network::QueryLocation(uri, &pollStop_).stamp;
    QMetaObject::invokeMethod(
        this,
        [this, path, stamp] {
          polling_ = false;
          Polled(path, stamp);
        },
        Qt::QueuedConnection);
  });
}

void TLocationOpener::Polled(const std::string& path, const std::string& stamp) {
  if (path != list_->GetPathName() || stamp.empty()) return;
  const bool changed = path == polledPath_ && (stamp != stamp_ || recent_);
  polledPath_ = path;
  stamp_ = stamp;
  recent_ = Recent(stamp);
  if (!changed || list_->Reading()) return;
  // Read on a worker as when it was opened.
  list_->ReadAhead(path, 0);
  list_->RefreshList();
}

void TLocationOpener::Stop() {
  ++generation_;
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
  const int generation = generation_;
  worker_ = std::thread([this, text, generation] {
    MountDialogs questions(form_, &stop_);
    network::MountResult mounted = network::MountLocation(text, questions, &cancel_);
    std::string local;
    std::string message = mounted.message;
    // Asked of the server through GIO first: a stalled server holds a stat
    // of the FUSE path for good, while Esc ends this at once. The FUSE path
    // is looked at only once the server has answered. The stamp is taken
    // before the listing: what changes after it the poll sees.
    const network::LocationFacts facts = mounted.ok ? network::QueryLocation(text, &cancel_) : network::LocationFacts{};
    if (mounted.ok && !cancel_) {
      if (!facts.found || !facts.folder) {
        message = "「" + text + "」は見つからないか、フォルダではありません。";
      } else {
        local = network::ReachableLocalPath(text, &cancel_);
        // Without a FUSE path the folder is listed through GIO, known by its URI.
        if (local.empty() || !FolderExists(local)) local = network::GioFolderUri(text);
        if (local.empty()) message = network::NoFusePathText(text);
      }
    }
    const std::string stamp = facts.stamp;
    QMetaObject::invokeMethod(
        this, [this, generation, local, message, stamp] { Finish(generation, local, message, stamp); },
        Qt::QueuedConnection);
  });
}

void TLocationOpener::Finish(int generation, const std::string& local, const std::string& message,
                             const std::string& stamp) {
  if (generation != generation_) return;
  if (worker_.joinable()) worker_.join();
  TShellListView* list = list_;
  std::function<void(bool)> done = std::move(done_);
  done_ = nullptr;
  bool shown = false;
  if (!local.empty()) {
    // Read on a worker: the window goes on while a slow server answers.
    list->ReadAhead(local, 0);
    list->SetPathName(local);
    shown = list->GetPathName() == local;
    polledPath_ = shown ? local : std::string();
    stamp_ = stamp;
    recent_ = Recent(stamp);
  }
  if (!message.empty()) form_->Hooks.ShowMessage(QString::fromStdString(message));
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
