// The archive component the command U extracts with, and the folder name an
// archive's entries go into.
#include <QApplication>
#include <QThread>
#include <atomic>

#include "app/MainForm.h"
#include "app/WorkerRun.h"
#include "archive/ArchiveFile.h"
#include "archive/ArchiveFolder.h"
#include "archive/ArchiveListing.h"

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

// A path typed, restored or gone back to inside a big archive needs its
// listing before the list can show it: the window goes on drawing meanwhile
// and the progress window's cancel (or Esc) gives up.
bool WaitForListingAside(ArchiveListingReading& reading, const std::string& path) {
  if (!qApp || QThread::currentThread() != qApp->thread()) return true;
  std::atomic<bool> stop{false};
  RunOnWorker(
      QApplication::activeWindow(),
      QStringLiteral("書庫を読んでいます: %1").arg(QString::fromStdString(TForm1::LastPathComponent(path))),
      [&] {
        while (!stop && !reading.WaitOver(50)) {
        }
      },
      [] { return 0; }, [&] { stop = true; });
  return !stop;
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
  RegisterArchiveFolderKind();
  SetArchiveListingWaiter(WaitForListingAside);
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
