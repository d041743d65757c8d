// Writing into archives shown as folders: copying and moving files into one
// (CC, MM, C, M) and deleting its entries (D), through the archiver library's
// pack and delete calls, off the window's thread with a progress window.
#include <sys/stat.h>

#include <atomic>

#include "app/MainForm.h"
#include "app/WorkerRun.h"
#include "app/commands/ArchiveWriteRun.h"
#include "app/commands/Commands.h"
#include "archive/ArchiveFolder.h"
#include "archive/ArchiveUpdate.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/PathText.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/system/Exception.h"

namespace {

// The archive folder a path or a list names, with its listing.
struct ArchivePlace {
  ShellFolderPtr holder;
  ArchiveFolder* folder = nullptr;
  std::shared_ptr<const ArchiveListing> listing;
};

// An archive to write must be a file of the disk, in a format a library writes.
bool CheckWritable(TForm1& form, ArchivePlace& place) {
  std::string error;
  FileIdentity identity;
  if (!ReadFileIdentity(place.folder->Archive(), identity, error)) {
    struct stat st {};
    // Not on the disk: an archive inside another one.
    if (::lstat(place.folder->Archive().c_str(), &st) != 0)
      error = "書庫の中の書庫には書き込めません。外側の書庫から取り出してから操作してください。";
    form.Hooks.ShowMessage(QString::fromStdString(error));
    return false;
  }
  if (!IsWritableArchive(place.folder->Archive())) {
    form.Hooks.ShowMessage(QString::fromStdString(ReadOnlyArchiveMessage(place.folder->Archive())));
    return false;
  }
  place.listing = place.folder->Listing(&error);
  if (!place.listing) throw Exception(error);
  return true;
}

bool PlaceOfList(TShellListView* list, ArchivePlace& place) {
  if (!list || !list->FileList()->GetFolder(place.holder)) return false;
  place.folder = dynamic_cast<ArchiveFolder*>(place.holder.get());
  return place.folder != nullptr;
}

bool PlaceOfPath(TForm1& form, const std::string& path, ArchivePlace& place) {
  // The pane that shows it: its listing is what the user saw.
  for (TShellListView* list : {form.LV1, form.LV2})
    if (PlaceOfList(list, place) && list->GetPathName() == path) return true;
  PItemIDList parsed = nullptr;
  if (!SHGetDesktopFolder()->ParseDisplayName(path, parsed)) return false;
  IDListPtr owned(parsed);
  place.holder = BindAbsoluteIDList(parsed);
  place.folder = dynamic_cast<ArchiveFolder*>(place.holder.get());
  return place.folder != nullptr;
}

// Lists that show a folder of the archive read it again.
void RefreshArchiveLists(TForm1& form, const std::string& archive) {
  for (TShellListView* list : {form.LV1, form.LV2}) {
    ArchivePlace shown;
    if (!PlaceOfList(list, shown) || shown.folder->Archive() != archive) continue;
    shown.folder->ForgetListing();
    list->RefreshList();
  }
}

std::string InnerPath(const std::string& inner, const std::string& name) {
  return inner.empty() ? name : inner + "/" + name;
}

FileFacts FactsOfEntry(const std::string& path, const ArchiveListingEntry& entry) {
  FileFacts facts;
  facts.path = path;
  facts.size = entry.stat.size;
  facts.mtime = static_cast<int64_t>(entry.stat.mtime / 10000000ULL) - 11644473600LL;
  facts.folder = entry.folder;
  return facts;
}

FileFacts FactsOfFile(const std::string& path) {
  FileFacts facts;
  facts.path = path;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    facts.size = static_cast<uint64_t>(st.st_size);
    facts.mtime = st.st_mtime;
    facts.folder = S_ISDIR(st.st_mode);
  }
  return facts;
}

// Leaves out the names whose entries the user keeps; false when cancelled.
bool SettleConflicts(TForm1& form, const ArchivePlace& place, const std::string& sourceFolder,
                     std::vector<std::string>& names) {
  IFileOperationUI* ui = DefaultFileOperationUI(&form);
  std::vector<std::string> kept;
  bool all = false, none = false;
  for (const std::string& name : names) {
    const std::string inner = InnerPath(place.folder->Inner(), name);
    const ArchiveListingEntry* entry = place.listing->Find(inner);
    if (!entry) {
      kept.push_back(name);
      continue;
    }
    FileFacts incoming = FactsOfFile(JoinPath(sourceFolder, name));
    if (entry->folder != incoming.folder) {
      // A file and a folder of one name cannot both be entries.
      form.Hooks.ShowMessage(QStringLiteral("書庫には同じ名前の%1があるため入れません: %2")
                                 .arg(entry->folder ? QStringLiteral("フォルダー") : QStringLiteral("ファイル"),
                                      QString::fromStdString(name)));
      continue;
    }
    if (none) continue;
    ConflictAnswer answer = ConflictAnswer::YesToAll;
    if (!all)
      answer = ui ? ui->AskReplace(FactsOfEntry(JoinPath(place.folder->Archive(), inner), *entry), incoming)
                  : ConflictAnswer::Cancel;
    if (answer == ConflictAnswer::Cancel) return false;
    all = all || answer == ConflictAnswer::YesToAll;
    none = answer == ConflictAnswer::NoToAll;
    if (answer == ConflictAnswer::Yes || answer == ConflictAnswer::YesToAll) kept.push_back(name);
  }
  names.swap(kept);
  return true;
}

}  // namespace

