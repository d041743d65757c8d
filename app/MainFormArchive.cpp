// The archive command U: extracts the archive focused in the current pane
// through the archiver library of its format, beside the archive.
#include <QMessageBox>
#include <QPushButton>
#include <sys/stat.h>

#include "app/MainForm.h"
#include "archive/ArchiveFile.h"
#include "platform/namespace/PathText.h"
#include "platform/system/Exception.h"
#include "platform/system/FileKind.h"

namespace {

// The owner window the libraries parent their questions and progress on.
// The program wants no progress messages, so it never asks to abort.
intptr_t OwnerMessage(void*, uint32_t, uintptr_t, intptr_t) { return 0; }

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  if (s.size() <= tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = s[s.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
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

// The first component of an entry's name, empty when it has none that could be a folder
// beside the archive ("/x", "./x" or "../x").
std::string TopFolder(const std::string& name) {
  size_t slash = name.find('/');
  std::string top = name.substr(0, slash);
  if (top.empty() || top == "." || top == "..") return std::string();
  return top;
}

}  // namespace

std::string TForm1::ArchiveFolderName(const std::string& path) {
  const std::string name = LastPathComponent(path);
  std::string stem;
  // A compressed tar is one archive: its whole extension goes.
  for (const char* ext : {".tar.gz", ".tar.bz2", ".tar.xz", ".tar.zst", ".tar.lz4", ".tar.lzma", ".tar.z"})
    if (stem.empty() && EndsWithNoCase(name, ext)) stem = name.substr(0, name.size() - std::string(ext).size());
  if (stem.empty()) {
    size_t dot = name.rfind('.');
    stem = dot == std::string::npos ? name : name.substr(0, dot);
  }
  // The folder must be a new child of the archive's folder: never "", ".", "..", or the
  // archive itself ("...zip", "..zip", ".zip").
  if (stem.empty() || stem == "." || stem == ".." || stem == name || stem.find('/') != std::string::npos) {
    stem = name;
    for (char& c : stem)
      if (c == '.') c = '_';
  }
  return stem.empty() ? "展開" : stem;
}

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
  // A FIFO or a device named like an archive would hold the window in open() for good.
  if (int kind = CheckRegularFile(path)) {
    if (kind < 0) throw Exception("通常のファイルではないため展開できません: " + path);
    throw Exception("書庫を開けませんでした: " + path);
  }
  Archive->SetFileName(path);
  list->SuspendWatching();
  Archive->Options.x = 1;
  Archive->Options.jso = 1;
  Archive->Options.jse = 1;
  try {
    ExtractFocusedArchive(path);
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

void TForm1::ExtractFocusedArchive(const std::string& path) {
  // Count the entries on the archive's own handle, and whether all sit under one top
  // folder; the listing stops as soon as the answer is known.
  int entries = 0;
  std::string top;
  bool oneTop = true;
  {
    OpenArchiveHandle archive(Archive->Archiver(), ArchiveOwner.get(), path);
    if (!archive.get()) throw Exception("書庫を開けませんでした: " + path);
    TArchiveEntryInfo info{};
    for (int r = Archive->Archiver()->FindFirst(archive.get(), &info, "*.*"); r == 0;
         r = Archive->Archiver()->FindNext(archive.get(), &info)) {
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
  if (entries == 0) return;
  const std::string folder = DirName(path);
  // One entry goes beside the archive, several into a folder named after it; an archive
  // that holds one folder is that folder. Always a whole path, never the current folder.
  std::string dest = folder;
  if (entries > 1 && !oneTop) dest = WithTrailingSlash(folder) + ArchiveFolderName(path);
  if (entries > 1 && oneTop) {
    const std::string existing = WithTrailingSlash(folder) + top;
    struct stat st {};
    if (lstat(existing.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) {
        dest = WithTrailingSlash(folder) + ArchiveFolderName(path);
      } else if (!AskMergeIntoFolder(top)) {
        return;
      }
    }
  }
  // With the window as owner the library asks before it replaces a file.
  Archive->Extract(ArchiveOwner.get(), nullptr, TFileArgs{}, WithTrailingSlash(dest));
}

bool TForm1::AskMergeIntoFolder(const std::string& name) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("展開"),
                  QStringLiteral("フォルダー「%1」は既にあります。\n書庫の中身をこのフォルダーへ展開しますか?")
                      .arg(QString::fromStdString(name)),
                  QMessageBox::NoButton, this);
  QPushButton* yes = box.addButton(QStringLiteral("はい"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("いいえ"), QMessageBox::NoRole);
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}
