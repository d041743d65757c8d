// Archives as folders in the lists: Enter on an archive goes into it, on an
// entry inside one takes the entry out into the private cache and opens it;
// the parent key leaves an archive for the folder that holds it.
#include <QEventLoop>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "archive/ArchiveCache.h"
#include "archive/ArchiveFolder.h"
#include "platform/fileops/FileOperation.h"
#include "platform/namespace/ItemID.h"
#include "platform/namespace/ShellFolderBase.h"
#include "platform/system/Exception.h"

namespace {

// Runs work on a worker thread while the window goes on answering.
template <class Work>
void RunAside(Work&& work) {
  std::atomic<bool> done{false};
  QEventLoop loop;
  std::thread worker([&] {
    work();
    done = true;
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  if (!done) loop.exec();
  worker.join();
}

}  // namespace

bool OpenArchiveItem(TForm1& form, TShellListView* list, TShellFileItem* item) {
  if (!list || !item || !item->RelativeIDList) return false;
  // A copy: the row may be read again while the archive is listed.
  IDListPtr owned(CopyIDList(item->GetAbsoluteIDList()));
  PCItemIDList absolute = owned.get();
  if (!absolute || !IsArchiveIDList(absolute)) return false;
  const bool inside = IDKind(LastID(absolute)) == ItemKind::ArchiveEntry;
  ShellFolderPtr folder = BindAbsoluteIDList(absolute);
  if (auto* archive = dynamic_cast<ArchiveFolder*>(folder.get())) {
    std::string error;
    // A big archive takes a while to list: the window goes on meanwhile.
    bool listed = false;
    RunAside([&] { listed = archive->Listing(&error) != nullptr; });
    if (listed) {
      list->SetFolderIDList(absolute);
      return true;
    }
    // A file of the disk that no library reads after all opens as a file.
    if (!inside) return false;
    throw Exception(error);
  }
  if (!inside) return false;
  ShellFolderPtr holder;
  auto* parent = list->FileList()->GetFolder(holder) ? dynamic_cast<ArchiveFolder*>(holder.get()) : nullptr;
  if (!parent) return false;
  const std::string archive = parent->Archive(), inner = parent->Inner();
  const std::string name(IDPayloadText(LastID(absolute)));
  std::string error, file;
  RunAside([&] { file = CachedEntryFile(archive, inner.empty() ? name : inner + "/" + name, error); });
  if (file.empty()) throw Exception(error);
  form.OpenItem(file);
  return true;
}

bool LeaveArchiveFolder(TForm1& form, TPane& pane) {
  PCItemIDList current = pane.List->FolderIDList();
  if (!current || !IsArchiveIDList(current)) return false;
  IDListPtr parent(CopyParentIDList(current));
  if (!parent) return false;
  const std::string name = TForm1::LastPathComponent(pane.List->GetPathName());
  pane.List->SetFolderIDList(parent.get());
  // Back on the row it was entered from.
  form.FocusItemByCaption(name, pane.List);
  return true;
}

bool TransferOutOfArchive(TForm1& form, TShellListView* list, const std::string& folder) {
  ShellFolderPtr holder;
  auto* archive = list && list->FileList()->GetFolder(holder) ? dynamic_cast<ArchiveFolder*>(holder.get()) : nullptr;
  if (!archive) return false;
  std::string error;
  auto listing = archive->Listing(&error);
  if (!listing) throw Exception(error);
  const std::string inner = archive->Inner();
  std::vector<std::string> stored, names;
  for (int row = list->NextSelectedRow(-1); row >= 0; row = list->NextSelectedRow(row)) {
    TShellFileItem* item = list->FileList()->Items(row);
    if (!item || IDKind(item->RelativeIDList.get()) != ItemKind::ArchiveEntry) continue;
    std::string name(IDPayloadText(item->RelativeIDList.get()));
    std::vector<std::string> below = listing->StoredNamesBelow(inner.empty() ? name : inner + "/" + name);
    // A folder that exists only as paths is brought by its entries.
    stored.insert(stored.end(), below.begin(), below.end());
    names.push_back(name);
  }
  if (names.empty() || folder.empty()) return false;
  std::string local = LocalArchiveFile(archive->Archive(), error);
  if (local.empty()) throw Exception(error);
  std::string slot;
  RunAside([&] { slot = ExtractToCache(local, stored, error); });
  if (slot.empty()) throw Exception(error);
  // From the cache on, the usual copy: its progress, its conflict question, its undo.
  FileOperationRequest request;
  request.function = FO_COPY;
  request.destination = folder;
  request.flags = FOF_ALLOWUNDO;
  request.owner = &form;
  const std::string base = inner.empty() ? slot : slot + "/" + inner;
  for (const std::string& name : names) {
    std::string taken = base + "/" + name;
    struct stat st;
    // An entry the library refused (a link that leads out, say) is not there to copy.
    if (::lstat(taken.c_str(), &st) == 0) request.sources.push_back(taken);
  }
  bool ok = !request.sources.empty() && RunFileOperation(request).code == 0;
  std::error_code ec;
  std::filesystem::remove_all(slot, ec);
  return ok;
}

std::string FocusedPreviewFile(TForm1& form, TShellListView* list) {
  std::string path = form.FocusedItemPath(list);
  if (path.empty() || !IsArchiveIDList(list->FolderIDList())) return path;
  const std::string ext = TForm1::PreviewExtension(path);
  // Only what a preview shows is taken out.
  if (!form.IsImageFile(ext) && !form.IsTextFile(ext)) return path;
  ShellFolderPtr holder;
  auto* archive = list->FileList()->GetFolder(holder) ? dynamic_cast<ArchiveFolder*>(holder.get()) : nullptr;
  if (!archive || path.size() <= archive->Archive().size() + 1) return {};
  const std::string inner = path.substr(archive->Archive().size() + 1);
  std::string error, file;
  RunAside([&] { file = CachedEntryFile(archive->Archive(), inner, error); });
  if (file.empty()) throw Exception(error);
  return file;
}
