// U: extracts the archive focused in the current pane through the archiver
// library of its format, beside the archive: one entry, or one top folder,
// as it is; several entries into a folder named after the archive.
#include <QMessageBox>
#include <QPushButton>
#include <sys/stat.h>

#include "app/MainForm.h"
#include "app/commands/Commands.h"
#include "archive/ArchiveFile.h"
#include "platform/namespace/PathText.h"
#include "platform/system/Exception.h"
#include "platform/system/FileKind.h"

namespace {

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

// The first component of an entry's name, empty when it has none that could be a folder
// beside the archive ("/x", "./x" or "../x").
std::string TopFolder(const std::string& name) {
  size_t slash = name.find('/');
  std::string top = name.substr(0, slash);
  if (top.empty() || top == "." || top == "..") return std::string();
  return top;
}

// An archive of one top folder that is already there: merge into it?
bool AskMergeIntoFolder(TForm1& form, const std::string& name) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("展開"),
                  QStringLiteral("フォルダー「%1」は既にあります。\n書庫の中身をこのフォルダーへ展開しますか?")
                      .arg(QString::fromStdString(name)),
                  QMessageBox::NoButton, &form);
  QPushButton* yes = box.addButton(QStringLiteral("はい"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("いいえ"), QMessageBox::NoRole);
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

int ExtractFocusedArchive(TForm1& form, const std::string& path, const std::string& folder) {
  TArchiveFile& archiveFile = *form.Archive;
  // Count the entries on the archive's own handle, and whether all sit under one top
  // folder; the listing stops as soon as the answer is known.
  int entries = 0;
  std::string top;
  bool oneTop = true;
  {
    OpenArchiveHandle archive(archiveFile.Archiver(), form.ArchiveOwner.get(), path);
    if (!archive.get()) throw Exception("書庫を開けませんでした: " + path);
    TArchiveEntryInfo info{};
    for (int r = archiveFile.Archiver()->FindFirst(archive.get(), &info, "*.*"); r == 0;
         r = archiveFile.Archiver()->FindNext(archive.get(), &info)) {
      std::string name(info.Info.szFileName);
      while (name.compare(0, 2, "./") == 0) name.erase(0, 2);
      if (name.empty() || name == ".") continue;  // the archive's own root folder
      const std::string first = TopFolder(name);
      const bool isFolder = info.Info.szAttribute[0] == 'd';
      const bool under = !first.empty() && (name.size() > first.size() + 1 || isFolder);
      if (entries == 0) top = first;
      if (!under || first != top) oneTop = false;
      ++entries;
      if (entries >= 2 && !oneTop) break;
    }
  }
  if (entries == 0) return 0;
  // One entry goes beside the archive, several into a folder named after it; an archive
  // that holds one folder is that folder. Always a whole path, never the current folder.
  std::string dest = folder;
  if (entries > 1 && !oneTop) dest = TForm1::WithTrailingSlash(folder) + TForm1::ArchiveFolderName(path);
  if (entries > 1 && oneTop) {
    const std::string existing = TForm1::WithTrailingSlash(folder) + top;
    struct stat st {};
    if (lstat(existing.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        dest = TForm1::WithTrailingSlash(folder) + TForm1::ArchiveFolderName(path);
      } else if (!AskMergeIntoFolder(form, top)) {
        return 0;
      }
    }
  }
  // With the window as owner the library asks before it replaces a file.
  return archiveFile.Extract(form.ArchiveOwner.get(), nullptr, TFileArgs{}, TForm1::WithTrailingSlash(dest));
}

}  // namespace

int ExtractArchiveInto(TForm1& form, const std::string& path, const std::string& folder) {
  TArchiveFile& archive = *form.Archive;
  archive.SetFileName(path);
  archive.Options.x = 1;
  archive.Options.jso = 1;
  archive.Options.jse = 1;
  return ExtractFocusedArchive(form, path, folder);
}

void UExecute(TForm1& form) {
  TShellListView* list = form.CurrentList();
  if (!list || !form.Archive || ExtractOnLocation(form, list)) return;
  const std::string path = form.FocusedItemPath(list);
  // Only an archive: any other file would go to the archiver of the last one.
  if (path.empty() || DetectArchiverType(path, true) == atNone) return;
  // A FIFO or a device named like an archive would hold the window in open() for good.
  if (int kind = CheckRegularFile(path)) {
    if (kind < 0) throw Exception("通常のファイルではないため展開できません: " + path);
    throw Exception("書庫を開けませんでした: " + path);
  }
  list->SuspendWatching();
  try {
    ExtractArchiveInto(form, path, DirName(path));
  } catch (...) {
    list->RefreshList();
    form.FocusItemByCaption(TForm1::LastPathComponent(path), list);
    list->ResumeWatching();
    throw;
  }
  // Read again, the list keeps its place on the archive.
  list->RefreshList();
  form.FocusItemByCaption(TForm1::LastPathComponent(path), list);
  list->ResumeWatching();
}
