#pragma once
// One archive file: its format, decided from its name (and for ".exe" from its
// contents), the archiver of that format, and extraction and listing through
// it with the component's options, output buffer and progress event.
#include <functional>
#include <memory>
#include <string>

#include "archive/Archiver.h"

enum TArchiverType : int {
  atLha,
  atZip,
  atCab,
  atArj,
  atTar,
  atTgz,
  atBZ2,
  atRar,
  atBga,
  atYz1,
  atGCA,
  atBel,
  at7z,
  atNone,
  atAutoDetect
};

TArchiverType DetectArchiverType(const std::string& fileName, bool byExtension);

// The owner window a program window hands to Extract: the libraries parent
// their dialogs on the widget; messages sent to it are not answered.
class TOwnerWindow {
 public:
  explicit TOwnerWindow(void* widget);
  ArcHWND Handle() { return &window_; }

 private:
  ArcWindow window_;
};

class TArchiveFile;
// lpEis points to the library's progress record, valid during the call only.
using TArchiverProgressEvent =
    std::function<void(TArchiveFile* sender, int state, ArcExtractingInfoEx* lpEis, bool& abort)>;

class TArchiveFile {
 public:
  TArchiveFile();
  ~TArchiveFile();
  TArchiveFile(const TArchiveFile&) = delete;
  TArchiveFile& operator=(const TArchiveFile&) = delete;

  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& value);
  TArchiverType ArchiverType() const { return archiverType_; }
  void SetArchiverType(TArchiverType type);
  int OutputSize() const { return static_cast<int>(output_.size()); }
  void SetOutputSize(int size);
  // The library's message text in the output buffer, up to its NUL.
  std::string OutputText() const;

  // files empty (or holding only a null element) leaves the choice of
  // entries to the library; options null means Options.
  int Extract(ArcHWND wnd, const TArchiverOptions* options, const TFileArgs& files, const std::string& destDir);
  // With the component's archive handle, which nothing opens: to list an
  // archive, open it through Archiver()->OpenArchive and list with that.
  int FindFirst(const std::string& wildName, TArchiveEntryInfo* info);
  int FindNext(TArchiveEntryInfo* info);

  TArchiver* Archiver() const { return archiver_.get(); }
  // The window progress messages go to; null until the first Extract with
  // OnProgress assigned.
  ArcHWND MessageWindow() const { return messageWindow_.get(); }
  // The identifier of "wm_arcextract"; 0 until it has been needed.
  static uint32_t ArcExtractMessage();

  TArchiverOptions Options;
  TArchiverProgressEvent OnProgress;
  std::string CommandLine;
  HARC ArchiveHandle = nullptr;
  // Set while the stored properties are applied: unsupported types are then
  // stored without complaint.
  bool Loading = false;

 private:
  static intptr_t SendMessage(void* context, uint32_t msg, uintptr_t wparam, intptr_t lparam);
  void BeginProgress();
  void EndProgress();

  std::string fileName_;
  TArchiverType archiverType_ = atAutoDetect;
  std::unique_ptr<TArchiver> archiver_;
  std::string output_;
  std::unique_ptr<ArcWindow> messageWindow_;
};
