// File helpers the commands share: the focused item's path, opening a path
// with its application, and copying or moving a list's selection.
#include <algorithm>

#include "app/MainForm.h"
#include "platform/fileops/FileOperation.h"
#include "platform/desktop/OpenWith.h"

std::string TForm1::FocusedItemPath(TShellListView* list) {
  if (!list || list->SelectedCount() == 0) return {};
  TShellFileItem* item = list->FileList()->Items(list->FocusedRow());
  return item ? item->GetItemPath() : std::string();
}

void TForm1::ShellOpen(const std::string& path) {
  // A folder goes to the desktop's file manager like any document.
  if (!path.empty() && !OpenWithDefaultApplication(path))
    ShowMessage(QStringLiteral("開けません。開くアプリケーションが見つかりません。\n") + QString::fromStdString(path));
}

void TForm1::TransferSelection(TShellListView* list, const std::string& folder, bool move) {
  TryTransferSelection(list, folder, move);
}

bool TForm1::TryTransferSelection(TShellListView* list, const std::string& folder, bool move) {
  if (!list) return false;
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
  for (int row = list->NextSelectedRow(-1); row >= 0; row = list->NextSelectedRow(row)) {
    TShellFileItem* item = list->FileList()->Items(row);
    std::string path = item ? item->GetItemPath() : std::string();
    // Items without a place on disk (the computer, the trash) cannot be copied.
    if (!path.empty()) request.sources.push_back(path);
  }
  // Nothing to send, or nowhere to send it (a folder without a path): no operation.
  if (request.sources.empty() || folder.empty()) {
    if (move) list->ResumeWatching();
    return false;
  }
  bool ok = RunFileOperation(request).code == 0;
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