std::vector<std::string> SelectedNamesInFolder(TShellListView* list) {
  const std::string folder = list->GetPathName();
  std::vector<std::string> names;
  for (int row = list->NextSelectedRow(-1); row >= 0; row = list->NextSelectedRow(row)) {
    TShellFileItem* item = list->FileList()->Items(row);
    std::string path = item ? item->GetItemPath() : std::string();
    // Only what lies in the folder shown: the names are stored relative to it.
    if (!path.empty() && !folder.empty() && DirName(path) == folder) names.push_back(BaseName(path));
  }
  return names;
}

ArchiveWriteResult RunArchiveWrite(TForm1& form, const QString& label, uint64_t total,
                                   const std::function<ArchiveWriteResult(const ArchiveWriteProgress&)>& write) {
  std::atomic<uint64_t> done{0};
  std::atomic<bool> cancel{false};
  ArchiveWriteResult result;
  RunOnWorker(
      &form, label,
      [&] {
        result = write([&](const std::string& entry) {
          if (!entry.empty()) ++done;
          return !cancel.load();
        });
      },
      [&] { return total ? static_cast<int>(std::min<uint64_t>(100, done * 100 / total)) : 0; },
      [&] { cancel = true; });
  return result;
}

bool TransferIntoArchive(TForm1& form, TShellListView* list, const std::string& folder, bool move) {
  if (!list) return false;
  if (IsArchiveIDList(list->FolderIDList())) {
    ArchivePlace place;
    if (!PlaceOfPath(form, folder, place)) return false;
    form.Hooks.ShowMessage(
        QStringLiteral("書庫の中から別の書庫へは直接入れられません。いったんフォルダーへ取り出してください。"));
    return false;
  }
  return AddIntoArchive(form, list->GetPathName(), SelectedNamesInFolder(list), folder, move, list);
}

bool AddIntoArchive(TForm1& form, const std::string& sourceFolder, std::vector<std::string> names,
                    const std::string& folder, bool move, TShellListView* sourceList) {
  ArchivePlace place;
  if (!PlaceOfPath(form, folder, place)) return false;
  if (names.empty() || sourceFolder.empty()) return false;
  if (!CheckWritable(form, place)) return false;
  if (!SettleConflicts(form, place, sourceFolder, names) || names.empty()) return false;
  uint64_t total = 0;
  for (const std::string& name : names) total += CountPackItems(JoinPath(sourceFolder, name));
  const std::string archive = place.folder->Archive(), inner = place.folder->Inner();
  const FileIdentity listed = place.listing->Identity;
  ArchiveWriteResult result = RunArchiveWrite(
      form, QStringLiteral("書庫に追加しています..."), total, [&](const ArchiveWriteProgress& progress) {
        return AddToArchive(archive, listed, sourceFolder, names, inner, progress);
      });
  RefreshArchiveLists(form, archive);
  if (!result.ok) {
    if (!result.cancelled) form.Hooks.ShowMessage(QString::fromStdString(result.message));
    return false;
  }
  if (move) {
    // Only now that the archive holds them and was read back: to the trash, so
    // undo brings them back.
    FileOperationRequest request;
    request.function = FO_DELETE;
    request.flags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION;
    request.owner = &form;
    for (const std::string& name : names) request.sources.push_back(JoinPath(sourceFolder, name));
    if (sourceList) sourceList->SuspendWatching();
    bool ok = RunFileOperation(request).code == 0;
    if (sourceList) {
      sourceList->RefreshList();
      sourceList->ResumeWatching();
    }
    return ok;
  }
  return true;
}

bool DeleteInArchive(TForm1& form, TShellListView* list) {
  ArchivePlace place;
  if (!PlaceOfList(list, place)) return false;
  if (list->SelectedCount() == 0) return true;
  if (!CheckWritable(form, place)) return true;
  std::vector<std::string> stored, shown;
  for (int row = list->NextSelectedRow(-1); row >= 0; row = list->NextSelectedRow(row)) {
    TShellFileItem* item = list->FileList()->Items(row);
    if (!item || IDKind(item->RelativeIDList.get()) != ItemKind::ArchiveEntry) continue;
    const std::string name(IDPayloadText(item->RelativeIDList.get()));
    std::vector<std::string> below = place.listing->StoredNamesBelow(InnerPath(place.folder->Inner(), name));
    // A folder that exists only as paths goes with its entries.
    stored.insert(stored.end(), below.begin(), below.end());
    shown.push_back(item->GetItemPath());
  }
  if (stored.empty()) return true;
  IFileOperationUI* ui = DefaultFileOperationUI(&form);
  if (!ui || !ui->ConfirmDelete(shown, true)) return true;
  const std::string archive = place.folder->Archive();
  const FileIdentity listed = place.listing->Identity;
  const int focused = list->FocusedRow();
  ArchiveWriteResult result = RunArchiveWrite(
      form, QStringLiteral("書庫から削除しています..."), stored.size(),
      [&](const ArchiveWriteProgress& progress) { return DeleteFromArchive(archive, listed, stored, progress); });
  RefreshArchiveLists(form, archive);
  if (!result.ok && !result.cancelled) form.Hooks.ShowMessage(QString::fromStdString(result.message));
  if (result.ok) form.FocusItemAt(list, focused);
  return true;
}
