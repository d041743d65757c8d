// The archive command U: extracts the archive focused in the current pane
// through the archiver library of its format, beside the archive.
#include "app/MainForm.h"
#include "archive/ArchiveFile.h"
#include "platform/namespace/PathText.h"
#include "platform/system/Exception.h"

namespace {

// The owner window the libraries parent their questions and progress on.
// The program wants no progress messages, so it never asks to abort.
intptr_t OwnerMessage(void*, uint32_t, uintptr_t, intptr_t) { return 0; }

// The archive's file name without folder and its last extension.
std::string ArchiveStem(const std::string& path) {
  std::string name = TForm1::LastPathComponent(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Whatever leaves the listing, the archive is closed again.
class OpenArchiveHandle {
 public:
  OpenArchiveHandle(TArchiver* archiver, ArcHWND owner, const std::string& path)
      : archiver_(archiver), handle_(archiver ? archiver->OpenArchive(owner, path, 0) : nullptr) {}
  ~OpenArchiveHandle() {
    if (handle_) archiver_->CloseArchive(handle_);
  }
  OpenArchiveHandle(const OpenArchiveHandle&) = delete;
  OpenArchiveHandle& operator=(const OpenArchiveHandle&) = delete;
  HARC get() const { return handle_; }

 private:
  TArchiver* archiver_;
  HARC handle_;
};

}  // namespace

void TForm1::CreateArchive() {
  Archive = std::make_unique<TArchiveFile>();
  Archive->SetOutputSize(0);
  TArchiverOptions& options = Archive->Options;
  options.w = options.jo = options.job = options.jz = options.gr = kNotSetString;
  options.jyc = -1;
  options.ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem};
  Archive->SetArchiverType(atAutoDetect);
  ArchiveOwner = std::make_unique<ArcWindow>();
  *ArchiveOwner = ArcWindow{ARC_WINDOW_MAGIC, sizeof(ArcWindow), this, &OwnerMessage, this};
}

void TForm1::UExecute() {
  TShellListView* list = CurrentList();
  if (!list || !Archive) return;
  const std::string path = FocusedItemPath(list);
  // Only an archive: any other file would go to the archiver of the last one.
  if (path.empty() || DetectArchiverType(path, true) == atNone) return;
  Archive->SetFileName(path);
  list->SuspendWatching();
  Archive->Options.x = 1;
  Archive->Options.jso = 1;
  Archive->Options.jse = 1;
  try {
    // Count the entries up to two on the archive's own handle.
    int entries = 0;
    {
      OpenArchiveHandle archive(Archive->Archiver(), ArchiveOwner.get(), path);
      if (!archive.get()) throw Exception("書庫を開けませんでした: " + path);
      TArchiveEntryInfo info{};
      if (Archive->Archiver()->FindFirst(archive.get(), &info, "*.*") == 0)
        entries = Archive->Archiver()->FindNext(archive.get(), &info) == 0 ? 2 : 1;
    }
    if (entries > 0) {
      // One entry goes beside the archive, several into a folder named after
      // it; always a whole path, never one taken from the current folder.
      const std::string folder = DirName(path);
      const std::string dest = entries == 1 ? folder : WithTrailingSlash(folder) + ArchiveStem(path);
      // With the window as owner the library asks before it replaces a file.
      Archive->Extract(ArchiveOwner.get(), nullptr, TFileArgs{}, WithTrailingSlash(dest));
    }
  } catch (...) {
    list->RefreshList();
    FocusItemByCaption(LastPathComponent(path), list);
    list->ResumeWatching();
    throw;
  }
  // Read again, the list keeps its place on the archive.
  list->RefreshList();
  FocusItemByCaption(LastPathComponent(path), list);
  list->ResumeWatching();
}
