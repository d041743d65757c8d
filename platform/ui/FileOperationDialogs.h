#pragma once
// The file-operation engine's questions and progress as Qt dialogs. The
// questions come from the engine's worker thread; each is carried to the GUI
// thread by the synchronised call and waits there for its answer. Every
// dialog and button has an object name, so tests find and press them.
//
//   dialog                 object name            buttons
//   delete confirmation    deleteDialog           yesButton noButton
//   permanent delete       permanentDeleteDialog  yesButton noButton
//   replace                replaceDialog          yesButton yesToAllButton noButton noToAllButton cancelButton
//   error                  errorDialog            retryButton skipButton cancelButton
//   message                messageDialog          okButton
//   empty recycle bin      emptyTrashDialog       yesButton noButton
//   progress (non-modal)   progressDialog         cancelButton
// The text of a question is in its "messageLabel".
#include <QDialog>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fileops/FileLinks.h"
#include "platform/fileops/FileOperation.h"

class QLabel;
class QProgressBar;
class QPushButton;

class FileOperationDialogs : public IFileOperationUI {
 public:
  explicit FileOperationDialogs(QWidget* owner = nullptr);
  ~FileOperationDialogs() override;
  FileOperationDialogs(const FileOperationDialogs&) = delete;
  FileOperationDialogs& operator=(const FileOperationDialogs&) = delete;

  QWidget* Owner() const { return owner_; }
  void SetOwner(QWidget* owner) { owner_ = owner; }

  bool ConfirmDelete(const std::vector<std::string>& paths, bool permanent) override;
  bool ConfirmPermanentDelete(const std::string& path) override;
  bool ConfirmPermanentDeleteBecause(const std::string& path, const std::string& why) override;
  ConflictAnswer AskReplace(const FileFacts& existing, const FileFacts& incoming) override;
  ErrorAnswer AskError(const std::string& path, const std::string& action, int error) override;
  void ShowMessage(const std::string& text) override;
  bool ConfirmEmptyTrash(uint64_t items) override;

  void ProgressStarted(const FileOperationProgress& progress) override;
  void ProgressChanged(const FileOperationProgress& progress) override;
  void ProgressFinished() override;
  bool CancelRequested() override;

  // The progress dialog while one is shown, else null.
  QDialog* ProgressDialog() const { return progress_; }

 private:
  struct Button {
    QString text;
    const char* name;
  };
  struct Question {
    const char* name;
    int icon;  // QStyle::StandardPixmap
    QString title;
    QString text;
    std::vector<Button> buttons;
    int defaultButton;
    int escapeButton;  // the answer of Esc and of closing the window
  };
  // Index of the button pressed; the escape answer when no dialog could be shown.
  int Ask(const Question& question);
  int ShowQuestion(const Question& question);
  QWidget* DialogParent() const;
  void ShowProgress(const FileOperationProgress& progress);

  QPointer<QWidget> owner_;
  QPointer<QDialog> progress_;
  QPointer<QLabel> fileLabel_, itemsLabel_, bytesLabel_, timeLabel_;
  QPointer<QProgressBar> bar_;
  QPointer<QPushButton> cancelButton_;
  std::atomic<bool> cancel_{false};
};

// Display forms used by the dialogs: "12,345 バイト", "1.23 MB", "2026/12/07 21:06",
// "約 5 秒".
QString FormatByteCount(uint64_t bytes);
QString FormatByteSize(uint64_t bytes);
QString FormatFileTime(int64_t seconds);
QString FormatTimeLeft(double seconds);

// The dialogs of an owner window, one set per window for the process's life
// (a running job may hold one); what DefaultFileOperationUI gives once
// InstallPlatformUi has run.
IFileOperationUI* FileOperationDialogsFor(QWidget* owner);
