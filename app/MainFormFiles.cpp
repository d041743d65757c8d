// File helpers the commands share: the focused item's path, the selected
// paths, opening a path with its application, the editor to start when the
// settings name none, and copying or moving a list's selection.
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <algorithm>
#include <cstdlib>

#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/fileops/FileOperation.h"
#include "platform/desktop/OpenWith.h"

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program's full path through PATH; empty when it is not there.
std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (!folder.empty()) {
      std::string candidate = folder + (folder.back() == '/' ? "" : "/") + program;
      if (IsExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return {};
}

}  // namespace

std::string TForm1::FocusedItemPath(TShellListView* list) {
  if (!list || list->SelectedCount() == 0) return {};
  TShellFileItem* item = list->FileList()->Items(list->FocusedRow());
  return item ? item->GetItemPath() : std::string();
}

void TForm1::ShellOpen(const std::string& path) {
  // A folder goes to the desktop's file manager like any document.
  if (!path.empty() && !OpenWithDefaultApplication(path))
    Hooks.ShowMessage(QStringLiteral("開けません。開くアプリケーションが見つかりません。\n") +
                      QString::fromStdString(path));
}

void TForm1::TransferSelection(TShellListView* list, const std::string& folder, bool move) {
  TryTransferSelection(list, folder, move);
}

bool TForm1::TryTransferSelection(TShellListView* list, const std::string& folder, bool move) {
  if (!list) return false;
  // A location without a FUSE path on either side: through GIO.
  if (IsLocationIDList(list->FolderIDList()) || IsLocationFolderPath(folder))
    return TransferWithLocation(*this, list, folder, move);
  // Into an archive: through its library's pack call, where one writes it.
  if (IsArchiveFolderPath(folder)) return TransferIntoArchive(*this, list, folder, move);
  // Entries of an archive are taken out; the archive itself stays as it is.
  if (IsArchiveIDList(list->FolderIDList())) return TransferOutOfArchive(*this, list, folder);
  int focused = -1;
  if (move) {
    // The engine's own changes are re-read below, not reported twice.
    list->SuspendWatching();
    focused = list->FocusedRow();
  }
  FileOperationRequest request;
  request.function = move ? FO_MOVE : FO_COPY;
  request.destination = folder;
  request.flags = FOF_ALLOWUNDO;
  request.owner = this;
  // A million selected files go as the folder and one block of names, read
  // from the list's index of names where it has one: no path per file.
  TShellFileList* rows = list->FileList();
  std::string dir = rows->GetLevel() >= 1 ? rows->GetPathName() : std::string();
  if (!dir.empty()) request.sourceFolder = dir;
  for (const auto& [first, last] : list->SelectedSpans(rows->Count()))
    for (int row = first; row <= last; ++row) {
      std::string_view name = dir.empty() ? std::string_view() : rows->IndexedName(row);
      TShellFileItem* item = name.empty() ? rows->Items(row) : nullptr;
      if (item && !dir.empty()) name = item->EntryName();
      if (!name.empty()) {
        request.sourceNames.append(name).push_back('\0');
      } else if (item) {
        // Items without a place on disk (the computer, the trash) cannot be copied.
        std::string path = item->GetItemPath();
        if (!path.empty()) request.sources.push_back(std::move(path));
      }
    }
  // Nothing to send, or nowhere to send it (a folder without a path): no operation.
  if ((request.sources.empty() && request.sourceNames.empty()) || folder.empty()) {
    if (move) list->ResumeWatching();
    return false;
  }
  bool ok = RunFileOperation(std::move(request)).code == 0;
  if (move) {
    if (ok) list->RefreshList();
    list->ResumeWatching();
    FocusItemAt(list, focused);
  }
  return ok;
}

void TForm1::FocusItemAt(TShellListView* list, int index) {
  int count = list ? list->FileList()->Count() : 0;
  if (count == 0) return;
  list->SelectAllRows(false);
  list->SetFocusedRow(std::clamp(index, 0, count - 1));
}

void TForm1::SelectedPaths(TShellListView* list, TLineList& lines) {
  lines.Clear();
  if (!list) return;
  for (int row = list->NextSelectedRow(-1); row >= 0; row = list->NextSelectedRow(row)) {
    TShellFileItem* item = list->FileList()->Items(row);
    std::string path = item ? item->GetItemPath() : std::string();
    // Items without a place on disk (the computer, the trash) have nothing to hand on.
    if (!path.empty()) lines.Add(path);
  }
}

std::vector<std::string> TForm1::SelectedShortPaths(TShellListView* list) {
  TLineList paths;
  SelectedPaths(list, paths);
  std::vector<std::string> arguments;
  for (const std::string& path : paths.Lines) arguments.push_back(ToShortPath(path));
  return arguments;
}

std::string TForm1::ToShortPath(const std::string& path) { return path; }

std::vector<std::string> TForm1::DefaultEditorCommand() {
  for (const char* variable : {"VISUAL", "EDITOR"}) {
    const char* value = std::getenv(variable);
    if (!value || !*value) continue;
    std::vector<std::string> command;
    for (const QString& word : QProcess::splitCommand(QString::fromLocal8Bit(value)))
      command.push_back(word.toLocal8Bit().toStdString());
    if (!command.empty()) return command;
  }
  for (const char* editor :
       {"gnome-text-editor", "gedit", "kate", "kwrite", "mousepad", "xed", "pluma", "featherpad", "leafpad", "geany"}) {
    std::string found = FindOnPath(editor);
    if (!found.empty()) return {found};
  }
  return {"xdg-open"};
}
