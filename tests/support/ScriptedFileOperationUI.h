#pragma once
// A file-operation UI for tests: each kind of question takes its answers from
// its own queue (a default once the queue is empty) and every call is
// recorded. Questions come from the engine's worker thread and progress from
// the GUI thread, so everything is under one mutex; read the records after
// the operation has returned.
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fileops/FileOperation.h"

class ScriptedFileOperationUI : public IFileOperationUI {
 public:
  struct ErrorCall {
    std::string path, action;
    int error;
  };
  struct ReplaceCall {
    FileFacts existing, incoming;
  };

  // Answers, front first.
  std::deque<bool> deleteAnswers, permanentAnswers, emptyTrashAnswers;
  std::deque<ConflictAnswer> replaceAnswers;
  std::deque<ErrorAnswer> errorAnswers;
  // Answers once a queue is empty: an unexpected question ends the job.
  bool defaultConfirm = false;
  ConflictAnswer defaultReplace = ConflictAnswer::Cancel;
  ErrorAnswer defaultError = ErrorAnswer::Cancel;
  // Runs on the worker thread before a replace question is answered (the
  // job waits meanwhile): a test changes files or waits for the GUI here.
  std::function<void(const ReplaceCall&)> onReplace;

  // Records.
  std::vector<std::pair<std::vector<std::string>, bool>> deleteCalls;
  std::vector<std::string> permanentCalls, permanentReasons, messages;
  std::vector<ReplaceCall> replaceCalls;
  std::vector<ErrorCall> errorCalls;
  std::vector<uint64_t> emptyTrashCalls;
  std::vector<FileOperationProgress> progress;  // every ProgressStarted and ProgressChanged
  int progressStarted = 0, progressFinished = 0;

  // CancelRequested answers true once after Cancel().
  void Cancel() { cancel_ = true; }
  // True once CancelRequested has handed out a cancel.
  bool CancelDelivered() const { return delivered_; }
  // Waits (up to timeout) until pred holds, for hooks that run on the worker.
  bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  bool ProgressHasStarted() {
    std::lock_guard<std::mutex> guard(lock_);
    return progressStarted > 0;
  }

  bool ConfirmDelete(const std::vector<std::string>& paths, bool permanent) override {
    std::lock_guard<std::mutex> guard(lock_);
    deleteCalls.emplace_back(paths, permanent);
    return Take(deleteAnswers, defaultConfirm);
  }
  bool ConfirmPermanentDelete(const std::string& path) override {
    std::lock_guard<std::mutex> guard(lock_);
    permanentCalls.push_back(path);
    return Take(permanentAnswers, defaultConfirm);
  }
  bool ConfirmPermanentDeleteBecause(const std::string& path, const std::string& why) override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      permanentReasons.push_back(why);
    }
    return ConfirmPermanentDelete(path);
  }
  ConflictAnswer AskReplace(const FileFacts& existing, const FileFacts& incoming) override {
    ReplaceCall call{existing, incoming};
    if (onReplace) onReplace(call);
    std::lock_guard<std::mutex> guard(lock_);
    replaceCalls.push_back(call);
    return Take(replaceAnswers, defaultReplace);
  }
  ErrorAnswer AskError(const std::string& path, const std::string& action, int error) override {
    std::lock_guard<std::mutex> guard(lock_);
    errorCalls.push_back({path, action, error});
    return Take(errorAnswers, defaultError);
  }
  void ShowMessage(const std::string& text) override {
    std::lock_guard<std::mutex> guard(lock_);
    messages.push_back(text);
  }
  bool ConfirmEmptyTrash(uint64_t items) override {
    std::lock_guard<std::mutex> guard(lock_);
    emptyTrashCalls.push_back(items);
    return Take(emptyTrashAnswers, defaultConfirm);
  }
  void ProgressStarted(const FileOperationProgress& p) override {
    std::lock_guard<std::mutex> guard(lock_);
    ++progressStarted;
    progress.push_back(p);
  }
  void ProgressChanged(const FileOperationProgress& p) override {
    std::lock_guard<std::mutex> guard(lock_);
    progress.push_back(p);
  }
  void ProgressFinished() override {
    std::lock_guard<std::mutex> guard(lock_);
    ++progressFinished;
  }
  bool CancelRequested() override {
    if (!cancel_.exchange(false)) return false;
    delivered_ = true;
    return true;
  }

 private:
  template <typename T>
  static T Take(std::deque<T>& queue, T fallback) {
    if (queue.empty()) return fallback;
    T answer = queue.front();
    queue.pop_front();
    return answer;
  }
  std::mutex lock_;
  std::atomic<bool> cancel_{false}, delivered_{false};
};

// Installs a UI as the process-wide override for a test's span, so nothing
// can reach the real dialogs.
class ScopedFileOperationUI {
 public:
  explicit ScopedFileOperationUI(IFileOperationUI* ui) { SetFileOperationUIOverride(ui); }
  ~ScopedFileOperationUI() { SetFileOperationUIOverride(nullptr); }
  ScopedFileOperationUI(const ScopedFileOperationUI&) = delete;
  ScopedFileOperationUI& operator=(const ScopedFileOperationUI&) = delete;
};
