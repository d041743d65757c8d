#include "platform/fileops/FileOperation.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

#include "platform/fileops/FileOperationJob.h"
#include "platform/system/SyncCall.h"

namespace {

constexpr int kPollMs = 100;  // cancel and progress, at most ten times a second
constexpr double kProgressAfterSeconds = 0.5;
// So many sources take a while to look up alone: their progress shows at once.
constexpr uint64_t kManySources = 10000;

bool ShowsAtOnce(const FileOperationProgress& p) { return p.sourcesTotal >= kManySources; }

std::atomic<IFileOperationUI*> overrideUI{nullptr};

std::mutex hooksLock;
FileOperationUIProvider uiProvider;
InputBlockScope inputBlocker;

// Passes everything on to the UI and keeps the time its questions took: time
// spent waiting for an answer is no working time, and the progress window
// never opens behind a question.
class QuestionClock : public IFileOperationUI {
 public:
  explicit QuestionClock(IFileOperationUI* ui) : ui_(ui) {}

 private:
  template <class Ask>
  auto Timed(Ask ask) {
    struct Stopwatch {
      QuestionClock& clock;
      std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
      ~Stopwatch() {
        clock.askedNs_ +=
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
        --clock.asking_;
      }
    };
    ++asking_;
    Stopwatch stopwatch{*this};
    return ask();
  }

 public:
  bool ConfirmDelete(const std::vector<std::string>& paths, bool permanent) override {
    return Timed([&] { return ui_->ConfirmDelete(paths, permanent); });
  }
  bool ConfirmPermanentDelete(const std::string& path) override {
    return Timed([&] { return ui_->ConfirmPermanentDelete(path); });
  }
  bool ConfirmPermanentDeleteBecause(const std::string& path, const std::string& why) override {
    return Timed([&] { return ui_->ConfirmPermanentDeleteBecause(path, why); });
  }
  ConflictAnswer AskReplace(const FileFacts& existing, const FileFacts& incoming) override {
    return Timed([&] { return ui_->AskReplace(existing, incoming); });
  }
  ErrorAnswer AskError(const std::string& path, const std::string& action, int error) override {
    return Timed([&] { return ui_->AskError(path, action, error); });
  }
  void ShowMessage(const std::string& text) override {
    Timed([&] {
      ui_->ShowMessage(text);
      return 0;
    });
  }
  bool ConfirmEmptyTrash(uint64_t items) override {
    return Timed([&] { return ui_->ConfirmEmptyTrash(items); });
  }
  void ProgressStarted(const FileOperationProgress& p) override { ui_->ProgressStarted(p); }
  void ProgressChanged(const FileOperationProgress& p) override { ui_->ProgressChanged(p); }
  void ProgressFinished() override { ui_->ProgressFinished(); }
  bool CancelRequested() override { return ui_->CancelRequested(); }

  bool Asking() const { return asking_.load() > 0; }
  double SecondsAsked() const { return askedNs_.load() / 1e9; }

 private:
  IFileOperationUI* ui_;
  std::atomic<int> asking_{0};
  std::atomic<int64_t> askedNs_{0};
};

// Hands the job's counters to the UI and its cancel button to the job, once a tick.
struct ProgressRelay {
  std::function<FileOperationProgress()> progress;
  std::function<void()> cancel;
  QuestionClock& ui;
  bool silent;
  bool started = false;

