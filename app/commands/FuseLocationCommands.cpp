// K, R, D and Enter on a file in a folder of a location's FUSE path: the
// file engine and the opener would stat and write through that path on the
// window's thread, where a stalled server holds each call for good. They go
// through GIO on a worker instead (Enter reads aside what decides how a file
// opens), and the progress window's cancel (Esc) ends a wait on the server.
#include <QInputDialog>
#include <QLineEdit>

#include <atomic>
#include <functional>

#include "app/MainForm.h"
#include "app/UnlessStopped.h"
#include "app/WorkerRun.h"
#include "app/commands/Commands.h"
#include "platform/desktop/OpenWith.h"
#include "platform/fileops/FileOperation.h"
#include "platform/network/GioOperations.h"
#include "platform/network/Location.h"
#include "platform/network/LocationChanges.h"
#include "shell/ShellListView.h"

namespace {

// The URI of the folder list shows when it is a location's FUSE path; empty otherwise.
std::string FuseFolderUri(TShellListView* list) {
  const std::string folder = list ? list->GetPathName() : std::string();
  return network::InFuseMount(folder) ? network::UriOfLocalPath(folder) : std::string();
}

// The selected items' FUSE paths and URIs.
std::vector<std::pair<std::string, std::string>> SelectedItems(TForm1& form, TShellListView* list) {
  TLineList paths;
  form.SelectedPaths(list, paths);
  std::vector<std::pair<std::string, std::string>> items;
  for (const std::string& path : paths.Lines)
    if (std::string uri = network::UriOfLocalPath(path); !uri.empty()) items.emplace_back(path, uri);
  return items;
}

// Runs call on a worker; the progress window's cancel stops it. Its answer
// is shown unless it is empty or the stop's own.
void RunStoppable(TForm1& form, const QString& label,
                  const std::function<std::string(const std::atomic<bool>&)>& call) {
  std::atomic<bool> stop{false};
  std::string why;
  RunOnWorker(
      &form, label, [&] { why = call(stop); }, [] { return 0; }, [&] { stop = true; });
  if (!why.empty() && !stop) form.Hooks.ShowMessage(QString::fromStdString(why));
}

// The folder is read again on the list's worker, as the poll does.
void Reread(TShellListView* list) {
  list->ReadAhead(list->GetPathName(), 0);
  list->RefreshList();
}

}  // namespace

QString AskNewItemName(TForm1& form, const QString& old) {
  bool ok = false;
  const QString name = QInputDialog::getText(&form, QStringLiteral("名前の変更"), QStringLiteral("新しい名前(&N)："),
                                             QLineEdit::Normal, old, &ok)
                           .trimmed();
  if (!ok || name.isEmpty() || name == old) return {};
  if (name.contains('/') || name == "." || name == "..") {
    form.Hooks.ShowMessage(QStringLiteral("ファイル名に「/」や「.」「..」は使えません。"));
    return {};
  }
  return name;
}

bool MakeFolderOnFusePath(TForm1& form, TShellListView* list, const QString& name) {
  const std::string folder = FuseFolderUri(list);
  if (folder.empty()) return false;
  if (name.contains('/')) {
    form.Hooks.ShowMessage(
        QStringLiteral("ネットワークの場所では、フォルダは一つずつ作ってください (「/」は使えません)。"));
    return true;
  }
  bool made = false;
  RunStoppable(form, QStringLiteral("フォルダを作っています"), [&](const std::atomic<bool>& stop) {
    std::string why = network::MakeRemoteFolder(folder, name.toStdString(), &stop);
    made = why.empty();
    return why;
  });
  // A stopped one may still be made once the server answers: the poll shows it then.
  if (!made) return true;
  Reread(list);
  form.FocusItemByCaption(name.toStdString(), list);
  return true;
}

bool RenameOnFusePath(TForm1& form, TShellListView* list) {
  if (FuseFolderUri(list).empty()) return false;
  bool renamed = false;
  for (const auto& [path, item] : SelectedItems(form, list)) {
    const QString old = QString::fromStdString(TForm1::LastPathComponent(path));
    const QString name = AskNewItemName(form, old);
    if (name.isEmpty()) continue;
    bool stopped = false;
    RunStoppable(form, QStringLiteral("名前を変えています"), [&](const std::atomic<bool>& stop) {
      std::string why = network::RenameRemote(item, name.toStdString(), &stop);
      renamed = renamed || why.empty();
      stopped = stop;
      return why;
    });
    // A server that stalls would hold every name after this one too.
    if (stopped) break;
  }
  if (renamed) Reread(list);
  return true;
}

bool DeleteOnFusePath(TForm1& form, TShellListView* list) {
  if (FuseFolderUri(list).empty()) return false;
  std::vector<std::string> items;
  for (const auto& item : SelectedItems(form, list)) items.push_back(item.second);
  IFileOperationUI* ui = DefaultFileOperationUI(&form);
  if (items.empty() || !ui) return true;
  network::GioJob job(ui);
  network::RunGioJob(job, ui, [&] { return job.Delete(items); });
  Reread(list);
  return true;
}

bool OpenOnFusePath(TForm1& form, const std::string& path) {
  if (!network::InFuseMount(path)) return false;
  // What the desktop's opener decides by: the stat, and the type read from
  // the file's first bytes. Asked aside: the server may hold either for good.
  struct Facts {
    bool document = false;
    std::vector<DesktopApplication> applications;
  };
  std::atomic<bool> stop{false};
  std::optional<Facts> facts;
  RunOnWorker(
      &form, QStringLiteral("開いています: %1").arg(QString::fromStdString(TForm1::LastPathComponent(path))),
      [&] {
        facts = UnlessStopped<Facts>(
            [path] {
              Facts found;
              found.document = IsDocument(path);
              if (found.document) found.applications = ApplicationsForPaths({path});
              return found;
            },
            stop);
      },
      [] { return 0; }, [&] { stop = true; });
  if (!facts) return true;
  // As a double click does; the desktop's launcher reads the file itself.
  if (facts->document && facts->applications.empty()) {
    form.Hooks.OfferOpenWith(path, QStringLiteral("「%1」を開くアプリケーションが登録されていません。"));
  } else if (!OpenWithDefaultApplication(path) &&
             !(facts->document && LaunchApplication(facts->applications.front(), {path}))) {
    form.Hooks.OfferOpenWith(path, QStringLiteral("「%1」を既定のアプリケーションで開けませんでした。"));
  }
  return true;
}
