#pragma once
// What a library tells the program and the user while it works: the progress message to
// the owner window, and its own Qt dialogs (progress, errors, the overwrite question).
#include <cstdint>
#include <string>

#include "archive/ArchiverLibraryApi.h"

namespace arc {

// The owner window of SetOwnerWindowEx, one per library.
void SetOwner(ArcHWND wnd, ArcArchiverProc proc);
bool KillOwner(ArcHWND wnd);

enum class Answer { Yes, YesToAll, No, NoToAll, Cancel };

class Feedback {
 public:
  // wnd: the window the command was given (parent of the dialogs, none when null);
  // quiet: a switch asked for no progress display and no message boxes.
  Feedback(ArcHWND wnd, bool quiet, const std::string& archiveName);
  ~Feedback();
  Feedback(const Feedback&) = delete;
  Feedback& operator=(const Feedback&) = delete;

  // Each returns false when the program or the user asked to stop.
  bool Open();
  bool Begin(const std::string& entryName, const std::string& destPath, int64_t size);
  bool Progress(int64_t written);
  void End();

  // Whether a question can be put to the user at all.
  bool CanAsk() const;
  // path: where the file is; detail: its size and time against the entry's.
  Answer AskOverwrite(const std::string& path, const std::string& detail);
  // An encrypted entry: the password, or false when the user gives none. again: the last
  // one was wrong.
  bool AskPassword(const std::string& entryName, bool again, std::string& password);
  // A yes/no question; false without a window.
  bool AskYesNo(const std::string& title, const std::string& text);
  // The archive's size, for the ratio of what was written to it in the progress window.
  void SetArchiveSize(int64_t size) { archiveSize_ = size; }
  // What the archive says all its entries come to, when it tells.
  void SetDeclaredTotal(int64_t total) { declaredTotal_ = total; }
  // The lines under the entry's name in the progress window.
  std::string SizeText() const;
  void ShowError(const std::string& text);

 private:
  bool Send(uint32_t state);
  bool Pump();

  ArcHWND wnd_;
  bool quiet_;
  std::string archiveName_;
  ArcExtractingInfoEx eis_{};
  int64_t lastSent_ = 0;
  int64_t entriesDone_ = 0;
  int64_t archiveSize_ = 0;
  int64_t declaredTotal_ = -1;
  int64_t totalBefore_ = 0;  // written by the entries before the current one
  void* dialog_ = nullptr;   // QProgressDialog, made when the work lasts
  int64_t startMs_ = 0;
  int64_t lastPumpMs_ = 0;
  bool cancelled_ = false;
};

}  // namespace arc