  void Tick() {
    if (ui.CancelRequested()) cancel();
    if (silent) return;
    FileOperationProgress p = progress();
    p.secondsElapsed = std::max(0.0, p.secondsElapsed - ui.SecondsAsked());
    if (started) {
      ui.ProgressChanged(p);
    } else if (!ui.Asking() && (p.secondsElapsed >= kProgressAfterSeconds || ShowsAtOnce(p))) {
      ui.ProgressStarted(p);
      started = true;
    }
  }
  void Finish() {
    if (started) ui.ProgressFinished();
  }
};

FileOperationResult RunHere(FileOperationJob& job, QuestionClock& ui, bool silent, bool pollUi) {
  // No GUI thread to poll from: the job polls at its safe points.
  ProgressRelay relay{[&] { return job.Progress(); }, [&] { job.Cancel(); }, ui, silent};
  // A job of many sources ticks at its first safe point.
  auto last = ShowsAtOnce(job.Progress()) ? std::chrono::steady_clock::time_point{} : std::chrono::steady_clock::now();
  if (pollUi) {
    job.SetSafePointHook([&] {
      auto now = std::chrono::steady_clock::now();
      if (now - last < std::chrono::milliseconds(kPollMs)) return;
      last = now;
      relay.Tick();
    });
  }
  FileOperationResult result = job.Run();
  relay.Finish();
  return result;
}

// On the GUI thread: run gets a worker, and this thread keeps serving events
// (the questions arrive through the synchronised call) while a timer reads
// the counters.
FileOperationResult RunOnWorkerReporting(ProgressRelay& relay, const std::function<FileOperationResult()>& run) {
  QEventLoop loop;
  std::atomic<bool> finished{false};
  FileOperationResult result;
  std::exception_ptr error;
  std::thread worker([&] {
    try {
      result = run();
    } catch (...) {
      error = std::current_exception();
    }
    finished = true;
    QMetaObject::invokeMethod(
        &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });

  // A progress shown before a question stays while it is open (the question
  // sits on top of it); the timer ticks in the question's own event loop too.
  QTimer timer;
  timer.setInterval(kPollMs);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (!finished) relay.Tick();
  });
  timer.start();
  {
    InputBlockScope makeBlock;
    {
      std::lock_guard<std::mutex> guard(hooksLock);
      makeBlock = inputBlocker;
    }
    std::shared_ptr<void> blocked = makeBlock ? makeBlock() : nullptr;
    // After the block, which takes the windows there are: the progress window takes input.
    if (ShowsAtOnce(relay.progress())) relay.Tick();
    while (!finished) loop.exec();
  }
  timer.stop();
  worker.join();
  relay.Finish();
  if (error) std::rethrow_exception(error);
  return result;
}
}  // namespace

IFileOperationUI* DefaultFileOperationUI(QWidget* owner) {
  if (IFileOperationUI* ui = overrideUI.load()) return ui;
  FileOperationUIProvider provider;
  {
    std::lock_guard<std::mutex> guard(hooksLock);
    provider = uiProvider;
  }
  return provider ? provider(owner) : nullptr;
}

void SetFileOperationUIProvider(FileOperationUIProvider provider) {
  std::lock_guard<std::mutex> guard(hooksLock);
  uiProvider = std::move(provider);
}

void SetFileOperationUIOverride(IFileOperationUI* ui) { overrideUI = ui; }

void SetFileOperationInputBlocker(InputBlockScope blocker) {
  std::lock_guard<std::mutex> guard(hooksLock);
  inputBlocker = std::move(blocker);
}

std::vector<std::string> SplitNulList(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start < list.size()) {
    size_t end = list.find('\0', start);
    if (end == start) break;  // the closing empty entry
    if (end == std::string::npos) end = list.size();
    items.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

int SHFileOperation(SHFILEOPSTRUCT& op) {
  FileOperationRequest request;
  request.function = op.wFunc;
  request.sources = SplitNulList(op.pFrom);
  std::vector<std::string> to = SplitNulList(op.pTo);
  if (!to.empty()) request.destination = to.front();
  request.flags = op.fFlags;
  request.owner = op.hwnd;
  FileOperationResult result = RunFileOperation(request);
  op.fAnyOperationsAborted = result.aborted;
  return result.code;
}

FileOperationResult RunFileOperation(FileOperationRequest request, IFileOperationUI* ui) {
  if (!ui) ui = DefaultFileOperationUI(request.owner);
  if (!ui) return {FO_ERROR_BAD_REQUEST, false};
  const bool silent = request.flags & FOF_SILENT;
  QuestionClock clock(ui);
  FileOperationJob job(std::move(request), &clock);

  auto* guiApp = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  if (!guiApp || !IsGuiThread()) return RunHere(job, clock, silent, !guiApp);

  ProgressRelay relay{[&] { return job.Progress(); }, [&] { job.Cancel(); }, clock, silent};
  return RunOnWorkerReporting(relay, [&] { return job.Run(); });
}

FileOperationResult RunReportedWork(const ReportedWork& work, IFileOperationUI* ui) {
  if (!ui) return {FO_ERROR_BAD_REQUEST, false};
  QuestionClock clock(ui);
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || !IsGuiThread()) return work.run(&clock);
  ProgressRelay relay{work.progress, work.cancel, clock, false};
  return RunOnWorkerReporting(relay, [&] { return work.run(&clock); });
}
