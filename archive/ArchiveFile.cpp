#include "archive/ArchiveFile.h"

#include "archive/Bga32.h"
#include "archive/Cab32.h"
#include "archive/Lha32.h"
#include "archive/Rar32.h"
#include "archive/SevenZip32.h"
#include "archive/Tar32.h"
#include "archive/Zip32.h"

namespace {

uint32_t arcExtractMessage = 0;

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

TArchiverType TypeOfExtension(const std::string& ext) {
  static const struct {
    const char* ext;
    TArchiverType type;
  } kTable[] = {{".7z", at7z},   {".z", atTgz},   {".gz", atTgz},  {".tgz", atTgz}, {".taz", atTgz},  {".a", atTar},
                {".lib", atTar}, {".tar", atTar}, {".deb", atTar}, {".rpm", atTar}, {".cpio", atTar}, {".bz2", atBZ2},
                {".xz", atTar},  {".txz", atTar}, {".gza", atBga}, {".bza", atBga}, {".gca", atGCA},  {".rar", atRar},
                {".arj", atArj}, {".jar", atZip}, {".zip", atZip}, {".cab", atCab}, {".lzh", atLha}};
  for (const auto& row : kTable)
    if (ext == row.ext) return row.type;
  return atNone;
}

std::unique_ptr<TArchiver> NewArchiver(TArchiverType type) {
  switch (type) {
    case atLha:
      return std::make_unique<TLha32>();
    case atZip:
      return std::make_unique<TZip32>();
    case atCab:
      return std::make_unique<TCab32>();
    case atArj:
      return std::make_unique<TArj32>();
    case atTar:
      return std::make_unique<TTar32>();
    case atTgz:
      return std::make_unique<TTgz32>();
    case atBZ2:
      return std::make_unique<TBZ232>();
    case atRar:
      return std::make_unique<TRar32>();
    case atBga:
      return std::make_unique<TBGA32>();
    case at7z:
      return std::make_unique<TSevenZip32>();
    default:
      return nullptr;
  }
}

}  // namespace

TArchiverType DetectArchiverType(const std::string& fileName, bool byExtension) {
  if (byExtension) {
    size_t slash = fileName.rfind('/');
    std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    size_t dot = base.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : LowerAscii(base.substr(dot));
    if (ext == ".exe") return DetectArchiverType(fileName, false);
    return TypeOfExtension(ext);
  }
  // Every probe runs; the later ones take precedence.
  TArchiverType result = ProbeTar(fileName);
  if (ProbeRar(fileName)) result = atRar;
  if (ProbeArj(fileName)) result = atArj;
  if (ProbeZip(fileName)) result = atZip;
  if (ProbeBga(fileName)) result = atBga;
  if (ProbeCab(fileName)) result = atCab;
  if (ProbeLha(fileName)) result = atLha;
  return result;
}

TOwnerWindow::TOwnerWindow(void* widget) {
  window_.magic = ARC_WINDOW_MAGIC;
  window_.size = sizeof(ArcWindow);
  window_.context = nullptr;
  window_.send_message = [](void*, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; };
  window_.widget = widget;
}

TArchiveFile::TArchiveFile() : fileName_(kNotSetString) {}

TArchiveFile::~TArchiveFile() {
  messageWindow_.reset();
  archiver_.reset();
}

void TArchiveFile::SetFileName(const std::string& value) {
  SetArchiverType(DetectArchiverType(value, true));
  fileName_ = value;
}

void TArchiveFile::SetArchiverType(TArchiverType type) {
  switch (type) {
    case atNone:
      return;
    case atAutoDetect:
      break;
    case atYz1:
    case atGCA:
    case atBel:
      if (!Loading) throw EArchiver("書庫の形式を特定できませんでした。");
      break;
    default: {
      std::unique_ptr<TArchiver> next = NewArchiver(type);  // may raise: nothing changes then
      archiver_ = std::move(next);
      break;
    }
  }
  archiverType_ = type;
}

void TArchiveFile::SetOutputSize(int size) { output_.assign(static_cast<size_t>(size > 0 ? size : 0), '\0'); }

std::string TArchiveFile::OutputText() const { return std::string(output_.c_str()); }

uint32_t TArchiveFile::ArcExtractMessage() { return arcExtractMessage; }

intptr_t TArchiveFile::SendMessage(void* context, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  auto* self = static_cast<TArchiveFile*>(context);
  if (msg != arcExtractMessage || arcExtractMessage == 0 || !self->OnProgress) return 0;
  bool abort = false;
  // Nothing may unwind through the library's frames.
  Guarded(
      [&] { self->OnProgress(self, static_cast<int>(wparam), reinterpret_cast<ArcExtractingInfoEx*>(lparam), abort); });
  return abort ? 1 : 0;
}

void TArchiveFile::BeginProgress() {
  if (!OnProgress) return;
  if (!arcExtractMessage) arcExtractMessage = ArcRegisterWindowMessage(ARC_WM_ARCEXTRACT_NAME);
  if (!messageWindow_) {
    messageWindow_ = std::make_unique<ArcWindow>();
    messageWindow_->magic = ARC_WINDOW_MAGIC;
    messageWindow_->size = sizeof(ArcWindow);
    messageWindow_->context = this;
    messageWindow_->send_message = &TArchiveFile::SendMessage;
    messageWindow_->widget = nullptr;
  }
  try {
    archiver_->SetOwnerWindowEx(messageWindow_.get(), nullptr);
  } catch (const std::exception&) {
  }
}

void TArchiveFile::EndProgress() {
  if (!OnProgress || !messageWindow_) return;
  try {
    archiver_->KillOwnerWindowEx(messageWindow_.get());
  } catch (const std::exception&) {
  }
}

int TArchiveFile::Extract(ArcHWND wnd, const TArchiverOptions* options, const TFileArgs& files,
                          const std::string& destDir) {
  if (!archiver_) throw EArchiver("書庫の形式を判別できません。");
  BeginProgress();
  const TArchiverOptions& o = options ? *options : Options;
  struct After {
    TArchiveFile* self;
    ~After() {
      self->CommandLine = self->archiver_->CommandLine;
      self->EndProgress();
    }
  } after{this};
  return archiver_->Extract(wnd, fileName_, output_, o.ResFileUsage.Contains(ruOnUnpack), files, destDir, o);
}

int TArchiveFile::FindFirst(const std::string& wildName, TArchiveEntryInfo* info) {
  if (!archiver_) throw EArchiver("書庫の形式を判別できません。");
  return archiver_->FindFirst(ArchiveHandle, info, wildName);
}

int TArchiveFile::FindNext(TArchiveEntryInfo* info) {
  if (!archiver_) throw EArchiver("書庫の形式を判別できません。");
  return archiver_->FindNext(ArchiveHandle, info);
}
