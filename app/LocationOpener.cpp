#include "app/LocationOpener.h"

#include <sys/stat.h>

#include <QLineEdit>

#include "app/MainForm.h"
#include "app/Pane.h"
#include "app/commands/Commands.h"
#include "platform/namespace/PathText.h"
#include "platform/network/Location.h"
#include "platform/ui/MountDialogs.h"
#include "shell/ShellListView.h"

TLocationOpener* TLocationOpener::Of(TForm1* form, TShellListView* list) {
  if (auto* existing = list->findChild<TLocationOpener*>(QStringLiteral("locationOpener"), Qt::FindDirectChildrenOnly))
    return existing;
  return new TLocationOpener(form, list);
}

TLocationOpener::TLocationOpener(TForm1* form, TShellListView* list) : QObject(list), form_(form), list_(list) {
  setObjectName(QStringLiteral("locationOpener"));
}

TLocationOpener::~TLocationOpener() { Stop(); }

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
    if (mounted.ok) {
      // Asked here, not on the window's thread: a slow server answers the stat.
      local = network::ReachableLocalPath(text, &cancel_);
      struct stat st {};
      if (local.empty()) {
        message = network::NoFusePathText(text);
      } else if (::stat(local.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        message = "「" + text + "」は見つからないか、フォルダではありません。";
        local.clear();
      }
    }
    QMetaObject::invokeMethod(
        this, [this, generation, local, message] { Finish(generation, local, message); }, Qt::QueuedConnection);
  });
}

void TLocationOpener::Finish(int generation, const std::string& local, const std::string& message) {
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
  StopSearchKey(form, pane);
}
